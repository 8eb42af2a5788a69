// The self-update killed at any moment, in the middle of its statements or of their commits: the
// next check must bring the database to the last step, or say which database to regenerate.
#include "KillChild.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/SystemSchema.h"
#include "db/Error.h"
#include "maint/SelfUpdate.h"

#include <gtest/gtest.h>

namespace {

struct CheckRun {
    int exitCode;
    QString output;
};

CheckRun runCheck(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral(GK_SELFUPDATE_RUNNER), {path, QStringLiteral("SYSCREAT"), QString()});
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput())};
}

int versionOf(const QString& path)
{
    db::Database d;
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    d.connect();
    return SystemSchemaVersion(d);
}

// Milliseconds after the check has connected; a longer sweep is asked for with GK_SELFUPDATE_KILLS.
QList<int> killMoments()
{
    const int n = qEnvironmentVariableIntValue("GK_SELFUPDATE_KILLS");
    if (n > 0) {
        QList<int> out;
        for (int i = 0; i < n; ++i)
            out << i * 8;
        return out;
    }
    return {0, 2, 5, 10, 15, 20, 30, 40, 60, 80, 120, 200};
}

} // namespace

TEST(SelfUpdateKill, TheNextCheckCompletesAKilledUpdateOrNamesTheDatabaseToRegenerate)
{
    int killed = 0, recovered = 0, named = 0;
    for (int delay : killMoments()) {
        SCOPED_TRACE(delay);
        TempDir tmp;
        const QString path = tmp.path(QStringLiteral("sys.fdb"));
        CreateSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        killed += KillChildAt(QStringLiteral(GK_SELFUPDATE_RUNNER), {path, QStringLiteral("SYSCREAT"), QString()},
                              QProcessEnvironment::systemEnvironment(),
                              [](QProcess& c) { return c.canReadLine() && c.readLine().startsWith("connected"); }, delay);
        const CheckRun again = runCheck(path);
        if (again.exitCode == 0) {
            EXPECT_EQ(versionOf(path), kSelfUpdateLastStep);
            ++recovered;
        } else {
            // Only the state a backup and restore clears may stop it, and the message says so.
            EXPECT_TRUE(again.output.contains(path) && again.output.contains(QStringLiteral("регенер"), Qt::CaseInsensitive))
                << again.output.toStdString();
            ++named;
        }
    }
    std::printf("kills %d, recovered %d, named the database %d\n", killed, recovered, named);
    EXPECT_GE(killed, 6);
}
