// The connection layer against real servers: embedded Firebird, a Firebird server over TCP,
// and PostgreSQL. Behaviour common to all three runs as one parameterised suite.
#include "support/TestEnv.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "db/StoredProc.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <memory>

using db::Database;
using db::Query;

namespace {

enum class Backend { FbEmbedded, FbServer, Pg };

std::string backendName(const testing::TestParamInfo<Backend>& info)
{
    switch (info.param) {
    case Backend::FbEmbedded: return "FirebirdEmbedded";
    case Backend::FbServer: return "FirebirdServer";
    case Backend::Pg: return "PostgreSQL";
    }
    return "?";
}

// Every printable cp1251 character but 0x98, which neither server's WIN1251 tables define.
QString allCp1251Text()
{
    QString s;
    for (int b = 0x20; b < 0x100; ++b)
        if (b != 0x98 && b != 0x7F)
            s += cp1251::charOf(static_cast<unsigned char>(b));
    return s;
}

} // namespace

class DatabaseTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        m_db = std::make_unique<Database>(QStringLiteral("TestDB"));
        switch (GetParam()) {
        case Backend::FbEmbedded: {
            const QString path = m_tmp.path(QStringLiteral("test.fdb"));
            Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
            m_db->setDriverName(QStringLiteral("INTRBASE"));
            m_db->params() = db::ParamList{{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
            break;
        }
        case Backend::FbServer: {
            const QString path = serverDatabasePath(QStringLiteral("dbtest"));
            const db::ParamList p = firebirdParams(path);
            Database::createFirebirdDatabase(path, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
            m_db->setDriverName(QStringLiteral("INTRBASE"));
            m_db->params() = p;
            break;
        }
        case Backend::Pg:
            m_pg = std::make_unique<PgTestDatabase>();
            m_db->setDriverName(QStringLiteral("POSTGRESQL"));
            m_db->params().setValue(QStringLiteral("SERVER NAME"), m_pg->conninfo());
            break;
        }
        m_db->connect();
    }

    void TearDown() override
    {
        m_db.reset();
        m_pg.reset();
    }

    bool firebird() const { return GetParam() != Backend::Pg; }

    void exec(const QString& sql)
    {
        Query q(m_db.get());
        q.setParamCheck(false);
        q.setSql(sql);
        q.execSql();
    }

    int count(const QString& table)
    {
        Query q(m_db.get());
        q.setSql(QStringLiteral("select count(*) from ") + table);
        q.open();
        return q.field(0).asInteger();
    }

    TempDir m_tmp;
    std::unique_ptr<PgTestDatabase> m_pg;
    std::unique_ptr<Database> m_db;
};

TEST_P(DatabaseTest, CyrillicRoundTripsThroughParametersAndLiterals)
{
    if (firebird())
        exec(QStringLiteral("create table names (id integer, a varchar(300) character set none, b varchar(300) character set win1251)"));
    else
        exec(QStringLiteral("create table names (id integer, a varchar(300), b varchar(300))"));

    const QString all = allCp1251Text();
    const QString name = QStringLiteral("Йордан Ёлчев-Щърбанов „Жоро“ №5 €");
    Query ins(m_db.get());
    ins.setSql(QStringLiteral("insert into names (id, a, b) values (:id, :a, :b)"));
    ins.setParam(QStringLiteral("id"), 1);
    ins.setParam(QStringLiteral("a"), all);
    ins.setParam(QStringLiteral("b"), all);
    ins.execSql();
    EXPECT_EQ(ins.rowsAffected(), 1);
    exec(QStringLiteral("insert into names (id, a, b) values (2, '%1', '%1')").arg(name));

    Query q(m_db.get());
    q.setSql(QStringLiteral("select id, a, b from names order by id"));
    q.open();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.fieldByName(QStringLiteral("A")).asString(), all);
    EXPECT_EQ(q.fieldByName(QStringLiteral("b")).asString(), all);
    q.next();
    EXPECT_EQ(q.field(1).asString(), name);
    EXPECT_EQ(q.field(2).asString(), name);
    q.next();
    EXPECT_TRUE(q.eof());
}

TEST_P(DatabaseTest, TextWithoutCp1251FormIsRefusedAndNothingIsWritten)
{
    exec(QStringLiteral("create table t (a varchar(40))"));
    Query ins(m_db.get());
    ins.setSql(QStringLiteral("insert into t (a) values (:a)"));
    ins.setParam(QStringLiteral("a"), QStringLiteral("Łódź"));
    try {
        ins.execSql();
        FAIL() << "no error";
    } catch (const db::Error& e) {
        // The value may be a password: the message names the character, not the value.
        EXPECT_TRUE(e.message().contains(QStringLiteral("U+0141"))) << e.what();
        EXPECT_FALSE(e.message().contains(QStringLiteral("ódź"))) << e.what();
    }
    EXPECT_THROW(exec(QStringLiteral("insert into t (a) values ('日本')")), db::Error);
    EXPECT_EQ(count(QStringLiteral("t")), 0);
}

TEST_P(DatabaseTest, NamedParametersRepeatAndUnknownNamesAreRefused)
{
    exec(QStringLiteral("create table t (id integer, x integer)"));
    exec(QStringLiteral("insert into t values (1, 10)"));
    exec(QStringLiteral("insert into t values (2, 20)"));

    Query q(m_db.get());
    q.setSql(QStringLiteral("select id from t where id = :k or x = :K * 10 order by id"));
    EXPECT_EQ(q.paramNames(), QStringList{QStringLiteral("k")});
    q.setParam(QStringLiteral("k"), 2);
    q.open();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.field(0).asInteger(), 2);
    q.next();
    EXPECT_TRUE(q.eof());
    EXPECT_THROW(q.setParam(QStringLiteral("nope"), 1), db::Error);

    // An unset parameter is NULL.
    q.setSql(QStringLiteral("select count(*) from t where x = :x"));
    q.open();
    EXPECT_EQ(q.field(0).asInteger(), 0);
}

TEST_P(DatabaseTest, ValuesOfEveryKindComeBackTyped)
{
    if (firebird())
        exec(QStringLiteral("create table v (i integer, s smallint, d double precision, n numeric(15,2), "
                            "ts timestamp, tx blob sub_type text, z varchar(10))"));
    else
        exec(QStringLiteral("create table v (i integer, s smallint, d double precision, n numeric(15,2), "
                            "ts timestamp, tx text, z varchar(10))"));
    const QDateTime when(QDate(2026, 3, 29), QTime(3, 30, 15), Qt::UTC);
    const QString longText = QStringLiteral("Ред с кирилица. ").repeated(5000);
    Query ins(m_db.get());
    ins.setSql(QStringLiteral("insert into v values (:i, :s, :d, :n, :ts, :tx, :z)"));
    ins.setParam(QStringLiteral("i"), -7);
    ins.setParam(QStringLiteral("s"), QStringLiteral("12"));
    ins.setParam(QStringLiteral("d"), 2.5);
    ins.setParam(QStringLiteral("n"), 1234.56);
    ins.setParam(QStringLiteral("ts"), when);
    ins.setParam(QStringLiteral("tx"), longText);
    ins.setParam(QStringLiteral("z"), QVariant());
    ins.execSql();

    Query q(m_db.get());
    q.setSql(QStringLiteral("select * from v"));
    q.open();
    ASSERT_FALSE(q.eof());
    EXPECT_EQ(q.fieldByName(QStringLiteral("i")).value(), QVariant(-7));
    EXPECT_EQ(q.fieldByName(QStringLiteral("s")).asInteger(), 12);
    EXPECT_DOUBLE_EQ(q.fieldByName(QStringLiteral("d")).asFloat(), 2.5);
    EXPECT_DOUBLE_EQ(q.fieldByName(QStringLiteral("n")).asFloat(), 1234.56);
    EXPECT_EQ(q.fieldByName(QStringLiteral("ts")).asDateTime(), when);
    EXPECT_EQ(q.fieldByName(QStringLiteral("tx")).asString(), longText);
    EXPECT_TRUE(q.fieldByName(QStringLiteral("z")).isNull());
    EXPECT_EQ(q.fieldByName(QStringLiteral("z")).asString(), QString());
    EXPECT_THROW(q.fieldByName(QStringLiteral("missing")), db::Error);
}

TEST_P(DatabaseTest, RollbackLeavesNothingAndCommitKeepsRows)
{
    exec(QStringLiteral("create table t (a integer)"));
    m_db->startTransaction();
    EXPECT_TRUE(m_db->inTransaction());
    exec(QStringLiteral("insert into t values (1)"));
    EXPECT_EQ(count(QStringLiteral("t")), 1); // visible inside the transaction
    m_db->rollback();
    EXPECT_FALSE(m_db->inTransaction());
    EXPECT_EQ(count(QStringLiteral("t")), 0);

    m_db->startTransaction();
    exec(QStringLiteral("insert into t values (2)"));
    m_db->commit();
    EXPECT_EQ(count(QStringLiteral("t")), 1);
    EXPECT_THROW(m_db->commit(), db::Error);
}

TEST_P(DatabaseTest, CatalogueListsUserTablesAndProcedureParameters)
{
    exec(QStringLiteral("create table alpha (a integer)"));
    exec(QStringLiteral("create table beta (b integer)"));
    if (firebird()) {
        exec(QStringLiteral("create view gamma as select a from alpha"));
        exec(QStringLiteral("create procedure add_one (a integer, b varchar(20)) returns (res integer, txt varchar(40)) as "
                            "begin res = :a + 1; txt = 'x' || :b; end"));
    } else {
        exec(QStringLiteral("create view gamma as select a from alpha"));
        exec(QStringLiteral("create function add_one(a integer, b varchar(20), out res integer, out txt varchar(40)) as "
                            "$$ begin res := a + 1; txt := 'x' || b; end $$ language plpgsql"));
    }
    const QStringList tables = m_db->tableNames();
    EXPECT_EQ(tables, (QStringList{firebird() ? QStringLiteral("ALPHA") : QStringLiteral("alpha"),
                                   firebird() ? QStringLiteral("BETA") : QStringLiteral("beta")}));

    const auto params = m_db->procedureParams(QStringLiteral("add_one"));
    ASSERT_EQ(params.size(), 4);
    EXPECT_EQ(params[0].name, QStringLiteral("A"));
    EXPECT_EQ(params[0].type, QStringLiteral("INTEGER"));
    EXPECT_FALSE(params[0].output);
    EXPECT_EQ(params[1].name, QStringLiteral("B"));
    EXPECT_TRUE(params[1].type.contains(QStringLiteral("VARCHAR")) || params[1].type.contains(QStringLiteral("CHARACTER VARYING")));
    if (firebird()) {
        EXPECT_EQ(params[1].size, 20);
    }
    EXPECT_EQ(params[2].name, QStringLiteral("RES"));
    EXPECT_TRUE(params[2].output);
    EXPECT_TRUE(params[3].output);

    db::StoredProc proc(m_db.get(), QStringLiteral("ADD_ONE"));
    proc.setParam(QStringLiteral("A"), 41);
    proc.setParam(QStringLiteral("b"), QStringLiteral("Иван"));
    proc.execProc();
    EXPECT_EQ(proc.param(QStringLiteral("RES")).toInt(), 42);
    EXPECT_EQ(proc.param(QStringLiteral("txt")).toString(), QStringLiteral("xИван"));
    EXPECT_THROW(proc.setParam(QStringLiteral("RES"), 1), db::Error);
}

TEST_P(DatabaseTest, ServerErrorMessageReachesTheCaller)
{
    try {
        exec(QStringLiteral("select * from no_such_table"));
        FAIL() << "no error";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("NO_SUCH_TABLE"), Qt::CaseInsensitive)) << e.what();
    }
    // The connection is still usable afterwards.
    exec(QStringLiteral("create table t (a integer)"));
    EXPECT_EQ(count(QStringLiteral("t")), 0);
}

TEST_P(DatabaseTest, OpenQueriesCloseWhenTheDatabaseDisconnects)
{
    exec(QStringLiteral("create table t (a integer)"));
    exec(QStringLiteral("insert into t values (1)"));
    Query q(m_db.get());
    q.setSql(QStringLiteral("select a from t"));
    q.open();
    EXPECT_TRUE(q.isOpen());
    m_db->disconnect();
    EXPECT_FALSE(q.isOpen());
    EXPECT_THROW(q.open(), db::Error);
    m_db->connect();
    q.open();
    EXPECT_EQ(q.field(0).asInteger(), 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, DatabaseTest, testing::Values(Backend::FbEmbedded, Backend::FbServer, Backend::Pg), backendName);
