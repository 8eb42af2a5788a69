// The main window's applications and password policy, against a demo system database.
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/InstallDescription.h"
#include "app/MainWindow.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"

#include "db/Error.h"
#include "db/Query.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        CreateDemo(m_tmp.path());
        const QString sys = m_tmp.path(QStringLiteral("sys.fdb"));
        SetShortString(m_rec.ServerName, sys);
        SetShortString(m_rec.Location, sys);
        SetShortString(m_rec.LoginName, QStringLiteral("admnaccount"));
        SetShortString(m_rec.Password, QStringLiteral("admn-demo"));
        m_hooks.selfUpdateCheck = [](TDM&, const QString&) { return true; };
        m_window = std::make_unique<TfrmMain>(m_dm, m_rec, m_hooks);
        ASSERT_TRUE(m_window->ShowStep());
    }
    void TearDown() override
    {
        m_window.reset();
        qunsetenv("GATEKEEP_CONFIG_DIR");
        qunsetenv("GATEKEEP_ZORCFG");
    }

    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }
    QCheckBox* box(const char* name) { return m_window->findChild<QCheckBox*>(QLatin1String(name)); }
    QStringList apps()
    {
        QStringList out;
        for (const auto& a : m_window->applications())
            out << a.name;
        return out;
    }
    void select(const QString& app) { m_window->cbApplications->setCurrentIndex(m_window->cbApplications->findText(app)); }

    TempDir m_tmp;
    TLogInfoRec m_rec{};
    TDM m_dm;
    MainWindowHooks m_hooks;
    std::unique_ptr<TfrmMain> m_window;
    ScriptedPrompts m_prompts;
};

TEST_F(MainWindowTest, PolicyIsPaddedAndDefaultsFillNulls)
{
    exec(QStringLiteral("insert into alises (als_aplid, als_txt, als_aplnum) values (0, '0110010101', 0)"));
    m_window->LoadPolicy();
    EXPECT_EQ(PasswordPolicyFlags(), QStringLiteral("0110010101") + QString(60, QLatin1Char('0')));
    const std::pair<const char*, bool> expected[] = {
        {"cbUseSmartCards", false}, {"cbUseWindowsLogon", true}, {"CheckBox1", true}, {"CheckBox2", false},
        {"cbSpecSymbols", false},   {"cbPassLen", true},         {"cbPassAge", true}, {"CheckBox3", true},
    };
    for (const auto& [name, checked] : expected)
        EXPECT_EQ(box(name)->isChecked(), checked) << name;
    EXPECT_EQ(m_window->sepasslen->value(), 6);
    EXPECT_EQ(m_window->sepassage->value(), 60);
    EXPECT_TRUE(m_window->sepasslen->isEnabled());
    EXPECT_TRUE(box("cbSpecSymbols")->text().endsWith(QStringLiteral("' !@#$%^&*()|-_,.<>~")));

    // Saving with every box cleared stores 70 zeros and both numbers all the same.
    for (QCheckBox* b : m_window->policyBoxes())
        b->setChecked(false);
    EXPECT_FALSE(m_window->sepasslen->isEnabled());
    m_window->sepassage->setValue(90);
    m_window->findChild<QPushButton*>(QStringLiteral("sbSavePolicy"))->click();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from alises where als_aplid = 0")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select als_txt from alises where als_aplid = 0")).toString(), QString(70, QLatin1Char('0')));
    EXPECT_EQ(scalar(QStringLiteral("select als_minpasslen from alises where als_aplid = 0")).toInt(), 6);
    EXPECT_EQ(scalar(QStringLiteral("select als_passage from alises where als_aplid = 0")).toInt(), 90);
    EXPECT_EQ(PasswordPolicyFlags(), QString(70, QLatin1Char('0')));

    box("cbPassLen")->setChecked(true);
    m_window->sepasslen->setValue(12);
    m_window->SavePolicy();
    m_window->LoadPolicy();
    EXPECT_EQ(m_window->sepasslen->value(), 12);
    EXPECT_EQ(PasswordPolicyFlags()[5], QLatin1Char('1'));
}

TEST_F(MainWindowTest, DeletingAnApplicationsPasswords)
{
    EXPECT_EQ(m_window->cbApplications->currentIndex(), -1);
    m_window->BitBtn1->click(); // nothing selected: nothing asked
    EXPECT_TRUE(m_prompts.shown.isEmpty());

    select(QStringLiteral("Mod05"));
    m_prompts.answerConfirm(false);
    m_window->BitBtn1->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Наистина ли желаете да изтриете всички пароли за Mod05"));
    EXPECT_TRUE(apps().contains(QStringLiteral("Mod05")));

    select(QStringLiteral("Mod05"));
    m_prompts.answerConfirm(true);
    m_window->BitBtn1->click();
    EXPECT_EQ(apps(), (QStringList{"Gatekeep", "Mod02", "Mod05", "Mod07"})); // the application stays, without classes
    EXPECT_EQ(m_window->cbApplications->currentIndex(), -1);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links l join class c on c.class_idx = l.lnk_class "
                                    "where c.class_aplidx not in (select apl_id from applications)")).toInt(), 0);
}

TEST_F(MainWindowTest, InstallingFromADescription)
{
    const QString ini = m_tmp.path(QStringLiteral("mod09.ini"));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[Application]\nName=Mod09\nAlias=mod09_db\nUser=--\nPassword=secret\nProcedure=ADD_USER\n"
                           "[Classes]\nName1=user1\nPassword1=p1\nName2=Касиер\nPassword2=p2\n").toUtf8());
    f.close();
    const QString icr = m_tmp.path(QStringLiteral("mod09.icr"));
    WriteInstallDescription(ini, icr);
    const InstallDescription d = ReadInstallDescription(icr);
    EXPECT_EQ(d.user, QString());
    ASSERT_EQ(d.classes.size(), 2);
    EXPECT_EQ(d.classes[1].name, QStringLiteral("Касиер"));

    m_prompts.answerFile(icr);
    m_window->BitBtn2->click();
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();
    EXPECT_TRUE(apps().contains(QStringLiteral("Mod09")));
    const QString key = QStringLiteral("(select apl_id from applications where apl_name = '%1')").arg(EncodeStoredText(QStringLiteral("Mod09")).replace('\'', QStringLiteral("''")));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 2);
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select gdb_alias from applications where apl_id = ") + key).toString()), QStringLiteral("mod09_db"));

    // Again, answering No: nothing changes.
    exec(QStringLiteral("delete from class where class_aplidx = ") + key);
    m_prompts.answerFile(icr).answerConfirm(false);
    m_window->BitBtn2->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Програмата вече е инсталирана, да се направи ли Update ? "));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 0);

    // Yes: the missing classes come back.
    m_prompts.answerFile(icr).answerConfirm(true);
    m_window->BitBtn2->click();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 2);

    QFile bad(m_tmp.path(QStringLiteral("bad.icr")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a description");
    bad.close();
    m_window->InstallApplicationFrom(bad.fileName());
    EXPECT_TRUE(m_prompts.messages().last().startsWith(QStringLiteral("Грешка : ")));
}

TEST_F(MainWindowTest, ChildWindowsAndAbout)
{
    m_window->sbUserRights->click(); // no users window handed over: nothing happens
    EXPECT_TRUE(m_prompts.shown.isEmpty());

    MainWindowHooks hooks;
    hooks.openUsers = [](QWidget*) { throw db::Error(QStringLiteral("boom")); };
    hooks.openRefresh = [](QWidget*) { throw db::Error(QStringLiteral("bang")); };
    TfrmMain w(m_dm, m_rec, hooks);
    w.sbUserRights->click();
    w.BitBtn3->click();
    EXPECT_EQ(m_prompts.messages(), (QStringList{"Грешка : boom", "Грешка: bang"}));

    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    EXPECT_TRUE(TfrmMain::AboutText().endsWith(QStringLiteral("Версия 1.2.3.0")));
}
