#include "AutoUpd.h"

#include "UpdateText.h"

#include "core/Prompts.h"

#include "db/Error.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Text = UpdateText;

namespace {
const QString kThreadSuffix = QStringLiteral("_auto_thread_");
}

std::optional<QList<TScriptPlan>> PlanScripts(const QStringList& files, const TGetServerHandler& handler,
                                              const QString& chosenAlias, const QString& chosenServer)
{
    QList<TScriptPlan> plan;
    for (const QString& f : files) {
        TSQLScript script;
        LoadScriptFile(f, script, nullptr);
        plan.append({f, script.Alias, QString(), static_cast<int>(script.Steps.size())});
    }
    // One question per alias, asked only once every script has been read.
    QHash<QString, QString> servers;
    for (TScriptPlan& p : plan) {
        const QString key = p.alias.toLower();
        if (!servers.contains(key)) {
            QString server;
            if (!p.alias.isEmpty() && !chosenServer.isEmpty() && p.alias.compare(chosenAlias, Qt::CaseInsensitive) == 0) {
                server = chosenServer;
            } else if (handler) {
                server = chosenServer;
                if (!handler(p.alias, server))
                    return std::nullopt;
            }
            servers.insert(key, server);
        }
        p.server = servers.value(key);
    }
    return plan;
}

TThreadUpdater::TThreadUpdater(QTreeWidget* list, const QString& suffix) : Updater(suffix), StageList(list)
{
    Updater.PumpMessages = false;
    Updater.OnError = [this](const QString& message) { ReportError(message, !Updater.InStep); };
    Updater.OnStepDone = [this](TSQLUpdater& sender) { ReportStepDone(sender); };
    Updater.OnStepStart = [this](TSQLUpdater& sender) { ReportStepStart(sender); };
    Updater.OnAlreadyApplied = [this](std::int32_t n, const QDateTime& at) { ReportAlreadyApplied(n, at); };
}

TThreadUpdater::~TThreadUpdater()
{
    try {
        Updater.CloseAll();
    } catch (const std::exception&) {
    }
}

void TThreadUpdater::run()
{
    // Nothing may escape the thread: it would end the program.
    try {
        for (int i = 0; i < Files.size() && !m_stop; ++i) {
            CurrentFile = i;
            if (i > 0) {
                try {
                    Updater.LoadScript(Files[i]);
                } catch (const std::exception& e) {
                    ReportError(db::errorMessage(e), true);
                    break;
                }
                Updater.ServerName = Servers.value(i);
            }
            RunScript();
        }
    } catch (const std::exception& e) {
        ReportError(db::errorMessage(e), true);
    }
}

void TThreadUpdater::RunScript()
{
    Updater.Connect();
    while (!m_stop && Updater.RunNextStep()) {
    }
    Updater.CloseAll();
}

void TThreadUpdater::Display()
{
    if (StageList)
        QMetaObject::invokeMethod(StageList, [this] { ShowProgress(); }, Qt::BlockingQueuedConnection);
}

void TThreadUpdater::ReportStepStart(TSQLUpdater& sender)
{
    ShownStepNo = sender.CurrentStepNo();
    ShownNoStep = false;
    StatusText = Text::Started;
    NewRow = true;
    Display();
}

void TThreadUpdater::ReportStepDone(TSQLUpdater& sender)
{
    ShownTime = sender.StepTime;
    StatusText = Text::Done;
    NewRow = false;
    Display();
}

void TThreadUpdater::ReportAlreadyApplied(std::int32_t stepNo, const QDateTime& appliedAt)
{
    StatusText = Text::StepAlreadyApplied.arg(stepNo).arg(appliedAt.toString(Text::ProgressDateFormat));
    NewRow = false;
    ShownTime = -1;
    Display();
}

void TThreadUpdater::ReportError(const QString& message, bool ownRow)
{
    StoppedFile = CurrentFile;
    StoppedStep = ownRow ? std::nullopt : std::optional<std::int32_t>(Updater.CurrentStepNo());
    StatusText = Text::ErrorPrefix + message;
    // An error outside a step (a script that does not load, a database that cannot be reached)
    // gets a row of its own: the last row belongs to another step, or there is none.
    NewRow = ownRow;
    ShownNoStep = true;
    ShownTime = -1;
    Display();
    m_stop = true;
}

namespace {
// The state cell holds one line; the row's tooltip and the detail pane hold the whole text.
void setState(QTreeWidgetItem* row, const QString& text)
{
    row->setText(TThreadUpdater::colState, text.simplified());
    row->setData(TThreadUpdater::colState, Qt::UserRole, text);
    for (int c = 0; c < row->columnCount(); ++c)
        row->setToolTip(c, text);
}

QString fileNameOf(const QString& path) { return QFileInfo(path).fileName(); }
} // namespace

void TThreadUpdater::ShowProgress()
{
    QTreeWidget* list = StageList;
    list->setUpdatesEnabled(false);
    if (NewRow) {
        auto* row = new QTreeWidgetItem(list, {fileNameOf(Files.value(CurrentFile)),
                                               ShownNoStep ? QString() : QString::number(ShownStepNo), QString(), QString()});
        setState(row, StatusText);
        list->setCurrentItem(row);
    } else if (QTreeWidgetItem* last = list->topLevelItem(list->topLevelItemCount() - 1)) {
        setState(last, StatusText);
        if (ShownTime >= 0)
            last->setText(colTime, TSQLUpdater::FormatDuration(ShownTime));
    }
    list->setUpdatesEnabled(true);
    list->scrollToBottom();
}

std::function<int(TAutoUpd_Frm&)>& TAutoUpd_Frm::Runner()
{
    static std::function<int(TAutoUpd_Frm&)> runner;
    return runner;
}

TAutoUpd_Frm::TAutoUpd_Frm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AutoUpd_Frm"));
    setWindowTitle(Text::AutoCaption);

    auto* planTitle = new QLabel(Text::PlanTitle, this);
    Plan_LV = new QTreeWidget(this);
    Plan_LV->setObjectName(QStringLiteral("Plan_LV"));
    Plan_LV->setHeaderLabels({Text::ColScript, Text::ColSteps, Text::ColDatabase});
    Plan_LV->setRootIsDecorated(false);
    Plan_LV->setUniformRowHeights(true);
    Plan_LV->setAllColumnsShowFocus(true);
    Plan_LV->setColumnWidth(0, 160);
    Plan_LV->setColumnWidth(1, 60);
    Plan_LV->setMaximumHeight(100);
    planTitle->setBuddy(Plan_LV);

    Stage_LV = new QTreeWidget(this);
    Stage_LV->setObjectName(QStringLiteral("Stage_LV"));
    Stage_LV->setHeaderLabels({Text::ColScript, Text::ColStep, Text::ColState, Text::ColTime});
    Stage_LV->setRootIsDecorated(false);
    Stage_LV->setUniformRowHeights(true);
    Stage_LV->setAllColumnsShowFocus(true);
    Stage_LV->header()->setStretchLastSection(false);
    Stage_LV->header()->setSectionResizeMode(TThreadUpdater::colState, QHeaderView::Stretch);
    Stage_LV->setColumnWidth(TThreadUpdater::colScript, 120);
    Stage_LV->setColumnWidth(TThreadUpdater::colStep, 60);
    Stage_LV->setColumnWidth(TThreadUpdater::colTime, 70);

    Detail_Text = new QPlainTextEdit(this);
    Detail_Text->setObjectName(QStringLiteral("Detail_Text"));
    Detail_Text->setReadOnly(true);
    Detail_Text->setPlaceholderText(Text::DetailHint);
    Detail_Text->setMaximumHeight(90);
    connect(Stage_LV, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) { ShowDetail(row); });
    connect(Stage_LV, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row) {
        if (row == Stage_LV->currentItem())
            ShowDetail(row);
    });

    Start_BB = new QPushButton(Text::Start, this);
    Start_BB->setObjectName(QStringLiteral("Start_BB"));
    Exit_SB = new QPushButton(Text::Exit, this);
    Exit_SB->setObjectName(QStringLiteral("Exit_SB"));
    Exit_SB->setAutoDefault(false);
    connect(Start_BB, &QPushButton::clicked, this, &TAutoUpd_Frm::StartClick);
    connect(Exit_SB, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Start_BB);
    buttons->addStretch();
    buttons->addWidget(Exit_SB);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(planTitle);
    layout->addWidget(Plan_LV);
    layout->addWidget(Stage_LV, 1);
    layout->addWidget(Detail_Text);
    layout->addLayout(buttons);
    resize(680, 500);
}

TAutoUpd_Frm::~TAutoUpd_Frm() { FreeUnstarted(); }

void TAutoUpd_Frm::ShowDetail(QTreeWidgetItem* row)
{
    Detail_Text->setPlainText(row ? row->data(TThreadUpdater::colState, Qt::UserRole).toString() : QString());
}

void TAutoUpd_Frm::FreeUnstarted()
{
    if (!Thread || Running)
        return;
    try {
        Thread->Updater.CloseAll();
    } catch (const std::exception&) {
    }
    delete Thread;
    Thread = nullptr;
}

bool TAutoUpd_Frm::Prepare(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                           const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer)
{
    GetServer = handler;
    Running = false;
    FreeUnstarted();
    Plan_LV->clear();
    Stage_LV->clear();

    const std::optional<QList<TScriptPlan>> plan = PlanScripts(files, handler, chosenAlias, chosenServer);
    if (!plan)
        return false;

    auto* thread = new TThreadUpdater(Stage_LV, kThreadSuffix);
    Thread = thread;
    // Queued: it runs on this thread once the thread body has ended.
    connect(thread, &QThread::finished, this, [this, thread] {
        if (thread == Thread)
            ThreadDone();
        else
            thread->deleteLater();
    });
    thread->Updater.SetLoginParams(userSetting, passwordSetting);
    thread->Updater.LoadScript(files.value(0));
    thread->Files = files;
    for (const TScriptPlan& p : *plan) {
        thread->Servers << p.server;
        const QString where = !p.server.isEmpty()  ? p.server
                              : !p.alias.isEmpty() ? Text::PlanThroughAlias.arg(p.alias)
                                                   : Text::PlanNoDatabase;
        auto* row = new QTreeWidgetItem(Plan_LV, {QFileInfo(p.file).fileName(), QString::number(p.steps), where});
        row->setToolTip(0, p.file);
        row->setToolTip(2, where);
    }
    thread->Updater.ServerName = thread->Servers.value(0);

    Start_BB->setEnabled(true);
    Exit_SB->setEnabled(true);
    return true;
}

int TAutoUpd_Frm::ShowModal() { return Runner() ? Runner()(*this) : exec(); }

void TAutoUpd_Frm::StartClick()
{
    if (!Thread || Running)
        return;
    StartTime.start();
    Running = true;
    Start_BB->setEnabled(false);
    Exit_SB->setEnabled(false);
    Thread->start();
}

void TAutoUpd_Frm::ThreadDone()
{
    // The end of the file only when the run got there; otherwise where it stopped.
    QString end = Text::EndOfFile;
    if (Thread->stopped()) {
        const QString script = QFileInfo(Thread->Files.value(Thread->StoppedFile)).fileName();
        end = Thread->StoppedStep ? Text::RunStoppedAtStep.arg(*Thread->StoppedStep).arg(script)
                                  : Text::RunStoppedInScript.arg(script);
    }
    auto* row = new QTreeWidgetItem(Stage_LV, {QString(), QString(), QString(), TSQLUpdater::FormatDuration(StartTime.elapsed())});
    setState(row, end);
    // After a failure the error is what the administrator needs to read in the detail pane.
    QTreeWidgetItem* failed = Thread->stopped() ? Stage_LV->itemAbove(row) : nullptr;
    Stage_LV->setCurrentItem(failed ? failed : row);
    Stage_LV->scrollToBottom();
    Exit_SB->setEnabled(true);
    try {
        Thread->Updater.CloseAll();
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
    Thread->deleteLater();
    Thread = nullptr;
    Running = false;
}

void TAutoUpd_Frm::closeEvent(QCloseEvent* event)
{
    // The thread writes to the list until its end notification: the window stays till then.
    if (Thread && Running) {
        event->ignore();
        return;
    }
    FreeUnstarted();
    QDialog::closeEvent(event);
}

void TAutoUpd_Frm::reject()
{
    if (Thread && Running)
        return;
    FreeUnstarted();
    QDialog::reject();
}

void RunScripts(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer, QWidget* parent,
                const std::function<void()>& beforeShow)
{
    TAutoUpd_Frm frm(parent);
    if (!frm.Prepare(files, userSetting, passwordSetting, handler, chosenAlias, chosenServer))
        return;
    if (beforeShow)
        beforeShow();
    frm.ShowModal();
}
