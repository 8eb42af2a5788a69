#pragma once

#include "support/TestEnv.h"

#include "db/Database.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// Application databases for provisioning: each kind's user procedure records its calls (id, name
// and the account that made the call) in a table, or misbehaves as the kind says.
enum class AppProcedure {
    Recording,        // records every call
    RecordingSmallId, // records every call; the id parameter is a smallint, as in the suite's own databases
    WithOutput,       // records, and has an output parameter as well
    Raising,          // raises an error of its own
    Missing,          // there is no such procedure
    MissingParameter, // lacks the name parameter
};

struct RecordedCall {
    int id = 0;
    QString name;
    QString account;
    bool operator==(const RecordedCall&) const = default;
};

// Everything a provisioning test logs in with: a maintenance account that exists on the Firebird
// server, named in a Gatekeep.ini of a configuration folder of the test's own
// ($GATEKEEP_CONFIG_DIR), and the roles of PostgreSQL ("syscreat" with the maintenance password,
// the built-in login's role without one until a test gives it).
class ProvisionAccounts {
public:
    static QString maintenanceUser() { return QStringLiteral("GK_PROVISION"); }
    static QString maintenancePassword() { return QStringLiteral("Prov-Pw-1"); }
    static QString builtInPgRole() { return QStringLiteral("gkhubsvc"); }

    ProvisionAccounts();
    ~ProvisionAccounts();
    // Names another maintenance password in Gatekeep.ini (the server keeps the right one).
    void setMaintenancePassword(const QString& password);
    // Sets the PostgreSQL password of the built-in login's role (none: the role cannot log in).
    static void setBuiltInPgPassword(const QString& password);

private:
    TempDir m_config;
    QByteArray m_oldConfigDir;
};

// A Firebird database: on the test server (serverName host/port:path) or a local file.
class FbAppDatabase {
public:
    FbAppDatabase(AppProcedure procedure, bool onServer = true, const QString& localPath = {});
    ~FbAppDatabase();
    // The database as the server or the embedded engine names it (host/port:path, or the path).
    const QString& serverName() const { return m_serverName; }
    // The database file.
    QString path() const;
    QList<RecordedCall> calls();
    // Attachments of the maintenance account to this database.
    int maintenanceAttachments();

private:
    QString m_serverName;
    bool m_onServer;
    std::unique_ptr<db::Database> m_admin;
};

// A PostgreSQL database of its own on the test server, where every login but postgres must give
// its password (the test server's password list names it while it lives).
class PgAppDatabase {
public:
    explicit PgAppDatabase(AppProcedure procedure);
    ~PgAppDatabase();
    const QString& name() const { return m_name; }
    // The connection text of an application database: 127.0.0.1/port:name.
    QString connText() const;
    QList<RecordedCall> calls();
    // Waits until no login but postgres is connected to the database (a closed connection's
    // server process ends a moment after the client lets go); false when some stay.
    bool allLoginsReleased();

private:
    QString m_name;
    QString m_port;
};

// Runs f while holding the lock that orders the changes of the test server's roles and password list.
void withPgRoleLock(const std::function<void(db::Database& admin)>& f);
