#pragma once

#include "Connection.h"
#include "ParamList.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace db {

class Query;

// A named database connection: a driver name and its parameters, or an alias that supplies
// them. Firebird is chosen by the driver names "INTRBASE" and "FIREBIRD", PostgreSQL by
// "POSTGRESQL" and "PG" (any case). The connection is opened by connect() and stays until
// disconnect(); queries bound to it are closed when it goes.
class Database {
public:
    explicit Database(const QString& databaseName = {});
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    const QString& databaseName() const { return m_databaseName; }
    void setDatabaseName(const QString& name) { m_databaseName = name; }
    const QString& aliasName() const { return m_aliasName; }
    void setAliasName(const QString& alias) { m_aliasName = alias; }
    const QString& driverName() const { return m_driverName; }
    // Choosing a driver leaves the alias, as the connection is then described by its parameters.
    void setDriverName(const QString& driver)
    {
        m_driverName = driver;
        m_aliasName.clear();
    }
    ParamList& params() { return m_params; }
    const ParamList& params() const { return m_params; }

    void connect();
    void disconnect();
    bool connected() const;
    // After a lost connection the next use reconnects with the same settings, unless a
    // transaction was open: its statements fail until it ends, so that nothing of it runs in
    // autocommit on the new connection.
    bool lost() const { return m_lost; }
    // Called by the queries with every failure, so that a lost connection is noticed.
    void noteFailure(const std::exception& e);

    void startTransaction(const TransactionOptions& options = {});
    void commit();
    void rollback();
    bool inTransaction() const;

    Connection& connection();
    QStringList tableNames();
    QList<ProcParam> procedureParams(const QString& procedure);
    std::uint32_t nativeDatabaseHandle();
    std::uint32_t nativeTransactionHandle();
    // Cancels the statement running on the connection, from any thread (see Connection::cancel).
    bool cancel();

    // Creates an empty Firebird database in SQL dialect 1 with character set WIN1251.
    // serverName is a local path (embedded), host:path or host/port:path. An existing file is refused.
    // forcedWrites off: pages are written without waiting for the disk until
    // setFirebirdForcedWrites turns it on, for a database that is discarded if its build fails.
    static void createFirebirdDatabase(const QString& serverName, const QString& user, const QString& password,
                                       bool forcedWrites = true);
    static void setFirebirdForcedWrites(const QString& serverName, const QString& user, const QString& password, bool on);
    // Removes a Firebird database: the file of a local path, or the database on its server.
    static void dropFirebirdDatabase(const QString& serverName, const QString& user, const QString& password);

    // Supplies the driver and parameters of a named alias; installed by the configuration layer.
    using AliasResolver = std::function<bool(const QString& alias, QString& driver, ParamList& params)>;
    static void setAliasResolver(AliasResolver resolver);

    static Connection::Kind kindOfDriver(const QString& driver);

private:
    friend class Query;
    friend class StoredProc;
    void attach(Query* q) { m_queries.append(q); }
    void detach(Query* q) { m_queries.removeAll(q); }
    void closeQueries();
    void reconnect();
    std::unique_ptr<Connection> takeConnection();
    template <typename F>
    auto guarded(F f) -> decltype(f())
    {
        try {
            return f();
        } catch (const std::exception& e) {
            noteFailure(e);
            throw;
        }
    }

    QString m_databaseName;
    QString m_aliasName;
    QString m_driverName;
    ParamList m_params;
    std::unique_ptr<Connection> m_conn;
    std::mutex m_connMutex; // m_conn changes on the owning thread; cancel() reads it on another
    QList<Query*> m_queries;
    bool m_lost = false;
    bool m_inTransaction = false;
};

// A transaction of a database that rolls back when it goes out of scope uncommitted, so that
// an exception anywhere between start and commit leaves the data as it was.
class Transaction {
public:
    explicit Transaction(Database& database, const TransactionOptions& options = {});
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    Database& database() const { return m_db; }
    void commit();
    void rollback();
    bool active() const { return m_active; }

private:
    Database& m_db;
    bool m_active = false;
};

} // namespace db
