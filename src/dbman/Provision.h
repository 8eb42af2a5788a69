#pragma once

#include <QString>

#include <memory>

class TDBBaseMan;
class TParams;

// Picks the dialect of an application database from its connection text and builds its
// manager; also decodes the built-in logins.
class tdbmCreator {
public:
    enum Kind { InterBase = 1, PostgreSQL = 2 };

    // "host:database" or "host/port:database". Without a port the kind decides it (3050 for a
    // .GDB/.FDB file, 5432 otherwise). Without ":" a Firebird file is local (empty host, port 0,
    // opened in-process) and anything else is a PostgreSQL database on 127.0.0.1:5432.
    static void ParseConnStr(const QString& text, QString& host, int& port, QString& database);
    // Kind 1 gives a TIBDBXMan, kind 2 a TPGDBXMan (unopened); any other kind raises.
    static std::unique_ptr<TDBBaseMan> CreateMan(int kind, const QString& host, int port, const QString& database,
                                                 const QString& userName, const QString& password);
    static QString Unscramble(const QString& text);
};

// The login an application names for its Firebird databases, with its user procedure. Empty
// values take the built-in maintenance account and ADD_USER; PostgreSQL databases always take the
// built-in PostgreSQL login (or its fallback) and hub_user_update.
struct ProvisionLogin {
    QString user;
    QString password;
    QString procedure;
};

// The one route to an application database for provisioning users: the connection text decides
// the kind, the login and the procedure. The connection is opened by the first use (or Open) and
// kept until the route goes, so a run over many users connects once; the procedure's parameters
// are read once.
class TProvisionRoute {
public:
    explicit TProvisionRoute(const QString& connText, const ProvisionLogin& login = {});
    ~TProvisionRoute();
    TProvisionRoute(const TProvisionRoute&) = delete;
    TProvisionRoute& operator=(const TProvisionRoute&) = delete;

    // Connects and finds the procedure; raises with the reason (never a password).
    void Open();
    bool isOpen() const;
    bool isPostgres() const { return m_postgres; }
    const QString& connText() const { return m_connText; }
    // Why the procedure's id parameter cannot hold the id (a smallint, say), or an empty text when
    // it can: an id that does not fit is refused, never wrapped onto another user. Opens first.
    QString IdDoesNotFit(qint64 userId);
    // Creates or updates the user through the database's own procedure. Raises, with a message fit
    // for the administrator, when the user was not written.
    void Provision(qint32 userId, const QString& fullName);
    // Lets the connection go (also done when the route goes).
    void Close();

private:
    QString m_connText;
    ProvisionLogin m_login;
    bool m_postgres = false;
    QString m_host, m_database;
    int m_port = 0;
    std::unique_ptr<TDBBaseMan> m_man;
    std::unique_ptr<TParams> m_params;
};

// Creates or updates the user in one application database (one route, used once). Raises, with a
// message fit for the administrator, when the user was not written.
void ProvisionUser(const QString& connText, qint32 userId, const QString& fullName);

// How many times the PostgreSQL login has been decoded in this process: it is decoded once and
// kept, so this stays at 1 after the first PostgreSQL provisioning.
int PgLoginDecodeCount();
