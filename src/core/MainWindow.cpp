#include "MainWindow.h"

#include "DataModule.h"
#include "Prompts.h"
#include "SqlOps.h"
#include "StoredText.h"

#include "db/Error.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {
const char* const kTag = "tag";
const QString kSpecSymbols = QStringLiteral("!@#$%^&*()|-_,.<>~");
} // namespace

QString& PasswordPolicyFlags()
{
    static QString flags;
    return flags;
}

TfrmMain::TfrmMain(TDM& dm, const TLogInfoRec& logInfo, MainWindowHooks hooks, QWidget* parent)
    : QMainWindow(parent), m_dm(dm), m_logInfo(logInfo), m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Администратор "));
    pages = new QTabWidget(this);
    setCentralWidget(pages);

    auto* main = new QWidget;
    auto* mainLayout = new QVBoxLayout(main);
    auto* installed = new QGroupBox(QStringLiteral("Инсталирани приложения"), main);
    auto* installedLayout = new QVBoxLayout(installed);
    cbApplications = new QComboBox(installed);
    cbApplications->setObjectName(QStringLiteral("cbApplications"));
    installedLayout->addWidget(cbApplications);
    mainLayout->addWidget(installed);
    mainLayout->addStretch();
    pages->addTab(main, QStringLiteral("Основни функции"));

    auto* settings = new QWidget;
    BuildPolicyPage(settings);
    pages->addTab(settings, QStringLiteral("Настройки"));
    pages->setCurrentIndex(0);
    resize(640, 480);
}

QCheckBox* TfrmMain::PolicyBox(QWidget* parent, int tag, const QString& name, const QString& caption)
{
    auto* box = new QCheckBox(caption, parent);
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
    layout->addWidget(PolicyBox(page, 105, QStringLiteral("cbSpecSymbols"),
                                QStringLiteral("Трябва да съдържат поне един от символи : '") + QLatin1Char(' ') + kSpecSymbols),
                      row++, 0, 1, 3);

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
}

void TfrmMain::SavePolicy()
{
    QString flags(kPolicyLength, QLatin1Char('0'));
    for (QCheckBox* box : policyBoxes())
        if (box->isChecked())
            flags[box->property(kTag).toInt() - 101] = QLatin1Char('1');
    PasswordPolicyFlags() = flags;
    ExecSqlText(m_dm.WQ, QStringLiteral("delete  from alises where als_aplid =0"), true);
    ExecSqlText(m_dm.WQ,
                QStringLiteral("insert into  alises (als_aplid,als_txt,als_aplnum,als_minpasslen,als_passage)") +
                    QStringLiteral(" values(0,\"%1\",0,%2,%3)").arg(flags).arg(sepasslen->value()).arg(sepassage->value()),
                true);
}
