// 1,000 one-statement steps with a history table, embedded: the runner against isql-fb running
// the same statements and history inserts with a commit after each step. Both databases are
// made alike (forced writes on) and checked for 1,000 rows and 1,000 history rows.
#include "BenchUpdate.h"
#include "Report.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
constexpr int kSteps = 1000;
constexpr int kRounds = 3;

QString makeDatabase(const QTemporaryDir& dir, const QString& name)
{
    return benchNewDatabase(dir, name, {QStringLiteral("create table T (K integer)")});
}

bool check(const QString& path, const char* who)
{
    return benchCheck(path, who, {{QStringLiteral("select count(distinct K) from T"), kSteps},
                                  {QStringLiteral("select count(distinct SU_NO) from SQL_UPDATES"), kSteps}});
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;

    QByteArray script, isql;
    for (int i = 1; i <= kSteps; ++i) {
        script += QStringLiteral("/*sqlstart>%1*/\ninsert into T (K) values (%1)\n/*sqlstop*/\n").arg(i).toLatin1();
        isql += QStringLiteral("insert into T (K) values (%1);\n"
                               "insert into SQL_UPDATES (SU_No,SU_date,SU_fileName,SU_FileDate, SU_CompName,SU_UserName, SU_text) "
                               "values (%1, 'now', 'upd.sql', 'now', 'host', 'user', '/*sqlstart>%1*/\ninsert into T (K) values (%1)\n/*sqlstop*/\n');\n"
                               "commit;\n").arg(i).toLatin1();
    }
    const QString scriptPath = dir.filePath(QStringLiteral("upd.sql"));
    const QString isqlPath = dir.filePath(QStringLiteral("isql.sql"));
    benchWrite(scriptPath, script);
    benchWrite(isqlPath, isql);

    // Alternating rounds on fresh databases, since the disk is shared: medians are reported.
    std::vector<double> runnerMs, toolMs;
    for (int round = 0; round < kRounds; ++round) {
        const QString ours = makeDatabase(dir, QStringLiteral("runner%1.fdb").arg(round));
        const QString theirs = makeDatabase(dir, QStringLiteral("isql%1.fdb").arg(round));
        QElapsedTimer t;
        t.start();
        {
            TSQLUpdater u(QStringLiteral("_bench"));
            if (!benchRun(u, scriptPath, ours))
                return 1;
        }
        runnerMs.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        QProcess p;
        p.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-sqldialect"), QStringLiteral("1"), QStringLiteral("-ch"),
                                             QStringLiteral("WIN1251"), QStringLiteral("-b"), QStringLiteral("-user"), QString::fromLatin1(kBenchUser),
                                             QStringLiteral("-i"), isqlPath, theirs});
        p.waitForFinished(-1);
        toolMs.push_back(t.nsecsElapsed() / 1e6);
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "isql-fb failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        if (!check(ours, "runner") || !check(theirs, "isql-fb"))
            return 1;
    }
    std::sort(runnerMs.begin(), runnerMs.end());
    std::sort(toolMs.begin(), toolMs.end());
    const double runner = runnerMs[kRounds / 2], tool = toolMs[kRounds / 2];
    std::printf("1,000 one-statement steps with history, embedded, forced writes on (median of %d rounds)\n", kRounds);
    std::printf("  runner (load, connect, steps):      %8.1f ms\n", runner);
    std::printf("  isql-fb (same inserts, commit each): %8.1f ms\n", tool);
    std::printf("  ratio: %.2f (goal <= 1.5)\n", runner / tool);
    std::printf("database files on: %s\n", qPrintable(StorageOf(dir.path())));
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
