#include "Query.h"

#include "Cp1251.h"
#include "Database.h"
#include "Error.h"
#include "SqlParams.h"

#include <QDateTime>

namespace db {

QString Field::name() const { return m_query->column(m_index).name; }
FieldType Field::type() const { return m_query->column(m_index).type; }
bool Field::isNull() const { return m_query->isNull(m_index); }
QVariant Field::value() const { return m_query->value(m_index); }
// Integers and text are read typed from the fetched row where the connection can, without a
// QVariant per value.
QString Field::asString() const
{
    QByteArrayView bytes;
    if (m_query->textBytes(m_index, &bytes))
        return cp1251::decode(bytes.data(), bytes.size());
    const QVariant& v = m_query->value(m_index);
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    if (v.typeId() == QMetaType::QDate)
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    return v.toString();
}
int Field::asInteger() const
{
    qint64 v;
    if (m_query->integerValue(m_index, &v))
        return static_cast<int>(v);
    return m_query->value(m_index).toInt();
}
qint64 Field::asInt64() const
{
    qint64 v;
    if (m_query->integerValue(m_index, &v))
        return v;
    return m_query->value(m_index).toLongLong();
}
double Field::asFloat() const { return m_query->value(m_index).toDouble(); }
QDateTime Field::asDateTime() const
{
    const QVariant& v = m_query->value(m_index);
    if (v.typeId() == QMetaType::QDate)
        return QDateTime(v.toDate(), QTime(0, 0), Qt::UTC);
    return v.toDateTime();
}
QDate Field::asDate() const { return asDateTime().date(); }

Query::Query(Database* database) { setDatabase(database); }

Query::~Query()
{
    closeQuietly();
    if (m_db)
        m_db->detach(this);
}

void Query::setDatabase(Database* database)
{
    closeQuietly();
    if (m_db)
        m_db->detach(this);
    m_db = database;
    if (m_db)
        m_db->attach(this);
}

void Query::setParamCheck(bool on)
{
    m_paramCheck = on;
    reparse();
}

void Query::setSql(const QString& sql)
{
    closeQuietly();
    m_sql = sql;
    m_values.clear();
    reparse();
}

void Query::reparse()
{
    m_paramNames.clear();
    m_occurrences.clear();
    if (!m_paramCheck)
        return;
    const ParsedSql parsed = parseNamedParams(m_sql, [](int) { return QString(); });
    m_occurrences = parsed.names;
    for (const QString& n : parsed.names)
        if (!m_paramNames.contains(n, Qt::CaseInsensitive))
            m_paramNames << n;
}

void Query::setParam(const QString& name, const QVariant& value)
{
    if (!m_paramNames.contains(name, Qt::CaseInsensitive))
        throw Error(QStringLiteral("Параметърът '%1' не е намерен").arg(name));
    m_values.insert(name.toUpper(), value);
}

QVariant Query::param(const QString& name) const { return m_values.value(name.toUpper()); }

QVariantList Query::boundValues() const
{
    QVariantList out;
    for (const QString& n : m_occurrences)
        out << m_values.value(n.toUpper());
    return out;
}

Connection& Query::connection() const
{
    if (!m_db)
        throw Error(QStringLiteral("Заявката няма база данни"));
    return m_db->connection();
}

QString Query::serverSql(const Connection& conn) const
{
    if (!m_paramCheck || m_occurrences.isEmpty())
        return m_sql;
    return parseNamedParams(m_sql, [&conn](int i) { return conn.placeholder(i); }).sql;
}

void Query::execSql()
{
    closeQuietly();
    try {
        Connection& conn = connection();
        m_rowsAffected = conn.execute(serverSql(conn), boundValues());
    } catch (const std::exception& e) {
        noteFailure(e);
        throw;
    }
}

void Query::noteFailure(const std::exception& e) const
{
    if (m_db)
        m_db->noteFailure(e);
}

void Query::open()
{
    closeQuietly();
    try {
        Connection& conn = connection();
        m_result = conn.openCursor(serverSql(conn), boundValues());
    } catch (const std::exception& e) {
        noteFailure(e);
        throw;
    }
    const int n = m_result->columnCount();
    m_fieldIndex.clear();
    for (int i = n - 1; i >= 0; --i)
        m_fieldIndex.insert(m_result->column(i).name.toUpper(), i);
    m_row.assign(static_cast<size_t>(n), QVariant());
    m_loaded.assign(static_cast<size_t>(n), false);
    try {
        m_eof = !m_result->fetch();
    } catch (const std::exception& e) {
        noteFailure(e);
        closeQuietly();
        throw;
    }
}

void Query::close()
{
    std::unique_ptr<ResultSet> rs = std::move(m_result);
    m_eof = true;
    m_fieldIndex.clear();
    m_row.clear();
    m_loaded.clear();
    // A result ends its own transaction here; a commit that fails is the caller's to hear.
    if (rs) {
        try {
            rs->close();
        } catch (const std::exception& e) {
            noteFailure(e);
            throw;
        }
    }
}

void Query::closeQuietly() noexcept
{
    try {
        close();
    } catch (const std::exception&) {
    }
}

void Query::next()
{
    if (!m_result || m_eof)
        return;
    std::fill(m_loaded.begin(), m_loaded.end(), false);
    try {
        m_eof = !m_result->fetch();
    } catch (const std::exception& e) {
        noteFailure(e);
        throw;
    }
}

int Query::fieldCount() const { return m_result ? m_result->columnCount() : 0; }

const ColumnInfo& Query::column(int index) const
{
    if (!m_result)
        throw Error(QStringLiteral("Заявката не е отворена"));
    if (index < 0 || index >= m_result->columnCount())
        throw Error(QStringLiteral("Няма поле с номер %1").arg(index));
    return m_result->column(index);
}

QString Query::fieldName(int index) const { return column(index).name; }

int Query::fieldIndex(const QString& name) const { return m_fieldIndex.value(name.toUpper(), -1); }

Field Query::field(int index) const
{
    column(index);
    return Field(this, index);
}

Field Query::fieldByName(const QString& name) const
{
    const int i = fieldIndex(name);
    if (i < 0)
        throw Error(QStringLiteral("Полето '%1' не е намерено").arg(name));
    return Field(this, i);
}

bool Query::isNull(int index) const
{
    column(index);
    if (m_eof)
        throw Error(QStringLiteral("Няма текущ ред"));
    const auto i = static_cast<size_t>(index);
    return m_loaded[i] ? !m_row[i].isValid() : m_result->isNull(index);
}

bool Query::textBytes(int index, QByteArrayView* bytes) const
{
    column(index);
    if (m_eof)
        throw Error(QStringLiteral("Няма текущ ред"));
    return m_result->textBytes(index, bytes);
}

bool Query::integerValue(int index, qint64* out) const
{
    column(index);
    if (m_eof)
        throw Error(QStringLiteral("Няма текущ ред"));
    return m_result->integerValue(index, out);
}

const QVariant& Query::value(int index) const
{
    column(index);
    if (m_eof)
        throw Error(QStringLiteral("Няма текущ ред"));
    const auto i = static_cast<size_t>(index);
    if (!m_loaded[i]) {
        try {
            m_row[i] = m_result->value(index);
        } catch (const std::exception& e) {
            noteFailure(e);
            throw;
        }
        m_loaded[i] = true;
    }
    return m_row[i];
}

} // namespace db
