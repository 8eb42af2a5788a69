#include "Update_f.h"

#include "Alias_F.h"
#include "AutoUpd.h"
#include "DBLists.h"
#include "History.h"
#include "SelectDBPaths.h"
#include "UpdateText.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/LogInfo.h"
#include "core/Prompts.h"
#include "ui/DBHintGrid.h"
#include "ui/DBNavigator2.h"
#include "ui/MemDataSet.h"

#include "db/Error.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>

namespace Text = UpdateText;

namespace {
const QString kWindowSuffix = QStringLiteral("_update_window_");

QPushButton* button(QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}
} // namespace

QString AnyCaseFilter(const QString& filter)
{
    QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 1; i < parts.size(); i += 2) {
        QString out;
        for (const QChar c : parts[i]) {
            if (c.isLetter() && c.toLower() != c.toUpper())
                out += QLatin1Char('[') + c.toLower() + c.toUpper() + QLatin1Char(']');
            else
                out += c;
        }
        parts[i] = out;
    }
    return parts.join(QLatin1Char('|'));
}

std::function<int(TUpdate_f&)>& TUpdate_f::Runner()
{
    static std::function<int(TUpdate_f&)> runner;
    return runner;
}

TUpdate_f::TUpdate_f(QWidget* parent) : QDialog(parent), Updater(kWindowSuffix)
{
    setObjectName(QStringLiteral("Update_f"));
    setWindowTitle(Text::Caption);

    Updater.OnError = [this](const QString& message) { ShowStepError(message); };
    Updater.OnAlreadyApplied = [this](std::int32_t n, const QDateTime& at) { ShowAlreadyApplied(n, at); };
    const QStringList login = MaintenanceLoginLines();
    Updater.SetLoginParams(login.value(0), login.value(1));

    auto* aliasLabel = new QLabel(Text::AliasLabel, this);
    Als = new QLineEdit(this);
    Als->setObjectName(QStringLiteral("Als"));
    Als->setReadOnly(true);
    aliasLabel->setBuddy(Als);
    labChoosedDB = new QLabel(Text::ChosenDB, this);
    labChoosedDB->setObjectName(QStringLiteral("labChoosedDB"));
    labChoosedDBInfo = new QLabel(this);
    labChoosedDBInfo->setObjectName(QStringLiteral("labChoosedDBInfo"));
    labChoosedDBInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    sbCancelDB = button(this, "sbCancelDB", Text::CancelDB);

    auto* scriptLabel = new QLabel(Text::ScriptLabel, this);
    labScript = new QLabel(this);
    labScript->setObjectName(QStringLiteral("labScript"));
    labScript->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* nextStepLabel = new QLabel(Text::NextStepLabel, this);
    labNextStep = new QLabel(this);
    labNextStep->setObjectName(QStringLiteral("labNextStep"));

    Upd_Text = new QPlainTextEdit(this);
    Upd_Text->setObjectName(QStringLiteral("Upd_Text"));
    Upd_Text->setReadOnly(true);
    Upd_Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    Upd_Text->setFont(QFont(QStringLiteral("Monospace")));

    DBGrid1 = new TDBHintGrid(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->SearchEnabled = false;
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setColumns({{QStringLiteral("SU_ID"), Text::ColId, {}, 60, true},
                         {QStringLiteral("SU_NO"), Text::ColNo, {}, 70, true},
                         {QStringLiteral("SU_DATE"), Text::ColDate, {}, 150, true},
                         {QStringLiteral("SU_FILENAME"), Text::ColFileName, {}, 320, true}});
    DBMemo1 = new QPlainTextEdit(this);
    DBMemo1->setObjectName(QStringLiteral("DBMemo1"));
    DBMemo1->setReadOnly(true);
    DBMemo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    DBNavigator1 = new TDBNavigator2(this);
    DBNavigator1->setObjectName(QStringLiteral("DBNavigator1"));
    DBNavigator1->setVisibleButtons(TDBNavigator2::Buttons(TDBNavigator2::First) | TDBNavigator2::Prior | TDBNavigator2::Next |
                                    TDBNavigator2::Last | TDBNavigator2::Refresh);
    connect(&Updater.HistoryTable(), &TMemDataSet::currentChanged, this, [this] { ShowHistoryText(); });
    connect(&Updater.HistoryTable(), &TMemDataSet::layoutReset, this, [this] { ShowHistoryText(); });

    File_SB = button(this, "File_SB", Text::File);
    Step_sb = button(this, "Step_sb", Text::Step);
    Auto_SB = button(this, "Auto_SB", Text::Auto);
    Multi_SB = button(this, "Multi_SB", Text::Multi);
    History_SB = button(this, "History_SB", Text::History);
    Exit_SB = button(this, "Exit_SB", Text::Exit);
    Step_sb->setEnabled(false);
    connect(File_SB, &QPushButton::clicked, this, &TUpdate_f::FileClick);
    connect(Step_sb, &QPushButton::clicked, this, &TUpdate_f::StepClick);
    connect(Auto_SB, &QPushButton::clicked, this, &TUpdate_f::AutoClick);
    connect(Multi_SB, &QPushButton::clicked, this, &TUpdate_f::MultiClick);
    connect(History_SB, &QPushButton::clicked, this, &TUpdate_f::HistoryClick);
    connect(sbCancelDB, &QPushButton::clicked, this, &TUpdate_f::CancelDBClick);
    connect(Exit_SB, &QPushButton::clicked, this, &QDialog::close);

    auto* top = new QGridLayout;
    top->addWidget(aliasLabel, 0, 0);
    top->addWidget(Als, 0, 1);
    top->addWidget(labChoosedDB, 1, 0);
    top->addWidget(labChoosedDBInfo, 1, 1);
    top->addWidget(sbCancelDB, 1, 2);
    top->addWidget(scriptLabel, 2, 0);
    top->addWidget(labScript, 2, 1, 1, 2);
    top->addWidget(nextStepLabel, 3, 0);
    top->addWidget(labNextStep, 3, 1, 1, 2);
    top->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {File_SB, Step_sb, Auto_SB, Multi_SB, History_SB})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(Exit_SB);

    auto* history = new QWidget(this);
    auto* historyLayout = new QVBoxLayout(history);
    historyLayout->setContentsMargins(0, 0, 0, 0);
    auto* historySplit = new QSplitter(Qt::Horizontal, history);
    historySplit->addWidget(DBGrid1);
    historySplit->addWidget(DBMemo1);
    historySplit->setStretchFactor(0, 3);
    historySplit->setStretchFactor(1, 2);
    historyLayout->addWidget(DBNavigator1);
    historyLayout->addWidget(historySplit, 1);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(Upd_Text);
    split->addWidget(history);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);
    resize(780, 560);
    ClearChosenDB();
}

TUpdate_f::~TUpdate_f()
{
    AttachGrid(false);
    CloseRunner();
}

void TUpdate_f::AttachGrid(bool on)
{
    DBGrid1->setDataSet(on ? &Updater.HistoryTable() : nullptr);
    DBNavigator1->setDataSet(on ? &Updater.HistoryTable() : nullptr);
    ShowHistoryText();
}

void TUpdate_f::ShowHistoryText()
{
    const TMemDataSet& h = Updater.HistoryTable();
    DBMemo1->setPlainText(DBGrid1->dataSet() && h.active() && h.recNo() >= 0 ? h.text(QStringLiteral("SU_TEXT")) : QString());
}

void TUpdate_f::CloseRunner()
{
    try {
        Updater.CloseAll();
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
}

void TUpdate_f::ShowNextStep()
{
    const int count = Updater.StepCount();
    if (Updater.Cursor < count) {
        const TSQLStep& step = Updater.Steps(Updater.Cursor);
        labNextStep->setText(Text::NextStepInfo.arg(Updater.Cursor + 1).arg(count).arg(step.StepNo()));
        Upd_Text->setPlainText(step.Lines().join(QLatin1Char('\n')));
    } else {
        labNextStep->setText(Text::NoNextStep.arg(count));
        Upd_Text->clear();
    }
}

void TUpdate_f::ClearStepInfo()
{
    labNextStep->clear();
    Upd_Text->clear();
}

int TUpdate_f::ShowModal()
{
    ClearChosenDB();
    Step_sb->setEnabled(false);
    ClearStepInfo();
    return Runner() ? Runner()(*this) : exec();
}

void TUpdate_f::closeEvent(QCloseEvent* event)
{
    CloseRunner();
    QDialog::closeEvent(event);
}

void TUpdate_f::done(int result)
{
    CloseRunner();
    QDialog::done(result);
}

void TUpdate_f::ClearChosenDB()
{
    ChosenAlias.clear();
    ChosenServer.clear();
    labChoosedDBInfo->clear();
    labChoosedDBInfo->hide();
    labChoosedDB->hide();
    sbCancelDB->hide();
}

void TUpdate_f::SetChosenDB(const QString& alias, const QString& server)
{
    ChosenAlias = alias;
    ChosenServer = server;
    labChoosedDBInfo->setText(server);
    labChoosedDBInfo->show();
    labChoosedDB->show();
    sbCancelDB->show();
}

bool TUpdate_f::ResolveServer(const QString& alias, QString& server)
{
    if (alias.isEmpty() || alias.compare(Text::MenuAlias, Qt::CaseInsensitive) == 0) {
        server.clear();
        QString chosen;
        if (!m_aliasChoice)
            m_aliasChoice = m_ownAliasChoice = new TAlias_F(this);
        if (m_aliasChoice->ShowModal(chosen) != QDialog::Accepted)
            return false;
        server = AliasParams(chosen).value(QStringLiteral("SERVER NAME"));
        SetChosenDB(chosen, server);
        return true;
    }
    if (!ChosenAlias.isEmpty() && alias.compare(ChosenAlias, Qt::CaseInsensitive) == 0) {
        server = ChosenServer;
        return true;
    }
    server.clear();
    for (const AppAliasPair& pair : AppAliasTable) {
        if (alias.compare(pair.alias, Qt::CaseInsensitive) != 0)
            continue;
        QStringList values;
        bool cancelled = false;
        if (SelectDBPaths(Text::SelectCaption, Text::SelectPrompt, pair.section.toString(), false, true,
                          ShortString(LogInfo().Location), values, &cancelled) == 1 &&
            !values.isEmpty()) {
            server = values.first();
            SetChosenDB(alias, server);
        }
        return !cancelled;
    }
    return true;
}

void TUpdate_f::ShowStepError(const QString& message)
{
    if (Updater.InStep)
        prompts().message(Text::StepError.arg(Updater.CurrentStepNo()) + message, Prompts::Icon::Error);
    else
        prompts().message(Text::ConnectError + message, Prompts::Icon::Error);
}

void TUpdate_f::ShowAlreadyApplied(std::int32_t stepNo, const QDateTime& appliedAt)
{
    prompts().message(Text::AlreadyApplied.arg(stepNo) + appliedAt.toString(Text::WindowDateFormat), Prompts::Icon::Information);
}

void TUpdate_f::FileClick()
{
    FileDialogOptions o;
    o.filter = AnyCaseFilter(Text::ScriptFilter);
    const QString path = prompts().openFile(o);
    if (path.isEmpty())
        return;
    // The script is read and its database found before the window changes: a cancelled
    // choice of database leaves everything as it was.
    const TGetServerHandler resolve = [this](const QString& alias, QString& server) { return ResolveServer(alias, server); };
    auto unload = [this] {
        Step_sb->setEnabled(false);
        AttachGrid(false);
        ClearStepInfo();
        labScript->clear();
    };
    std::optional<QList<TScriptPlan>> plan;
    try {
        plan = PlanScripts({path}, resolve, {}, {});
        if (!plan)
            return;
        unload();
        Updater.LoadScript(path);
    } catch (const std::exception& e) {
        unload();
        CloseRunner();
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    Als->setText(Updater.Alias);
    labScript->setText(QFileInfo(path).fileName());
    labScript->setToolTip(Updater.ScriptFile);
    // The database is found already: the runner asks nothing more.
    Updater.OnGetServer = nullptr;
    Updater.ServerName = plan->value(0).server;
    Updater.Connect();
    Step_sb->setEnabled(true);
    ShowNextStep();
    if (Updater.HistoryTable().active())
        Updater.HistoryTable().last();
    AttachGrid(true);
}

void TUpdate_f::StepClick()
{
    bool more = false;
    try {
        more = Updater.RunNextStep();
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
        more = true;
    }
    Step_sb->setEnabled(more);
    if (more) {
        ShowNextStep();
    } else {
        labNextStep->setText(Text::EndOfFile);
        Upd_Text->clear();
        prompts().message(Text::EndOfFile, Prompts::Icon::Information);
        CloseRunner();
    }
}

void TUpdate_f::AutoClick()
{
    FileDialogOptions o;
    o.filter = AnyCaseFilter(Text::ScriptFilter);
    const QString path = prompts().openFile(o);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    RunInBackground({path});
}

void TUpdate_f::MultiClick()
{
    FileDialogOptions o;
    o.filter = AnyCaseFilter(Text::MultiFilter);
    QStringList files = prompts().openFiles(o);
    files.erase(std::remove_if(files.begin(), files.end(), [](const QString& f) { return !QFileInfo::exists(f); }), files.end());
    if (files.isEmpty())
        return;
    RunInBackground(SortScripts(files));
}

void TUpdate_f::RunInBackground(const QStringList& files)
{
    const QStringList login = MaintenanceLoginLines();
    try {
        // The window's own connections close only when the run is about to be shown: a script
        // that does not read, or a cancelled choice, leaves the window as it was.
        RunScripts(files, login.value(0), login.value(1),
                   [this](const QString& alias, QString& server) { return ResolveServer(alias, server); }, ChosenAlias,
                   ChosenServer, this, [this] {
                       CloseRunner();
                       Step_sb->setEnabled(false);
                       ClearStepInfo();
                   });
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
}

void TUpdate_f::HistoryClick()
{
    try {
        TfrmHistory h(this);
        if (HistoryRunner())
            HistoryRunner()(h);
        else
            h.exec();
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
}

void TUpdate_f::CancelDBClick()
{
    ClearChosenDB();
    CloseRunner();
    Step_sb->setEnabled(false);
    ClearStepInfo();
}
