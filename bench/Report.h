#pragma once

// What every benchmark reports beside its times: the storage its database files were on and
// the process's peak memory.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include <sys/resource.h>

// The median of a side's times; 0 for none.
inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// sys.fdb in folder for a benchmark's new database; empty (with a message) when one is there already.
inline QString NewDatabasePath(const QString& folder)
{
    const QString path = folder + QStringLiteral("/sys.fdb");
    if (QFile::exists(path)) {
        std::fprintf(stderr, "%s exists already\n", qPrintable(path));
        return {};
    }
    return path;
}

// Runs this program again as "--measure mode path", so that the measurement has a process and a
// peak memory of its own, and returns the "key value" lines it printed; empty when it failed
// (its error output is printed).
inline std::map<QString, QString> MeasureInChild(const QString& mode, const QString& path)
{
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), mode, path});
    p.waitForFinished(1800000);
    std::map<QString, QString> out;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QString l = QString::fromUtf8(line);
        if (!l.isEmpty())
            out[l.section(QLatin1Char(' '), 0, 0)] = l.section(QLatin1Char(' '), 1);
    }
    if (p.exitCode() != 0 || !out.count(QStringLiteral("ms"))) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(mode), p.readAllStandardError().constData());
        return {};
    }
    return out;
}

// File system, device and mount point of path, and what the kernel says of the disk.
inline QString StorageOf(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("findmnt"), {QStringLiteral("-n"), QStringLiteral("-o"), QStringLiteral("FSTYPE,SOURCE,TARGET"), QStringLiteral("-T"), path});
    p.waitForFinished();
    QString where = QString::fromUtf8(p.readAllStandardOutput()).simplified();
    QFile rotational(QStringLiteral("/sys/block/%1/queue/rotational").arg(where.section(QLatin1Char(' '), 1, 1).section(QLatin1Char('/'), -1)));
    if (rotational.open(QIODevice::ReadOnly))
        where += rotational.readAll().trimmed() == "1" ? QStringLiteral(", the kernel reports a rotational disk") : QStringLiteral(", the kernel reports a non-rotational disk");
    return where.isEmpty() ? QStringLiteral("unknown") : where;
}

// Peak resident set of this process so far, in KiB.
inline long PeakResidentKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

