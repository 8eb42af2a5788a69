// The PostgreSQL dialect against the test PostgreSQL server.
#include "ManFixtures.h"

#include "db/Error.h"

#include <QThread>

#include <atomic>

namespace {

class PGDBXManTest : public testing::Test {
protected:
    PGDBXManTest()
    {
        pg.exec(QStringLiteral("create table calls (id integer, first_name varchar(60))"));
        pg.exec(QStringLiteral("create function hub_user_update(id integer, first_name varchar) returns void language plpgsql as $$ "
                               "begin insert into calls values (hub_user_update.id, hub_user_update.first_name); end $$"));
        pg.exec(QStringLiteral("create function hub_fail(id integer) returns void language plpgsql as $$ "
                               "begin raise exception 'hub refused %', id; end $$"));
        pg.exec(QStringLiteral("create function hub_out(out total integer) language sql as $$ select count(*)::integer from calls $$"));
        pg.exec(QStringLiteral("create function hub_modes(a integer, inout b integer, out c integer) language sql as $$ select a + b, a $$"));
        // Names that the catalogue's array text quotes, and types beyond the common ones.
        pg.exec(QStringLiteral("create function hub_names(\"a, \"\"b\"\"\" bigint, \"NULL\" date, x numeric) returns void "
                               "language sql as $$ select 1 $$"));
        // An overloaded name and one outside the search path: the general catalogue query.
        pg.exec(QStringLiteral("create function hub_over(a integer) returns void language sql as $$ select 1 $$"));
        pg.exec(QStringLiteral("create function hub_over(a integer, b text) returns void language sql as $$ select 1 $$"));
        pg.exec(QStringLiteral("create schema if not exists elsewhere"));
        pg.exec(QStringLiteral("create function elsewhere.hub_away(u integer, v text) returns void language sql as $$ select 1 $$"));
        man = pg.man();
    }
    QStringList calls() { return pg.column(QStringLiteral("select id || ':' || first_name from calls order by id")); }

    PgAppDatabase pg;
    std::unique_ptr<TPGDBXMan> man;
};

// Discovery finds the lower-case name from any spelling, with each argument's direction.
TEST_F(PGDBXManTest, GetParamListAndExecSProc)
{
    LogCapture log;
    auto params = man->GetParamList(QStringLiteral("Hub_User_Update"));
    ASSERT_TRUE(params);
    ASSERT_EQ(params->Count(), 2);
    EXPECT_EQ((*params)[0].Name, QStringLiteral("id"));
    EXPECT_EQ((*params)[0].DataType, TFieldType::ftInteger);
    EXPECT_EQ((*params)[1].DataType, TFieldType::ftString);
    EXPECT_EQ((*params)[1].ParamType, TParamType::ptInput);
    params->ParamByName(QStringLiteral("Id")).SetValue(12);
    params->ParamByName(QStringLiteral("FIRST_NAME")).SetValue(QStringLiteral("Петър"));
    EXPECT_TRUE(man->ExecSProc(QStringLiteral("hub_user_update"), params.get()));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("12:Петър")});
    EXPECT_TRUE(log.contains(QStringLiteral("SQL > tDBXMan.ExecSql \rselect * from  hub_user_update( :id,:first_name) \r\nPrms :")));

    auto modes = man->GetParamList(QStringLiteral("hub_modes"));
    ASSERT_TRUE(modes);
    ASSERT_EQ(modes->Count(), 3);
    EXPECT_EQ(modes->ParamByName(QStringLiteral("a")).ParamType, TParamType::ptInput);
    EXPECT_EQ(modes->ParamByName(QStringLiteral("b")).ParamType, TParamType::ptInputOutput);
    EXPECT_EQ(modes->ParamByName(QStringLiteral("c")).ParamType, TParamType::ptOutput);

    auto names = man->GetParamList(QStringLiteral("hub_names"));
    ASSERT_TRUE(names);
    ASSERT_EQ(names->Count(), 3);
    EXPECT_EQ((*names)[0].Name, QStringLiteral("a, \"b\""));
    EXPECT_EQ((*names)[0].DataType, TFieldType::ftLargeint);
    EXPECT_EQ((*names)[1].Name, QStringLiteral("NULL"));
    EXPECT_EQ((*names)[1].DataType, TFieldType::ftDate);
    EXPECT_EQ((*names)[2].DataType, TFieldType::ftFloat);

    auto over = man->GetParamList(QStringLiteral("hub_over"));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->Count(), 1); // the first created
    auto away = man->GetParamList(QStringLiteral("hub_away"));
    ASSERT_TRUE(away);
    EXPECT_EQ(away->Count(), 2);

    EXPECT_EQ(man->GetParamList(QStringLiteral("no_such_function")), nullptr);
}

// Only an output: the argument list is an empty pair of parentheses.
TEST_F(PGDBXManTest, ExecSProcWithOnlyAnOutput)
{
    LogCapture log;
    auto params = man->GetParamList(QStringLiteral("hub_out"));
    ASSERT_TRUE(params);
    EXPECT_EQ((*params)[0].ParamType, TParamType::ptOutput);
    EXPECT_TRUE(man->ExecSProc(QStringLiteral("hub_out"), params.get()));
    EXPECT_TRUE(log.contains(QStringLiteral("\rselect * from  hub_out() \r\n")));
    TSQLQuery* q = man->GetDSfromProc(QStringLiteral("hub_out"), params.get());
    ASSERT_TRUE(q);
    EXPECT_EQ(q->Fields(0).asInteger(), 0);
}

// Unlike Firebird, a PostgreSQL procedure error is raised (and recorded).
TEST_F(PGDBXManTest, AFailingProcedureIsRaised)
{
    auto params = man->GetParamList(QStringLiteral("hub_fail"));
    ASSERT_TRUE(params);
    params->ParamByName(QStringLiteral("id")).SetValue(3);
    EXPECT_THROW(man->ExecSProc(QStringLiteral("hub_fail"), params.get()), db::Error);
    EXPECT_TRUE(man->LastError.contains(QStringLiteral("hub refused 3"))) << man->LastError.toStdString();
    EXPECT_THROW(man->GetDSfromProc(QStringLiteral("hub_fail"), params.get()), db::Error);
}

TEST_F(PGDBXManTest, FailurePathsReleaseTheConnection)
{
    man.reset();
    ASSERT_EQ(pg.otherSessions(), 0);
    {
        auto m = pg.man();
        auto params = m->GetParamList(QStringLiteral("hub_fail"));
        EXPECT_THROW(m->ExecSProc(QStringLiteral("hub_fail"), params.get()), db::Error);
        EXPECT_THROW(m->ExecSql(QStringLiteral("bad sql"), nullptr, false), db::Error);
        EXPECT_FALSE(m->TableExists(QStringLiteral("nope")));
        EXPECT_EQ(pg.otherSessions(1), 1);
    }
    EXPECT_EQ(pg.otherSessions(), 0);
    {
        TPGDBXMan missing(pg.part(QStringLiteral("host")), pg.name() + QStringLiteral("_none"), pg.part(QStringLiteral("port")),
                          pg.part(QStringLiteral("user")), QString());
        EXPECT_THROW(missing.OpenDB(), db::Error);
        EXPECT_FALSE(missing.GetConnection().connected());
    }
    EXPECT_EQ(pg.otherSessions(), 0);
}

struct PatternCase {
    const char* name;
    QString value;
    qint16 mode;
    QStringList matches;
};

void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.name; }

const QStringList kNames{QStringLiteral("50%\\x"), QStringLiteral("a50%\\xz"), QStringLiteral("500\\x"), QStringLiteral("50%x"),
                         QStringLiteral("a_b"),    QStringLiteral("axb"),      QStringLiteral("A_B tail"), QStringLiteral("back\\slash")};

class PGPattern : public PGDBXManTest, public testing::WithParamInterface<PatternCase> {};

// Which rows the server matches: %, _ and \ of the value stand for themselves.
TEST_P(PGPattern, MatchesTheValueLiterally)
{
    pg.exec(QStringLiteral("create table names (n varchar(40))"));
    for (const QString& n : kNames) {
        QString lit = n;
        lit.replace(QLatin1Char('\''), QStringLiteral("''"));
        pg.exec(QStringLiteral("insert into names values ('%1')").arg(lit));
    }
    auto* params = new TParams;
    QString cond;
    man->addprmval(*params, QStringLiteral("n"), TFieldType::ftString, GetParam().value, GetParam().mode, cond);
    TSQLQuery* q = man->GetDS(QStringLiteral("m"), QStringLiteral("select n from names where ") + cond + QStringLiteral(" order by n"), true,
                              true, params);
    QStringList got;
    for (; !q->Eof(); q->Next())
        got << q->Fields(0).asString();
    QStringList want = GetParam().matches;
    want.sort();
    got.sort();
    EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PGPattern,
    testing::Values(PatternCase{"ContainsPercentAndBackslash", QStringLiteral("50%\\x"), 1,
                                {QStringLiteral("50%\\x"), QStringLiteral("a50%\\xz")}},
                    PatternCase{"StartsWithPercentAndBackslash", QStringLiteral("50%\\"), 0, {QStringLiteral("50%\\x")}},
                    PatternCase{"UnderscoreIsNoWildcard", QStringLiteral("a_b"), 1, {QStringLiteral("a_b"), QStringLiteral("A_B tail")}},
                    PatternCase{"StartsWithIgnoresCase", QStringLiteral("A_b"), 0, {QStringLiteral("a_b"), QStringLiteral("A_B tail")}},
                    PatternCase{"LoneBackslash", QStringLiteral("\\"), 1,
                                {QStringLiteral("50%\\x"), QStringLiteral("a50%\\xz"), QStringLiteral("500\\x"), QStringLiteral("back\\slash")}},
                    PatternCase{"EqualsIsExact", QStringLiteral("50%x"), 2, {QStringLiteral("50%x")}}),
    [](const testing::TestParamInfo<PatternCase>& i) { return std::string(i.param.name); });

// The Part's edge case: the stored pattern of "50%\x" in contains mode.
TEST_F(PGDBXManTest, StoredPatternOfThePartsValue)
{
    TParams params;
    QString cond;
    man->addprmval(params, QStringLiteral("n"), TFieldType::ftString, QStringLiteral("50%\\x"), 1, cond);
    EXPECT_EQ(params[0].Value, QStringLiteral("%50\\%\\\\x%"));
    EXPECT_TRUE(cond.contains(QStringLiteral(" ilike ")));
}

struct PgSequenceCase {
    const char* name;
    int start;
    int first;
    int second;
};

void PrintTo(const PgSequenceCase& c, std::ostream* os) { *os << c.name; }

class PGSequence : public PGDBXManTest, public testing::WithParamInterface<PgSequenceCase> {};

TEST_P(PGSequence, NextValReusesItsDataset)
{
    pg.exec(QStringLiteral("create sequence x start with %1 minvalue -100").arg(GetParam().start));
    EXPECT_EQ(man->SequenceNextVal(QStringLiteral("x")), GetParam().first);
    EXPECT_EQ(man->SequenceNextVal(QStringLiteral("x")), GetParam().second);
    EXPECT_EQ(man->DatasetNames(), QStringList{QStringLiteral("sq_x")});
}

INSTANTIATE_TEST_SUITE_P(Cases, PGSequence,
                         testing::Values(PgSequenceCase{"FromOne", 1, 1, 2}, PgSequenceCase{"FromAnyValue", 42, 42, 43},
                                         PgSequenceCase{"FromNegative", -1, -1, 0}),
                         [](const testing::TestParamInfo<PgSequenceCase>& i) { return std::string(i.param.name); });

struct PgLimitCase {
    const char* name;
    QString sql;
    int rows;
    int expected;
};

void PrintTo(const PgLimitCase& c, std::ostream* os) { *os << c.name; }

class PGLimit : public PGDBXManTest, public testing::WithParamInterface<PgLimitCase> {};

TEST_P(PGLimit, TheLimitedQueryRunsOnTheServer)
{
    pg.exec(QStringLiteral("insert into calls select g, 'n' from generate_series(1, 5) g"));
    QString sql;
    man->LimitRows(GetParam().sql, GetParam().rows, sql);
    TSQLQuery* q = man->GetDS(QStringLiteral("lim"), sql, true, false, nullptr);
    int n = 0;
    for (; !q->Eof(); q->Next())
        ++n;
    EXPECT_EQ(n, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, PGLimit,
                         testing::Values(PgLimitCase{"Fewer", QStringLiteral("select id from calls order by id"), 2, 2},
                                         PgLimitCase{"More", QStringLiteral("select id from calls"), 10, 5},
                                         PgLimitCase{"Zero", QStringLiteral("select id from calls"), 0, 0}),
                         [](const testing::TestParamInfo<PgLimitCase>& i) { return std::string(i.param.name); });

TEST_F(PGDBXManTest, CatalogueServices)
{
    EXPECT_TRUE(man->TableExists(QStringLiteral("calls")));
    EXPECT_FALSE(man->TableExists(QStringLiteral("nope")));
    EXPECT_TRUE(man->ProcExists(QStringLiteral("hub_user_update")));
    EXPECT_FALSE(man->ProcExists(QStringLiteral("HUB_USER_UPDATE"))); // compared as given
    EXPECT_FALSE(man->ProcExists(QStringLiteral("nope")));

    const TFieldDefs defs{{QStringLiteral("id"), TFieldType::ftInteger, 0, true}, {QStringLiteral("nm"), TFieldType::ftString, 20, false}};
    EXPECT_TRUE(man->CreateTempTable(QStringLiteral("tmp_users"), defs));
    EXPECT_FALSE(man->CreateTempTable(QStringLiteral("tmp_users"), defs)); // there already: false
    man->ExecSql(QStringLiteral("insert into tmp_users values (1, 'a')"), nullptr, false);
    EXPECT_THROW(man->ExecSql(QStringLiteral("insert into tmp_users values (1, 'b')"), nullptr, false), db::Error);
    try {
        man->CreateTempTable(QStringLiteral("tmp_none"), {});
        ADD_FAILURE() << "no error";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("TPGDBXMan.CreateTempTable : Missing FieldDefs !"));
    }
    EXPECT_TRUE(man->DatasetNames().isEmpty());

    man->SetApplicationName(QStringLiteral("gatekeep_test"));
    EXPECT_EQ(pg.scalar(QStringLiteral("select count(*) from pg_stat_activity where application_name = 'gatekeep_test'")).toInt(), 1);
}

TEST_F(PGDBXManTest, CloneManReachesTheSameDatabase)
{
    std::unique_ptr<TDBBaseMan> clone = man->CloneMan();
    ASSERT_TRUE(dynamic_cast<TPGDBXMan*>(clone.get()));
    EXPECT_EQ(clone->ConnDescr, man->ConnDescr);
    EXPECT_TRUE(clone->TableExists(QStringLiteral("calls")));
}

// With WaitOnLocks the manager's transaction waits for the other connection's lock instead of
// failing: it is seen waiting on the server, then goes through once the other side commits.
TEST_F(PGDBXManTest, WaitOnLocksWaitsForTheOtherConnection)
{
    pg.exec(QStringLiteral("insert into calls values (1, 'a')"));
    ASSERT_TRUE(man->StartTransaction());
    man->ExecSql(QStringLiteral("select 1"), nullptr, false);
    const int pid = man->GetDS(QStringLiteral("pid"), QStringLiteral("select pg_backend_pid()"), true, false, nullptr)->Fields(0).asInteger();
    auto other = std::make_unique<db::Transaction>(pg.admin);
    execSql(pg.admin, QStringLiteral("update calls set first_name = 'other' where id = 1"));

    std::atomic<bool> failed = false;
    QThread* worker = QThread::create([&] {
        try {
            man->ExecSql(QStringLiteral("update calls set first_name = 'mine' where id = 1"), nullptr, false);
            man->commit();
        } catch (const std::exception&) {
            failed = true;
        }
    });
    worker->start();
    // Held at a known point: the server reports the manager's backend waiting on a lock.
    db::Database watcher;
    watcher.setDriverName(QStringLiteral("POSTGRESQL"));
    watcher.params() = pg.admin.params();
    watcher.connect();
    while (!worker->isFinished() &&
           scalarOf(watcher, QStringLiteral("select count(*) from pg_stat_activity where pid = %1 and wait_event_type = 'Lock'").arg(pid))
               .toInt() == 0)
        QThread::yieldCurrentThread();
    other->commit();
    worker->wait();
    delete worker;
    EXPECT_FALSE(failed);
    EXPECT_EQ(calls(), QStringList{QStringLiteral("1:mine")});
}

} // namespace
