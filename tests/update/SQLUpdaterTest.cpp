// The runner against an embedded Firebird database: steps run once with a history table and
// every time without one, a failed step leaves no trace, and what each kind of step writes.
#include "UpdateFixture.h"

#include "update/UpdateText.h"

#include "core/InputError.h"
#include "ui/MemDataSet.h"

#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include <vector>

namespace {

class SQLUpdaterTest : public UpdateFixture {
protected:
    void SetUp() override { openTarget(false); }
};

const QString kThreeSteps = QStringLiteral(
    "/*alias>data_db*/\n"
    "/*sqlstart>0*/\ninsert into T (K, N) values (0, 0)\n/*sqlstop*/\n"
    "/*sqlstart>1*/\ninsert into T (K, N) values (1, 1)\n/*sqlstop*/\n"
    "/*manystart>2*/\ninsert into T (K, N) values (2, 1);\ninsert into T (K, N) values (2, 2);\n/*manystop*/\n");

TEST_F(SQLUpdaterTest, SecondRunAppliesNothingButStepZero)
{
    createHistoryTable(m_db);
    const QString path = writeScript(QStringLiteral("upd001.sql"), kThreeSteps);
    EXPECT_EQ(run(path), QStringList({"start 0", "done 0", "start 1", "done 1", "start 2", "done 2"}));
    EXPECT_EQ(runner().Alias, "data_db");
    EXPECT_EQ(run(path), QStringList({"start 0", "done 0", "start 1", "applied 1", "start 2", "applied 2"}));
    EXPECT_EQ(column("select K from T order by K, N"), QStringList({"0", "0", "1", "2", "2"}));
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES order by SU_ID"), QStringList({"0", "1", "2", "0"}));

    db::Query q(&m_db);
    q.setSql(QStringLiteral("select SU_FILENAME, SU_COMPNAME, SU_USERNAME, SU_TEXT, SU_DATE, SU_FILEDATE from SQL_UPDATES where SU_NO = 1"));
    q.open();
    EXPECT_EQ(q.field(0).asString(), QFileInfo(path).absoluteFilePath());
    EXPECT_FALSE(q.field(1).asString().isEmpty());
    EXPECT_FALSE(q.field(2).asString().isEmpty());
    EXPECT_EQ(q.field(3).asString(), "/*sqlstart>1*/\r\ninsert into T (K, N) values (1, 1)\r\n/*sqlstop*/\r\n");
    EXPECT_TRUE(q.field(4).asDateTime().isValid());
    EXPECT_EQ(q.field(5).asDateTime().date(), QFileInfo(path).lastModified().date());
}

TEST_F(SQLUpdaterTest, HistoryStatementsAreAsWritten)
{
    EXPECT_EQ(TSQLUpdater::CheckSqlPattern().arg("SQL_UPDATES"), "select * from SQL_UPDATES where SU_No = :SUN");
    EXPECT_EQ(TSQLUpdater::InsertSqlPattern().arg("H"),
              "insert into H (SU_No,SU_date,SU_fileName,SU_FileDate, SU_CompName,SU_UserName, SU_text) \r"
              "values (:SU_No, 'now', :SU_fileName, :SU_FileDate, :SU_CompName, :SU_UserName, :SU_text)");
    EXPECT_EQ(TSQLUpdater::FormatDuration(3723'000), "01:02:03");
    EXPECT_EQ(TSQLUpdater::ZeroDate().date(), QDate(1899, 12, 30));
}

TEST_F(SQLUpdaterTest, WithoutHistoryTableEveryStepRunsEveryTimeAndNoTableIsCreated)
{
    const QString path = writeScript(QStringLiteral("upd001.sql"), kThreeSteps);
    run(path);
    run(path);
    EXPECT_FALSE(runner().HistoryExists);
    EXPECT_EQ(column("select count(*) from T"), QStringList({"8"}));
    EXPECT_FALSE(m_db.tableNames().contains("SQL_UPDATES", Qt::CaseInsensitive));
}

TEST_F(SQLUpdaterTest, HistoryTableOfTheDirectiveIsTheOneUsed)
{
    createHistoryTable(m_db, QStringLiteral("UPD_LOG"));
    createHistoryTable(m_db);
    const QString path = writeScript(QStringLiteral("upd001.sql"), QStringLiteral("/*hist_tbl>upd_log*/\n") + kThreeSteps);
    run(path);
    EXPECT_EQ(run(path), QStringList({"start 0", "done 0", "start 1", "applied 1", "start 2", "applied 2"}));
    EXPECT_EQ(column("select count(*) from UPD_LOG"), QStringList({"4"}));
    EXPECT_EQ(column("select count(*) from SQL_UPDATES"), QStringList({"0"}));
}

TEST_F(SQLUpdaterTest, FailedStepLeavesNoTraceAndTheRunGoesOn)
{
    createHistoryTable(m_db);
    const QString path = writeScript(QStringLiteral("upd001.sql"), QStringLiteral(
        "/*manystart>1*/\ninsert into T (K, N) values (1, 1);\ninsert into NO_SUCH (K) values (1);\n/*manystop*/\n"
        "/*sqlstart>2*/\ninsert into T (K, N) values (2, 2)\n/*sqlstop*/\n"));
    const QStringList events = run(path);
    ASSERT_EQ(events.size(), 4);
    EXPECT_TRUE(events[1].startsWith("error ") && events[1].contains("NO_SUCH")) << events[1].toStdString();
    EXPECT_EQ(events[3], "done 2");
    EXPECT_EQ(column("select K from T"), QStringList({"2"}));
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES"), QStringList({"2"}));
    // The next run retries it.
    writeScript(QStringLiteral("upd001.sql"), QStringLiteral("/*manystart>1*/\ninsert into T (K, N) values (1, 1);\n/*manystop*/\n"));
    run(path);
    EXPECT_EQ(column("select K from T order by K"), QStringList({"1", "2"}));
}

TEST_F(SQLUpdaterTest, CreatingAndUsingInOneStepNamesTheCause)
{
    const QString path = writeScript(QStringLiteral("upd001.sql"), QStringLiteral(
        "/*manystart>1*/\ncreate table NEWT (A integer);\ninsert into NEWT (A) values (1);\n/*manystop*/\n"));
    const QStringList errors = (run(path), m_events.errors());
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].endsWith(UpdateText::CreatedInSameStep)) << errors[0].toStdString();
}

// Step 12 updates every row; step 13, over the same ranges, logs how many keys each statement saw.
const QString kRangeSteps = QStringLiteral(
    "/*stepname>T|%1|K*//*12*/\n/*stepname>T|%1|K*//*13*/\n"
    "/*sqlstart>12*/\nupdate T set N = N + 1 where\n/*sqlstop*/\n"
    "/*sqlstart>13*/\ninsert into LIB_LOG (N) select count(*) from T where\n/*sqlstop*/\n");

// Every row once; the ranges lie on the grid from the least key, and one that holds no key is
// not run.
TEST_F(SQLUpdaterTest, RangeStepsProcessEveryRowOnce)
{
    const struct {
        const char* name;
        qint64 first, last;
        std::vector<qint64> more;
        int size;
        QStringList counts;
    } cases[] = {
        {"OneToTwentyFive", 1, 25, {}, 10, {"10", "10", "5"}},
        {"NearTheTopOf32Bits", 2147483640, 2147483647, {}, 3, {"3", "3", "2"}},
        {"OneRow", 5, 5, {}, 10, {"1"}},
        {"Gaps", 1, 3, {50, 51, 52, 200}, 10, {"3", "1", "2", "1"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        execSql(m_db, QStringLiteral("delete from T"));
        execSql(m_db, QStringLiteral("delete from LIB_LOG"));
        std::vector<qint64> keys = c.more;
        for (qint64 k = c.first; k <= c.last; ++k)
            keys.push_back(k);
        for (qint64 k : keys)
            execSql(m_db, QStringLiteral("insert into T (K, N) values (%1, 0)").arg(k));
        const QString path = writeScript(QStringLiteral("upd.sql"), kRangeSteps.arg(c.size));
        EXPECT_TRUE(run(path).filter("error").isEmpty());
        EXPECT_EQ(column("select distinct N from T"), QStringList({"1"}));
        EXPECT_EQ(column("select N from LIB_LOG"), c.counts);
    }
}

// Keys spread over the whole 32-bit range: walking every empty range would run for hours. The
// runner is a process of its own, so that a walk that does not end can be stopped.
TEST_F(SQLUpdaterTest, RangeStepOverASparseKeyEndsAtOnce)
{
    const std::vector<qint64> keys{-3, -2, 0, 9, 10, 1000, 123456789, 2147483640, 2147483647};
    for (qint64 k : keys)
        execSql(m_db, QStringLiteral("insert into T (K, N) values (%1, 0)").arg(k));
    const QString path = writeScript(QStringLiteral("upd.sql"), kRangeSteps.arg(10));
    m_db.disconnect(); // the embedded file is the child's alone while it runs
    const db::ParamList p = firebirdParams(m_server);
    QProcess child;
    child.start(QStringLiteral(GK_STEP_RUNNER), {path, m_server, p.value("USER NAME"), p.value("PASSWORD")});
    const bool ended = child.waitForFinished(60'000);
    if (!ended) {
        child.kill();
        child.waitForFinished(-1);
    }
    m_db.connect();
    ASSERT_TRUE(ended) << "still running after 60 s";
    EXPECT_EQ(QString::fromUtf8(child.readAllStandardOutput()), "start 12\ndone 12\nstart 13\ndone 13\n");
    EXPECT_EQ(column("select distinct N from T"), QStringList({"1"}));
    // [-3, 6], [7, 16], [997, 1006], [123456787, 123456796], [2147483637, 2147483646], [2147483647, 2147483656]
    EXPECT_EQ(column("select N from LIB_LOG"), QStringList({"3", "2", "1", "1", "1", "1"}));
}

// The SQL sent keeps the file's line breaks (a literal over two lines holds the file's own);
// "set term" inside a statement is SQL. The history keeps each line followed by CR LF.
TEST_F(SQLUpdaterTest, StatementsReachTheDatabaseAsWritten)
{
    createHistoryTable(m_db);
    execSql(m_db, QStringLiteral("create table TXT (K integer, S varchar(20), TERM_MONTHS integer)"));
    const struct {
        const char* name;
        const char* script;
        const char* value;
    } cases[] = {
        {"LfNormal", "/*sqlstart>1*/\ninsert into TXT (K, S) values (1, 'a\nb')\n/*sqlstop*/\n", "a\nb"},
        {"CrMany", "/*manystart>2*/\rinsert into TXT (K, S) values (2, 'a\rb');\r/*manystop*/\r", "a\rb"},
        {"CrLfMany", "/*manystart>3*/\r\ninsert into TXT (K, S) values (3, 'a\r\nb');\r\n/*manystop*/\r\n", "a\r\nb"},
        {"CrNormal", "/*sqlstart>4*/\rinsert into TXT (K, S)\rvalues (4, 'a\rb')\r/*sqlstop*/", "a\rb"},
        {"SetTermInAStatement", "/*manystart>5*/\ninsert into TXT (K) values (5);\nupdate TXT set term_months = 24 where K = 5;\n/*manystop*/\n", ""},
    };
    for (int i = 0; i < int(std::size(cases)); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        const QString path = writeScript(QStringLiteral("upd%1.sql").arg(i), QString::fromUtf8(c.script));
        EXPECT_TRUE(run(path).filter("error").isEmpty()) << m_events.lines.join('\n').toStdString();
        EXPECT_EQ(column(QStringLiteral("select coalesce(S, '') from TXT where K = %1").arg(i + 1)), QStringList({c.value}));
    }
    EXPECT_EQ(column("select TERM_MONTHS from TXT where K = 5"), QStringList({"24"}));
    db::Query q(&m_db);
    q.setSql(QStringLiteral("select SU_TEXT from SQL_UPDATES where SU_NO = 2"));
    q.open();
    EXPECT_EQ(q.field(0).asString(), "/*manystart>2*/\r\ninsert into TXT (K, S) values (2, 'a\r\nb');\r\n/*manystop*/\r\n");
}

TEST_F(SQLUpdaterTest, RangeStepOnAnEmptyTableRunsOnce)
{
    const QString path = writeScript(QStringLiteral("upd.sql"), QStringLiteral(
        "/*stepname>T|10|K*//*3*/\n/*sqlstart>3*/\ninsert into LIB_LOG (N) select count(*) from T where\n/*sqlstop*/\n"));
    run(path);
    EXPECT_EQ(column("select N from LIB_LOG"), QStringList({"0"})); // one statement, over no rows
}

TEST_F(SQLUpdaterTest, SpecialStepsCopyInPlaceAndAcrossTables)
{
    execSql(m_db, QStringLiteral("create table SRC (SK varchar(10), SV integer)"));
    execSql(m_db, QStringLiteral("create table DST (DK varchar(10), DV integer, DW integer)"));
    execSql(m_db, QStringLiteral("insert into DST values ('ABC', 1, 0)"));
    execSql(m_db, QStringLiteral("insert into DST values ('keep', 2, 0)"));
    execSql(m_db, QStringLiteral("insert into SRC values ('abc', 10)"));
    execSql(m_db, QStringLiteral("insert into SRC values ('new', 20)"));
    execSql(m_db, QStringLiteral("insert into SRC values ('skip', -1)"));
    const QString copy = QStringLiteral("/*specstart>1*/\nSTbl=SRC\nDTbl=DST\nClearDest=%1\nSKeyFields=SK\nDKeyFields=DK\n"
                                        "SFields=SV\nDFields=DV\nSFilter=SV > 0\n/*specstop*/\n");
    run(writeScript(QStringLiteral("a.sql"), copy.arg("yes")));
    EXPECT_EQ(column("select DK || '=' || DV from DST order by DK"), QStringList({"ABC=10", "keep=2", "new=20"}));

    run(writeScript(QStringLiteral("b.sql"),
                    QStringLiteral("/*specstart>2*/\nDTbl=DST\nSFields=DV;DW\nDFields=DW;DV\nDFilter=DK <> 'keep'\n/*specstop*/\n")));
    // Field by field: DW takes DV, then DV takes the new DW.
    EXPECT_EQ(column("select DK || '=' || DV || ',' || DW from DST order by DK"), QStringList({"ABC=10,10", "keep=2,0", "new=20,20"}));

    run(writeScript(QStringLiteral("c.sql"), copy.arg("1")));
    EXPECT_EQ(column("select DK || '=' || DV from DST order by DK"), QStringList({"abc=10", "new=20"}));
}

// The target through the script's alias (no server path), and a special step reading another
// database through SDB, both resolved by the alias layer.
TEST_F(SQLUpdaterTest, AliasesReachTheTargetAndTheSourceDatabase)
{
    const QString other = m_dir.path(QStringLiteral("source.fdb"));
    const db::ParamList p = firebirdParams(other);
    db::Database::createFirebirdDatabase(other, p.value("USER NAME"), p.value("PASSWORD"), false);
    {
        db::Database src;
        src.setDriverName(QStringLiteral("INTRBASE"));
        src.params() = p;
        src.connect();
        execSql(src, QStringLiteral("create table S (K integer, N integer)"));
        execSql(src, QStringLiteral("insert into S values (4, 40)"));
    }
    const QMap<QString, QString> paths{{QStringLiteral("target_db"), m_server}, {QStringLiteral("source_db"), other}};
    db::Database::setAliasResolver([&](const QString& alias, QString& driver, db::ParamList& params) {
        if (!paths.contains(alias))
            return false;
        driver = QStringLiteral("INTRBASE");
        params.setValue(QStringLiteral("SERVER NAME"), paths[alias]);
        return true;
    });
    const QString path = writeScript(QStringLiteral("upd.sql"), QStringLiteral(
        "/*alias>Target_DB*/\n/*specstart>1*/\nSDB=source_db\nSTbl=S\nDTbl=T\nSKeyFields=K\nDKeyFields=K\nSFields=N\nDFields=N\n/*specstop*/\n"));
    TSQLUpdater& u = runner();
    QStringList asked;
    u.OnGetServer = [&](const QString& alias, QString& server) { asked << alias + QLatin1Char('|') + server; };
    u.LoadScript(path);
    u.Connect();
    while (u.RunNextStep()) {
    }
    u.CloseAll();
    db::Database::setAliasResolver({});
    EXPECT_EQ(asked, QStringList({"target_db|"}));
    EXPECT_TRUE(m_events.errors().isEmpty()) << m_events.errors().join('\n').toStdString();
    EXPECT_EQ(column("select K || '=' || N from T"), QStringList({"4=40"}));
}

TEST_F(SQLUpdaterTest, LibraryStepWritesInTheStepsTransaction)
{
    createHistoryTable(m_db);
    QFile::copy(QStringLiteral(GK_TEST_STEPS), m_dir.path(QStringLiteral("libsteps.so")));
    const QString lib = QStringLiteral("/*dllstart>%1*/\nDLLName=%2\nDLLProc=%3\n/*dllstop*/\n");
    QFile::copy(QStringLiteral(GK_TEST_STEPS), m_dir.path(QStringLiteral("libbroken.so")));
    QFile broken(m_dir.path(QStringLiteral("libbroken.so")));
    ASSERT_TRUE(broken.resize(100));
    const QString path = writeScript(QStringLiteral("upd.sql"),
                                     lib.arg(1).arg("libsteps.so", "InsertRow") + lib.arg(2).arg("libsteps.so", "InsertThenFail") +
                                         lib.arg(3).arg("libbroken.so", "InsertRow") + lib.arg(4).arg("libsteps.so", "NoSuchProc") +
                                         lib.arg(5).arg("steps", "InsertRow"));
    const QStringList events = run(path);
    EXPECT_EQ(m_events.errors(), QStringList({
        "error Грешка във функция InsertThenFail от libsteps.so",
        "error Не може да зареди библиотеката libbroken.so",
        "error Не може да намери функцията NoSuchProc от libsteps.so",
    }));
    EXPECT_EQ(column("select N from LIB_LOG"), QStringList({"1", "1"}));
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES order by SU_NO"), QStringList({"1", "5"}));
}

// A library that is not next to the script stops the script at load, before its earlier steps.
TEST_F(SQLUpdaterTest, MissingLibraryRefusesTheScriptBeforeAnyStep)
{
    const QString path = writeScript(QStringLiteral("upd.sql"), QStringLiteral(
        "/*sqlstart>1*/\ninsert into T (K, N) values (1, 1)\n/*sqlstop*/\n"
        "/*dllstart>2*/\nDLLProc=InsertRow\nDLLName=libnone.so\n/*dllstop*/\n"));
    try {
        run(path);
        FAIL() << "loaded";
    } catch (const InputError& e) {
        EXPECT_TRUE(e.message().startsWith("Скрипт \"upd.sql\", стъпка 2, ред 6: библиотеката \"libnone.so\" не е намерена"))
            << e.message().toStdString();
    }
    EXPECT_EQ(column("select count(*) from T"), QStringList({"0"}));
}

TEST_F(SQLUpdaterTest, HistoryGrowsByTheNewRowsOnly)
{
    createHistoryTable(m_db);
    run(writeScript(QStringLiteral("upd001.sql"), kThreeSteps));
    TSQLUpdater& u = runner();
    u.LoadScript(writeScript(QStringLiteral("upd002.sql"), QStringLiteral("/*sqlstart>5*/\ninsert into T (K, N) values (5, 5)\n/*sqlstop*/\n")));
    u.ServerName = m_server;
    u.Connect();
    EXPECT_EQ(u.HistoryTable().sourceRowCount(), 3);
    EXPECT_TRUE(u.RunNextStep());
    EXPECT_EQ(u.HistoryTable().sourceRowCount(), 4);
    EXPECT_EQ(u.HistoryTable().value("SU_NO").toInt(), 5);
    EXPECT_EQ(u.HistoryTable().value("SU_TEXT").toString(), "/*sqlstart>5*/\r\ninsert into T (K, N) values (5, 5)\r\n/*sqlstop*/\r\n");
    EXPECT_FALSE(u.RunNextStep());
    EXPECT_FALSE(u.RunNextStep());
    EXPECT_EQ(u.Cursor, 3);
}

TEST_F(SQLUpdaterTest, ScriptThatFailsToLoadLeavesNoSteps)
{
    TSQLUpdater& u = runner();
    u.LoadScript(writeScript(QStringLiteral("good.sql"), kThreeSteps));
    EXPECT_EQ(u.StepCount(), 3);
    EXPECT_THROW(u.LoadScript(writeScript(QStringLiteral("bad.sql"), kThreeSteps + "/*sqlstart>x*/\n/*sqlstop*/\n")), InputError);
    EXPECT_EQ(u.StepCount(), 0);
}

TEST_F(SQLUpdaterTest, ConnectionFailureIsReportedAndEveryStepFails)
{
    TSQLUpdater& u = runner();
    u.LoadScript(writeScript(QStringLiteral("upd.sql"), kThreeSteps));
    u.ServerName = m_dir.path(QStringLiteral("missing.fdb"));
    m_events.lines.clear();
    u.Connect();
    ASSERT_EQ(m_events.errors().size(), 1);
    while (u.RunNextStep()) {
    }
    EXPECT_EQ(m_events.errors().size(), 4);
}

} // namespace
