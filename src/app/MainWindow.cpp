#include "MainWindow.h"

#include "core/DataModule.h"
#include "core/InstallDescription.h"
#include "core/Policy.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "core/TextOps.h"

#include "db/Error.h"
#include "db/Query.h"
#include "db/StoredProc.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLocale>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const char* const kTag = "tag";

// A button or check box takes "&" as the mark of its shortcut letter; "&&" shows one "&".
QString literalCaption(QString caption) { return caption.replace(QLatin1Char('&'), QStringLiteral("&&")); }
} // namespace

TfrmMain::TfrmMain(TDM& dm, const TLogInfoRec& logInfo, MainWindowHooks hooks, QWidget* parent)
    : QMainWindow(parent), m_dm(dm), m_logInfo(logInfo), m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Администратор "));
    pages = new QTabWidget(this);
    setCentralWidget(pages);

    auto* main = new QWidget;
    BuildMainPage(main);
    pages->addTab(main, QStringLiteral("Основни функции"));

    auto* settings = new QWidget;
    BuildPolicyPage(settings);
    pages->addTab(settings, QStringLiteral("Настройки"));
    pages->setCurrentIndex(0);
    resize(600, 300);
    m_storedPolicy = ShownPolicy();
}

void TfrmMain::BuildMainPage(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    auto* installed = new QGroupBox(QStringLiteral("Инсталирани приложения"), page);
    auto* installedLayout = new QGridLayout(installed);
    cbApplications = new QComboBox(installed);
    cbApplications->setObjectName(QStringLiteral("cbApplications"));
    cbApplications->setPlaceholderText(QStringLiteral("Изберете приложение"));
    installedLayout->addWidget(cbApplications, 0, 0, 1, 2);
    auto button = [this](QWidget* parent, const char* name, const QString& caption, const QString& hint = {}) {
        auto* b = new QPushButton(caption, parent);
        b->setObjectName(QLatin1String(name));
        b->setToolTip(hint);
        return b;
    };
    BitBtn2 = button(installed, "BitBtn2", QStringLiteral("Инсталиране"));
    BitBtn1 = button(installed, "BitBtn1", QStringLiteral("Изтриване"));
    installedLayout->addWidget(BitBtn2, 1, 0);
    installedLayout->addWidget(BitBtn1, 1, 1);
    layout->addWidget(installed);

    auto* functions = new QGridLayout;
    sbUserRights = button(page, "sbUserRights", QStringLiteral("Потребители"),
                          QStringLiteral("Управелнеие на достъпа до програмите (добавяне,изтриване на потребители,промяна на привилегии)"));
    Update_BB = button(page, "Update_BB", QStringLiteral("Обновяване"));
    BitBtn3 = button(page, "BitBtn3", QStringLiteral("Регенериране"));
    About_SB = button(page, "About_SB", QStringLiteral("За програмата"));
    SpeedButton1 = button(page, "SpeedButton1", QStringLiteral("Изход"));
    functions->addWidget(sbUserRights, 0, 0);
    functions->addWidget(Update_BB, 0, 1);
    functions->addWidget(BitBtn3, 0, 2);
    functions->addWidget(About_SB, 1, 0);
    functions->addWidget(SpeedButton1, 1, 2);
    layout->addLayout(functions);
    layout->addStretch();

    connect(BitBtn2, &QPushButton::clicked, this, &TfrmMain::InstallApplication);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmMain::DeleteApplicationPasswords);
    connect(sbUserRights, &QPushButton::clicked, this, [this] { OpenChild(m_hooks.openUsers, MainWindowText::ErrorPrefix); });
    connect(Update_BB, &QPushButton::clicked, this, [this] { OpenChild(m_hooks.openUpdate, MainWindowText::ErrorPrefix); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { OpenChild(m_hooks.openRefresh, QStringLiteral("Грешка: ")); });
    connect(About_SB, &QPushButton::clicked, this, &TfrmMain::ShowAbout);
    connect(SpeedButton1, &QPushButton::clicked, this, &QWidget::close);
    // A window this build does not have cannot be opened.
    sbUserRights->setEnabled(bool(m_hooks.openUsers));
    Update_BB->setEnabled(bool(m_hooks.openUpdate));
    BitBtn3->setEnabled(bool(m_hooks.openRefresh));
}

void TfrmMain::OpenChild(const std::function<void(QWidget*)>& open, const QString& errorPrefix)
{
    if (!open)
        return;
    try {
        open(this);
    } catch (const std::exception& e) {
        prompts().message(errorPrefix + db::errorMessage(e), Prompts::Icon::Error);
    }
}

int TfrmMain::SelectedApplicationId() const
{
    return cbApplications->currentIndex() < 0 ? -1 : cbApplications->currentData().toInt();
}

void TfrmMain::DeleteApplicationPasswords()
{
    const QString name = cbApplications->currentText();
    if (name.isEmpty())
        return;
    if (IsOwnApplication(name)) {
        prompts().message(MainWindowText::OwnPasswordsStay.arg(name), Prompts::Icon::Warning);
        return;
    }
    if (!prompts().confirm(MainWindowText::DeleteQuestion + name, Prompts::Icon::Warning, Prompts::Answer::No))
        return;
    m_dm.SQL_DELAPPL.clearParams();
    try {
        m_dm.SQL_DELAPPL.setParam(QStringLiteral("AIDX"), SelectedApplicationId());
    } catch (const std::exception&) {
        return;
    }
    m_dm.ExecSysProc(m_dm.SQL_DELAPPL);
    OpenApplications();
}

void TfrmMain::InstallApplication()
{
    FileDialogOptions o;
    o.filter = QStringLiteral("Inastall Files|*.icr");
    const QString path = prompts().openFile(o);
    if (!path.isEmpty())
        InstallApplicationFrom(path);
}

void TfrmMain::InstallApplicationFrom(const QString& path)
{
    try {
        const InstallDescription d = ReadInstallDescription(path);
        if (RegisterApplication(d))
            OpenApplications();
    } catch (const std::exception& e) {
        // Nothing was written: say why, or the administrator takes the silence for success.
        prompts().message(MainWindowText::ErrorPrefix + db::errorMessage(e), Prompts::Icon::Error);
    }
}

bool TfrmMain::RegisterApplication(const InstallDescription& d)
{
    // Every value is encoded before the first write: a refusal names its field, never a value.
    const QString name = EncodeStoredText(d.name, QStringLiteral("Name"));
    QString alias, password, user, procedure;
    if (!d.alias.isEmpty()) {
        alias = EncodeStoredText(d.alias, QStringLiteral("Alias"));
        password = EncodeStoredText(d.password, QStringLiteral("Password"));
        user = EncodeStoredText(d.user, QStringLiteral("User"));
        procedure = EncodeStoredText(d.procedure, QStringLiteral("Procedure"));
    }
    struct EncodedClass {
        QString upperName;
        QString name;
        QString password;
    };
    QList<EncodedClass> classes;
    for (qsizetype i = 0; i < d.classes.size(); ++i) {
        const auto& c = d.classes[i];
        classes.append({c.name.toUpper(), EncodeStoredText(c.name, QStringLiteral("Class%1").arg(i + 1)),
                        EncodeStoredText(c.password, QStringLiteral("ClassPassword%1").arg(i + 1))});
    }

    db::StoredProc& add = m_dm.SQLAdd_apl;
    const auto addApplication = [&] {
        add.clearParams();
        add.setParam(QStringLiteral("ANM"), name);
        if (!alias.isEmpty()) {
            add.setParam(QStringLiteral("G_alias"), alias);
            add.setParam(QStringLiteral("G_Pasw"), password);
            add.setParam(QStringLiteral("G_UName"), user);
            add.setParam(QStringLiteral("G_proc"), procedure);
        }
        add.execProc();
        return add.param(QStringLiteral("RES")).toInt();
    };

    bool updateAgreed = false;
    for (;;) {
        db::Transaction t(m_dm.db_Sys);
        const int res = addApplication();
        if (res >= 1001 && !updateAgreed) {
            // An existing application was left as it is: no transaction stays open while the
            // administrator decides.
            t.rollback();
            if (!prompts().confirm(MainWindowText::UpdateQuestion, Prompts::Icon::Error, Prompts::Answer::No))
                return false;
            updateAgreed = true;
            continue;
        }
        const int key = res >= 1001 ? res - 1000 : res;

        db::Query q(&m_dm.db_Sys);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("update APPLICATIONS set GDB_alias=\"%1\" where Apl_name = \"%2\"")
                     .arg(EscapeDoubleQuotes(alias), EscapeDoubleQuotes(name)));
        q.execSql();

        QStringList existing;
        q.setSql(QStringLiteral("select Class_NM from Class where CLASS_APLIDX=") + QString::number(key));
        for (q.open(); !q.eof(); q.next())
            existing << DecodeStoredText(q.field(0).asString()).toUpper();
        q.close();

        db::StoredProc& cls = m_dm.SQLAdd_class;
        for (const EncodedClass& c : classes) {
            if (existing.contains(c.upperName))
                continue;
            cls.clearParams();
            cls.setParam(QStringLiteral("ANM"), name);
            cls.setParam(QStringLiteral("CLNM"), c.name);
            cls.setParam(QStringLiteral("CLPW"), c.password);
            cls.execProc();
            existing << c.upperName;
        }
        t.commit();
        return true;
    }
}

QString TfrmMain::AboutText()
{
    QStringList parts = QCoreApplication::applicationVersion().split(QLatin1Char('.'));
    while (parts.size() < 4)
        parts << QStringLiteral("0");
    return QStringLiteral("Gatekeep - администриране на потребителите на приложенията\rВерсия ") + parts.mid(0, 4).join(QLatin1Char('.'));
}

void TfrmMain::ShowAbout() { prompts().message(AboutText()); }

QCheckBox* TfrmMain::PolicyBox(QWidget* parent, int tag, const QString& name, const QString& caption)
{
    auto* box = new QCheckBox(literalCaption(caption), parent);
    box->setObjectName(name);
    box->setProperty(kTag, tag);
    return box;
}

void TfrmMain::BuildPolicyPage(QWidget* page)
{
    auto* layout = new QGridLayout(page);
    int row = 0;
    layout->addWidget(PolicyBox(page, 101, QStringLiteral("cbUseSmartCards"), QStringLiteral("Позволява използване на смарт-карти за логване")), row++, 0, 1, 3);
    layout->addWidget(PolicyBox(page, 102, QStringLiteral("cbUseWindowsLogon"), QStringLiteral("Позволява логване чрез Активна директория")), row++, 0, 1, 3);
    layout->addWidget(PolicyBox(page, 103, QStringLiteral("CheckBox1"), QStringLiteral("Трябва да съдържат цифри")), row++, 0, 1, 3);
    layout->addWidget(PolicyBox(page, 104, QStringLiteral("CheckBox2"), QStringLiteral("Трябва да съдържат ГЛАВНИ  Букви")), row++, 0, 1, 3);
    layout->addWidget(PolicyBox(page, 110, QStringLiteral("CheckBox3"), QStringLiteral("Трябва да съдържат малки  Букви")), row++, 0, 1, 3);
    layout->addWidget(PolicyBox(page, 105, QStringLiteral("cbSpecSymbols"), MainWindowText::SpecSymbolsCaption), row++, 0, 1, 3);

    cbPassLen = PolicyBox(page, 106, QStringLiteral("cbPassLen"), QStringLiteral("Минимална дължина от "));
    sepasslen = new QSpinBox(page);
    sepasslen->setObjectName(QStringLiteral("sepasslen"));
    sepasslen->setRange(3, 20);
    sepasslen->setValue(6);
    sepasslen->setEnabled(false);
    layout->addWidget(cbPassLen, row, 0);
    layout->addWidget(sepasslen, row, 1);
    layout->addWidget(new QLabel(QStringLiteral("символа"), page), row++, 2);

    cbPassAge = PolicyBox(page, 108, QStringLiteral("cbPassAge"), QStringLiteral("Трябва да се променя поне веднъж на всеки"));
    sepassage = new QSpinBox(page);
    sepassage->setObjectName(QStringLiteral("sepassage"));
    sepassage->setRange(10, 5000);
    sepassage->setValue(60);
    sepassage->setEnabled(false);
    layout->addWidget(cbPassAge, row, 0);
    layout->addWidget(sepassage, row, 1);
    layout->addWidget(new QLabel(QStringLiteral("дни"), page), row++, 2);

    connect(cbPassLen, &QCheckBox::toggled, sepasslen, &QSpinBox::setEnabled);
    connect(cbPassAge, &QCheckBox::toggled, sepassage, &QSpinBox::setEnabled);

    auto* save = new QPushButton(QStringLiteral("Запис"), page);
    save->setObjectName(QStringLiteral("sbSavePolicy"));
    save->setToolTip(QStringLiteral("Записва направените настройки "));
    connect(save, &QPushButton::clicked, this, &TfrmMain::SavePolicy);
    layout->addWidget(save, row++, 0);
    layout->setRowStretch(row, 1);
    layout->setColumnStretch(3, 1);
}

QList<QCheckBox*> TfrmMain::policyBoxes() const
{
    QList<QCheckBox*> out;
    for (QCheckBox* box : findChildren<QCheckBox*>())
        if (box->property(kTag).toInt() > 100)
            out << box;
    return out;
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // The administrator starts by choosing an application.
    pages->setCurrentIndex(0);
    cbApplications->setFocus(Qt::OtherFocusReason);
    // Let the window paint first; the database work follows from the event loop.
    QTimer::singleShot(0, this, [this] { ShowStep(); });
}

bool TfrmMain::ShowStep()
{
    SetStartupConnection(m_dm.db_Sys, ShortString(m_logInfo.LoginName), ShortString(m_logInfo.Password),
                         ShortString(m_logInfo.ServerName));
    try {
        m_dm.db_Sys.connect();
    } catch (const std::exception& e) {
        prompts().message(QStringLiteral("Грешка при отваряне на sys_db : ") + db::errorMessage(e), Prompts::Icon::Error);
        m_terminate = true;
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(1); });
        emit showStepDone();
        return false;
    }
    if (m_hooks.selfUpdateCheck && m_hooks.selfUpdateCheck(m_dm, ShortString(m_logInfo.Location))) {
        OpenApplications();
        LoadPolicy();
    }
    emit showStepDone();
    return true;
}

void TfrmMain::OpenApplications()
{
    m_apps.clear();
    cbApplications->clear();
    if (!ExecSqlText(m_dm.WQ, QStringLiteral("select APL_ID, APL_NAME from APPLICATIONS order by APL_ID"), false))
        return;
    for (; !m_dm.WQ.eof(); m_dm.WQ.next())
        m_apps.append({m_dm.WQ.field(0).asInteger(), DecodeStoredText(m_dm.WQ.field(1).asString())});
    m_dm.WQ.close();
    for (const Application& a : m_apps)
        cbApplications->addItem(a.name, a.id);
    // Nothing is selected until the administrator chooses: "Изтриване" acts on the choice.
    cbApplications->setCurrentIndex(-1);
}

void TfrmMain::LoadPolicy()
{
    if (!ExecSqlText(m_dm.WQ, QStringLiteral("select als_txt,als_minpasslen,als_passage from alises where als_aplid =0"), false))
        return;
    const bool hasRow = !m_dm.WQ.eof();
    QString flags = hasRow ? m_dm.WQ.field(0).asString() : QString();
    const QVariant minLen = hasRow ? m_dm.WQ.field(1).value() : QVariant();
    const QVariant passAge = hasRow ? m_dm.WQ.field(2).value() : QVariant();
    m_dm.WQ.close();
    flags = flags.leftJustified(kPolicyLength, QLatin1Char('0'));
    PasswordPolicyFlags() = flags;
    for (QCheckBox* box : policyBoxes()) {
        const int position = box->property(kTag).toInt() - 100;
        box->setChecked(position <= flags.size() && flags[position - 1] == QLatin1Char('1'));
    }
    if (cbPassLen->isChecked())
        sepasslen->setValue(minLen.isNull() ? 6 : minLen.toInt());
    if (cbPassAge->isChecked())
        sepassage->setValue(passAge.isNull() ? 60 : passAge.toInt());
    m_storedPolicy = ShownPolicy();
}

TfrmMain::PolicyState TfrmMain::ShownPolicy() const
{
    QString flags(kPolicyLength, QLatin1Char('0'));
    for (QCheckBox* box : policyBoxes())
        if (box->isChecked())
            flags[box->property(kTag).toInt() - 101] = QLatin1Char('1');
    return {flags, sepasslen->value(), sepassage->value()};
}

bool TfrmMain::PolicyEdited() const { return !(ShownPolicy() == m_storedPolicy); }

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (PolicyEdited() && !m_terminate) {
        switch (prompts().askYesNoCancel(MainWindowText::PolicyNotSaved, Prompts::Icon::Warning)) {
        case Prompts::Answer::Yes:
            if (SavePolicy())
                break;
            [[fallthrough]]; // not written: the edits stay on the page
        case Prompts::Answer::Cancel:
            pages->setCurrentIndex(1);
            event->ignore();
            return;
        case Prompts::Answer::No:
            break;
        }
    }
    QMainWindow::closeEvent(event);
}

bool TfrmMain::SavePolicy()
{
    const PolicyState shown = ShownPolicy();
    const QString& flags = shown.flags;
    try {
        // Delete and insert stand or fall together: a failure between them would leave no policy.
        db::Transaction t(m_dm.db_Sys);
        db::Query q(&m_dm.db_Sys);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("delete  from alises where als_aplid =0"));
        q.execSql();
        q.setSql(QStringLiteral("insert into  alises (als_aplid,als_txt,als_aplnum,als_minpasslen,als_passage)") +
                 QStringLiteral(" values(0,\"%1\",0,%2,%3)").arg(flags).arg(shown.minLength).arg(shown.maxAge));
        q.execSql();
        t.commit();
    } catch (const std::exception& e) {
        // The stored policy is as it was; the other windows keep following it.
        prompts().message(MainWindowText::ErrorPrefix + db::errorMessage(e), Prompts::Icon::Error);
        return false;
    }
    PasswordPolicyFlags() = flags;
    m_storedPolicy = shown;
    return true;
}
