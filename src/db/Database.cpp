#include "Database.h"

#include "Error.h"
#include "Query.h"

namespace db {
namespace {

Database::AliasResolver& resolver()
{
    static Database::AliasResolver r;
    return r;
}

} // namespace

Database::Database(const QString& databaseName) : m_databaseName(databaseName) {}

Database::~Database()
{
    closeQueries();
    for (Query* q : m_queries)
        q->m_db = nullptr;
}

void Database::setAliasResolver(AliasResolver r) { resolver() = std::move(r); }

Connection::Kind Database::kindOfDriver(const QString& driver)
{
    const QString d = driver.trimmed().toUpper();
    if (d == QLatin1String("INTRBASE") || d == QLatin1String("FIREBIRD") || d == QLatin1String("INTERBASE"))
        return Connection::Kind::Firebird;
    if (d == QLatin1String("POSTGRESQL") || d == QLatin1String("PG") || d == QLatin1String("POSTGRES"))
        return Connection::Kind::PostgreSQL;
    throw Error(QStringLiteral("Непознат драйвер на база данни \"%1\"").arg(driver));
}

void Database::connect()
{
    disconnect();
    QString driver = m_driverName;
    ParamList params = m_params;
    if (!m_aliasName.trimmed().isEmpty()) {
        QString aliasDriver;
        ParamList aliasParams;
        if (!resolver() || !resolver()(m_aliasName.trimmed(), aliasDriver, aliasParams))
            throw Error(QStringLiteral("Непознат алиас \"%1\"").arg(m_aliasName));
        if (driver.isEmpty())
            driver = aliasDriver;
        aliasParams.merge(m_params);
        params = aliasParams;
    }
    std::unique_ptr<Connection> conn = kindOfDriver(driver) == Connection::Kind::Firebird ? createFirebirdConnection()
                                                                                           : createPgConnection();
    conn->open(params);
    const std::lock_guard lock(m_connMutex);
    m_conn = std::move(conn);
}

void Database::disconnect()
{
    const bool lost = m_lost;
    m_lost = false;
    m_inTransaction = false;
    closeQueries();
    if (m_conn) {
        std::unique_ptr<Connection> conn = takeConnection();
        try {
            conn->close();
        } catch (const std::exception&) {
            // A connection the server has ended cannot say goodbye; it is closed all the same.
            if (!lost)
                throw;
        }
    }
}

std::unique_ptr<Connection> Database::takeConnection()
{
    const std::lock_guard lock(m_connMutex);
    return std::move(m_conn);
}

bool Database::cancel()
{
    const std::lock_guard lock(m_connMutex);
    return m_conn && m_conn->cancel();
}

bool Database::connected() const { return m_conn && m_conn->isOpen(); }

void Database::noteFailure(const std::exception& e)
{
    if (auto* dbe = dynamic_cast<const Error*>(&e); dbe && dbe->connectionLost())
        m_lost = true;
}

void Database::reconnect()
{
    closeQueries();
    if (m_conn) {
        std::unique_ptr<Connection> dead = takeConnection();
        try {
            dead->close();
        } catch (const std::exception&) {
            // It is gone already.
        }
    }
    try {
        connect();
    } catch (const Error& e) {
        throw Error(lostConnectionText() + QStringLiteral(" и не може да бъде възстановена: ") + e.message(), true);
    }
    m_lost = false;
}

Connection& Database::connection()
{
    if (m_lost) {
        if (m_inTransaction)
            throw Error(lostConnectionText() + QStringLiteral("; транзакцията е отменена"), true);
        reconnect();
    }
    if (!connected())
        throw Error(QStringLiteral("Базата данни %1 не е свързана").arg(m_databaseName.isEmpty() ? m_aliasName : m_databaseName));
    return *m_conn;
}

void Database::startTransaction(const TransactionOptions& options)
{
    guarded([&] { connection().startTransaction(options); });
    m_inTransaction = true;
}

void Database::commit()
{
    if (m_lost && m_inTransaction) {
        m_inTransaction = false;
        throw Error(lostConnectionText() + QStringLiteral("; транзакцията е отменена"), true);
    }
    guarded([&] { connection().commit(); });
    m_inTransaction = false;
}

void Database::rollback()
{
    const bool gone = m_lost && m_inTransaction;
    m_inTransaction = false;
    if (gone)
        return; // the server ended it with the connection
    // A commit that failed has ended the server's transaction already.
    if (!m_conn || !m_conn->inTransaction())
        return;
    guarded([&] { connection().rollback(); });
}

bool Database::inTransaction() const { return connected() && m_conn->inTransaction(); }
QStringList Database::tableNames() { return guarded([&] { return connection().tableNames(); }); }
QList<ProcParam> Database::procedureParams(const QString& procedure)
{
    return guarded([&] { return connection().procedureParams(procedure); });
}
std::uint32_t Database::nativeDatabaseHandle() { return guarded([&] { return connection().nativeDatabaseHandle(); }); }
std::uint32_t Database::nativeTransactionHandle() { return guarded([&] { return connection().nativeTransactionHandle(); }); }

Transaction::Transaction(Database& database, const TransactionOptions& options) : m_db(database)
{
    m_db.startTransaction(options);
    m_active = true;
}

Transaction::~Transaction()
{
    if (!m_active)
        return;
    try {
        m_db.rollback();
    } catch (const std::exception&) {
        // A lost connection has rolled back already.
    }
}

void Transaction::commit()
{
    if (!m_active)
        throw Error(QStringLiteral("Няма започната транзакция"));
    try {
        m_db.commit();
    } catch (...) {
        // Whatever the server kept of it goes: the caller sees the commit's error, never a
        // transaction left open on the connection.
        m_active = false;
        try {
            m_db.rollback();
        } catch (const std::exception&) {
        }
        throw;
    }
    m_active = false;
}

void Transaction::rollback()
{
    if (!m_active)
        return;
    m_active = false;
    m_db.rollback();
}

void Database::closeQueries()
{
    for (Query* q : m_queries)
        q->closeQuietly();
}

void Database::createFirebirdDatabase(const QString& serverName, const QString& user, const QString& password, bool forcedWrites)
{
    auto conn = createFirebirdConnection();
    conn->open(ParamList{{QStringLiteral("SERVER NAME"), serverName},
                         {QStringLiteral("USER NAME"), user},
                         {QStringLiteral("PASSWORD"), password},
                         {QStringLiteral("CREATE"), QStringLiteral("TRUE")},
                         {QStringLiteral("FORCED WRITES"), forcedWrites ? QStringLiteral("TRUE") : QStringLiteral("FALSE")}});
    conn->close();
}

void Database::setFirebirdForcedWrites(const QString& serverName, const QString& user, const QString& password, bool on)
{
    auto conn = createFirebirdConnection();
    conn->open(ParamList{{QStringLiteral("SERVER NAME"), serverName},
                         {QStringLiteral("USER NAME"), user},
                         {QStringLiteral("PASSWORD"), password},
                         {QStringLiteral("FORCED WRITES"), on ? QStringLiteral("TRUE") : QStringLiteral("FALSE")}});
    conn->close();
}

void Database::dropFirebirdDatabase(const QString& serverName, const QString& user, const QString& password)
{
    auto conn = createFirebirdConnection();
    conn->open(ParamList{{QStringLiteral("SERVER NAME"), serverName},
                         {QStringLiteral("USER NAME"), user},
                         {QStringLiteral("PASSWORD"), password}});
    conn->dropDatabase();
}

} // namespace db
