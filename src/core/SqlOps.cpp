#include "SqlOps.h"

#include "BuiltIn.h"
#include "Prompts.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>

Q_LOGGING_CATEGORY(lcSql, "gatekeep.sql")

namespace {

QMutex g_lastErrorLock;
QString g_lastError;

// Values in double quotes are left out of the record: they may be names or stored passwords.
QString redactLiterals(const QString& sql)
{
    static const QRegularExpression literal(QStringLiteral("\"(?:[^\"]|\"\")*\""));
    QString out = sql;
    return out.replace(literal, QStringLiteral("\"…\""));
}

bool run(db::Query& query, const QString& sql, bool execute, QString* message, bool* lost)
{
    *lost = false;
    try {
        query.close();
        query.setSql(sql);
        if (execute)
            query.execSql();
        else
            query.open();
        return true;
    } catch (const std::exception& e) {
        *message = db::errorMessage(e);
        if (auto* dbe = dynamic_cast<const db::Error*>(&e))
            *lost = dbe->connectionLost();
    }
    const QString record = QStringLiteral("SetWqText >>> ") + redactLiterals(sql) + QLatin1Char('\r') + *message;
    {
        QMutexLocker lock(&g_lastErrorLock);
        g_lastError = record;
    }
    qCWarning(lcSql).noquote() << record;
    return false;
}

} // namespace

bool ExecSqlText(db::Query& query, const QString& sql, bool execute)
{
    QString message;
    bool lost = false;
    if (run(query, sql, execute, &message, &lost))
        return true;
    // Callers of the quiet form go on without a word; a lost server must not go unnoticed.
    if (lost)
        prompts().message(message + QStringLiteral("\rПовторете действието."), Prompts::Icon::Error);
    return false;
}

bool ExecSqlOrReport(db::Query& query, const QString& sql, bool execute)
{
    QString message;
    bool lost = false;
    if (run(query, sql, execute, &message, &lost))
        return true;
    prompts().message(QStringLiteral("Грешка : ") + message, Prompts::Icon::Error);
    return false;
}

QString LastSqlError()
{
    QMutexLocker lock(&g_lastErrorLock);
    return g_lastError;
}

void SetStartupConnection(db::Database& database, const QString& user, const QString& password, const QString& serverName)
{
    database.disconnect();
    database.setDriverName(QStringLiteral("IntrBase"));
    database.params().clear();
    database.params().setValue(QStringLiteral("User Name"), user);
    database.params().setValue(QStringLiteral("Password"), password);
    database.params().setValue(QStringLiteral("Server Name"), serverName);
}

void SetSystemAliasConnection(db::Database& database, const QString& user, const QString& password,
                              const QString& serverName)
{
    database.disconnect();
    database.setDriverName(QStringLiteral("INTRBASE"));
    database.params().clear();
    database.params().setValue(QStringLiteral("USER NAME"), user);
    database.params().setValue(QStringLiteral("PASSWORD"), password);
    database.params().setValue(QStringLiteral("SERVER NAME"), serverName);
    database.params().setValue(QStringLiteral("BLOBS TO CACHE"), QStringLiteral("60000"));
    database.params().setValue(QStringLiteral("LANGDRIVER"), QStringLiteral("ancyrr"));
}

void SetSelfUpdateConnection(db::Database& database, const QString& serverName)
{
    database.disconnect();
    database.setDriverName(QStringLiteral("INTRBASE"));
    database.params().clear();
    database.params().setValue(QStringLiteral("server name"), serverName);
    AddBuiltInCredentials(database.params());
}

void ConnectSystemAlias(db::Database& database, const QString& user, const QString& password, QString& error,
                        const QString& serverName)
{
    error.clear();
    try {
        SetSystemAliasConnection(database, user, password, serverName);
        database.connect();
    } catch (const std::exception& e) {
        try {
            database.disconnect();
        } catch (const std::exception&) {
        }
        error = QStringLiteral("Грешка при свързване към БД (") + serverName + QStringLiteral(")\r") + db::errorMessage(e);
    }
}
