#include "support/AppDatabases.h"
#include "support/TestEnv.h"

#include "dbman/DBBaseMan.h"
#include "dbman/Provision.h"

#include "support/Sql.h"

#include "core/BuiltIn.h"
#include "db/Error.h"
#include "maint/Demo.h"

#include <QDir>

#include <gtest/gtest.h>

namespace {

const QString kName = QStringLiteral("Иван Петров-Стоянов");

// The message of what ProvisionUser raised, or an empty text when it returned.
QString provisionError(const QString& connText, int userId, const QString& name)
{
    try {
        ProvisionUser(connText, userId, name);
    } catch (const std::exception& e) {
        const QString message = db::errorMessage(e);
        return message.isEmpty() ? QStringLiteral("(an error without a message)") : message;
    }
    return {};
}

} // namespace

// Connection texts -----------------------------------------------------------------------------

struct ConnTextCase {
    const char* name;
    QString text;
    QString host;
    int port;
    QString database;
    int kind;
    QString connDescr; // what the manager of that kind connects to
};

void PrintTo(const ConnTextCase& c, std::ostream* os) { *os << c.name; }

class ParseConnStrTest : public testing::TestWithParam<ConnTextCase> {};

TEST_P(ParseConnStrTest, GivesHostPortDatabaseAndTheManagerItsConnection)
{
    const ConnTextCase& c = GetParam();
    QString host = QStringLiteral("unset"), database = QStringLiteral("unset");
    int port = -1;
    tdbmCreator::ParseConnStr(c.text, host, port, database);
    EXPECT_EQ(host, c.host);
    EXPECT_EQ(port, c.port);
    EXPECT_EQ(database, c.database);

    const std::unique_ptr<TDBBaseMan> man = tdbmCreator::CreateMan(c.kind, host, port, database, QStringLiteral("u"), QStringLiteral("p"));
    EXPECT_EQ(man->ConnDescr, c.connDescr);
}

const QString kLong = QString(1200, QLatin1Char('d'));

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseConnStrTest,
    testing::Values(
        ConnTextCase{"FirebirdOnAServer", QStringLiteral("srv:d:\\base\\x.fdb"), QStringLiteral("srv"), 3050,
                     QStringLiteral("d:\\base\\x.fdb"), 1, QStringLiteral("srv/3050:d:\\base\\x.fdb")},
        ConnTextCase{"InterBaseFileInLowerCase", QStringLiteral("srv:C:\\data\\acc.gdb"), QStringLiteral("srv"), 3050,
                     QStringLiteral("C:\\data\\acc.gdb"), 1, QStringLiteral("srv/3050:C:\\data\\acc.gdb")},
        ConnTextCase{"LinuxPathOnLocalhost", QStringLiteral("localhost:/path/x.fdb"), QStringLiteral("localhost"), 3050,
                     QStringLiteral("/path/x.fdb"), 1, QStringLiteral("localhost/3050:/path/x.fdb")},
        ConnTextCase{"FirebirdWithItsPort", QStringLiteral("127.0.0.1/3051:/db/X.FDB"), QStringLiteral("127.0.0.1"), 3051,
                     QStringLiteral("/db/X.FDB"), 1, QStringLiteral("127.0.0.1/3051:/db/X.FDB")},
        ConnTextCase{"LocalFirebirdFileOpensInProcess", QStringLiteral(".demo/mod02.fdb"), QString(), 0,
                     QStringLiteral(".demo/mod02.fdb"), 1, QStringLiteral(".demo/mod02.fdb")},
        ConnTextCase{"PostgresWithItsPort", QStringLiteral("pghost/5433:crm"), QStringLiteral("pghost"), 5433,
                     QStringLiteral("crm"), 2, QStringLiteral("pghost/5433:crm")},
        ConnTextCase{"PortThatIsNoNumber", QStringLiteral("pghost/abc:crm"), QStringLiteral("pghost"), 5432,
                     QStringLiteral("crm"), 2, QStringLiteral("pghost/5432:crm")},
        ConnTextCase{"PostgresWithoutPort", QStringLiteral("pghost:crm"), QStringLiteral("pghost"), 5432,
                     QStringLiteral("crm"), 2, QStringLiteral("pghost/5432:crm")},
        ConnTextCase{"PostgresWithoutServerIsLocalDefault", QStringLiteral("crm"), QStringLiteral("127.0.0.1"), 5432,
                     QStringLiteral("crm"), 2, QStringLiteral("127.0.0.1/5432:crm")},
        ConnTextCase{"PortReadFromNineCharacters", QStringLiteral("h/1234567890:crm"), QStringLiteral("h"), 123456789,
                     QStringLiteral("crm"), 2, QStringLiteral("h/123456789:crm")},
        ConnTextCase{"DatabaseCutAt999Characters", QStringLiteral("h:") + kLong, QStringLiteral("h"), 5432, kLong.left(999),
                     2, QStringLiteral("h/5432:") + kLong.left(999)}),
    [](const testing::TestParamInfo<ConnTextCase>& info) { return std::string(info.param.name); });

TEST(ProvisionTest, UnknownKindIsRefused)
{
    try {
        tdbmCreator::CreateMan(3, QStringLiteral("h"), 1, QStringLiteral("d"), QStringLiteral("u"), QStringLiteral("p"));
        FAIL() << "a manager was made";
    } catch (const std::exception& e) {
        EXPECT_EQ(db::errorMessage(e), QStringLiteral("Unsupported DB"));
    }
}

TEST(ProvisionTest, UnscrambleDecodesWithTheBuiltInKey)
{
    EXPECT_EQ(tdbmCreator::Unscramble(QString()), QString());
    EXPECT_EQ(tdbmCreator::Unscramble(EncodeBuiltInText(BuiltInKey(), QStringLiteral("syscreat"))), QStringLiteral("syscreat"));
    // 18 letters give 8 characters: the login is both the role and its password.
    EXPECT_EQ(BuiltInPgLoginScrambled().size(), 18);
    EXPECT_EQ(tdbmCreator::Unscramble(BuiltInPgLoginScrambled()), ProvisionAccounts::builtInPgRole());
}

// Firebird application databases -------------------------------------------------------------

enum class FbPlace { Server, LocalhostWithoutPort, LocalFile };

struct FbCallCase {
    const char* name;
    FbPlace place;
    AppProcedure procedure;
};

void PrintTo(const FbCallCase& c, std::ostream* os) { *os << c.name; }

class ProvisionFirebirdTest : public testing::TestWithParam<FbCallCase> {
protected:
    ProvisionAccounts m_accounts;
    TempDir m_tmp;
};

// Every form of the connection text reaches the database and its procedure with the built-in account.
TEST_P(ProvisionFirebirdTest, CallsAddUserWithTheMaintenanceAccount)
{
    const FbCallCase& c = GetParam();
    const bool onServer = c.place != FbPlace::LocalFile;
    FbAppDatabase app(c.procedure, onServer, m_tmp.path(QStringLiteral("app.fdb")));
    QString text = app.serverName();
    if (c.place == FbPlace::LocalhostWithoutPort)
        text = QStringLiteral("localhost:") + app.path();
    if (c.place == FbPlace::LocalFile)
        text = QDir::current().relativeFilePath(app.path()); // a relative path, as the demo's

    EXPECT_EQ(provisionError(text, 7, kName), QString());
    EXPECT_EQ(provisionError(text, 8, QStringLiteral("Второ Име")), QString());

    const QList<RecordedCall> expected{{7, kName, ProvisionAccounts::maintenanceUser()},
                                       {8, QStringLiteral("Второ Име"), ProvisionAccounts::maintenanceUser()}};
    EXPECT_EQ(app.calls(), expected);
    EXPECT_EQ(app.maintenanceAttachments(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, ProvisionFirebirdTest,
    testing::Values(FbCallCase{"ServerWithPort", FbPlace::Server, AppProcedure::Recording},
                    FbCallCase{"LocalhostReachesPort3050", FbPlace::LocalhostWithoutPort, AppProcedure::Recording},
                    FbCallCase{"LocalFileEmbedded", FbPlace::LocalFile, AppProcedure::Recording},
                    FbCallCase{"ProcedureWithAnOutput", FbPlace::Server, AppProcedure::WithOutput}),
    [](const testing::TestParamInfo<FbCallCase>& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    AppProcedure procedure;
    QString inMessage; // part of what the administrator is shown
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ProvisionFirebirdFailureTest : public testing::TestWithParam<FailureCase> {
protected:
    ProvisionAccounts m_accounts;
};

// A failure reaches the caller (the users window shows it per database), nothing is written and
// the connection is released.
TEST_P(ProvisionFirebirdFailureTest, RaisesAndReleasesTheConnection)
{
    const FailureCase& c = GetParam();
    FbAppDatabase app(c.procedure);
    const QString message = provisionError(app.serverName(), 7, kName);
    EXPECT_TRUE(message.contains(c.inMessage)) << message.toStdString();
    EXPECT_FALSE(message.contains(ProvisionAccounts::maintenancePassword()));
    EXPECT_EQ(app.calls(), QList<RecordedCall>());
    EXPECT_EQ(app.maintenanceAttachments(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ProvisionFirebirdFailureTest,
    testing::Values(FailureCase{"AddUserRaises", AppProcedure::Raising, QStringLiteral("Приложението отказа потребителя")},
                    FailureCase{"NoProcedure", AppProcedure::Missing, QStringLiteral("ADD_USER")},
                    FailureCase{"NoNameParameter", AppProcedure::MissingParameter, QStringLiteral("U_RNm")}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(ProvisionTest, FirebirdLoginRefusedIsRaised)
{
    ProvisionAccounts accounts;
    FbAppDatabase app(AppProcedure::Recording);
    accounts.setMaintenancePassword(QStringLiteral("not-the-password"));
    const QString message = provisionError(app.serverName(), 7, kName);
    EXPECT_FALSE(message.isEmpty());
    EXPECT_FALSE(message.contains(QStringLiteral("not-the-password")));
    EXPECT_EQ(app.calls(), QList<RecordedCall>());
    EXPECT_EQ(app.maintenanceAttachments(), 0);
}

// A route serves many users over one connection, which goes with the route; an application's own
// Firebird login and procedure take the place of the built-in ones.
TEST(ProvisionTest, ARouteKeepsOneConnectionForManyUsers)
{
    ProvisionAccounts accounts;
    FbAppDatabase app(AppProcedure::Recording);
    {
        TProvisionRoute route(app.serverName());
        for (int id = 1; id <= 3; ++id)
            route.Provision(id, kName);
        EXPECT_TRUE(route.isOpen());
        EXPECT_EQ(app.maintenanceAttachments(), 1);
        EXPECT_EQ(route.IdDoesNotFit(40000), QString());
    }
    EXPECT_EQ(app.maintenanceAttachments(), 0);
    EXPECT_EQ(app.calls().size(), 3);

    // A wrong password of the application's own login is refused, and not shown.
    TProvisionRoute wrong(app.serverName(), {ProvisionAccounts::maintenanceUser(), QStringLiteral("Wrong-Pw-7"), QStringLiteral("ADD_USER")});
    try {
        wrong.Open();
        ADD_FAILURE() << "the wrong password was taken";
    } catch (const std::exception& e) {
        EXPECT_FALSE(db::errorMessage(e).contains(QStringLiteral("Wrong-Pw-7")));
    }
    EXPECT_FALSE(wrong.isOpen());
}

// The demo's application databases are local files, named without a server.
TEST(ProvisionTest, AddsAndUpdatesTheUserInTheDemoDatabase)
{
    TempDir tmp;
    const QByteArray oldConfig = qgetenv("GATEKEEP_CONFIG_DIR"), oldZorCfg = qgetenv("GATEKEEP_ZORCFG");
    qputenv("GATEKEEP_CONFIG_DIR", tmp.path().toUtf8());
    qputenv("GATEKEEP_ZORCFG", tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
    CreateDemo(tmp.path(QStringLiteral("demo")));
    const QString text = QDir::current().relativeFilePath(tmp.path(QStringLiteral("demo/mod02.fdb")));
    ASSERT_FALSE(text.contains(QLatin1Char(':')));

    EXPECT_EQ(provisionError(text, 42, QStringLiteral("Мария Георгиева")), QString());
    EXPECT_EQ(provisionError(text, 42, QStringLiteral("Мария Иванова")), QString());

    db::Database d;
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = {{QStringLiteral("SERVER NAME"), text}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    d.connect();
    EXPECT_EQ(columnOf(d, QStringLiteral("select U_RNM from APP_USERS where U_ID = 42")), QStringList{QStringLiteral("Мария Иванова")});
    qputenv("GATEKEEP_CONFIG_DIR", oldConfig);
    qputenv("GATEKEEP_ZORCFG", oldZorCfg);
}

// PostgreSQL application databases -----------------------------------------------------------

// The role of the built-in login is one for the whole server, so its cases run in one test, in turn.
TEST(ProvisionPostgresTest, BuiltInLoginThenFallbackThenNeither)
{
    ProvisionAccounts accounts;
    PgAppDatabase app(AppProcedure::Recording);
    const QString builtIn = ProvisionAccounts::builtInPgRole();

    struct LoginCase {
        const char* name;
        QString builtInRolePassword;
        QString maintenancePassword; // in Gatekeep.ini; syscreat's own is the fixture's
        QString account;             // who made the call, or none when it must fail
    } cases[] = {
        {"built-in refused, fallback accepted", QStringLiteral("another-password"), ProvisionAccounts::maintenancePassword(),
         QStringLiteral("syscreat")},
        {"built-in accepted", builtIn, ProvisionAccounts::maintenancePassword(), builtIn},
        {"neither accepted", QStringLiteral("another-password"), QStringLiteral("not-syscreat-password"), QString()},
    };
    int id = 0;
    QList<RecordedCall> expected;
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        ProvisionAccounts::setBuiltInPgPassword(c.builtInRolePassword);
        accounts.setMaintenancePassword(c.maintenancePassword);
        ++id;
        const QString message = provisionError(app.connText(), id, kName);
        if (c.account.isEmpty()) {
            EXPECT_TRUE(message.contains(QStringLiteral("syscreat"))) << message.toStdString();
            EXPECT_FALSE(message.contains(c.maintenancePassword));
            EXPECT_FALSE(message.contains(builtIn));
        } else {
            EXPECT_EQ(message, QString());
            expected.append({id, kName, c.account});
        }
        EXPECT_EQ(app.calls(), expected);
        EXPECT_TRUE(app.allLoginsReleased());
    }
    // Decoded on the first PostgreSQL provisioning and kept for the life of the process.
    EXPECT_EQ(PgLoginDecodeCount(), 1);
}

class ProvisionPostgresFailureTest : public testing::TestWithParam<FailureCase> {
protected:
    ProvisionAccounts m_accounts;
};

TEST_P(ProvisionPostgresFailureTest, RaisesAndReleasesTheConnection)
{
    const FailureCase& c = GetParam();
    PgAppDatabase app(c.procedure);
    const QString message = provisionError(app.connText(), 7, kName);
    EXPECT_TRUE(message.contains(c.inMessage)) << message.toStdString();
    EXPECT_EQ(app.calls(), QList<RecordedCall>());
    EXPECT_TRUE(app.allLoginsReleased());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ProvisionPostgresFailureTest,
    testing::Values(FailureCase{"FunctionRaises", AppProcedure::Raising, QStringLiteral("Приложението отказа потребителя")},
                    FailureCase{"NoFunction", AppProcedure::Missing, QStringLiteral("hub_user_update")},
                    FailureCase{"NoNameParameter", AppProcedure::MissingParameter, QStringLiteral("first_name")}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(ProvisionPostgresTest, FunctionWithAnOutputIsCalled)
{
    ProvisionAccounts accounts;
    PgAppDatabase app(AppProcedure::WithOutput);
    EXPECT_EQ(provisionError(app.connText(), 5, kName), QString());
    ASSERT_EQ(app.calls().size(), 1);
    EXPECT_EQ(app.calls().first().id, 5);
    EXPECT_TRUE(app.allLoginsReleased());
}
