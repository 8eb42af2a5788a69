#pragma once

// Shared by the update benchmarks: an embedded database with a history table, and a runner.
#include "update/SQLUpdater.h"

#include "../tests/support/Sql.h"

#include <cstdio>

#include "db/Database.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QTemporaryDir>

inline const char* kBenchUser = "SYSDBA";
inline const char* kBenchPassword = "masterkey";

inline void benchConnect(db::Database& d, const QString& path)
{
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params().setValue(QStringLiteral("SERVER NAME"), path);
    d.params().setValue(QStringLiteral("USER NAME"), QString::fromLatin1(kBenchUser));
    d.params().setValue(QStringLiteral("PASSWORD"), QString::fromLatin1(kBenchPassword));
    d.connect();
}

inline void benchCreateHistory(db::Database& d)
{
    execSql(d, QStringLiteral("create table SQL_UPDATES (SU_ID integer not null primary key, SU_NO integer, SU_DATE date, "
                                "SU_FILENAME varchar(255), SU_FILEDATE date, SU_COMPNAME varchar(200), "
                                "SU_USERNAME varchar(200), SU_TEXT blob sub_type 1)"));
    execSql(d, QStringLiteral("create generator GEN_SU"));
    execSql(d, QStringLiteral("create trigger BI_SU for SQL_UPDATES before insert as begin "
                                "if (new.SU_ID is null) then new.SU_ID = gen_id(GEN_SU, 1); end"));
}

// A new embedded database in dir with the history table and the given tables.
inline QString benchNewDatabase(const QTemporaryDir& dir, const QString& name, const QStringList& statements)
{
    const QString path = dir.filePath(name);
    db::Database::createFirebirdDatabase(path, QString::fromLatin1(kBenchUser), QString::fromLatin1(kBenchPassword));
    db::Database d;
    benchConnect(d, path);
    for (const QString& sql : statements)
        execSql(d, sql);
    benchCreateHistory(d);
    return path;
}

inline qint64 benchScalar(db::Database& d, const QString& sql) { return scalarOf(d, sql).toLongLong(); }

// Whether each count query of a finished run gives its expected value; prints those that do not.
inline bool benchCheck(const QString& path, const char* who, const QList<QPair<QString, qint64>>& counts)
{
    db::Database d;
    benchConnect(d, path);
    bool ok = true;
    for (const auto& [sql, expected] : counts) {
        const qint64 found = benchScalar(d, sql);
        if (found != expected) {
            std::fprintf(stderr, "%s: \"%s\" gives %lld, not %lld\n", who, qPrintable(sql), found, expected);
            ok = false;
        }
    }
    return ok;
}

inline void benchWrite(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// Runs every step of a script; false (with the message printed) when one fails.
inline bool benchRun(TSQLUpdater& u, const QString& script, const QString& target)
{
    bool ok = true;
    u.PumpMessages = false;
    u.SetLoginParams(QStringLiteral("USER NAME=") + QLatin1String(kBenchUser), QStringLiteral("PASSWORD=") + QLatin1String(kBenchPassword));
    u.OnError = [&](const QString& m) { std::fprintf(stderr, "step failed: %s\n", qPrintable(m)), ok = false; };
    u.LoadScript(script);
    u.ServerName = target;
    u.Connect();
    while (ok && u.RunNextStep()) {
    }
    u.CloseAll();
    return ok;
}
