// The Firebird dialect against the test Firebird server (where passwords and a second
// connection matter) and an embedded local file.
#include "ManFixtures.h"

#include "db/Error.h"

namespace {

const char* const kAddUser =
    "create procedure ADD_USER (U_Id integer, U_RNm varchar(60)) returns (RES integer) as "
    "begin insert into CALLS values (:U_Id, :U_RNm); RES = 1; end";

class IBDBXManTest : public testing::Test {
protected:
    IBDBXManTest() : app(QStringLiteral("ibman"))
    {
        app.exec(QStringLiteral("create table CALLS (U_ID integer, U_RNM varchar(60))"));
        app.exec(QString::fromLatin1(kAddUser));
        app.exec(QStringLiteral("create exception ADD_FAILED 'add_user refused'"));
        app.exec(QStringLiteral("create procedure ADD_FAIL (U_Id integer, U_RNm varchar(60)) as begin exception ADD_FAILED; end"));
        app.exec(QStringLiteral("create procedure NO_PARAMS as begin end"));
        man = app.man();
    }
    QStringList calls() { return app.column(QStringLiteral("select U_ID || ':' || U_RNM from CALLS order by U_ID")); }

    FbAppDatabase app;
    std::unique_ptr<TIBDBXMan> man;
};

// The call's text is the Part's own, with the inputs only: a procedure with an output works.
TEST_F(IBDBXManTest, ExecSProcPassesTheInputsOnly)
{
    LogCapture log;
    TParams params;
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("U_Id"), TParamType::ptInput).SetValue(5);
    params.CreateParam(TFieldType::ftString, QStringLiteral("U_RNm"), TParamType::ptInput).SetValue(QStringLiteral("Иван Петров"));
    params.CreateParam(TFieldType::ftInteger, QStringLiteral("RES"), TParamType::ptOutput);
    EXPECT_TRUE(man->ExecSProc(QStringLiteral("add_user"), &params));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("5:Иван Петров")});
    EXPECT_TRUE(log.contains(QStringLiteral("SQL > tDBXMan.ExecSql \rexecute procedure  add_user( :U_Id,:U_RNm) \r\nPrms :")));
    EXPECT_TRUE(man->LastError.isEmpty());
    EXPECT_EQ(params.Count(), 3); // the list stays the caller's, whole
}

TEST_F(IBDBXManTest, GetParamListDescribesTheProcedure)
{
    auto params = man->GetParamList(QStringLiteral("add_user"));
    ASSERT_TRUE(params);
    ASSERT_EQ(params->Count(), 3);
    const TParam& id = params->ParamByName(QStringLiteral("u_id"));
    EXPECT_EQ(id.DataType, TFieldType::ftInteger);
    EXPECT_EQ(id.ParamType, TParamType::ptInput);
    EXPECT_TRUE(id.Bound);
    EXPECT_TRUE(id.IsNull());
    EXPECT_EQ(params->ParamByName(QStringLiteral("U_RNm")).DataType, TFieldType::ftString);
    EXPECT_EQ(params->ParamByName(QStringLiteral("U_RNm")).Size, 60);
    EXPECT_EQ(params->ParamByName(QStringLiteral("res")).ParamType, TParamType::ptOutput);

    params->ParamByName(QStringLiteral("U_Id")).SetValue(9);
    params->ParamByName(QStringLiteral("U_RNm")).SetValue(QStringLiteral("Мария"));
    EXPECT_THROW(params->ParamByName(QStringLiteral("NOT_THERE")), db::Error);
    EXPECT_TRUE(man->ExecSProc(QStringLiteral("add_user"), params.get()));
    EXPECT_EQ(calls(), QStringList{QStringLiteral("9:Мария")});

    EXPECT_EQ(man->GetParamList(QStringLiteral("NO_SUCH_PROC")), nullptr);
    EXPECT_EQ(man->GetParamList(QStringLiteral("no_params")), nullptr);
}

// The error is absorbed: no exception, the message in LastError, and a false result for this
// call only (LastError stays after a later success).
TEST_F(IBDBXManTest, AFailingProcedureIsAbsorbedButReported)
{
    LogCapture log;
    auto params = man->GetParamList(QStringLiteral("ADD_FAIL"));
    ASSERT_TRUE(params);
    params->ParamByName(QStringLiteral("U_Id")).SetValue(1);
    bool ok = true;
    EXPECT_NO_THROW(ok = man->ExecSProc(QStringLiteral("add_fail"), params.get()));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(man->LastError.contains(QStringLiteral("add_user refused"))) << man->LastError.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Грешка в DBManager exception : ")));
    EXPECT_TRUE(log.contains(QStringLiteral(" : ExecSProc :  Exit")));

    auto add = man->GetParamList(QStringLiteral("ADD_USER"));
    add->ParamByName(QStringLiteral("U_Id")).SetValue(2);
    add->ParamByName(QStringLiteral("U_RNm")).SetValue(QStringLiteral("x"));
    EXPECT_TRUE(man->ExecSProc(QStringLiteral("add_user"), add.get()));
    EXPECT_FALSE(man->LastError.isEmpty());

    // A failed selectable call is absorbed too, and gives no dataset.
    EXPECT_EQ(man->GetDSfromProc(QStringLiteral("ADD_FAIL"), params.get()), nullptr);
}

// Recorded operations keep the message and raise it; the others raise it unrecorded.
TEST_F(IBDBXManTest, WhichOperationsRecordErrors)
{
    EXPECT_THROW(man->ExecSql(QStringLiteral("update NOPE set a = 1"), nullptr, false), db::Error);
    EXPECT_TRUE(man->LastError.contains(QStringLiteral("NOPE")));
    man->LastError.clear();
    EXPECT_THROW(man->GetDS(QStringLiteral("ds"), QStringLiteral("select * from NOPE2"), true, false, nullptr), db::Error);
    EXPECT_TRUE(man->LastError.contains(QStringLiteral("NOPE2")));
    man->LastError.clear();
    EXPECT_THROW(man->ExecDirect(QStringLiteral("delete from NOPE3"), nullptr), db::Error);
    EXPECT_TRUE(man->LastError.isEmpty());

    TIBDBXMan wrong(app.path(), QStringLiteral("SYSDBA"), QStringLiteral("not-the-password"));
    EXPECT_THROW(wrong.GetParamList(QStringLiteral("ADD_USER")), db::Error);
    EXPECT_TRUE(wrong.LastError.isEmpty());
    EXPECT_FALSE(wrong.GetConnection().connected());
}

// Every way of failing leaves no attachment behind once the manager is gone.
TEST_F(IBDBXManTest, FailurePathsReleaseTheConnection)
{
    man.reset();
    ASSERT_EQ(app.otherAttachments(), 0);
    {
        TIBDBXMan wrong(app.path(), QStringLiteral("SYSDBA"), QStringLiteral("not-the-password"));
        EXPECT_THROW(wrong.OpenDB(), db::Error);
        EXPECT_EQ(app.otherAttachments(), 0);
    }
    {
        auto m = app.man();
        auto params = m->GetParamList(QStringLiteral("ADD_FAIL"));
        EXPECT_FALSE(m->ExecSProc(QStringLiteral("add_fail"), params.get()));
        EXPECT_THROW(m->ExecSql(QStringLiteral("bad sql"), nullptr, false), db::Error);
        EXPECT_EQ(m->GetParamList(QStringLiteral("NONE_SUCH")), nullptr);
        EXPECT_TRUE(m->StartTransaction());
        EXPECT_EQ(app.otherAttachments(), 1);
    }
    EXPECT_EQ(app.otherAttachments(), 0);
}

TEST_F(IBDBXManTest, NamedDatasets)
{
    app.exec(QStringLiteral("insert into CALLS values (1, 'a')"));
    app.exec(QStringLiteral("insert into CALLS values (2, 'b')"));
    auto* params = new TParams;
    params->CreateParam(TFieldType::ftInteger, QStringLiteral("ID"), TParamType::ptInput).SetValue(1);
    TSQLQuery* q = man->GetDS(QStringLiteral("ds"), QStringLiteral("select U_RNM from CALLS where U_ID = :id"), true, true, params);
    EXPECT_EQ(q->Fields(0).asString(), QStringLiteral("a"));
    // The same name: one dataset, new text and values.
    TParams second;
    second.CreateParam(TFieldType::ftInteger, QStringLiteral("id"), TParamType::ptInput).SetValue(2);
    TSQLQuery* again = man->GetDS(QStringLiteral("ds"), QStringLiteral("select U_RNM from CALLS where U_ID >= :ID"), true, false, &second);
    EXPECT_EQ(again, q);
    EXPECT_EQ(q->Fields(0).asString(), QStringLiteral("b"));
    EXPECT_EQ(man->getDSParams(QStringLiteral("ds")).ParamByName(QStringLiteral("id")).Value, 2);
    QString sql;
    man->GetDSSql(QStringLiteral("ds"), sql);
    EXPECT_EQ(sql, QStringLiteral("select U_RNM from CALLS where U_ID >= :ID"));
    app.exec(QStringLiteral("insert into CALLS values (3, 'c')"));
    EXPECT_EQ(man->GetDS(QStringLiteral("ds"))->Fields(0).asString(), QStringLiteral("b")); // re-opened with its values
    man->CloseDS(QStringLiteral("ds"));
    EXPECT_FALSE(q->Active());

    // Names differ by case for findqr; freeDS frees the first that matches without case.
    TSQLQuery* upper = man->findqr(QStringLiteral("DS"));
    EXPECT_NE(upper, q);
    EXPECT_EQ(man->DatasetNames(), (QStringList{QStringLiteral("ds"), QStringLiteral("DS")}));
    man->freeDS(QStringLiteral("Ds"));
    EXPECT_EQ(man->DatasetNames(), QStringList{QStringLiteral("DS")});
    man->freeDS(QStringLiteral("absent"));

    app.exec(QStringLiteral("create table T2 (A integer)"));
    man->GetDS(QStringLiteral("ins"), QStringLiteral("insert into T2 values (42)"), false, false, nullptr);
    man->execDS(QStringLiteral("ins"));
    EXPECT_EQ(app.scalar(QStringLiteral("select A from T2")).toInt(), 42);
    EXPECT_EQ(man->ExecDirect(QStringLiteral("update T2 set A = 43"), nullptr), 1);
}

TEST_F(IBDBXManTest, NumberedTransactions)
{
    EXPECT_TRUE(man->StartTransaction());
    EXPECT_EQ(man->TransCounter(), 1);
    EXPECT_EQ(man->_startNewTransaction(), 1); // already in one: nothing new
    EXPECT_EQ(man->TransactionNumbers(), QStringList{QStringLiteral("1")});
    man->ExecSql(QStringLiteral("insert into CALLS values (1, 'gone')"), nullptr, false);
    man->rollback();
    EXPECT_TRUE(man->TransactionNumbers().isEmpty());
    EXPECT_TRUE(calls().isEmpty());

    EXPECT_EQ(man->_startNewTransaction(), 2);
    man->ExecSql(QStringLiteral("insert into CALLS values (2, 'kept')"), nullptr, false);
    man->commit();
    EXPECT_EQ(calls(), QStringList{QStringLiteral("2:kept")});

    // CloseDB commits what is still open.
    man->StartTransaction();
    man->ExecSql(QStringLiteral("insert into CALLS values (3, 'closed')"), nullptr, false);
    man->CloseDB();
    EXPECT_EQ(calls().size(), 2);
}

// Without WaitOnLocks a row that another connection holds fails at once.
TEST_F(IBDBXManTest, NoWaitOnLocksFailsAtOnce)
{
    app.exec(QStringLiteral("insert into CALLS values (1, 'a')"));
    man->ConnectionParams().setValue(QStringLiteral("WaitOnLocks"), QStringLiteral("False"));
    db::Transaction other(app.admin);
    execSql(app.admin, QStringLiteral("update CALLS set U_RNM = 'other' where U_ID = 1"));
    ASSERT_TRUE(man->StartTransaction());
    EXPECT_THROW(man->ExecSql(QStringLiteral("update CALLS set U_RNM = 'mine' where U_ID = 1"), nullptr, false), db::Error);
    man->rollback();
}

struct SequenceCase {
    const char* name;
    int start;
    int first;
    int second;
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class IBSequence : public IBDBXManTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(IBSequence, NextValAdvancesAndFreesItsDataset)
{
    app.exec(QStringLiteral("create generator GEN_X"));
    app.exec(QStringLiteral("set generator GEN_X to %1").arg(GetParam().start));
    EXPECT_EQ(man->SequenceNextVal(QStringLiteral("GEN_X")), GetParam().first);
    EXPECT_EQ(man->SequenceNextVal(QStringLiteral("GEN_X")), GetParam().second);
    EXPECT_TRUE(man->DatasetNames().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Cases, IBSequence,
                         testing::Values(SequenceCase{"FromZero", 0, 1, 2}, SequenceCase{"FromAnyValue", 41, 42, 43},
                                         SequenceCase{"FromNegative", -2, -1, 0}),
                         [](const testing::TestParamInfo<SequenceCase>& i) { return std::string(i.param.name); });

struct ServerLimitCase {
    const char* name;
    QString sql;
    int rows;
    int expected;
};

void PrintTo(const ServerLimitCase& c, std::ostream* os) { *os << c.name; }

class IBLimit : public IBDBXManTest, public testing::WithParamInterface<ServerLimitCase> {};

TEST_P(IBLimit, TheLimitedQueryRunsOnTheServer)
{
    for (int i = 1; i <= 5; ++i)
        app.exec(QStringLiteral("insert into CALLS values (%1, 'n')").arg(i));
    QString sql;
    man->LimitRows(GetParam().sql, GetParam().rows, sql);
    TSQLQuery* q = man->GetDS(QStringLiteral("lim"), sql, true, false, nullptr);
    int n = 0;
    for (; !q->Eof(); q->Next())
        ++n;
    EXPECT_EQ(n, GetParam().expected);
}

QString longCallsQuery()
{
    QString cols = QStringLiteral("U_ID");
    while (cols.size() < 1200)
        cols += QStringLiteral(", U_ID + 0");
    return QStringLiteral("select ") + cols + QStringLiteral(" from CALLS where U_ID > 1 order by U_ID");
}

INSTANTIATE_TEST_SUITE_P(Cases, IBLimit,
                         testing::Values(ServerLimitCase{"Fewer", QStringLiteral("select U_ID from CALLS"), 2, 2},
                                         ServerLimitCase{"More", QStringLiteral("select U_ID from CALLS"), 10, 5},
                                         ServerLimitCase{"LongQueryKeepsItsCondition", longCallsQuery(), 10, 4}),
                         [](const testing::TestParamInfo<ServerLimitCase>& i) { return std::string(i.param.name); });

TEST_F(IBDBXManTest, CatalogueServices)
{
    EXPECT_TRUE(man->TableExists(QStringLiteral("calls")));
    EXPECT_FALSE(man->TableExists(QStringLiteral("NOPE")));
    EXPECT_TRUE(man->ProcExists(QStringLiteral("add_user")));
    EXPECT_FALSE(man->ProcExists(QStringLiteral("nope")));

    const TFieldDefs defs{{QStringLiteral("ID"), TFieldType::ftInteger, 0, true},
                          {QStringLiteral("NM"), TFieldType::ftString, 20, false},
                          {QStringLiteral("K"), TFieldType::ftSmallint, 0, false}};
    EXPECT_TRUE(man->CreateTempTable(QStringLiteral("TMP_USERS"), defs));
    EXPECT_TRUE(man->TableExists(QStringLiteral("tmp_users")));
    EXPECT_TRUE(man->CreateTempTable(QStringLiteral("TMP_USERS"), defs)); // there already: true, nothing made
    man->ExecSql(QStringLiteral("insert into TMP_USERS values (1, 'a', 2)"), nullptr, false);
    EXPECT_THROW(man->ExecSql(QStringLiteral("insert into TMP_USERS values (1, 'b', 2)"), nullptr, false), db::Error);

    try {
        man->CreateTempTable(QStringLiteral("TMP_NONE"), {});
        ADD_FAILURE() << "no error";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("TIBDBXMan.CreateTempTable : Missing FieldDefs !"));
    }
    try {
        man->CreateTempTable(QStringLiteral("TMP_BLOB"), {{QStringLiteral("B"), TFieldType::ftBlob, 0, false}});
        ADD_FAILURE() << "no error";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("TIBDBXMan.CreateTempTable : unsupported datatype  "));
    }
    EXPECT_FALSE(man->TableExists(QStringLiteral("TMP_BLOB")));
    EXPECT_TRUE(man->DatasetNames().isEmpty());
}

TEST_F(IBDBXManTest, CloneManReachesTheSameDatabase)
{
    std::unique_ptr<TDBBaseMan> clone = man->CloneMan();
    ASSERT_TRUE(dynamic_cast<TIBDBXMan*>(clone.get()));
    EXPECT_EQ(clone->ConnDescr, man->ConnDescr);
    EXPECT_TRUE(clone->ProcExists(QStringLiteral("ADD_USER")));
}

// A path without ":" is a local file, opened in-process.
TEST(IBDBXManLocal, ALocalPathOpensEmbedded)
{
    TempDir tmp;
    const QString path = tmp.path(QStringLiteral("mod02.fdb"));
    db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    TIBDBXMan man(path, QStringLiteral("SYSDBA"), QString());
    man.ExecSql(QStringLiteral("create table T (A integer)"), nullptr, false);
    man.ExecSql(QStringLiteral("insert into T values (7)"), nullptr, false);
    EXPECT_EQ(man.GetDS(QStringLiteral("t"), QStringLiteral("select A from T"), true, false, nullptr)->Fields(0).asInteger(), 7);
    EXPECT_TRUE(man.TableExists(QStringLiteral("T")));
}

} // namespace

namespace {

// The lines of the log without their time-and-tags prefix.
QStringList bodies(const QStringList& lines)
{
    static const QRegularExpression prefix(QStringLiteral("^\\d{2}\\.\\d{2}\\.\\d{4} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}  -"));
    QStringList out;
    for (const QString& l : lines) {
        QString b = l;
        b.remove(prefix);
        out << b;
    }
    return out;
}

} // namespace

// What each operation writes, in order.
TEST(IBDBXManLog, WhatEachOperationLogs)
{
    TempDir tmp;
    const QString path = tmp.path(QStringLiteral("log.fdb"));
    db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    LogCapture log;
    {
        TIBDBXMan man(path, QStringLiteral("SYSDBA"), QString());
        man.OpenDB();
        man.GetDS(QStringLiteral("ds"), QStringLiteral("select 1 from RDB$DATABASE"), false, false, nullptr);
        man.GetDS(QStringLiteral("ds"));
        man.CloseDS(QStringLiteral("ds"));
        QString sql;
        man.GetDSSql(QStringLiteral("ds"), sql);
        man.getDSParams(QStringLiteral("ds"));
        man.StartTransaction();
        man.commit();
        man.StartTransaction();
        man.rollback();
        man.GetQueryParams(QStringLiteral("select :a from RDB$DATABASE"));
        man.freeDS(QStringLiteral("ds"));
        man.findqr(QStringLiteral("kept"));
    }
    const QStringList expected{
        QStringLiteral(" : tDBXMan.create dbPath = : ") + path,
        QStringLiteral(" : tDBXMan.Create :  Exit"),
        QStringLiteral(" : tDBXMan.OpenDB"),
        QStringLiteral("SQL > tDBXMan.GetDS\rselect 1 from RDB$DATABASE\r\nPrms :"),
        QStringLiteral(" : tDBXMan.findqr qName  : ds"),
        QStringLiteral(" : tDBXMan.GetDS : DSNAME=ds"),
        QStringLiteral(" : tDBXMan.findqr qName  : ds"),
        QStringLiteral(" : CloseDS :  : ds"),
        QStringLiteral(" : tDBXMan.findqr qName  : ds"),
        QStringLiteral(" : tDBXMan.GetDSSql  DSName :  : ds"),
        QStringLiteral(" : tDBXMan.findqr qName  : ds"),
        QStringLiteral(" : tDBXMan.getDSParams DSName :  : ds"),
        QStringLiteral(" : tDBXMan.findqr qName  : ds"),
        QStringLiteral(" : tDBXMan._startNewTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan._startNewTransaction :  Exit"),
        QStringLiteral(" : tDBXMan.commit"),
        QStringLiteral(" : tDBXMan._endTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan._endTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan._startNewTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan._startNewTransaction :  Exit"),
        QStringLiteral(" : tDBXMan._endTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan._endTransaction :  Enter In"),
        QStringLiteral(" : tDBXMan.rollback :  Exit"),
        QStringLiteral(" : tDBXMan.GetQueryParams :  Enter In"),
        QStringLiteral("SQL > tDBXMan.GetQueryParams \rselect :a from RDB$DATABASE\r\nPrms :"),
        QStringLiteral("[ftUnknown:Input] : a = "),
        QStringLiteral(" : tDBXMan.freeDS DSName :  : ds"),
        QStringLiteral(" : tDBXMan.findqr qName  : kept"),
        QStringLiteral(" : tDBXMan.destroy :  Enter In"),
        QStringLiteral(" : CloseDB"),
        QStringLiteral(" : tDBXMan.CloseDB closing QRName :  : kept"),
        QStringLiteral(" : tDBXMan.destroy freeing  : kept"),
        QStringLiteral(" : tDBXMan.destroy :  Exit"),
    };
    EXPECT_EQ(bodies(log.lines), expected);
}
