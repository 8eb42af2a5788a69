#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/Config.h"
#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/Login.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SystemSchema.h"
#include "maint/Demo.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

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

// The default login library against real system databases: what it puts in the login record
// is what opens the system database.
class LibraryLoginTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        m_user = qgetenv("USER");
    }
    void TearDown() override
    {
        qunsetenv("GATEKEEP_CONFIG_DIR");
        qputenv("USER", m_user);
        ReleaseLibraryArrays();
    }

    // The library finds the system database through the alias sys_db and looks users up with
    // the alias's own account.
    static void useSystemDatabase(const QString& serverName, const QString& user = QStringLiteral("SYSDBA"),
                                  const QString& password = {})
    {
        WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"),
                   {{QStringLiteral("SERVER NAME"), serverName}, {QStringLiteral("USER NAME"), user}, {QStringLiteral("PASSWORD"), password}});
    }
    static void connectOwner(TDM& dm, const QString& serverName, const SystemAdministrator& admin)
    {
        SetStartupConnection(dm.db_Sys, admin.owner, admin.ownerPassword, serverName);
        dm.db_Sys.connect();
    }
    // A class of Gatekeep and one user who has it.
    static void addClassWithUser(TDM& dm, const QString& cls, const QString& classPassword, const QString& login, const QString& password)
    {
        dm.SQLAdd_class.clearParams();
        dm.SQLAdd_class.setParam(QStringLiteral("ANM"), EncodeStoredText(QStringLiteral("Gatekeep")));
        dm.SQLAdd_class.setParam(QStringLiteral("CLNM"), EncodeStoredText(cls));
        dm.SQLAdd_class.setParam(QStringLiteral("CLPW"), EncodeStoredText(classPassword));
        ASSERT_TRUE(dm.ExecSysProc(dm.SQLAdd_class));
        ASSERT_EQ(dm.SQLAdd_class.param(QStringLiteral("RES")).toInt(), 0) << cls.toStdString();
        dm.SQLADD_usr.clearParams();
        dm.SQLADD_usr.setParam(QStringLiteral("ANM"), EncodeStoredText(QStringLiteral("Gatekeep")));
        dm.SQLADD_usr.setParam(QStringLiteral("CLNM"), EncodeStoredText(cls));
        dm.SQLADD_usr.setParam(QStringLiteral("UNM"), EncodeStoredText(login));
        dm.SQLADD_usr.setParam(QStringLiteral("UPW"), EncodeStoredText(password));
        dm.SQLADD_usr.setParam(QStringLiteral("URNM"), EncodeStoredText(QStringLiteral("Тест ") + login));
        ASSERT_TRUE(dm.ExecSysProc(dm.SQLADD_usr));
        ASSERT_EQ(dm.SQLADD_usr.param(QStringLiteral("RES")).toInt(), 0) << login.toStdString();
    }
    bool login(const QString& name, const QString& password)
    {
        m_rec = {};
        SetShortString(m_rec.LoginName, name);
        SetShortString(m_rec.Password, password);
        return LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), false, false, m_rec, plugin("ZorLogin"));
    }
    static void expectConnects(const QString& serverName, const QString& user, const QString& password, bool connects)
    {
        db::Database d;
        SetStartupConnection(d, user, password, serverName);
        if (connects)
            EXPECT_NO_THROW(d.connect()) << user.toStdString();
        else
            EXPECT_THROW(d.connect(), db::Error) << user.toStdString();
    }

    TempDir m_tmp;
    QByteArray m_user;
    TLogInfoRec m_rec{};
};

// A stored form begins with a space for many first letters (most Cyrillic capitals among
// them); the database account in the record must still be the class's, letter for letter.
TEST_F(LibraryLoginTest, RecordHoldsTheClassAccountWhateverItsFirstLetter)
{
    const QString sys = m_tmp.path(QStringLiteral("sys.fdb"));
    const SystemAdministrator admin{QStringLiteral("SYSCREAT"), QString(), QStringLiteral("boss"), QStringLiteral("boss-pw"),
                                    QStringLiteral("Шеф")};
    CreateAdministeredSystemDatabase(sys, admin);
    useSystemDatabase(sys);

    struct Case {
        QString name, cls, classPassword;
    };
    QList<Case> cases{{QStringLiteral("cashier"), QStringLiteral("Касиер"), QStringLiteral("Парола1")},
                      {QStringLiteral("leading space"), QStringLiteral(" клас"), QStringLiteral(" парола")}};
    const QString letters = QStringLiteral("АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЬЮЯабвгяAMZamz09!-_~\"'");
    for (const QChar c : letters)
        cases.append({QStringLiteral("letter ") + c, c + QStringLiteral("клас"), c + QStringLiteral("парола")});

    TDM dm;
    connectOwner(dm, sys, admin);
    int spaced = 0;
    for (int i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        addClassWithUser(dm, c.cls, c.classPassword, QStringLiteral("u%1").arg(i), QStringLiteral("p%1").arg(i));
        spaced += EncodeStoredText(c.cls).startsWith(QLatin1Char(' ')) + EncodeStoredText(c.classPassword).startsWith(QLatin1Char(' '));
    }
    // The table is only worth its rows if many stored forms begin with a space.
    EXPECT_GE(spaced, 20);

    for (int i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name.toStdString());
        ASSERT_TRUE(login(QStringLiteral("u%1").arg(i), QStringLiteral("p%1").arg(i)));
        EXPECT_EQ(ShortString(m_rec.LoginName), c.cls);
        EXPECT_EQ(ShortString(m_rec.Password), c.classPassword);
        EXPECT_EQ(ShortString(m_rec.Credential1), QStringLiteral("u%1").arg(i));
        EXPECT_EQ(ShortString(m_rec.Credential2), QStringLiteral("p%1").arg(i));
        ASSERT_EQ(m_rec.RightsCount, 1);
        const auto* rights = reinterpret_cast<const unsigned char*>(static_cast<std::uintptr_t>(m_rec.RightsList));
        EXPECT_EQ(ShortStringAt(rights, kRightsEntrySize - 1), QStringLiteral("Gatekeep: ") + c.cls);
        ReleaseLibraryArrays();
    }
}

TEST_F(LibraryLoginTest, LogCommentKeepsWhatCp1251Holds)
{
    const struct {
        const char* name;
        QString user, host, comment;
    } cases[] = {
        {"plain", QStringLiteral("ivan"), QStringLiteral("pc-1"), QStringLiteral("Gatekeep: ivan@pc-1")},
        {"cyrillic", QStringLiteral("иван"), QStringLiteral("сървър"), QStringLiteral("Gatekeep: иван@сървър")},
        {"chinese user", QStringLiteral("用户"), QStringLiteral("pc"), QStringLiteral("Gatekeep: ??@pc")},
        {"emoji host", QStringLiteral("ivan"), QStringLiteral("pc😀x"), QStringLiteral("Gatekeep: ivan@pc?x")},
        {"mixed", QStringLiteral("jürgen€"), QStringLiteral("hôte"), QStringLiteral("Gatekeep: j?rgen€@h?te")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoginLogComment(QStringLiteral("Gatekeep"), c.user, c.host), c.comment) << c.name;
    // The column holds 240 characters; a long host name is cut, not refused.
    EXPECT_EQ(LoginLogComment(QStringLiteral("Gatekeep"), QStringLiteral("u"), QString(400, QChar(u'ж'))).size(), 240);
}

TEST_F(LibraryLoginTest, OsUserOutsideCp1251StillLogsIn)
{
    const QString sys = m_tmp.path(QStringLiteral("sys.fdb"));
    CreateAdministeredSystemDatabase(sys, {QStringLiteral("SYSCREAT"), QString(), QStringLiteral("boss"), QStringLiteral("boss-pw"),
                                           QStringLiteral("Шеф")});
    useSystemDatabase(sys);
    qputenv("USER", QStringLiteral("用户😀").toUtf8());
    ASSERT_TRUE(login(QStringLiteral("boss"), QStringLiteral("boss-pw")));
    EXPECT_EQ(ShortString(m_rec.LoginName), QStringLiteral("SYSCREAT"));

    db::Database d;
    SetStartupConnection(d, QStringLiteral("SYSCREAT"), QString(), sys);
    d.connect();
    db::Query q(&d);
    q.setSql(QStringLiteral("select LOGS_COMMENT from LOGS"));
    q.open();
    ASSERT_FALSE(q.eof());
    EXPECT_TRUE(q.field(0).asString().startsWith(QStringLiteral("Gatekeep: ???@"))) << q.field(0).asString().toStdString();
}

namespace {
// A server account for one test, dropped with it.
class ServerUser {
public:
    ServerUser(const QString& serverName, const QString& password)
        : m_name(QStringLiteral("GKT_") + QUuid::createUuid().toString(QUuid::Id128).left(12).toUpper()), m_server(serverName)
    {
        run(QStringLiteral("create user %1 password '%2'").arg(m_name, password));
    }
    ~ServerUser()
    {
        try {
            run(QStringLiteral("drop user %1").arg(m_name));
        } catch (const std::exception&) {
        }
    }
    const QString& name() const { return m_name; }

private:
    void run(const QString& sql)
    {
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = firebirdParams(m_server);
        d.connect();
        d.connection().execute(sql, {});
    }
    QString m_name;
    QString m_server;
};

// The local file behind host/port:path on the test server.
QString serverFile(const QString& serverName) { return serverName.mid(serverName.indexOf(QLatin1Char(':')) + 1); }
} // namespace

// On a server the record's account is checked: the class's account with its password opens
// the system database, a wrong password does not.
TEST_F(LibraryLoginTest, ServerOpensTheSystemDatabaseWithTheRecordsAccount)
{
    const QString sys = serverDatabasePath(QStringLiteral("login"));
    const db::ParamList sysdba = firebirdParams(sys);
    const SystemAdministrator admin{sysdba.value(QStringLiteral("USER NAME")), sysdba.value(QStringLiteral("PASSWORD")),
                                    QStringLiteral("boss"), QStringLiteral("Шеф-парола"), QStringLiteral("Шеф")};
    CreateAdministeredSystemDatabase(sys, admin);
    struct Drop {
        const QString& sys;
        const SystemAdministrator& admin;
        ~Drop() { DiscardSystemDatabase(sys, admin.owner, admin.ownerPassword); }
    } drop{sys, admin};
    useSystemDatabase(sys, admin.owner, admin.ownerPassword);

    // The first administrator logs in as the owner's class.
    ASSERT_TRUE(login(admin.login, admin.password));
    EXPECT_EQ(ShortString(m_rec.ServerName), sys);
    EXPECT_EQ(ShortString(m_rec.LoginName), admin.owner);
    expectConnects(sys, ShortString(m_rec.LoginName), ShortString(m_rec.Password), true);
    EXPECT_FALSE(login(admin.login, QStringLiteral("wrong")));

    // A class whose account is a server user with a Cyrillic password (its stored form begins
    // with a space).
    const QString classPassword = QStringLiteral("Парола1");
    ASSERT_TRUE(EncodeStoredText(classPassword).startsWith(QLatin1Char(' ')));
    ServerUser account(sys, classPassword);
    {
        TDM dm;
        SetStartupConnection(dm.db_Sys, admin.owner, admin.ownerPassword, sys);
        dm.db_Sys.connect();
        addClassWithUser(dm, account.name(), classPassword, QStringLiteral("kasier"), QStringLiteral("k-pw"));
    }
    ASSERT_TRUE(login(QStringLiteral("kasier"), QStringLiteral("k-pw")));
    EXPECT_EQ(ShortString(m_rec.LoginName), account.name());
    EXPECT_EQ(ShortString(m_rec.Password), classPassword);
    expectConnects(sys, ShortString(m_rec.LoginName), ShortString(m_rec.Password), true);
    expectConnects(sys, ShortString(m_rec.LoginName), QStringLiteral("Парола2"), false);
    expectConnects(sys, ShortString(m_rec.LoginName), classPassword.mid(1), false);
}

// --create-system-db: what it makes can be logged into; what fails leaves nothing behind.
TEST_F(LibraryLoginTest, NewSystemDatabaseTakesItsAdministrator)
{
    const QString sys = m_tmp.path(QStringLiteral("new.fdb"));
    const SystemAdministrator admin{QStringLiteral("SYSCREAT"), QString(), QStringLiteral("админ"), QStringLiteral("Тайна-1"),
                                    QStringLiteral("Администратор")};
    CreateAdministeredSystemDatabase(sys, admin);
    useSystemDatabase(sys);
    ASSERT_TRUE(login(admin.login, admin.password));
    EXPECT_EQ(ShortString(m_rec.LoginName), QStringLiteral("SYSCREAT"));
    expectConnects(sys, ShortString(m_rec.LoginName), ShortString(m_rec.Password), true);

    // An existing file is never touched.
    EXPECT_THROW(CreateAdministeredSystemDatabase(sys, admin), db::Error);
    EXPECT_TRUE(QFileInfo::exists(sys));
    ASSERT_TRUE(login(admin.login, admin.password));
}

TEST_F(LibraryLoginTest, RefusedAdministratorLeavesNoFileAndNoPassword)
{
    const QString secret = QStringLiteral("Тайна😀");
    const struct {
        const char* name;
        SystemAdministrator admin;
    } cases[] = {
        {"password outside cp1251", {QStringLiteral("SYSCREAT"), QString(), QStringLiteral("boss"), secret, QStringLiteral("Шеф")}},
        {"password too long", {QStringLiteral("SYSCREAT"), QString(), QStringLiteral("boss"), QString(35, QChar(u'т')), QStringLiteral("Шеф")}},
        {"empty login", {QStringLiteral("SYSCREAT"), QString(), QString(), QStringLiteral("pw"), QStringLiteral("Шеф")}},
        {"owner password outside cp1251", {QStringLiteral("SYSCREAT"), secret, QStringLiteral("boss"), QStringLiteral("pw"), QStringLiteral("Шеф")}},
    };
    for (const auto& c : cases) {
        const QString sys = m_tmp.path(QStringLiteral("refused.fdb"));
        try {
            CreateAdministeredSystemDatabase(sys, c.admin);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const db::Error& e) {
            EXPECT_FALSE(e.message().contains(secret)) << c.name;
            EXPECT_FALSE(e.message().contains(c.admin.password)) << c.name;
        }
        EXPECT_FALSE(QFileInfo::exists(sys)) << c.name;
    }
}

// The self-update runs with the maintenance account; when a site's account cannot do the
// work (here one without rights, or a server refusing its password), the half-built database
// goes: a local file and a database on the server alike.
TEST_F(LibraryLoginTest, CreationFailingPartWayLeavesNothing)
{
    const struct {
        const char* name;
        QString user, password;
        bool onServer;
    } cases[] = {
        {"embedded, account without rights", QStringLiteral("NOBODY"), QStringLiteral("x"), false},
        {"server, password refused", QStringLiteral("SYSDBA"), QStringLiteral("not-the-password"), true},
    };
    ScriptedPrompts prompts;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString ini = m_tmp.path(QStringLiteral("Gatekeep.ini"));
        QFile::remove(ini);
        IniFile settings(ini);
        settings.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("User"), EncodeBuiltInText(BuiltInKey(), c.user));
        settings.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("Password"), EncodeBuiltInText(BuiltInKey(), c.password));
        settings.save();
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(BuiltInUser(), c.user);

        const QString sys = c.onServer ? serverDatabasePath(QStringLiteral("partway")) : m_tmp.path(QStringLiteral("partway.fdb"));
        const db::ParamList sysdba = firebirdParams(sys);
        const SystemAdministrator admin{c.onServer ? sysdba.value(QStringLiteral("USER NAME")) : QStringLiteral("SYSCREAT"),
                                        c.onServer ? sysdba.value(QStringLiteral("PASSWORD")) : QString(), QStringLiteral("boss"),
                                        QStringLiteral("boss-pw"), QStringLiteral("Шеф")};
        EXPECT_THROW(CreateAdministeredSystemDatabase(sys, admin), db::Error);
        EXPECT_FALSE(QFileInfo::exists(c.onServer ? serverFile(sys) : sys));
    }
}
