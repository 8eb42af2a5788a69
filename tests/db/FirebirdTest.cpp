// What only Firebird has: dialect 1, the database's own settings, procedure bodies with
// :variables, and the legacy handles that plugin libraries use inside our transaction.
#include "support/TestEnv.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QDateTime>

#include <ibase.h>

#include <gtest/gtest.h>

using db::Database;
using db::Query;

class FirebirdTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_path = m_tmp.path(QStringLiteral("fb.fdb"));
        Database::createFirebirdDatabase(m_path, QStringLiteral("SYSDBA"), QString());
        m_db.setDriverName(QStringLiteral("IntrBase"));
        m_db.params() = db::ParamList{{QStringLiteral("Server Name"), m_path}, {QStringLiteral("User Name"), QStringLiteral("SYSDBA")}};
        m_db.connect();
    }

    QVariant scalar(const QString& sql)
    {
        Query q(&m_db);
        q.setSql(sql);
        q.open();
        return q.field(0).value();
    }

    void exec(const QString& sql, bool paramCheck = false)
    {
        Query q(&m_db);
        q.setParamCheck(paramCheck);
        q.setSql(sql);
        q.execSql();
    }

    TempDir m_tmp;
    QString m_path;
    Database m_db;
};

TEST_F(FirebirdTest, NewDatabasesAreDialectOneWin1251AndNeverOverwritten)
{
    EXPECT_EQ(scalar(QStringLiteral("select mon$sql_dialect from mon$database")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select rdb$character_set_name from rdb$database")).toString().trimmed(), QStringLiteral("WIN1251"));
    EXPECT_THROW(Database::createFirebirdDatabase(m_path, QStringLiteral("SYSDBA"), QString()), db::Error);
    // Still the same database.
    exec(QStringLiteral("create table still_here (a integer)"));
    EXPECT_EQ(m_db.tableNames(), QStringList{QStringLiteral("STILL_HERE")});
}

TEST_F(FirebirdTest, DoubleQuotesAreStringLiteralsInDialectOne)
{
    exec(QStringLiteral("create table t (a varchar(40), d date)"));
    exec(QStringLiteral("insert into t values (\"Иван \"\"Жоро\"\" Петров\", \"now\")"));
    Query q(&m_db);
    q.setSql(QStringLiteral("select a, d from t"));
    q.open();
    EXPECT_EQ(q.field(0).asString(), QStringLiteral("Иван \"Жоро\" Петров"));
    // DATE is a timestamp in dialect 1; "now" is the current moment.
    const QDateTime stored = q.field(1).asDateTime();
    const QDateTime local = QDateTime::currentDateTime();
    const QDateTime nowAsStored(local.date(), local.time(), Qt::UTC);
    EXPECT_LT(std::abs(stored.secsTo(nowAsStored)), 120);
}

TEST_F(FirebirdTest, ProcedureBodiesNeedParameterParsingOff)
{
    const QString body = QStringLiteral("create procedure twice (a integer) returns (r integer) as begin r = :a * 2; end");
    // Parsed, ":a" would become a parameter the statement cannot take.
    EXPECT_THROW(exec(body, true), db::Error);
    exec(body, false);
    // A query opened on "execute procedure" yields its one output row.
    EXPECT_EQ(scalar(QStringLiteral("execute procedure twice 21")).toInt(), 42);
}

TEST_F(FirebirdTest, LegacyHandlesWorkInsideTheCurrentTransaction)
{
    exec(QStringLiteral("create table t (a varchar(20))"));
    EXPECT_THROW(m_db.nativeTransactionHandle(), db::Error); // none started
    m_db.startTransaction();
    isc_db_handle dbh = m_db.nativeDatabaseHandle();
    isc_tr_handle trh = m_db.nativeTransactionHandle();
    EXPECT_NE(dbh, 0u);
    EXPECT_NE(trh, 0u);

    ISC_STATUS_ARRAY status{};
    const char* sql = "insert into t values ('from a library')";
    ASSERT_EQ(isc_dsql_execute_immediate(status, &dbh, &trh, 0, sql, 1, nullptr), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from t")).toInt(), 1);
    m_db.rollback();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from t")).toInt(), 0);
}

TEST_F(FirebirdTest, ConnectingToAMissingDatabaseReportsTheServersReason)
{
    Database other;
    other.setDriverName(QStringLiteral("INTRBASE"));
    other.params() = db::ParamList{{QStringLiteral("SERVER NAME"), m_tmp.path(QStringLiteral("missing.fdb"))},
                                   {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    try {
        other.connect();
        FAIL() << "connected";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("missing.fdb"))) << e.what();
    }
    EXPECT_FALSE(other.connected());
}

// Integers and text are read typed from the fetched row; the typed read must agree with the
// boxed value for every column kind, nulls and scaled numbers included.
TEST_F(FirebirdTest, TypedReadsAgreeWithTheBoxedValues)
{
    exec(QStringLiteral("create table t (s smallint, i integer, m numeric(9,2), c char(4), v varchar(10))"));
    exec(QStringLiteral("insert into t values (-7, 2147483647, 12.75, 'ab', 'Юг')"));
    exec(QStringLiteral("insert into t values (null, null, null, null, null)"));
    Query q(&m_db);
    q.setSql(QStringLiteral("select s, i, m, c, v from t order by s nulls last"));
    const struct {
        int column;
        qint64 asInt64;
        QString asString;
    } first[] = {
        {0, -7, QStringLiteral("-7")},
        {1, 2147483647, QStringLiteral("2147483647")},
        {2, 13, QStringLiteral("12.75")}, // a scaled number is a double, rounded as an integer
        {3, 0, QStringLiteral("ab  ")},
        {4, 0, QStringLiteral("Юг")},
    };
    q.open();
    for (const auto& c : first) {
        SCOPED_TRACE(c.column);
        EXPECT_EQ(q.field(c.column).asInt64(), c.asInt64);
        EXPECT_EQ(q.field(c.column).asString(), c.asString);
        EXPECT_FALSE(q.field(c.column).isNull());
    }
    EXPECT_EQ(q.field(2).asFloat(), 12.75);
    q.next();
    for (int column = 0; column < 5; ++column) {
        SCOPED_TRACE(column);
        EXPECT_TRUE(q.field(column).isNull());
        EXPECT_EQ(q.field(column).asInteger(), 0);
        EXPECT_TRUE(q.field(column).asString().isEmpty());
    }
}
