#include "support/TestEnv.h"

#include "core/LogInfo.h"
#include "core/Login.h"

#include "db/Error.h"

#include <QFile>

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace {
QString plugin(const char* name) { return QStringLiteral(GK_PLUGIN_DIR "/lib%1.so").arg(QLatin1String(name)); }
} // namespace

class LoginTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_log = m_tmp.path(QStringLiteral("calls.log"));
        qputenv("GK_TEST_LOGIN_LOG", m_log.toUtf8());
        qputenv("GK_TEST_LOGIN_RESULT", "1");
        qputenv("GK_TEST_LOGIN_USERS", "0");
        qputenv("GK_TEST_LOGIN_RIGHTS", "0");
    }
    void TearDown() override
    {
        for (const char* v : {"GK_TEST_LOGIN_LOG", "GK_TEST_LOGIN_RESULT", "GK_TEST_LOGIN_USERS", "GK_TEST_LOGIN_RIGHTS"})
            qunsetenv(v);
        ReleaseLibraryArrays();
    }
    QStringList calls()
    {
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        QFile::remove(m_log);
        return lines;
    }

    TempDir m_tmp;
    QString m_log;
    TLogInfoRec m_rec{};
};

TEST_F(LoginTest, ArgumentsChooseTheLoginMode)
{
    const QString sixty = QString(60, QChar(u'ж'));
    struct Case {
        QStringList args;
        QString flags, presets;
    };
    // Each case follows one that left presets behind: the record starts zero-filled every time.
    const Case cases[] = {
        {{QStringLiteral("ivan"), QStringLiteral("secret")}, QStringLiteral("0 0"), QStringLiteral("ivan|secret")},
        {{}, QStringLiteral("1 1"), QStringLiteral("|")},
        {{QStringLiteral("ivan"), QStringLiteral("secret"), QStringLiteral("extra")}, QStringLiteral("0 0"), QStringLiteral("ivan|secret")},
        {{QStringLiteral("ivan")}, QStringLiteral("1 1"), QStringLiteral("|")},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(StartupLogin(c.args, m_rec, plugin("TestLoginFull"))) << c.args.join(' ').toStdString();
        const QStringList log = calls();
        ASSERT_EQ(log.size(), 3) << log.join('\n').toStdString();
        EXPECT_EQ(log[0], QStringLiteral("SetClientNames null null"));
        EXPECT_EQ(log[1], QStringLiteral("ExternalLogin Gatekeep sys_db ") + c.flags);
        EXPECT_EQ(log[2], QStringLiteral("presets ") + c.presets);
    }

    EXPECT_TRUE(StartupLogin({sixty, sixty + QStringLiteral("x")}, m_rec, plugin("TestLoginFull")));
    EXPECT_EQ(ShortString(m_rec.LoginName), sixty.left(50));
    EXPECT_EQ(ShortString(m_rec.Password), sixty.left(50));
}

TEST_F(LoginTest, RecordHoldsWhatTheLibraryFilled)
{
    ASSERT_TRUE(StartupLogin({QStringLiteral("ivan"), QStringLiteral("pw")}, m_rec, plugin("TestLoginFull")));
    EXPECT_EQ(ShortString(m_rec.ServerName), QStringLiteral("srv:/db/sys.fdb"));
    EXPECT_EQ(ShortString(m_rec.Location), QStringLiteral("/db/sys.fdb"));
    EXPECT_EQ(ShortString(m_rec.Credential1), QStringLiteral("cred1"));
    EXPECT_EQ(ShortString(m_rec.Credential2), QStringLiteral("cred2"));
    // Loaded for the call only.
    EXPECT_EQ(dlopen(QFile::encodeName(plugin("TestLoginFull")).constData(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}

TEST_F(LoginTest, FailuresEndTheLogin)
{
    qputenv("GK_TEST_LOGIN_RESULT", "0");
    EXPECT_FALSE(StartupLogin({}, m_rec, plugin("TestLoginFull")));
    EXPECT_EQ(calls().size(), 3);

    // Without ExternalLogin nothing else of the library is called.
    EXPECT_FALSE(StartupLogin({}, m_rec, plugin("TestLoginNoExternal")));
    EXPECT_TRUE(calls().isEmpty());

    try {
        StartupLogin({}, m_rec, QStringLiteral("libNoSuchLogin.so"));
        FAIL() << "no error";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Missing libNoSuchLogin.so."));
    }
    EXPECT_STREQ(kLoginLibraryFile, "libZorLogin.so");
}

TEST_F(LoginTest, ArraysOnlyWhenTheLibraryAsksForThem)
{
    EXPECT_TRUE(StartupLogin({}, m_rec, plugin("TestLoginFull")));
    EXPECT_EQ(m_rec.RightsList, 0u);
    EXPECT_EQ(m_rec.UsersList, 0u);
    EXPECT_EQ(calls().size(), 3); // neither GetUserRights nor GetAppUsersList

    qputenv("GK_TEST_LOGIN_RIGHTS", "3");
    qputenv("GK_TEST_LOGIN_USERS", "2");
    EXPECT_TRUE(StartupLogin({}, m_rec, plugin("TestLoginFull")));
    ASSERT_NE(m_rec.RightsList, 0u);
    ASSERT_NE(m_rec.UsersList, 0u);
    EXPECT_EQ(calls().mid(3), (QStringList{QStringLiteral("GetUserRights"), QStringLiteral("rights refcount=1 count=3 nonzero=0"),
                                           QStringLiteral("GetAppUsersList"), QStringLiteral("users refcount=1 count=2 nonzero=0")}));
    // The library filled the entries through the 32-bit references.
    const auto* rights = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(m_rec.RightsList));
    EXPECT_EQ(ShortStringAt(rights + 2 * kRightsEntrySize, kRightsEntrySize - 1), QStringLiteral("entry"));
    const auto* users = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(m_rec.UsersList));
    EXPECT_EQ(ShortStringAt(users + kUsersEntrySize, kUsersEntrySize - 1), QStringLiteral("entry"));
}
