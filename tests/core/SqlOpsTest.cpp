#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/BuiltIn.h"
#include "core/SqlOps.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QFile>

#include <gtest/gtest.h>

class SqlOpsTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        m_path = m_tmp.path(QStringLiteral("sys.fdb"));
        db::Database::createFirebirdDatabase(m_path, QStringLiteral("SYSDBA"), QString());
    }
    void TearDown() override { qunsetenv("GATEKEEP_CONFIG_DIR"); }

    TempDir m_tmp;
    QString m_path;
};

TEST_F(SqlOpsTest, ExecSqlTextReportsOnlyThroughItsResultAndTheLastError)
{
    ScriptedPrompts p;
    db::Database d;
    QString error;
    ConnectSystemAlias(d, QStringLiteral("SYSDBA"), QString(), error, m_path);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    db::Query wq(&d);
    wq.setParamCheck(false);

    EXPECT_TRUE(ExecSqlText(wq, QStringLiteral("create table t (a varchar(10))"), true));
    EXPECT_TRUE(ExecSqlText(wq, QStringLiteral("insert into t values (\"a:b\")"), true));
    EXPECT_TRUE(ExecSqlText(wq, QStringLiteral("select a from t"), false));
    EXPECT_EQ(wq.field(0).asString(), QStringLiteral("a:b"));

    const QString bad = QStringLiteral("select * from missing_table");
    EXPECT_FALSE(ExecSqlText(wq, bad, false));
    EXPECT_TRUE(LastSqlError().startsWith(QStringLiteral("SetWqText >>> ") + bad + QLatin1Char('\r')));
    EXPECT_TRUE(LastSqlError().contains(QStringLiteral("MISSING_TABLE")));
    EXPECT_TRUE(p.shown.isEmpty());
    EXPECT_FALSE(wq.isOpen());

    EXPECT_FALSE(ExecSqlOrReport(wq, QStringLiteral("insert into missing_table values (1)"), true));
    ASSERT_EQ(p.messages().size(), 1);
    EXPECT_TRUE(p.messages()[0].startsWith(QStringLiteral("Грешка : ")));
    EXPECT_TRUE(p.messages()[0].contains(QStringLiteral("MISSING_TABLE")));
    EXPECT_TRUE(ExecSqlOrReport(wq, QStringLiteral("select count(*) from t"), false));
    EXPECT_EQ(p.messages().size(), 1);

    // Values may be stored passwords: the record keeps the statement's shape, not its values.
    EXPECT_FALSE(ExecSqlText(wq, QStringLiteral("update missing_table set pw = \"s3cr\"\"et\" where id = 1"), true));
    EXPECT_FALSE(LastSqlError().contains(QStringLiteral("s3cr")));
    EXPECT_TRUE(LastSqlError().contains(QStringLiteral("set pw = \"…\" where id = 1")));
}

TEST(SqlOpsServerTest, QuietFormStillSaysSoWhenTheServerIsGoneAndTheNextUseReconnects)
{
    ScriptedPrompts p;
    const QString path = serverDatabasePath(QStringLiteral("sqlops"));
    db::Database::createFirebirdDatabase(path, requireEnv("GATEKEEP_TEST_FB_USER"), requireEnv("GATEKEEP_TEST_FB_PASSWORD"));
    db::Database d, admin;
    for (db::Database* x : {&d, &admin}) {
        x->setDriverName(QStringLiteral("INTRBASE"));
        x->params() = firebirdParams(path);
        x->connect();
    }
    db::Query wq(&d);
    wq.setParamCheck(false);
    ASSERT_TRUE(ExecSqlText(wq, QStringLiteral("select current_connection from rdb$database"), false));
    const int id = wq.field(0).asInteger();
    wq.close();
    execSql(admin, QStringLiteral("delete from mon$attachments where mon$attachment_id = %1").arg(id));

    EXPECT_FALSE(ExecSqlText(wq, QStringLiteral("select count(*) from rdb$relations"), false));
    ASSERT_EQ(p.messages().size(), 1);
    EXPECT_TRUE(p.messages()[0].startsWith(db::lostConnectionText()));
    EXPECT_TRUE(ExecSqlText(wq, QStringLiteral("select count(*) from rdb$relations"), false));
    EXPECT_EQ(p.messages().size(), 1);
}

TEST_F(SqlOpsTest, ConnectSystemAliasSetsTheFiveParametersOrExplainsTheFailure)
{
    db::Database d;
    QString error = QStringLiteral("stale");
    ConnectSystemAlias(d, QStringLiteral("SYSDBA"), QStringLiteral("pw"), error, m_path);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_TRUE(d.connected());
    EXPECT_EQ(d.driverName(), QStringLiteral("INTRBASE"));
    EXPECT_EQ(d.params().toStrings(), (QStringList{QStringLiteral("USER NAME=SYSDBA"), QStringLiteral("PASSWORD=pw"),
                                                   QStringLiteral("SERVER NAME=") + m_path, QStringLiteral("BLOBS TO CACHE=60000"),
                                                   QStringLiteral("LANGDRIVER=ancyrr")}));

    const QString missing = m_tmp.path(QStringLiteral("none.fdb"));
    ConnectSystemAlias(d, QStringLiteral("SYSDBA"), QString(), error, missing);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Грешка при свързване към БД (") + missing + QStringLiteral(")\r"))) << error.toStdString();
    EXPECT_GT(error.size(), QStringLiteral("Грешка при свързване към БД (").size() + missing.size() + 2);
    EXPECT_FALSE(d.connected());
}

TEST_F(SqlOpsTest, StartupAndSelfUpdateParameterForms)
{
    db::Database d;
    SetStartupConnection(d, QStringLiteral("admin"), QStringLiteral("secret"), m_path);
    EXPECT_EQ(d.driverName(), QStringLiteral("IntrBase"));
    EXPECT_EQ(d.params().toStrings(), (QStringList{QStringLiteral("User Name=admin"), QStringLiteral("Password=secret"),
                                                   QStringLiteral("Server Name=") + m_path}));
    d.connect(); // embedded: the password is not checked
    EXPECT_TRUE(d.connected());

    SetSelfUpdateConnection(d, m_path);
    EXPECT_FALSE(d.connected());
    EXPECT_EQ(d.params().toStrings(), (QStringList{QStringLiteral("server name=") + m_path, QStringLiteral("USER NAME=SYSDBA"),
                                                   QStringLiteral("PASSWORD=masterkey")}));
    d.connect();
    EXPECT_TRUE(d.connected());
}

TEST_F(SqlOpsTest, MaintenanceAccountOverrideNeedsAnOwnerOnlyFile)
{
    db::ParamList params{{QStringLiteral("user name"), QStringLiteral("x")}};
    AddBuiltInCredentials(params);
    EXPECT_EQ(params.toStrings(), (QStringList{QStringLiteral("user name=SYSDBA"), QStringLiteral("PASSWORD=masterkey")}));

    QFile ini(m_tmp.path(QStringLiteral("Gatekeep.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[Maintenance Account]\nUser=" + EncodeBuiltInText(BuiltInKey(), QStringLiteral("MAINT")).toLatin1() +
              "\nPassword=" + EncodeBuiltInText(BuiltInKey(), QStringLiteral("s3cret")).toLatin1() + "\n");
    ini.close();

    ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    EXPECT_EQ(BuiltInUser(), QStringLiteral("SYSDBA"));
    ini.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(BuiltInUser(), QStringLiteral("MAINT"));
    EXPECT_EQ(BuiltInPassword(), QStringLiteral("s3cret"));
}
