// The command line of unattended script runs: what is an option and what a login; how a run
// ends when it is stopped, when a database goes away and when another run holds the history.
#include "UpdateFixture.h"

#include "core/CommandLine.h"

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>
#include <iostream>

#include <gtest/gtest.h>

using Action = CommandLine::Action;

namespace {
struct Case {
    const char* name;
    QStringList args;
    Action action;
    QStringList scripts = {};
    QString server = {};
    QString alias = {};
    QString database = {};
    QStringList login = {};
    bool refused = false;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
} // namespace

class ScriptCommandLineTest : public testing::TestWithParam<Case> {};

TEST_P(ScriptCommandLineTest, ParsesTheScriptsTheTargetAndTheLogin)
{
    const Case& c = GetParam();
    const CommandLine cl = ParseCommandLine(c.args);
    EXPECT_EQ(!cl.error.isEmpty(), c.refused) << cl.error.toStdString();
    if (c.refused)
        return;
    EXPECT_EQ(cl.action, c.action);
    EXPECT_EQ(cl.scripts, c.scripts);
    EXPECT_EQ(cl.server, c.server);
    EXPECT_EQ(cl.alias, c.alias);
    EXPECT_EQ(cl.database, c.database);
    EXPECT_EQ(cl.login, c.login);
    EXPECT_EQ(cl.needsWindows(), c.action == Action::Login);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ScriptCommandLineTest,
    testing::Values(
        Case{"apply_one", {"--apply", "upd001.sql"}, Action::Apply, {"upd001.sql"}},
        Case{"apply_several_in_given_order", {"--apply", "b.sql", "--apply", "A.sql"}, Action::Apply, {"b.sql", "A.sql"}},
        Case{"apply_to_server", {"--apply", "u.sql", "--server", "db:/x.fdb"}, Action::Apply, {"u.sql"}, "db:/x.fdb"},
        Case{"apply_to_alias", {"--apply=u.sql", "--alias", "data_db"}, Action::Apply, {"u.sql"}, {}, "data_db"},
        Case{"apply_named_database_with_login", {"--apply", "u.sql", "--database", "pay", "admin", "-pw"}, Action::Apply,
             {"u.sql"}, {}, {}, "pay", {"admin", "-pw"}},
        Case{"preview", {"--preview", "u.sql", "--server", "/db/x.fdb"}, Action::Preview, {"u.sql"}, "/db/x.fdb"},
        Case{"login_that_looks_like_an_option", {"--apply", "u.sql", "--", "--server", "x"}, Action::Apply, {"u.sql"}, {}, {}, {},
             {"--server", "x"}},
        Case{"apply_and_preview", {"--apply", "u.sql", "--preview", "u.sql"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"two_targets", {"--apply", "u.sql", "--server", "x", "--alias", "y"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"target_without_scripts", {"--create-demo", "d", "--server", "x"}, Action::CreateDemo, {}, {}, {}, {}, {}, true},
        Case{"half_a_login", {"--apply", "u.sql", "admin"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"scripts_after_one_apply", {"--apply", "a.sql", "b.sql", "C.SQL"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"a_script_as_the_password", {"--preview", "a.sql", "admin", "b.sql"}, Action::Preview, {}, {}, {}, {}, {}, true},
        Case{"three_words_of_login", {"--apply", "u.sql", "admin", "secret", "more"}, Action::Apply, {}, {}, {}, {}, {}, true},
        Case{"target_as_a_login_is_no_option", {"ivan", "--server"}, Action::Login, {}, {}, {}, {}, {"ivan", "--server"}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// --apply as a process on the Firebird server: stopped by a signal inside a long step, and a
// database that goes away in the middle of the run.
namespace {

// Step 2 inserts rows, counts itself started and then spins until GO is set (or for minutes).
const char* const kLongScript =
    "/*alias>%1*/\n"
    "/*sqlstart>1*/\ninsert into T (K, N) values (1, 1)\n/*sqlstop*/\n"
    "/*sqlstart>2*/\nexecute block as declare i integer = 0; begin\n"
    "insert into T (K, N) select 2, rdb$relation_id from rdb$relations;\n"
    "i = gen_id(STARTED, 1);\n"
    "while (i < 1000000000 and gen_id(GO, 0) = 0) do i = i + 1;\nend\n/*sqlstop*/\n"
    "/*sqlstart>3*/\ninsert into T (K, N) values (3, 3)\n/*sqlstop*/\n";

class ProgramRunTest : public UpdateFixture {
protected:
    void SetUp() override
    {
        openTarget(true);
        createHistoryTable(m_db);
        execSql(m_db, QStringLiteral("create sequence STARTED"));
        execSql(m_db, QStringLiteral("create sequence GO"));
    }
    void start(QProcess& p, const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GATEKEEP_CONFIG_DIR"), m_dir.path(QStringLiteral("config")));
        env.insert(QStringLiteral("GATEKEEP_ZORCFG"), m_dir.path(QStringLiteral("ZorCfg.ini")));
        env.insert(QStringLiteral("GATEKEEP_ALIASES"), m_dir.path(QStringLiteral("aliases.ini")));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(GK_PROGRAM), args);
        ASSERT_TRUE(p.waitForStarted());
    }
    // Until step 2 has begun on the server; false when the program ended first.
    bool waitForLongStep(QProcess& p)
    {
        while (scalarOf(m_db, QStringLiteral("select gen_id(STARTED, 0) from rdb$database")).toInt() == 0) {
            if (p.state() == QProcess::NotRunning || p.waitForFinished(10))
                return false;
        }
        return true;
    }
    static QString text(const QByteArray& b) { return QString::fromLocal8Bit(b); }
    // Until the process blocks SIGTERM and SIGINT (its SigBlk in /proc); false when it ended first.
    static bool waitForSignalsTaken(QProcess& p)
    {
        const std::uint64_t both = (1ull << (SIGTERM - 1)) | (1ull << (SIGINT - 1));
        while (p.state() == QProcess::Running) {
            QFile f(QStringLiteral("/proc/%1/status").arg(p.processId()));
            if (f.open(QIODevice::ReadOnly)) {
                for (const QByteArray& line : f.readAll().split('\n'))
                    if (line.startsWith("SigBlk:") && (line.mid(7).trimmed().toULongLong(nullptr, 16) & both) == both)
                        return true;
            }
            p.waitForFinished(1);
        }
        return false;
    }
};

struct StopCase {
    int signal;
    const char* name;
};
void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopOnSignalTest : public ProgramRunTest, public testing::WithParamInterface<StopCase> {};

TEST_P(StopOnSignalTest, RollsBackTheRunningStepAndSaysSo)
{
    const QString script = writeScript(QStringLiteral("upd.sql"), QString::fromLatin1(kLongScript).arg(QStringLiteral("_menu_")));
    QProcess p;
    start(p, {QStringLiteral("--apply"), script, QStringLiteral("--server"), m_server});
    ASSERT_TRUE(waitForLongStep(p)) << text(p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
    ::kill(static_cast<pid_t>(p.processId()), GetParam().signal);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        FAIL() << "still running after the signal";
    }
    const QString out = text(p.readAllStandardOutput());
    const QString err = text(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 5) << (out + err).toStdString();
    const QString signal = QString::fromLatin1(GetParam().name);
    EXPECT_TRUE(out.contains(QStringLiteral("upd.sql step 1: applied"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("upd.sql step 2: stopped by %1, rolled back").arg(signal))) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("step 3"))) << out.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Stopped by %1 in step 2 of upd.sql: the step rolled back").arg(signal))) << err.toStdString();
    EXPECT_EQ(column(QStringLiteral("select SU_NO from SQL_UPDATES")), QStringList({"1"}));
    EXPECT_EQ(column(QStringLiteral("select distinct K from T")), QStringList({"1"}));

    // The next run applies it.
    scalarOf(m_db, QStringLiteral("select gen_id(GO, 1) from rdb$database"));
    QProcess again;
    start(again, {QStringLiteral("--apply"), script, QStringLiteral("--server"), m_server});
    ASSERT_TRUE(again.waitForFinished(60000));
    EXPECT_EQ(again.exitCode(), 0) << text(again.readAllStandardOutput() + again.readAllStandardError()).toStdString();
    EXPECT_EQ(column(QStringLiteral("select SU_NO from SQL_UPDATES order by SU_NO")), QStringList({"1", "2", "3"}));
    EXPECT_EQ(column(QStringLiteral("select distinct K from T order by K")), QStringList({"1", "2", "3"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, StopOnSignalTest, testing::Values(StopCase{SIGTERM, "SIGTERM"}, StopCase{SIGINT, "SIGINT"}),
                         [](const testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// Signals at moments spread over a whole run: every step is applied whole with its history row or
// not at all, the program ends with 0 or 5, and the next run completes what is left.
TEST_F(ProgramRunTest, EveryStopMomentLeavesWholeStepsAndTheNextRunCompletes)
{
    QString text;
    for (int k = 1; k <= 6; ++k)
        text += QStringLiteral("/*sqlstart>%1*/\nexecute block as declare i integer = 0; begin\n"
                               "insert into T (K, N) select %1, rdb$relation_id from rdb$relations;\n"
                               "while (i < 1000000) do i = i + 1;\nend\n/*sqlstop*/\n").arg(k);
    const QString script = writeScript(QStringLiteral("upd.sql"), text);
    const QStringList args{QStringLiteral("--apply"), script, QStringLiteral("--server"), m_server};
    QMap<QString, int> outcomes;
    for (int moment = 0; moment <= 360; moment += 30) {
        execSql(m_db, QStringLiteral("delete from T"));
        execSql(m_db, QStringLiteral("delete from SQL_UPDATES"));
        QProcess p;
        start(p, args);
        // From the moment the program takes the signals: before that one ends any program.
        ASSERT_TRUE(waitForSignalsTaken(p)) << moment;
        if (!p.waitForFinished(moment)) {
            ::kill(static_cast<pid_t>(p.processId()), moment % 60 ? SIGINT : SIGTERM);
            ASSERT_TRUE(p.waitForFinished(60000)) << moment;
        }
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << moment;
        ASSERT_TRUE(p.exitCode() == 0 || p.exitCode() == 5) << moment << ": " << (out + err).toStdString();
        outcomes[p.exitCode() == 0                               ? QStringLiteral("finished first")
                 : out.contains(QStringLiteral("rolled back"))   ? QStringLiteral("in a step")
                 : err.contains(QStringLiteral("before any step")) ? QStringLiteral("before any step")
                                                                  : QStringLiteral("between steps")]++;
        EXPECT_EQ(column(QStringLiteral("select distinct K from T order by K")), column(QStringLiteral("select SU_NO from SQL_UPDATES order by SU_NO")))
            << moment << ": " << out.toStdString();

        QProcess again;
        start(again, args);
        ASSERT_TRUE(again.waitForFinished(60000));
        EXPECT_EQ(again.exitCode(), 0) << moment;
        EXPECT_EQ(column(QStringLiteral("select count(*) from SQL_UPDATES")), QStringList({"6"})) << moment;
        EXPECT_EQ(column(QStringLiteral("select count(distinct K) from T")), QStringList({"6"})) << moment;
    }
    QStringList figures;
    for (auto it = outcomes.begin(); it != outcomes.end(); ++it)
        figures << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
    std::cout << "stop moments: " << figures.join(QStringLiteral(", ")).toStdString() << '\n';
}

// What goes away while step 2 of the first script runs: the second script's database, or the
// first one's attachment (as a server restart ends it).
struct LossCase {
    const char* name;
    bool inStep;
};
void PrintTo(const LossCase& c, std::ostream* os) { *os << c.name; }

class LostMidRunTest : public ProgramRunTest, public testing::WithParamInterface<LossCase> {};

TEST_P(LostMidRunTest, SaysThatStepsWereAppliedBeforeTheDatabaseWentAway)
{
    const QString other = serverDatabasePath(QStringLiteral("upd_b"));
    const db::ParamList params = firebirdParams(other);
    db::Database::createFirebirdDatabase(other, params.value("USER NAME"), params.value("PASSWORD"));
    {
        db::Database b;
        b.setDriverName(QStringLiteral("INTRBASE"));
        b.params() = params;
        b.connect();
        execSql(b, QStringLiteral("create table T (K integer, N integer)"));
    }
    m_dir.write(QStringLiteral("aliases.ini"), QStringLiteral("[a_db]\nDRIVER=INTRBASE\nSERVER NAME=%1\n[b_db]\nDRIVER=INTRBASE\nSERVER NAME=%2\n")
                                                   .arg(m_server, other).toUtf8());
    writeScript(QStringLiteral("upd001.sql"), QString::fromLatin1(kLongScript).arg(QStringLiteral("a_db")));
    writeScript(QStringLiteral("upd002.sql"), QStringLiteral("/*alias>b_db*/\n/*sqlstart>1*/\ninsert into T (K, N) values (9, 9)\n/*sqlstop*/\n"));

    QProcess p;
    start(p, {QStringLiteral("--apply"), m_dir.path(QStringLiteral("upd002.sql")), QStringLiteral("--apply"), m_dir.path(QStringLiteral("upd001.sql"))});
    ASSERT_TRUE(waitForLongStep(p)) << text(p.readAllStandardOutput() + p.readAllStandardError()).toStdString();
    if (GetParam().inStep) {
        execSql(m_db, QStringLiteral("delete from mon$attachments where mon$attachment_id <> current_connection and mon$system_flag = 0"));
    } else {
        db::Database::dropFirebirdDatabase(other, params.value("USER NAME"), params.value("PASSWORD"));
        scalarOf(m_db, QStringLiteral("select gen_id(GO, 1) from rdb$database"));
    }
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = text(p.readAllStandardOutput());
    const QString err = text(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 4) << (out + err).toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("upd001.sql step 1: applied"))) << out.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("the database cannot be reached"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("stay applied"))) << err.toStdString();
    EXPECT_EQ(column(QStringLiteral("select SU_NO from SQL_UPDATES order by SU_NO")),
              GetParam().inStep ? QStringList({"1"}) : QStringList({"1", "2", "3"}));
    if (GetParam().inStep)
        db::Database::dropFirebirdDatabase(other, params.value("USER NAME"), params.value("PASSWORD"));
}

INSTANTIATE_TEST_SUITE_P(Loss, LostMidRunTest,
                         testing::Values(LossCase{"next_database_dropped", false}, LossCase{"attachment_ended_inside_a_step", true}),
                         [](const testing::TestParamInfo<LossCase>& info) { return std::string(info.param.name); });

// Another run holds the history table: the step is not said to have failed on its own.
class HistoryHeldTest : public UpdateFixture {
protected:
    void SetUp() override
    {
        openTarget(true);
        createHistoryTable(m_db);
    }
};

TEST_F(HistoryHeldTest, AStepThatCannotReserveTheHistoryTableSaysAnotherRunHoldsIt)
{
    const QString path = writeScript(QStringLiteral("upd.sql"), QStringLiteral("/*sqlstart>1*/\ninsert into T (K, N) values (1, 1)\n/*sqlstop*/\n"));
    runner().LockTimeout = 1;
    {
        // The other runner, inside step 1: its reservation and its history row not yet committed.
        db::Transaction other(m_db, db::TransactionOptions{{QStringLiteral("SQL_UPDATES")}, 0});
        execSql(m_db, QStringLiteral("insert into SQL_UPDATES (SU_NO, SU_DATE) values (1, 'now')"));
        const QStringList events = run(path);
        ASSERT_EQ(events.size(), 2) << events.join('\n').toStdString();
        EXPECT_TRUE(events[1].startsWith(QStringLiteral("error Друго обновяване държи таблицата SQL_UPDATES (изчакано 1 с): "
                                                        "стъпка 1 може вече да е приложена от него.")))
            << events[1].toStdString();
        other.commit();
    }
    EXPECT_EQ(run(path), QStringList({"start 1", "applied 1"}));
    EXPECT_EQ(column(QStringLiteral("select count(*) from T")), QStringList({"0"}));
}

} // namespace
