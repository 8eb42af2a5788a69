// A copy-mode special step of 100,000 source rows, half of them updating rows the destination
// has and half appended, embedded: the runner against "update or insert" of the same rows,
// row at a time in one transaction through the same connection layer. Both results are checked.
#include "BenchUpdate.h"
#include "Report.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {
constexpr int kRows = 100000;

QString makeDatabase(const QTemporaryDir& dir, const QString& name)
{
    return benchNewDatabase(dir, name,
                            {QStringLiteral("create table SRC (K integer not null primary key, NAME varchar(40), V integer)"),
                             QStringLiteral("create table DST (K integer not null primary key, NAME varchar(40), V integer)"),
                             QStringLiteral("execute block as declare i integer = 0; begin "
                                            "while (i < %1) do begin "
                                            "insert into SRC values (:i, 'name ' || :i, :i * 2); "
                                            "if (i < %2) then insert into DST values (:i, 'old', -1); "
                                            "i = i + 1; end end").arg(kRows).arg(kRows / 2)});
}

bool check(const QString& path, const char* who)
{
    return benchCheck(path, who, {{QStringLiteral("select count(*) from DST"), kRows},
                                  {QStringLiteral("select count(*) from DST where V = K * 2 and NAME = 'name ' || K"), kRows}});
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString ours = makeDatabase(dir, QStringLiteral("runner.fdb"));
    const QString theirs = makeDatabase(dir, QStringLiteral("merge.fdb"));
    const QString scriptPath = dir.filePath(QStringLiteral("upd.sql"));
    benchWrite(scriptPath, "/*specstart>1*/\nSTbl=SRC\nDTbl=DST\nSKeyFields=K\nDKeyFields=K\nSFields=NAME;V\nDFields=NAME;V\n/*specstop*/\n");

    QElapsedTimer t;
    t.start();
    {
        TSQLUpdater u(QStringLiteral("_bench"));
        if (!benchRun(u, scriptPath, ours))
            return 1;
    }
    const double runner = t.nsecsElapsed() / 1e6;

    t.restart();
    {
        db::Database d;
        benchConnect(d, theirs);
        db::Transaction tr(d);
        db::Query src(&d);
        src.setSql(QStringLiteral("select K, NAME, V from SRC"));
        db::Connection& c = d.connection();
        const QString sql = QStringLiteral("update or insert into DST (K, NAME, V) values (?, ?, ?) matching (K)");
        for (src.open(); !src.eof(); src.next())
            c.execute(sql, {src.field(0).value(), src.field(1).value(), src.field(2).value()});
        src.close();
        tr.commit();
    }
    const double merge = t.nsecsElapsed() / 1e6;
    if (!check(ours, "runner") || !check(theirs, "update or insert"))
        return 1;
    std::printf("copy-mode special step, %d rows (half updates, half appends), embedded\n", kRows);
    std::printf("  runner step:                      %8.1f ms\n", runner);
    std::printf("  update or insert, row at a time:  %8.1f ms\n", merge);
    std::printf("  ratio: %.2f (goal <= 3)\n", runner / merge);
    std::printf("database files on: %s\n", qPrintable(StorageOf(dir.path())));
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
