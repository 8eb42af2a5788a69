// The self-update killed at any moment, in the middle of its statements or of their commits: the
// next check brings the database to the last step. A table creation killed in its commit is
// what used to stop every later check with "cannot create index".
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

// Milliseconds after the check has connected. A longer sweep: GK_SELFUPDATE_KILLS moments 8 ms
// apart, from GK_SELFUPDATE_KILLS_FROM.
QList<int> killMoments()
{
    const int n = qEnvironmentVariableIntValue("GK_SELFUPDATE_KILLS");
    if (n > 0) {
        QList<int> out;
        const int from = qEnvironmentVariableIntValue("GK_SELFUPDATE_KILLS_FROM");
        for (int i = 0; i < n; ++i)
            out << from + i * 8;
        return out;
    }
    return {0, 2, 5, 10, 15, 20, 30, 40, 60, 80, 120, 200};
}

} // namespace

TEST(SelfUpdateKill, TheNextCheckCompletesAKilledUpdate)
{
    int killed = 0, recovered = 0;
    for (int delay : killMoments()) {
        SCOPED_TRACE(delay);
        TempDir tmp;
        const QString path = tmp.path(QStringLiteral("sys.fdb"));
        CreateSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        killed += KillChildAt(QStringLiteral(GK_SELFUPDATE_RUNNER), {path, QStringLiteral("SYSCREAT"), QString()},
                              QProcessEnvironment::systemEnvironment(),
                              [](QProcess& c) { return c.canReadLine() && c.readLine().startsWith("connected"); }, delay);
        const CheckRun again = runCheck(path);
        EXPECT_EQ(again.exitCode, 0) << again.output.toStdString();
        if (again.exitCode == 0) {
            EXPECT_EQ(versionOf(path), kSelfUpdateLastStep);
            ++recovered;
        }
    }
    std::printf("kills %d, recovered %d\n", killed, recovered);
    EXPECT_GE(killed, 6);
}
