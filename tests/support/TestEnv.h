#pragma once

#include "QtPrinters.h"

#include "db/ParamList.h"

#include <QString>
#include <QTemporaryDir>

// The servers scripts/test starts announce themselves in the environment; a test that needs
// one and finds none fails (nothing is skipped).
QString requireEnv(const char* name);

// A unique database file name on the test Firebird server, as host/port:path.
QString serverDatabasePath(const QString& stem);
db::ParamList firebirdParams(const QString& serverName); // SERVER NAME, USER NAME, PASSWORD

// A PostgreSQL database of its own for one test, dropped at the end.
class PgTestDatabase {
public:
    PgTestDatabase();
    ~PgTestDatabase();
    const QString& conninfo() const { return m_conninfo; }
    const QString& name() const { return m_name; }

private:
    QString m_admin;
    QString m_name;
    QString m_conninfo;
};

// A temporary folder that outlives nothing but the test.
class TempDir {
public:
    QString path(const QString& name = {}) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }
    // Writes a file of the folder and returns its path; a failure fails the test.
    QString write(const QString& name, const QByteArray& bytes) const;

private:
    QTemporaryDir m_dir;
};
