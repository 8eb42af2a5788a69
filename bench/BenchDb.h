#pragma once

// Small helpers the database benchmarks share: the test servers' settings, statements of their
// own and the median of a run's times.
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QString>

#include <algorithm>
#include <vector>

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline QString env(const char* name)
{
    const QString v = qEnvironmentVariable(name);
    if (v.isEmpty())
        throw db::Error(QStringLiteral("%1 is not set: source the env file of scripts/test-servers").arg(QLatin1String(name)));
    return v;
}

inline void exec(db::Database& d, const QString& sql)
{
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    q.execSql();
}

inline int scalar(db::Database& d, const QString& sql)
{
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    q.open();
    return q.eof() ? -1 : q.field(0).asInteger();
}
