#pragma once

#include "Connection.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

namespace db {

class Database;
class Query;

// A view of one column of a query's current row.
class Field {
public:
    Field(const Query* query, int index) : m_query(query), m_index(index) {}
    QString name() const;
    FieldType type() const;
    bool isNull() const;
    QVariant value() const;
    QString asString() const;     // null reads as empty
    int asInteger() const;        // null reads as 0
    qint64 asInt64() const;
    double asFloat() const;
    QDateTime asDateTime() const;
    QDate asDate() const;

private:
    const Query* m_query;
    int m_index;
};

// SQL text with :name parameters, executed or opened as a result that stays open (current
// row, next, end, fields) until it is closed or given new text. With parameter parsing off
// the text is sent exactly as written, which procedure bodies with :variables need.
class Query {
public:
    explicit Query(Database* database = nullptr);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Database* database() const { return m_db; }
    void setDatabase(Database* database);
    bool paramCheck() const { return m_paramCheck; }
    void setParamCheck(bool on);

    const QString& sql() const { return m_sql; }
    void setSql(const QString& sql); // closes the query and forgets the parameter values

    QStringList paramNames() const { return m_paramNames; }
    void setParam(const QString& name, const QVariant& value);
    QVariant param(const QString& name) const;

    void execSql();
    void open();
    void close(); // throws when the result's own transaction fails to commit
    bool isOpen() const { return m_result != nullptr; }
    bool eof() const { return m_eof; }
    void next();
    qint64 rowsAffected() const { return m_rowsAffected; }

    int fieldCount() const;
    QString fieldName(int index) const;
    int fieldIndex(const QString& name) const; // -1 when absent
    Field field(int index) const;
    Field fieldByName(const QString& name) const;
    // Whether a column of the current row is null, without reading its value (a blob stays unread).
    bool isNull(int index) const;
    // The fetched windows-1251 bytes of a text column of the current row, without a copy; false
    // where the connection cannot give them (then read value()). See ResultSet::textBytes.
    bool textBytes(int index, QByteArrayView* bytes) const;
    // See ResultSet::integerValue.
    bool integerValue(int index, qint64* out) const;

private:
    friend class Field;
    friend class Database;
    const QVariant& value(int index) const;
    const ColumnInfo& column(int index) const;
    void reparse();
    void closeQuietly() noexcept;
    void noteFailure(const std::exception& e) const;
    QVariantList boundValues() const;
    QString serverSql(const Connection& conn) const;
    Connection& connection() const;

    Database* m_db = nullptr;
    bool m_paramCheck = true;
    QString m_sql;
    QStringList m_paramNames;   // distinct, in order of first appearance
    QStringList m_occurrences;  // one per placeholder
    QHash<QString, QVariant> m_values; // keyed by upper-case name
    std::unique_ptr<ResultSet> m_result;
    QHash<QString, int> m_fieldIndex;
    mutable std::vector<QVariant> m_row;
    mutable std::vector<bool> m_loaded;
    bool m_eof = true;
    qint64 m_rowsAffected = 0;
};

} // namespace db
