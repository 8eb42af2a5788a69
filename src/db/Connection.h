#pragma once

#include "ParamList.h"

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>

namespace db {

enum class FieldType { Unknown, Integer, Float, Text, DateTime, Date, Time, Blob, Boolean };

struct ColumnInfo {
    QString name;      // the column's alias, as the statement names it
    FieldType type = FieldType::Unknown;
    int size = 0;      // characters for text, bytes otherwise
    int scale = 0;
};

// One stored procedure parameter as the catalogue describes it.
struct ProcParam {
    QString name;
    QString type;      // "INTEGER", "VARCHAR", ...
    bool output = false;
    int size = 0;      // characters for text, bytes otherwise
};

// How a transaction meets other connections' locks.
struct TransactionOptions {
    // Tables reserved for protected write at the start: others may read them but not write,
    // and a second such reservation waits (or fails) until this transaction ends.
    QStringList protectedWrite;
    // Seconds to wait for a lock held by another connection; 0 fails at once.
    int lockTimeout = 0;
};

// A forward-only result. Values are read from the current row after a successful fetch().
class ResultSet {
public:
    virtual ~ResultSet() = default;
    virtual int columnCount() const = 0;
    virtual const ColumnInfo& column(int index) const = 0;
    virtual bool fetch() = 0;
    virtual bool isNull(int index) const = 0;
    // Null is an invalid QVariant; text is QString, integers qint64 or int, scaled numbers double,
    // timestamps QDateTime (UTC spec, wall-clock values as stored), text blobs QString.
    virtual QVariant value(int index) const = 0;
    // The fetched windows-1251 bytes of a text column, without a copy, valid until the next
    // fetch; a null reads as empty. False where the connection cannot give them: use value().
    virtual bool textBytes(int /*index*/, QByteArrayView* /*bytes*/) const { return false; }
    // An integer column without a scale, read straight from the fetched row (a null reads as 0).
    // False for other columns or where the connection cannot: use value().
    virtual bool integerValue(int /*index*/, qint64* /*out*/) const { return false; }
    virtual void close() = 0;
};

// The small interface behind which Firebird and PostgreSQL sit. Statements carry positional
// parameters in the placeholder form of the server (placeholder()).
class Connection {
public:
    enum class Kind { Firebird, PostgreSQL };

    virtual ~Connection() = default;
    virtual Kind kind() const = 0;
    virtual void open(const ParamList& params) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Removes the open database from the server (or its file) and closes the connection.
    virtual void dropDatabase() = 0;

    // Without a started transaction every statement runs and commits on its own.
    virtual void startTransaction(const TransactionOptions& options = {}) = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;

    virtual QString placeholder(int index) const = 0; // index counts from 1
    // Returns the number of rows the statement changed.
    virtual qint64 execute(const QString& sql, const QVariantList& params) = 0;
    // Runs the statement and returns its single output row (empty when it has none).
    virtual QVariantList executeRow(const QString& sql, const QVariantList& params,
                                    QList<ColumnInfo>* columns = nullptr) = 0;
    virtual std::unique_ptr<ResultSet> openCursor(const QString& sql, const QVariantList& params) = 0;

    virtual QStringList tableNames() = 0;
    virtual QList<ProcParam> procedureParams(const QString& procedure) = 0;
    // The statement that runs a procedure with count inputs and yields its outputs as one row.
    virtual QString procedureCallSql(const QString& procedure, int count) const = 0;

    // 32-bit legacy handles for libraries that use the old client API in our transaction.
    virtual std::uint32_t nativeDatabaseHandle() = 0;
    virtual std::uint32_t nativeTransactionHandle() = 0;

    // Makes the statement running on this connection fail at once with "operation was
    // cancelled" (its transaction stays, for its owner to roll back). Callable from any thread
    // while another one waits in the statement; false where there is nothing to cancel.
    virtual bool cancel() { return false; }
};

std::unique_ptr<Connection> createFirebirdConnection();
std::unique_ptr<Connection> createPgConnection();

} // namespace db
