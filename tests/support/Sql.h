#pragma once

#include "db/Database.h"
#include "db/Query.h"

#include <QStringList>
#include <QVariant>

// Statements of the tests' own, sent as written.
inline void execSql(db::Database& database, const QString& sql)
{
    db::Query q(&database);
    q.setParamCheck(false);
    q.setSql(sql);
    q.execSql();
}

// The first column of the first row, or an invalid value when there is none.
inline QVariant scalarOf(db::Database& database, const QString& sql)
{
    db::Query q(&database);
    q.setParamCheck(false);
    q.setSql(sql);
    q.open();
    return q.eof() ? QVariant() : q.field(0).value();
}

// The first column of every row, trimmed.
inline QStringList columnOf(db::Database& database, const QString& sql)
{
    QStringList out;
    db::Query q(&database);
    q.setParamCheck(false);
    q.setSql(sql);
    for (q.open(); !q.eof(); q.next())
        out << q.field(0).asString().trimmed();
    return out;
}
