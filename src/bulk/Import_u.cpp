#include "Import_u.h"

#include "ImportSource.h"
#include "ImportText.h"
#include "SpecialImport.h"
#include "UserAutoRights.h"
#include "Workbook.h"

#include "core/DataModule.h"
#include "core/InputError.h"
#include "core/LogInfo.h"
#include "core/Prompts.h"
#include "db/Error.h"
#include "update/SelectDBPaths.h"
#include "users/UserRights.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
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
    btnSpecialImport = button(QStringLiteral("btnSpecialImport"), Text::SpecialImport, this);
    sbExit = button(QStringLiteral("sbExit"), Text::Exit, this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btn_Load);
    buttons->addWidget(sbSave);
    buttons->addWidget(btnSpecialImport);
    buttons->addStretch();
    buttons->addWidget(sbExit);

    lbHint = new QLabel(Text::FormatHint, this);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    lbHint->setStyleSheet(QStringLiteral("color: red"));

    auto* fileGroup = new QGroupBox(Text::LoadedFile, this);
    sl = new QPlainTextEdit(fileGroup);
    sl->setObjectName(QStringLiteral("sl"));
    sl->setReadOnly(true);
    sl->setLineWrapMode(QPlainTextEdit::NoWrap);
    (new QVBoxLayout(fileGroup))->addWidget(sl);

    auto* logGroup = new QGroupBox(Text::LogGroup, this);
    LogMsg = new QPlainTextEdit(logGroup);
    LogMsg->setObjectName(QStringLiteral("LogMsg"));
    LogMsg->setReadOnly(true);
    (new QVBoxLayout(logGroup))->addWidget(LogMsg);

    pb_Users = new QProgressBar(this);
    pb_Users->setObjectName(QStringLiteral("pb_Users"));
    pb_Users->setValue(0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(options);
    layout->addWidget(lbHint);
    layout->addLayout(buttons);
    layout->addWidget(fileGroup, 2);
    layout->addWidget(logGroup, 1);
    layout->addWidget(pb_Users);
    resize(760, 620);

    for (int i = 1; i < m_apps.count; ++i)
        cb_Programs->addItem(m_apps.entries[i].caption(), i);
    cb_Programs->setCurrentIndex(-1);

    connect(btn_Load, &QPushButton::clicked, this, [this] { btn_LoadClick(); });
    connect(sbSave, &QPushButton::clicked, this, [this] { btn_SaveClick(); });
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
    // The run owns the connections until its last row.
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
    if (IsWorkbookFile(path)) {
        sbSave->hide();
        ImportSpreadsheet(path);
        return;
    }
    try {
        const ImportTextFile file = ReadImportTextFile(path);
        m_lines = file.lines;
        m_loadedFile = path;
        m_loadedUtf8 = file.utf8;
        sl->setPlainText(m_lines.join(QLatin1Char('\n')));
        Log(file.utf8 ? Text::ReadAsUtf8 : Text::ReadAsCp1251);
        sbSave->show();
    } catch (const InputError& e) {
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
    for (QWidget* w : {static_cast<QWidget*>(btn_Load), static_cast<QWidget*>(sbSave), static_cast<QWidget*>(btnSpecialImport),
                       static_cast<QWidget*>(sbExit), static_cast<QWidget*>(cb_Programs), static_cast<QWidget*>(cb_Class)})
        w->setEnabled(!on);
}

void TfrmImport::RunRows(const QList<ImportRow>& rows, bool workbook)
{
    pb_Users->setRange(0, int(rows.size()));
    pb_Users->setValue(0);
    SetRunning(true);
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    m_importer->ImportRows(rows, workbook, [this, &sinceEvents](int done) {
        pb_Users->setValue(done);
        // The window keeps painting and answering between rows.
        if (sinceEvents.elapsed() >= 30) {
            QCoreApplication::processEvents();
            sinceEvents.restart();
        }
    });
    SetRunning(false);
    m_importer->CloseImportDB();
    if (m_users && m_users->isVisible())
        m_users->LoadUserList(m_users->currentUserId());
}

void TfrmImport::btn_SaveClick()
{
    if (m_running)
        return;
    if (m_lines.isEmpty()) {
        prompts().message(Text::LoadFirst, Prompts::Icon::Warning);
        return;
    }
    if (ed_Sep->text().trimmed().isEmpty())
        ed_Sep->setText(Text::DefaultSeparator);
    pb_Users->setRange(0, int(m_lines.size()));
    pb_Users->setValue(0);
    LogMsg->clear();
    Log(m_loadedUtf8 ? Text::ReadAsUtf8 : Text::ReadAsCp1251);
    if (!prompts().confirm(Text::ConfirmSave))
        return;
    ApplyOptions();
    if (chosenApplication() && !ConnectImportDB())
        return;
    QList<ImportRow> rows;
    rows.reserve(m_lines.size());
    const QString separator = ed_Sep->text();
    for (int i = 0; i < m_lines.size(); ++i)
        rows.append(SplitImportLine(m_lines[i], separator, i + 1));
    RunRows(rows, false);
}

void TfrmImport::ImportSpreadsheet(const QString& path)
{
    if (m_running)
        return;
    if (!prompts().confirm(Text::ConfirmWorkbook1 + path + QLatin1Char('\r') + Text::ConfirmWorkbook2))
        return;
    QList<ImportRow> rows;
    try {
        rows = ReadWorkbook(path);
    } catch (const std::exception& e) {
        prompts().message(Text::WorkbookFailed + QLatin1Char('\r') + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    ApplyOptions();
    if (chosenApplication() && !ConnectImportDB())
        return;
    RunRows(rows, true);
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
    try {
        const ImportTextFile file = ReadImportTextFile(path);
        Log(file.utf8 ? Text::ReadAsUtf8 : Text::ReadAsCp1251);
        RunSpecialImport(m_dm.db_Sys, file.lines, [this](const QString& line) { Log(line); });
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
