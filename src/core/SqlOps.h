#pragma once

#include <QString>

namespace db {
class Database;
class Query;
} // namespace db

// Closes the query, gives it the SQL text and executes it (execute) or opens it as a result.
// Never throws: a failure returns false and becomes the last SQL error, which also goes to
// the debug output.
bool ExecSqlText(db::Query& query, const QString& sql, bool execute);
// As ExecSqlText, but a failure is also shown to the user as "Грешка : " and its message.
bool ExecSqlOrReport(db::Query& query, const QString& sql, bool execute);
// "SetWqText >>> " + SQL text + CR + message of the last failure.
QString LastSqlError();

// Connects an InterBase/Firebird database with the parameters of an alias of this program.
// error is empty on success; on failure it holds the reason and the database is disconnected.
void ConnectSystemAlias(db::Database& database, const QString& user, const QString& password, QString& error,
                        const QString& serverName);

// The three parameter-list forms.
void SetStartupConnection(db::Database& database, const QString& user, const QString& password,
                          const QString& serverName);
void SetSystemAliasConnection(db::Database& database, const QString& user, const QString& password,
                              const QString& serverName);
void SetSelfUpdateConnection(db::Database& database, const QString& serverName);
