// The runner on the Firebird server where two connections matter: a second runner meeting a
// step that another runner is in the middle of, and a runner killed inside a step.
#include "UpdateFixture.h"

#include <QDir>
#include <QProcess>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

namespace {

class SQLUpdaterServerTest : public UpdateFixture {
protected:
    void SetUp() override
    {
        openTarget(true);
        createHistoryTable(m_db);
        QFile::copy(QStringLiteral(GK_TEST_STEPS), m_dir.path(QStringLiteral("libsteps.so")));
        m_held = m_dir.path(QStringLiteral("held"));
        m_release = m_dir.path(QStringLiteral("release"));
        qputenv("GK_TEST_STEP_HELD", m_held.toLocal8Bit());
        qputenv("GK_TEST_STEP_RELEASE", m_release.toLocal8Bit());
    }
    void release()
    {
        QFile f(m_release);
        f.open(QIODevice::WriteOnly);
    }
    // Waiting for the other side to reach its known point, not for a time; false when it
    // ended without reaching it.
    bool waitForHeld(const std::function<bool()>& ended)
    {
        while (!QFile::exists(m_held)) {
            if (ended())
                return QFile::exists(m_held);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    QString holdingScript()
    {
        return writeScript(QStringLiteral("upd.sql"), QStringLiteral(
            "/*sqlstart>1*/\ninsert into T (K, N) values (1, 1)\n/*sqlstop*/\n"
            "/*dllstart>2*/\nDLLName=libsteps.so\nDLLProc=InsertAndHold\n/*dllstop*/\n"
            "/*sqlstart>3*/\ninsert into T (K, N) values (3, 3)\n/*sqlstop*/\n"));
    }
    QString m_held, m_release;
};

TEST_F(SQLUpdaterServerTest, SecondRunnerWaitsAndThenSeesTheStepApplied)
{
    const QString path = writeScript(QStringLiteral("upd.sql"), QStringLiteral(
        "/*dllstart>7*/\nDLLName=libsteps.so\nDLLProc=InsertAndHold\n/*dllstop*/\n"));
    const db::ParamList p = firebirdParams(m_server);
    const auto makeRunner = [&](const QString& suffix, EventLog& log) {
        auto u = std::make_unique<TSQLUpdater>(suffix);
        u->SetLoginParams(QStringLiteral("USER NAME=") + p.value("USER NAME"), QStringLiteral("PASSWORD=") + p.value("PASSWORD"));
        u->PumpMessages = false;
        log.bind(*u);
        u->LoadScript(path);
        u->ServerName = m_server;
        return u;
    };
    EventLog logA, logB;
    auto a = makeRunner("_a", logA);
    auto b = makeRunner("_b", logB);
    std::promise<void> bStarted;
    b->OnStepStart = [&](TSQLUpdater&) { bStarted.set_value(); };

    std::atomic<bool> firstEnded = false;
    std::thread first([&] { a->Connect(); a->RunNextStep(); a->CloseAll(); firstEnded = true; });
    if (!waitForHeld([&] { return firstEnded.load(); })) { // A is inside step 7, its history row not yet written
        first.join();
        FAIL() << logA.lines.join('\n').toStdString();
    }
    std::thread second([&] { b->Connect(); b->RunNextStep(); b->CloseAll(); });
    bStarted.get_future().wait();
    release();
    first.join();
    second.join();

    EXPECT_EQ(logA.lines, QStringList({"start 7", "done 7"}));
    EXPECT_EQ(logB.lines, QStringList({"applied 7"}));
    EXPECT_EQ(column("select N from LIB_LOG"), QStringList({"3"}));
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES"), QStringList({"7"}));
}

TEST_F(SQLUpdaterServerTest, RunKilledInsideAStepResumesWhereItStopped)
{
    const QString path = holdingScript();
    const db::ParamList p = firebirdParams(m_server);
    const QStringList args{path, m_server, p.value("USER NAME"), p.value("PASSWORD")};

    QProcess child;
    child.start(QStringLiteral(GK_STEP_RUNNER), args);
    ASSERT_TRUE(child.waitForStarted());
    // Inside step 2: its library waits with its row written but not committed.
    ASSERT_TRUE(waitForHeld([&] { return child.state() == QProcess::NotRunning; })) << child.readAllStandardOutput().toStdString();
    child.kill();
    child.waitForFinished(-1);
    EXPECT_EQ(QString::fromUtf8(child.readAllStandardOutput()), "start 1\ndone 1\nstart 2\n");
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES"), QStringList({"1"}));

    release();
    QProcess again;
    again.start(QStringLiteral(GK_STEP_RUNNER), args);
    ASSERT_TRUE(again.waitForFinished(-1));
    EXPECT_EQ(QString::fromUtf8(again.readAllStandardOutput()), "start 1\napplied 1\nstart 2\ndone 2\nstart 3\ndone 3\n");
    EXPECT_EQ(column("select SU_NO from SQL_UPDATES order by SU_NO"), QStringList({"1", "2", "3"}));
    EXPECT_EQ(column("select K from T order by K"), QStringList({"1", "3"}));
    EXPECT_EQ(column("select N from LIB_LOG"), QStringList({"3"}));
}

} // namespace
