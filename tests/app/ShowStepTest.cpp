// From the login record to the main window: the show step against real embedded databases,
// and the default login library.
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/DataModule.h"
#include "core/Login.h"
#include "app/MainWindow.h"
#include "core/SystemSchema.h"
#include "maint/Demo.h"
#include "maint/SelfUpdate.h"

#include "db/Query.h"

#include <QComboBox>

#include <gtest/gtest.h>

class ShowStepTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        m_sys = m_tmp.path(QStringLiteral("sys.fdb"));
        PasswordPolicyFlags().clear();
    }
    void TearDown() override
    {
        qunsetenv("GATEKEEP_CONFIG_DIR");
        qunsetenv("GATEKEEP_ZORCFG");
        ReleaseLibraryArrays();
    }
    void setRecord(const QString& server, const QString& user, const QString& password)
    {
        SetShortString(m_rec.ServerName, server);
        SetShortString(m_rec.Location, server);
        SetShortString(m_rec.LoginName, user);
        SetShortString(m_rec.Password, password);
    }
    std::unique_ptr<TfrmMain> window()
    {
        MainWindowHooks hooks;
        hooks.selfUpdateCheck = SelfUpdateCheck;
        return std::make_unique<TfrmMain>(m_dm, m_rec, hooks);
    }
    QStringList appNames(const TfrmMain& w)
    {
        QStringList out;
        for (int i = 0; i < w.cbApplications->count(); ++i)
            out << w.cbApplications->itemText(i);
        return out;
    }

    TempDir m_tmp;
    QString m_sys;
    TLogInfoRec m_rec{};
    TDM m_dm;
    ScriptedPrompts m_prompts;
};

TEST_F(ShowStepTest, ListsTheApplicationsAndLoadsThePolicy)
{
    CreateDemo(m_tmp.path());
    setRecord(m_sys, QStringLiteral("admnaccount"), QStringLiteral("admn-demo"));
    auto w = window();
    EXPECT_TRUE(w->ShowStep());
    EXPECT_TRUE(m_prompts.shown.isEmpty());
    EXPECT_EQ(appNames(*w), (QStringList{"Gatekeep", "Mod02", "Mod05", "Mod07"}));
    EXPECT_EQ(PasswordPolicyFlags(), QString(70, QLatin1Char('0')));
    EXPECT_EQ(m_dm.db_Sys.params().value(QStringLiteral("User Name")), QStringLiteral("admnaccount"));
}

TEST_F(ShowStepTest, RefusedConnectionEndsTheProgram)
{
    setRecord(m_tmp.path(QStringLiteral("missing.fdb")), QStringLiteral("admnaccount"), QString());
    auto w = window();
    EXPECT_FALSE(w->ShowStep());
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages()[0].startsWith(QStringLiteral("Грешка при отваряне на sys_db : ")));
    EXPECT_GT(m_prompts.messages()[0].size(), 40);
    EXPECT_TRUE(w->terminateRequested());
    EXPECT_EQ(w->cbApplications->count(), 0);
}

TEST_F(ShowStepTest, DeclinedSelfUpdateLeavesTheListEmpty)
{
    CreateSystemDatabase(m_sys, QStringLiteral("SYSCREAT"), QString());
    setRecord(m_sys, QStringLiteral("SYSCREAT"), QString());
    m_prompts.answerConfirm(false);
    auto w = window();
    EXPECT_TRUE(w->ShowStep());
    EXPECT_FALSE(w->terminateRequested());
    EXPECT_EQ(w->cbApplications->count(), 0);
    EXPECT_TRUE(PasswordPolicyFlags().isEmpty());
    EXPECT_TRUE(m_prompts.allAnswered());
}

TEST_F(ShowStepTest, DefaultLoginLibraryFillsTheRecordFromTheSystemDatabase)
{
    const DemoLogin admin = CreateDemo(m_tmp.path());
    const QString library = QStringLiteral(GK_PLUGIN_DIR "/libZorLogin.so");

    SetShortString(m_rec.LoginName, admin.login);
    SetShortString(m_rec.Password, QStringLiteral("wrong"));
    EXPECT_FALSE(LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), false, false, m_rec, library));

    SetShortString(m_rec.Password, admin.password);
    ASSERT_TRUE(LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), false, false, m_rec, library));
    EXPECT_EQ(ShortString(m_rec.ServerName), m_sys);
    EXPECT_EQ(ShortString(m_rec.Location), m_sys);
    EXPECT_EQ(ShortString(m_rec.LoginName), QStringLiteral("admnaccount"));
    EXPECT_EQ(ShortString(m_rec.Password), QStringLiteral("admn-demo"));
    EXPECT_EQ(ShortString(m_rec.Credential1), admin.login);
    EXPECT_EQ(ShortString(m_rec.Credential2), admin.password);
    ASSERT_EQ(m_rec.RightsCount, 1);
    const auto* rights = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(m_rec.RightsList));
    EXPECT_EQ(ShortStringAt(rights, kRightsEntrySize - 1), QStringLiteral("Gatekeep: admnaccount"));

    // The record opens the system database, and the lookup was logged.
    auto w = window();
    EXPECT_TRUE(w->ShowStep());
    db::Query q(&m_dm.db_Sys);
    q.setSql(QStringLiteral("select count(*) from LOGS"));
    q.open();
    EXPECT_EQ(q.field(0).asInteger(), 1);
}

// A system database made by --create-system-db is logged into and opened without a question:
// it is at the current schema and lists its Gatekeep application.
TEST_F(ShowStepTest, NewSystemDatabaseOpensForItsFirstAdministrator)
{
    CreateAdministeredSystemDatabase(m_sys, {QStringLiteral("SYSCREAT"), QString(), QStringLiteral("boss"), QStringLiteral("boss-pw"),
                                             QStringLiteral("Шеф")});
    WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"),
               {{QStringLiteral("SERVER NAME"), m_sys}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}});
    SetShortString(m_rec.LoginName, QStringLiteral("boss"));
    SetShortString(m_rec.Password, QStringLiteral("boss-pw"));
    ASSERT_TRUE(LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), false, false, m_rec,
                                    QStringLiteral(GK_PLUGIN_DIR "/libZorLogin.so")));
    auto w = window();
    EXPECT_TRUE(w->ShowStep());
    EXPECT_TRUE(m_prompts.shown.isEmpty());
    EXPECT_EQ(appNames(*w), QStringList{QStringLiteral("Gatekeep")});
    EXPECT_EQ(PasswordPolicyFlags(), QString(70, QLatin1Char('0')));
}
