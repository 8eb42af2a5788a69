#pragma once

// What every benchmark reports beside its times: the storage its database files were on and
// the process's peak memory.
#include <QFile>
#include <QProcess>
#include <QString>

#include <algorithm>
#include <vector>

#include <sys/resource.h>

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

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
