// LoadUserList over 100,000 users of an embedded system database, against fetching the same
// columns through the connection layer alone. Each measurement runs in a process of its own,
// so that its peak memory is its own; times are medians of five runs.
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"
#include "users/UserRights.h"

#include "db/Query.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kUsers = 100000;

long peakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int measure(const QString& mode, const QString& path)
{
    TDM dm;
    SetStartupConnection(dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
    dm.db_Sys.connect();
    const QString sql = QStringLiteral("select User_id,user_rnm,user_fnm,user_flags,user_expdate,user_domainuser, user_domainname, "
                                       "user_domainsid, User_FPW, user_cert from users where user_id >0");
    QElapsedTimer t;
    double ms = 0;
    if (mode == QLatin1String("fetch")) {
        // Every column of every row kept in memory, as a list needs them.
        t.start();
        std::vector<QVariantList> rows;
        rows.reserve(kUsers);
        db::Query q(&dm.db_Sys);
        q.setSql(sql);
        for (q.open(); !q.eof(); q.next()) {
            QVariantList row;
            for (int i = 0; i < q.fieldCount(); ++i)
                row << q.field(i).value();
            rows.push_back(std::move(row));
        }
        ms = t.nsecsElapsed() / 1e6;
    } else {
        TfrmUserRights window(dm);
        t.start();
        window.LoadUserList(0);
        ms = t.nsecsElapsed() / 1e6;
        if (window.tblUsers.recordCount() != kUsers)
            return 1;
    }
    std::printf("%.1f %ld\n", ms, peakKb());
    return 0;
}

void createUsers(const QString& path)
{
    CreateCurrentSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
    TDM dm;
    SetStartupConnection(dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
    dm.db_Sys.connect();
    const QStringList first = {QStringLiteral("Иван"), QStringLiteral("Петър"), QStringLiteral("Мария"), QStringLiteral("Анна"), QStringLiteral("Георги")};
    const QStringList last = {QStringLiteral("Петров"), QStringLiteral("Иванова"), QStringLiteral("Георгиев"), QStringLiteral("Костова"), QStringLiteral("Стоянов")};
    db::Query ins(&dm.db_Sys);
    dm.db_Sys.startTransaction();
    for (int i = 0; i < kUsers; ++i) {
        ins.setSql(QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw) values (:r, :f, :p)"));
        ins.setParam(QStringLiteral("r"), EncodeStoredText(first[i % 5] + QLatin1Char(' ') + last[(i / 5) % 5] + QStringLiteral(" %1").arg(i)));
        ins.setParam(QStringLiteral("f"), EncodeStoredText(QStringLiteral("user%1").arg(i)));
        ins.setParam(QStringLiteral("p"), EncodeStoredText(QStringLiteral("pw%1").arg(i)));
        ins.execSql();
    }
    dm.db_Sys.commit();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--measure"))
        return measure(args[2], args[3]);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sys.fdb"));
    createUsers(path);

    std::vector<double> fetch, load;
    long fetchPeak = 0, loadPeak = 0;
    for (int run = 0; run < 5; ++run) {
        for (const QString& mode : {QStringLiteral("fetch"), QStringLiteral("load")}) {
            QProcess p;
            p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), mode, path});
            p.waitForFinished(600000);
            const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split(' ');
            if (p.exitCode() != 0 || parts.size() != 2) {
                std::fprintf(stderr, "%s failed: %s\n", qPrintable(mode), p.readAllStandardError().constData());
                return 1;
            }
            const bool isFetch = mode == QLatin1String("fetch");
            (isFetch ? fetch : load).push_back(parts[0].toDouble());
            long& peak = isFetch ? fetchPeak : loadPeak;
            peak = std::max(peak, parts[1].toLong());
        }
    }
    std::printf("users: %d\n", kUsers);
    std::printf("fetch through the connection layer: %.0f ms median, peak RSS %ld KiB\n", median(fetch), fetchPeak);
    std::printf("LoadUserList (fetch, decode, sort, show): %.0f ms median, peak RSS %ld KiB\n", median(load), loadPeak);
    std::printf("time ratio: %.2f, memory ratio: %.2f\n", median(load) / median(fetch), double(loadPeak) / double(fetchPeak));
    return 0;
}
