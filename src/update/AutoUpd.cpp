#include "AutoUpd.h"

#include "UpdateText.h"

#include "core/Prompts.h"

#include "db/Error.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Text = UpdateText;

namespace {
const QString kThreadSuffix = QStringLiteral("_auto_thread_");
}

std::optional<QString> ScriptAlias(const QString& path)
{
    try {
        TSQLScript script;
        LoadScriptFile(path, script, nullptr);
        return script.Alias;
    } catch (const std::exception&) {
        return std::nullopt;
    }
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
    StatusText = Text::ErrorPrefix + message;
    // An error outside a step (a script that does not load, a database that cannot be reached)
    // gets a row of its own: the last row belongs to another step, or there is none.
    NewRow = ownRow;
    ShownNoStep = true;
    ShownTime = -1;
    Display();
    m_stop = true;
}

void TThreadUpdater::ShowProgress()
{
    QTreeWidget* list = StageList;
    list->setUpdatesEnabled(false);
    if (NewRow) {
        auto* row = new QTreeWidgetItem(list, {ShownNoStep ? QString() : QString::number(ShownStepNo), StatusText, QString()});
        list->setCurrentItem(row);
    } else if (QTreeWidgetItem* last = list->topLevelItem(list->topLevelItemCount() - 1)) {
        last->setText(1, StatusText);
        if (ShownTime >= 0)
            last->setText(2, TSQLUpdater::FormatDuration(ShownTime));
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
    Stage_LV = new QTreeWidget(this);
    Stage_LV->setObjectName(QStringLiteral("Stage_LV"));
    Stage_LV->setHeaderLabels({Text::ColStep, Text::ColState, Text::ColTime});
    Stage_LV->setRootIsDecorated(false);
    Stage_LV->setUniformRowHeights(true);
    Stage_LV->setAllColumnsShowFocus(true);
    Stage_LV->header()->setStretchLastSection(false);
    Stage_LV->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    Stage_LV->setColumnWidth(0, 70);
    Stage_LV->setColumnWidth(2, 80);

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
    layout->addWidget(Stage_LV, 1);
    layout->addLayout(buttons);
    resize(640, 420);
}

TAutoUpd_Frm::~TAutoUpd_Frm() { FreeUnstarted(); }

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

int TAutoUpd_Frm::Prepare(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                          const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer)
{
    GetServer = handler;
    Running = false;
    FreeUnstarted();

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

    // One question per alias; the chosen server serves only the scripts of the chosen alias.
    QHash<QString, QString> servers;
    auto serverFor = [&](const QString& alias) {
        const QString key = alias.toLower();
        if (servers.contains(key))
            return servers.value(key);
        QString server;
        if (!alias.isEmpty() && !chosenServer.isEmpty() && alias.compare(chosenAlias, Qt::CaseInsensitive) == 0) {
            server = chosenServer;
        } else if (GetServer) {
            QString answer = chosenServer;
            GetServer(alias, answer);
            server = answer;
        }
        servers.insert(key, server);
        return server;
    };
    for (int i = 0; i < files.size(); ++i) {
        // A script that cannot be read asks nothing: its run stops there with the reason.
        const std::optional<QString> alias = i == 0 ? thread->Updater.Alias : ScriptAlias(files[i]);
        thread->Servers << (alias ? serverFor(*alias) : QString());
    }
    thread->Updater.ServerName = thread->Servers.value(0);

    Start_BB->setEnabled(true);
    Exit_SB->setEnabled(true);
    Stage_LV->clear();
    return Runner() ? Runner()(*this) : exec();
}

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
    auto* row = new QTreeWidgetItem(Stage_LV, {QString(), Text::EndOfFile, TSQLUpdater::FormatDuration(StartTime.elapsed())});
    Stage_LV->setCurrentItem(row);
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
                const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer, QWidget* parent)
{
    TAutoUpd_Frm frm(parent);
    frm.Prepare(files, userSetting, passwordSetting, handler, chosenAlias, chosenServer);
}
