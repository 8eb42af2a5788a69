// Regeneration of a 100 MB embedded database through the window, against the same two gbak
// commands run one after the other as an administrator would type them. Runs alternate so that
// the page cache favours neither; each restored database is checked for every row.
#include "core/Prompts.h"
#include "maint/Refresh.h"

#include "db/Database.h"
#include "db/Query.h"

#include "Report.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kUser = QStringLiteral("SYSDBA");
constexpr int kRows = 100'000; // of about 1 KB each

db::Database& open(db::Database& d, const QString& path)
{
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params().setValue(QStringLiteral("SERVER NAME"), path);
    d.params().setValue(QStringLiteral("USER NAME"), kUser);
    d.connect();
    return d;
}

void exec(db::Database& d, const QString& sql)
{
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    q.execSql();
}

int rowsOf(const QString& path)
{
    db::Database d;
    db::Query q(&open(d, path));
    q.setSql(QStringLiteral("select count(*) from T"));
    q.open();
    return q.field(0).value().toInt();
}

bool gbak(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ISC_USER"), kUser);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("/usr/bin/gbak"), args);
    p.waitForFinished(-1);
    p.readAll();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/regen-XXXXXX") : QString());
    const QString base = dir.filePath(QStringLiteral("db/main.fdb"));
    QDir().mkpath(dir.filePath(QStringLiteral("db")));
    db::Database::createFirebirdDatabase(base, kUser, QString());
    {
        db::Database d;
        open(d, base);
        exec(d, QStringLiteral("create table T (ID integer, PAD varchar(1000))"));
        // Text that the engine's run-length compression cannot shrink, so that the file is 100 MB.
        QStringList uuids;
        for (int i = 0; i < 27; ++i)
            uuids << QStringLiteral("uuid_to_char(gen_uuid())");
        exec(d, QStringLiteral("insert into T (ID, PAD) "
                               "with recursive a(n) as (select 1 from rdb$database union all select n + 1 from a where n < 400), "
                               "b(m) as (select 1 from rdb$database union all select m + 1 from b where m < 250) "
                               "select a.n * 1000 + b.m, %1 from a cross join b")
                    .arg(uuids.join(QStringLiteral(" || "))));
    }
    const double mb = QFileInfo(base).size() / 1048576.0;

    qputenv("GATEKEEP_CONFIG_DIR", dir.filePath(QStringLiteral("config")).toUtf8());
    qputenv("GATEKEEP_ZORCFG", dir.filePath(QStringLiteral("ZorCfg.ini")).toUtf8());
    {
        QFile ini(dir.filePath(QStringLiteral("ZorCfg.ini")));
        ini.open(QIODevice::WriteOnly);
        ini.write(QStringLiteral("[Mod01]\nNumber=1\nDBN1=main\nCaption1=Main\nServIP1=\nBaseName1=%1\nsysBaseName1=sys\n").arg(base).toUtf8());
    }

    std::vector<double> byHand, program;
    for (int run = 0; run < runs; ++run) {
        const QString work = dir.filePath(QStringLiteral("work%1/").arg(run));
        QDir().mkpath(work);
        QElapsedTimer t;
        t.start();
        const QString backup = work + QStringLiteral("hand.gbk");
        const QString restored = dir.filePath(QStringLiteral("db/hand%1.gdb").arg(run));
        if (!gbak({QStringLiteral("-g"), QStringLiteral("-b"), QStringLiteral("-v"), base, backup}) ||
            !gbak({QStringLiteral("-c"), QStringLiteral("-v"), QStringLiteral("-p"), QStringLiteral("4096"), backup, restored})) {
            std::fprintf(stderr, "gbak by hand failed\n");
            return 1;
        }
        byHand.push_back(t.nsecsElapsed() / 1e9);

        bool ok = false;
        t.restart();
        {
            TfrmRefresh w;
            w.setWorkDir(work);
            w.setGbakFolders({QStringLiteral("/usr/bin")});
            // The rename message would wait for an OK.
            setPrompts(nullptr);
            if (!w.LocateGbak())
                return 1;
            w.selectEntry(0);
            QObject::connect(&w, &TfrmRefresh::finished, [&ok](bool result) { ok = result; });
            w.Start();
            while (w.running())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        program.push_back(t.nsecsElapsed() / 1e9);
        const QStringList made = QDir(dir.filePath(QStringLiteral("db"))).entryList({QStringLiteral("main*.gdb")});
        if (!ok || made.size() != 1 || rowsOf(dir.filePath(QStringLiteral("db/")) + made[0]) != kRows ||
            rowsOf(restored) != kRows) {
            std::fprintf(stderr, "a regeneration failed or lost rows\n");
            return 1;
        }
        QFile::remove(dir.filePath(QStringLiteral("db/")) + made[0]);
        QFile::remove(restored);
        QDir(work).removeRecursively();
    }
    const double hand = Median(byHand), ours = Median(program);
    std::printf("database: %.0f MB, %d rows\n", mb, kRows);
    std::printf("gbak backup + restore by hand: %.2f s (median of %d)\n", hand, runs);
    std::printf("regeneration window:            %.2f s (median of %d), %.3f x by hand (goal <= 1.1)\n", ours, runs, ours / hand);
    std::printf("database files on: %s\n", qPrintable(StorageOf(dir.path())));
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
