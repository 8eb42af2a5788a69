#pragma once

#include <QString>

#include <memory>

class TDBBaseMan;

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

// Creates or updates the user in one application database through the database's own user
// procedure. Raises, with a message fit for the administrator, when the user was not written.
void ProvisionUser(const QString& connText, qint32 userId, const QString& fullName);

// How many times the PostgreSQL login has been decoded in this process: it is decoded once and
// kept, so this stays at 1 after the first PostgreSQL provisioning.
int PgLoginDecodeCount();
