#pragma once

#include "support/Sql.h"
#include "support/TestEnv.h"

#include "dbman/DBLog.h"
#include "dbman/IBDBXMan.h"
#include "dbman/PGDBXMan.h"

#include "db/Database.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>
#include <QStringList>

#include <gtest/gtest.h>

// Collects the DB log's lines while it lives; the log is off again afterwards.
struct LogCapture {
    QStringList lines;
    LogCapture()
    {
        DBLogState::reset();
        DBLogState::setSink([this](const QString& line) { lines << line; });
        DBLogState::setEnabled(true);
    }
    ~LogCapture() { DBLogState::reset(); }
    bool contains(const QString& text) const
    {
        for (const QString& l : lines)
            if (l.contains(text))
                return true;
        return false;
    }
};

// An application database on the test Firebird server, reached as a manager would reach it.
class FbAppDatabase {
public:
    explicit FbAppDatabase(const QString& stem)
    {
        m_path = serverDatabasePath(stem);
        const db::ParamList p = firebirdParams(m_path);
        m_user = p.value(QStringLiteral("USER NAME"));
        m_password = p.value(QStringLiteral("PASSWORD"));
        db::Database::createFirebirdDatabase(m_path, m_user, m_password);
        admin.setDriverName(QStringLiteral("INTRBASE"));
        admin.params() = p;
        admin.connect();
    }
    ~FbAppDatabase()
    {
        admin.disconnect();
        try {
            db::Database::dropFirebirdDatabase(m_path, m_user, m_password);
        } catch (const std::exception&) {
        }
    }
    void exec(const QString& sql) { execSql(admin, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(admin, sql); }
    QStringList column(const QString& sql) { return columnOf(admin, sql); }
    // Attachments to this database other than the fixture's own.
    int otherAttachments()
    {
        return scalar(QStringLiteral("select count(*) from MON$ATTACHMENTS where MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                                     "and MON$SYSTEM_FLAG = 0"))
            .toInt();
    }
    std::unique_ptr<TIBDBXMan> man() const { return std::make_unique<TIBDBXMan>(m_path, m_user, m_password); }
    const QString& path() const { return m_path; }
    const QString& password() const { return m_password; }

    db::Database admin;

private:
    QString m_path;
    QString m_user;
    QString m_password;
};

// A PostgreSQL database of its own on the test server.
class PgAppDatabase {
public:
    PgAppDatabase()
    {
        admin.setDriverName(QStringLiteral("POSTGRESQL"));
        admin.params().setValue(QStringLiteral("SERVER NAME"), m_db.conninfo());
        admin.connect();
    }
    ~PgAppDatabase() { admin.disconnect(); }
    QString part(const QString& key) const
    {
        const QRegularExpression re(key + QStringLiteral("=(\\S+)"));
        return re.match(m_db.conninfo()).captured(1);
    }
    void exec(const QString& sql) { execSql(admin, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(admin, sql); }
    QStringList column(const QString& sql) { return columnOf(admin, sql); }
    // A backend ends shortly after its client closes the connection, so the count is read
    // until it reaches what is expected; a session that was never closed stays, and fails.
    int otherSessions(int expected = 0)
    {
        QDeadlineTimer patience(30000);
        int n = countSessions();
        while (n != expected && !patience.hasExpired()) {
            QThread::msleep(20);
            n = countSessions();
        }
        return n;
    }
    int countSessions()
    {
        return scalar(QStringLiteral("select count(*) from pg_stat_activity where datname = '%1' and pid <> pg_backend_pid()")
                          .arg(m_db.name()))
            .toInt();
    }
    std::unique_ptr<TPGDBXMan> man(const QString& user = {}, const QString& password = {}) const
    {
        return std::make_unique<TPGDBXMan>(part(QStringLiteral("host")), m_db.name(), part(QStringLiteral("port")),
                                           user.isEmpty() ? part(QStringLiteral("user")) : user, password);
    }
    const QString& name() const { return m_db.name(); }

    db::Database admin;

private:
    PgTestDatabase m_db;
};
