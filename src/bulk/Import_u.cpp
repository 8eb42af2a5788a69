#include "Import_u.h"

#include "ImportReport.h"
#include "ImportSource.h"
#include "ImportText.h"
#include "SpecialImport.h"
#include "UserAutoRights.h"
#include "Workbook.h"

#include "core/DataModule.h"
#include "core/FileWrite.h"
#include "core/InputError.h"
#include "core/LogInfo.h"
#include "core/Prompts.h"
#include "db/Error.h"
#include "update/SelectDBPaths.h"
#include "users/UserRights.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

namespace Text = ImportText;

namespace {

QPushButton* button(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

// How long one step of a run may hold the window before it paints and answers again.
constexpr int kStepMillis = 40;

// The files the window takes; workbooks of every kind sit under the spreadsheet filter.
const QString kFileFilter = QStringLiteral("All files(*.*)|*.*|Text Files|*.txt|Comma Separated|*.csv|Excel|*.xls;*.xlsx;*.ods");

} // namespace

TfrmImport::TfrmImport(TDM& dm, const ApplicationTable& apps, TfrmUserRights* users, QWidget* parent)
    : QDialog(parent), m_dm(dm), m_apps(apps), m_users(users),
      m_importer(std::make_unique<TUserImporter>(dm, [this](const QString& line) { Log(line); }))
{
    setObjectName(QStringLiteral("frmImport"));
    setWindowTitle(Text::Caption);

    auto* options = new QGroupBox(this);
    auto* form = new QFormLayout;
    ed_Pass = new QLineEdit(Text::DefaultPassword, options);
    ed_Pass->setObjectName(QStringLiteral("ed_Pass"));
    ed_Sep = new QLineEdit(Text::DefaultSeparator, options);
    ed_Sep->setObjectName(QStringLiteral("ed_Sep"));
    ed_Sep->setMaxLength(1);
    ed_Sep->setMaximumWidth(40);
    cb_Programs = new QComboBox(options);
    cb_Programs->setObjectName(QStringLiteral("cb_Programs"));
    cb_Class = new QComboBox(options);
    cb_Class->setObjectName(QStringLiteral("cb_Class"));
    form->addRow(QStringLiteral("&Парола по подразбиране"), ed_Pass);
    form->addRow(QStringLiteral("&Разделител"), ed_Sep);
    form->addRow(QStringLiteral("&Приложение"), cb_Programs);
    form->addRow(QStringLiteral("&Клас"), cb_Class);

    cbSkipExisting = new QCheckBox(Text::SkipExisting, options);
    cbSkipExisting->setObjectName(QStringLiteral("cbSkipExisting"));
    cbSkipExisting->setChecked(true);
    cbDomainUser = new QCheckBox(Text::DomainUser, options);
    cbDomainUser->setObjectName(QStringLiteral("cbDomainUser"));
    cbChangeUserName = new QCheckBox(Text::ChangeUserName, options);
    cbChangeUserName->setObjectName(QStringLiteral("cbChangeUserName"));
    cbChangeUserName->setEnabled(false);
    auto* checks = new QVBoxLayout;
    checks->addWidget(cbSkipExisting);
    checks->addWidget(cbDomainUser);
    checks->addWidget(cbChangeUserName);
    checks->addStretch();
    auto* optionsRow = new QHBoxLayout(options);
    optionsRow->addLayout(form, 1);
    optionsRow->addLayout(checks);

    btn_Load = button(QStringLiteral("btn_Load"), Text::Load, this);
    sbSave = button(QStringLiteral("sbSave"), Text::Save, this);
    btnPreview = button(QStringLiteral("btnPreview"), Text::Preview, this);
    btnSaveReport = button(QStringLiteral("btnSaveReport"), Text::SaveReport, this);
    btnStop = button(QStringLiteral("btnStop"), Text::Stop, this);
    btnStop->setEnabled(false);
    btnSpecialImport = button(QStringLiteral("btnSpecialImport"), Text::SpecialImport, this);
    sbExit = button(QStringLiteral("sbExit"), Text::Exit, this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btn_Load);
    buttons->addWidget(btnPreview);
    buttons->addWidget(sbSave);
    buttons->addWidget(btnSpecialImport);
    buttons->addWidget(btnSaveReport);
    buttons->addStretch();
    buttons->addWidget(sbExit);

    lbHint = new QLabel(Text::FormatHint, this);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    lbHint->setStyleSheet(QStringLiteral("color: red"));

    // The loaded file and the last run's report share the space; a run shows its report.
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));
    sl = new QPlainTextEdit(tabs);
    sl->setObjectName(QStringLiteral("sl"));
    sl->setReadOnly(true);
    sl->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmReport = new QPlainTextEdit(tabs);
    mmReport->setObjectName(QStringLiteral("mmReport"));
    mmReport->setReadOnly(true);
    mmReport->setLineWrapMode(QPlainTextEdit::NoWrap);
    tabs->addTab(sl, Text::LoadedFile);
    tabs->addTab(mmReport, Text::ReportTab);

    auto* logGroup = new QGroupBox(Text::LogGroup, this);
    LogMsg = new QPlainTextEdit(logGroup);
    LogMsg->setObjectName(QStringLiteral("LogMsg"));
    LogMsg->setReadOnly(true);
    (new QVBoxLayout(logGroup))->addWidget(LogMsg);

    pb_Users = new QProgressBar(this);
    pb_Users->setObjectName(QStringLiteral("pb_Users"));
    pb_Users->setValue(0);
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(pb_Users, 1);
    progressRow->addWidget(btnStop);

    lbSummary = new QLabel(this);
    lbSummary->setObjectName(QStringLiteral("lbSummary"));
    lbSummary->setWordWrap(true);
    lbSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(options);
    layout->addWidget(lbHint);
    layout->addLayout(buttons);
    layout->addWidget(tabs, 2);
    layout->addWidget(logGroup, 1);
    layout->addWidget(lbSummary);
    layout->addLayout(progressRow);
    resize(780, 580);

    m_step.setSingleShot(true);
    m_step.setInterval(0);
    connect(&m_step, &QTimer::timeout, this, [this] { RunStep(); });

    for (int i = 1; i < m_apps.count; ++i)
        cb_Programs->addItem(m_apps.entries[i].caption(), i);
    cb_Programs->setCurrentIndex(-1);

    connect(btn_Load, &QPushButton::clicked, this, [this] { btn_LoadClick(); });
    connect(sbSave, &QPushButton::clicked, this, [this] { btn_SaveClick(); });
    connect(btnPreview, &QPushButton::clicked, this, [this] { btnPreviewClick(); });
    connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
    connect(btnSaveReport, &QPushButton::clicked, this, [this] { btnSaveReportClick(); });
    connect(btnSpecialImport, &QPushButton::clicked, this, [this] { btnSpecialImportClick(); });
    connect(sbExit, &QPushButton::clicked, this, [this] { reject(); });
    connect(cb_Programs, &QComboBox::currentIndexChanged, this, [this](int i) { cb_ProgramsChange(i); });
    connect(cb_Class, &QComboBox::currentIndexChanged, this, [this](int i) { cb_ClassChange(i); });
    connect(cbDomainUser, &QCheckBox::toggled, this, [this] { cbDomainUserClick(); });
}

TfrmImport::~TfrmImport() = default;

void TfrmImport::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    FormShow();
}

void TfrmImport::reject()
{
    // The run owns the connections until its last row; Stop ends it between rows.
    if (!m_running)
        QDialog::reject();
}

bool TfrmImport::FormShow()
{
    try {
        m_importer->LoadSnapshot();
    } catch (const std::exception& e) {
        prompts().message(Text::ShowFailed + QStringLiteral("\r\n") + db::errorMessage(e), Prompts::Icon::Error);
        return false;
    }
    ed_Pass->setFocus(Qt::OtherFocusReason);
    return true;
}

void TfrmImport::Log(const QString& line)
{
    // A message's own line breaks become lines of the memo.
    QString shown = line;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    LogMsg->appendPlainText(shown);
}

const ApplicationEntry* TfrmImport::chosenApplication() const
{
    const int row = cb_Programs->currentIndex() < 0 ? -1 : cb_Programs->currentData().toInt();
    return row > 0 && row < m_apps.count ? &m_apps.entries[row] : nullptr;
}

int TfrmImport::defaultClass() const { return m_importer->defaultClass; }

void TfrmImport::cb_ProgramsChange(int index)
{
    cb_Class->blockSignals(true);
    cb_Class->clear();
    const ApplicationEntry* app = index < 0 ? nullptr : chosenApplication();
    if (app)
        for (int i = 0; i < app->ClassCount; ++i) {
            cb_Class->addItem(app->Classes[i].FullName, app->Classes[i].ClassIdx);
            cb_Class->setItemData(i, app->Classes[i].FullName, Qt::ToolTipRole);
        }
    cb_Class->blockSignals(false);
    cb_Class->setCurrentIndex(cb_Class->count() - 1);
    cb_ClassChange(cb_Class->currentIndex());
}

void TfrmImport::cb_ClassChange(int index) { m_importer->defaultClass = index < 0 ? -1 : cb_Class->itemData(index).toInt(); }

void TfrmImport::cbDomainUserClick()
{
    cbChangeUserName->setChecked(cbDomainUser->isChecked());
    cbChangeUserName->setEnabled(cbDomainUser->isChecked());
}

void TfrmImport::btn_LoadClick()
{
    FileDialogOptions o;
    o.filter = kFileFilter;
    const QString path = prompts().openFile(o);
    if (!path.isEmpty())
        LoadFile(path);
}

void TfrmImport::LoadFile(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        prompts().message(Text::FileNotFound, Prompts::Icon::Warning);
        return;
    }
    if (m_running)
        return;
    if (IsWorkbookFile(path)) {
        sbSave->hide();
        ImportSpreadsheet(path);
        return;
    }
    try {
        const ImportTextFile file = ReadImportTextFile(path);
        m_lines = file.lines;
        m_loadedFile = path;
        m_loadedEncoding = file.encoding;
        m_loadedWorkbook = false;
        m_workbookRows.clear();
        lbSummary->clear();
        tabs->setCurrentWidget(sl);
        sl->setPlainText(m_lines.join(QLatin1Char('\n')));
        Log(ImportEncodingNote(file.encoding));
        sbSave->show();
    } catch (const InputError& e) {
        // A refused file leaves nothing loaded: "Въвеждане в БД" must not import the one before.
        m_lines.clear();
        m_loadedFile.clear();
        sl->clear();
        prompts().message(e.message(), Prompts::Icon::Error);
    }
}

void TfrmImport::ApplyOptions()
{
    ImportOptions& o = m_importer->options;
    o.defaultPassword = ed_Pass->text();
    o.skipExisting = cbSkipExisting->isChecked();
    o.domainUser = cbDomainUser->isChecked();
    o.changeUserName = cbChangeUserName->isChecked();
    o.preview = false;
    m_importer->setApplication(chosenApplication());
}

bool TfrmImport::ConnectImportDB()
{
    const ApplicationEntry* app = chosenApplication();
    if (!app)
        return false;
    QStringList paths;
    const QString section = app->section();
    if (section.isEmpty() || SelectDBPaths(Text::SelectCaption, Text::SelectPrompt, section, false, true,
                                           ShortString(LogInfo().Location), paths) == 2 || paths.isEmpty()) {
        prompts().message(Text::MissingSettings + cb_Programs->currentText(), Prompts::Icon::Warning);
        return false;
    }
    return m_importer->ConnectImportDB(paths.first());
}

void TfrmImport::SetRunning(bool on)
{
    m_running = on;
    for (QWidget* w : {static_cast<QWidget*>(btn_Load), static_cast<QWidget*>(sbSave), static_cast<QWidget*>(btnPreview),
                       static_cast<QWidget*>(btnSpecialImport), static_cast<QWidget*>(btnSaveReport), static_cast<QWidget*>(sbExit),
                       static_cast<QWidget*>(cb_Programs), static_cast<QWidget*>(cb_Class)})
        w->setEnabled(!on);
    btnStop->setEnabled(on);
    if (on)
        btnStop->setFocus(Qt::OtherFocusReason);
}

void TfrmImport::Report(const QString& line)
{
    m_report << line;
    mmReport->appendPlainText(line);
}

void TfrmImport::RunRows(const QList<ImportRow>& rows, bool workbook, bool preview)
{
    // Every run starts from the users as they are: a preview's would-be users are no one's.
    m_importer->options.preview = preview;
    try {
        m_importer->LoadSnapshot();
    } catch (const std::exception& e) {
        m_importer->options.preview = false;
        m_importer->CloseImportDB();
        prompts().message(Text::ShowFailed + QStringLiteral("\r\n") + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    m_run = Run{};
    m_run.rows = rows;
    m_run.workbook = workbook;
    m_run.preview = preview;
    m_report.clear();
    m_savedReport.clear();
    mmReport->clear();
    lbSummary->clear();
    Report(m_loadedFile + QStringLiteral(" - ") + QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    if (preview)
        Report(Text::PreviewHeader);
    tabs->setCurrentWidget(mmReport);
    pb_Users->setRange(0, int(rows.size()));
    pb_Users->setValue(0);
    SetRunning(true);
    m_step.start();
}

void TfrmImport::RunStep()
{
    // A few rows, then back to the event loop, which paints, takes Stop and calls again.
    QElapsedTimer held;
    held.start();
    while (!m_run.stopAsked && m_run.failedAt == 0 && m_run.next < m_run.rows.size() && held.elapsed() < kStepMillis) {
        const ImportRow& row = m_run.rows[m_run.next];
        QList<std::pair<ImportRow, RowResult>> results;
        const bool finished = m_importer->ImportRows({row}, m_run.workbook, nullptr, &results);
        for (const auto& [done, r] : results) {
            Report(ImportRowLine(done, r, m_run.preview));
            m_run.counts.add(r);
        }
        if (!finished) {
            m_run.failedAt = row.number;
            break;
        }
        ++m_run.next;
        pb_Users->setValue(int(m_run.next));
    }
    if (m_run.stopAsked || m_run.failedAt != 0 || m_run.next >= m_run.rows.size())
        FinishRun();
    else
        m_step.start();
}

void TfrmImport::btnStopClick()
{
    if (m_running)
        m_run.stopAsked = true;
}

void TfrmImport::FinishRun()
{
    m_importer->CloseImportDB();
    m_importer->options.preview = false;
    ImportEnd end;
    end.total = int(m_run.rows.size());
    end.preview = m_run.preview;
    end.failedAt = m_run.failedAt;
    if (m_run.stopAsked && m_run.failedAt == 0 && m_run.next < m_run.rows.size())
        end.stoppedBefore = m_run.rows[m_run.next].number;
    const QStringList summary = ImportSummary(m_run.counts, end);
    for (const QString& line : summary) {
        Report(line);
        Log(line);
    }
    lbSummary->setText(summary.join(QLatin1Char('\n')));
    SetRunning(false);
    if (m_run.preview)
        return;
    // The report of what was written goes beside the file it came from.
    if (!m_loadedFile.isEmpty()) {
        const QString path = DefaultImportReportPath(m_loadedFile, QDateTime::currentDateTime());
        try {
            WriteImportReport(path, m_report);
            m_savedReport = path;
            Log(Text::ReportSaved.arg(path));
        } catch (const std::exception& e) {
            Log(Text::ReportNotSaved.arg(db::errorMessage(e)));
        }
    }
    if (m_users && m_users->isVisible())
        m_users->LoadUserList(m_users->currentUserId());
}

void TfrmImport::btnSaveReportClick()
{
    if (m_running)
        return;
    if (m_report.isEmpty()) {
        prompts().message(Text::NoReport, Prompts::Icon::Warning);
        return;
    }
    FileDialogOptions o;
    o.title = Text::SaveReport;
    o.filter = Text::ReportFilter;
    o.defaultExt = QStringLiteral("txt");
    o.fileName = m_savedReport.isEmpty() && !m_loadedFile.isEmpty() ? DefaultImportReportPath(m_loadedFile, QDateTime::currentDateTime())
                                                                     : m_savedReport;
    const QString path = prompts().saveFile(o);
    if (path.isEmpty())
        return;
    try {
        WriteImportReport(path, m_report);
        Log(Text::ReportSaved.arg(path));
    } catch (const std::exception& e) {
        prompts().message(Text::ReportNotSaved.arg(db::errorMessage(e)), Prompts::Icon::Error);
    }
}

QList<ImportRow> TfrmImport::LoadedRows()
{
    if (m_loadedWorkbook)
        return m_workbookRows;
    if (ed_Sep->text().trimmed().isEmpty())
        ed_Sep->setText(Text::DefaultSeparator);
    return ImportTextRows(m_lines, ed_Sep->text(), IsCsvFile(m_loadedFile));
}

bool TfrmImport::SplitLoadedRows(QList<ImportRow>& rows)
{
    // The whole file is split before anything is asked or written: a wrong separator or a broken
    // quote stops here.
    try {
        rows = LoadedRows();
        return true;
    } catch (const InputError& e) {
        Log(e.message());
        prompts().message(e.message(), Prompts::Icon::Warning);
        return false;
    }
}

void TfrmImport::btn_SaveClick()
{
    if (m_running)
        return;
    if (m_lines.isEmpty()) {
        prompts().message(Text::LoadFirst, Prompts::Icon::Warning);
        return;
    }
    pb_Users->setRange(0, int(m_lines.size()));
    pb_Users->setValue(0);
    LogMsg->clear();
    Log(ImportEncodingNote(m_loadedEncoding));
    QList<ImportRow> rows;
    if (!SplitLoadedRows(rows) || !prompts().confirm(Text::ConfirmSave))
        return;
    ApplyOptions();
    if (chosenApplication() && !ConnectImportDB())
        return;
    RunRows(rows, false, false);
}

void TfrmImport::btnPreviewClick()
{
    if (m_running)
        return;
    if (m_lines.isEmpty() && !m_loadedWorkbook) {
        prompts().message(Text::LoadFirst, Prompts::Icon::Warning);
        return;
    }
    LogMsg->clear();
    if (!m_loadedWorkbook)
        Log(ImportEncodingNote(m_loadedEncoding));
    QList<ImportRow> rows;
    if (!SplitLoadedRows(rows))
        return;
    ApplyOptions();
    if (chosenApplication() && !ConnectImportDB())
        return;
    RunRows(rows, m_loadedWorkbook, true);
}

void TfrmImport::ImportSpreadsheet(const QString& path)
{
    if (m_running)
        return;
    // Read whether or not it is imported now: a declined workbook can still be previewed.
    const bool now = prompts().confirm(Text::ConfirmWorkbook1 + path + QLatin1Char('\r') + Text::ConfirmWorkbook2);
    QList<ImportRow> rows;
    try {
        rows = ReadWorkbook(path);
    } catch (const std::exception& e) {
        prompts().message(Text::WorkbookFailed + QLatin1Char('\r') + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    m_lines.clear();
    sl->clear();
    m_workbookRows = rows;
    m_loadedWorkbook = true;
    m_loadedFile = path;
    lbSummary->clear();
    if (!now)
        return;
    ApplyOptions();
    if (chosenApplication() && !ConnectImportDB())
        return;
    RunRows(rows, true, false);
}

void TfrmImport::btnSpecialImportClick()
{
    if (m_running)
        return;
    FileDialogOptions o;
    o.filter = kFileFilter;
    const QString path = prompts().openFile(o);
    if (path.isEmpty())
        return;
    SetRunning(true);
    btnStop->setEnabled(false); // the name matching runs whole
    try {
        RunSpecialImportFile(m_dm.db_Sys, path, [this](const QString& line) { Log(line); });
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
    SetRunning(false);
    if (m_users && m_users->isVisible())
        m_users->LoadUserList(m_users->currentUserId());
}

void InstallBulkWindows()
{
    TfrmUserRights::ImportWindow() = [](TfrmUserRights& users) {
        TfrmImport w(users.dataModule(), users.applicationTable(), &users, &users);
        w.exec();
    };
    TfrmUserRights::AutoRightsWindow() = [](TfrmUserRights& users) { ShowAutoRights(users.dataModule(), &users); };
}
