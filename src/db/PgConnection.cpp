#include "Connection.h"

#include "Cp1251.h"
#include "Error.h"
#include "LazyLibrary.h"

#include <QDateTime>

#include <libpq-fe.h>

#include <vector>

namespace db {
namespace {

// libpq is opened when the first PostgreSQL connection is made.
namespace pq {
LazyLibrary& lib()
{
    static LazyLibrary library(GK_LIBPQ_SONAME);
    return library;
}
GK_LAZY_FUNCTION(lib(), PQclear)
GK_LAZY_FUNCTION(lib(), PQcmdTuples)
GK_LAZY_FUNCTION(lib(), PQconnectdb)
GK_LAZY_FUNCTION(lib(), PQerrorMessage)
GK_LAZY_FUNCTION(lib(), PQexecParams)
GK_LAZY_FUNCTION(lib(), PQfinish)
GK_LAZY_FUNCTION(lib(), PQfname)
GK_LAZY_FUNCTION(lib(), PQfreemem)
GK_LAZY_FUNCTION(lib(), PQfsize)
GK_LAZY_FUNCTION(lib(), PQftype)
GK_LAZY_FUNCTION(lib(), PQgetisnull)
GK_LAZY_FUNCTION(lib(), PQgetlength)
GK_LAZY_FUNCTION(lib(), PQgetvalue)
GK_LAZY_FUNCTION(lib(), PQnfields)
GK_LAZY_FUNCTION(lib(), PQntuples)
GK_LAZY_FUNCTION(lib(), PQresultErrorMessage)
GK_LAZY_FUNCTION(lib(), PQresultStatus)
GK_LAZY_FUNCTION(lib(), PQstatus)
GK_LAZY_FUNCTION(lib(), PQunescapeBytea)
} // namespace pq


// Type OIDs of the built-in types we convert.
enum : Oid {
    kBool = 16, kBytea = 17, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
    kFloat4 = 700, kFloat8 = 701, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083,
    kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700,
};

FieldType fieldType(Oid oid)
{
    switch (oid) {
    case kInt8: case kInt2: case kInt4: case kOid: return FieldType::Integer;
    case kFloat4: case kFloat8: case kNumeric: return FieldType::Float;
    case kDate: return FieldType::Date;
    case kTime: return FieldType::Time;
    case kTimestamp: case kTimestampTz: return FieldType::DateTime;
    case kBool: return FieldType::Boolean;
    case kBytea: return FieldType::Blob;
    default: return FieldType::Text;
    }
}

struct PgResult {
    PGresult* r = nullptr;
    explicit PgResult(PGresult* res) : r(res) {}
    ~PgResult() { if (r) pq::PQclear(r); }
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    PgResult(PgResult&& o) noexcept : r(o.r) { o.r = nullptr; }
};

QVariant convert(const PGresult* res, int row, int col)
{
    if (pq::PQgetisnull(res, row, col))
        return {};
    const char* v = pq::PQgetvalue(res, row, col);
    const int len = pq::PQgetlength(res, row, col);
    const QString text = cp1251::decode(v, len);
    switch (pq::PQftype(res, col)) {
    case kInt2: case kInt4: return text.toInt();
    case kInt8: case kOid: return text.toLongLong();
    case kFloat4: case kFloat8: case kNumeric: return text.toDouble();
    case kBool: return text == QLatin1String("t");
    case kDate: return QDate::fromString(text, Qt::ISODate);
    case kTime: return QTime::fromString(text, Qt::ISODateWithMs);
    case kTimestamp: {
        QDateTime dt = QDateTime::fromString(text, Qt::ISODateWithMs);
        dt.setTimeSpec(Qt::UTC);
        return dt;
    }
    case kTimestampTz: return QDateTime::fromString(text, Qt::ISODateWithMs);
    case kBytea: {
        size_t n = 0;
        unsigned char* raw = pq::PQunescapeBytea(reinterpret_cast<const unsigned char*>(v), &n);
        QByteArray out(reinterpret_cast<const char*>(raw), static_cast<qsizetype>(n));
        pq::PQfreemem(raw);
        return out;
    }
    default: return text;
    }
}

class PgResultSet final : public ResultSet {
public:
    explicit PgResultSet(PGresult* res) : m_res(res)
    {
        const int n = pq::PQnfields(res);
        for (int i = 0; i < n; ++i) {
            ColumnInfo c;
            c.name = cp1251::decode(QByteArray(pq::PQfname(res, i)));
            c.type = fieldType(pq::PQftype(res, i));
            c.size = pq::PQfsize(res, i);
            m_cols << c;
        }
        m_rows = pq::PQntuples(res);
    }
    int columnCount() const override { return static_cast<int>(m_cols.size()); }
    const ColumnInfo& column(int index) const override { return m_cols[index]; }
    bool fetch() override { return ++m_row < m_rows; }
    bool isNull(int index) const override { check(index); return pq::PQgetisnull(m_res.r, m_row, index); }
    QVariant value(int index) const override { check(index); return convert(m_res.r, m_row, index); }
    void close() override { m_row = m_rows; }

private:
    void check(int index) const
    {
        if (m_row < 0 || m_row >= m_rows)
            throw Error(QStringLiteral("Няма текущ ред"));
        if (index < 0 || index >= columnCount())
            throw Error(QStringLiteral("Няма поле с номер %1").arg(index));
    }
    PgResult m_res;
    QList<ColumnInfo> m_cols;
    int m_rows = 0;
    int m_row = -1;
};

QByteArray quoteConnValue(const QByteArray& v)
{
    QByteArray out = "'";
    for (char c : v) {
        if (c == '\'' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "'";
}

class PgConnection final : public Connection {
public:
    ~PgConnection() override { close(); }
    Kind kind() const override { return Kind::PostgreSQL; }

    // "SERVER NAME" is host[/port]:database, or a libpq connection string.
    void open(const ParamList& params) override
    {
        close();
        const QString server = params.value(QStringLiteral("SERVER NAME")).trimmed();
        QByteArray conninfo;
        if (server.contains(QLatin1Char('='))) {
            conninfo = cp1251::encode(server);
        } else {
            const qsizetype colon = server.indexOf(QLatin1Char(':'));
            QString host = colon < 0 ? QString() : server.left(colon);
            const QString dbname = colon < 0 ? server : server.mid(colon + 1);
            QString port;
            if (const qsizetype slash = host.indexOf(QLatin1Char('/')); slash >= 0) {
                port = host.mid(slash + 1);
                host = host.left(slash);
            }
            if (!host.isEmpty())
                conninfo += "host=" + quoteConnValue(cp1251::encode(host)) + ' ';
            if (!port.isEmpty())
                conninfo += "port=" + quoteConnValue(cp1251::encode(port)) + ' ';
            if (!dbname.isEmpty())
                conninfo += "dbname=" + quoteConnValue(cp1251::encode(dbname)) + ' ';
        }
        const QString user = params.value(QStringLiteral("USER NAME"));
        const QString password = params.value(QStringLiteral("PASSWORD"));
        if (!user.isEmpty())
            conninfo += " user=" + quoteConnValue(cp1251::encode(user));
        if (!password.isEmpty())
            conninfo += " password=" + quoteConnValue(cp1251::encode(password));
        conninfo += " client_encoding=WIN1251 connect_timeout=15";
        PGconn* conn = pq::PQconnectdb(conninfo.constData());
        if (pq::PQstatus(conn) != CONNECTION_OK) {
            const QString message = cp1251::decode(QByteArray(pq::PQerrorMessage(conn))).trimmed();
            pq::PQfinish(conn);
            throw Error(message);
        }
        m_conn = conn;
    }

    void close() override
    {
        if (m_conn) {
            pq::PQfinish(m_conn);
            m_conn = nullptr;
        }
        m_inTransaction = false;
    }

    bool isOpen() const override { return m_conn != nullptr; }

    void startTransaction(const TransactionOptions& options) override
    {
        if (m_inTransaction)
            throw Error(QStringLiteral("Транзакцията вече е започната"));
        run("begin", {});
        m_inTransaction = true;
        try {
            run(QStringLiteral("set local lock_timeout = %1").arg(options.lockTimeout > 0 ? options.lockTimeout * 1000 : 1), {});
            for (const QString& table : options.protectedWrite)
                run(QStringLiteral("lock table %1 in share row exclusive mode").arg(table), {});
        } catch (...) {
            m_inTransaction = false;
            try {
                run("rollback", {});
            } catch (const Error&) {
            }
            throw;
        }
    }
    void commit() override { end("commit"); }
    void rollback() override { end("rollback"); }
    bool inTransaction() const override { return m_inTransaction; }

    QString placeholder(int index) const override { return QStringLiteral("$%1").arg(index); }

    qint64 execute(const QString& sql, const QVariantList& params) override
    {
        PgResult r = run(sql, params);
        const char* n = pq::PQcmdTuples(r.r);
        return n && *n ? QByteArray(n).toLongLong() : 0;
    }

    QVariantList executeRow(const QString& sql, const QVariantList& params, QList<ColumnInfo>* columns) override
    {
        PgResult r = run(sql, params);
        QVariantList row;
        if (pq::PQntuples(r.r) > 0)
            for (int i = 0; i < pq::PQnfields(r.r); ++i)
                row << convert(r.r, 0, i);
        if (columns) {
            columns->clear();
            for (int i = 0; i < pq::PQnfields(r.r); ++i)
                *columns << ColumnInfo{cp1251::decode(QByteArray(pq::PQfname(r.r, i))), fieldType(pq::PQftype(r.r, i)), pq::PQfsize(r.r, i), 0};
        }
        return row;
    }

    std::unique_ptr<ResultSet> openCursor(const QString& sql, const QVariantList& params) override
    {
        PgResult r = run(sql, params);
        auto rs = std::make_unique<PgResultSet>(r.r);
        r.r = nullptr;
        return rs;
    }

    QStringList tableNames() override
    {
        QStringList out;
        auto rs = openCursor(QStringLiteral("select tablename from pg_tables where schemaname not in "
                                            "('pg_catalog', 'information_schema') order by tablename"), {});
        while (rs->fetch())
            out << rs->value(0).toString();
        return out;
    }

    QList<ProcParam> procedureParams(const QString& procedure) override
    {
        QList<ProcParam> out;
        auto rs = openCursor(QStringLiteral(
                                 "select p.parameter_name, p.data_type, p.parameter_mode, "
                                 "coalesce(p.character_maximum_length, 0) "
                                 "from information_schema.parameters p "
                                 "join information_schema.routines r on r.specific_name = p.specific_name "
                                 "and r.specific_schema = p.specific_schema "
                                 "where r.routine_name = lower($1) and r.specific_schema not in ('pg_catalog', 'information_schema') "
                                 "order by p.ordinal_position"),
                             {procedure.trimmed()});
        while (rs->fetch()) {
            ProcParam p;
            p.name = rs->value(0).toString().toUpper();
            p.type = rs->value(1).toString().toUpper();
            p.output = rs->value(2).toString() == QLatin1String("OUT");
            p.size = rs->value(3).toInt();
            out << p;
        }
        return out;
    }

    QString procedureCallSql(const QString& procedure, int count) const override
    {
        QStringList marks;
        for (int i = 1; i <= count; ++i)
            marks << placeholder(i);
        return QStringLiteral("select * from %1(%2)").arg(procedure, marks.join(QLatin1Char(',')));
    }

    void dropDatabase() override { throw Error(QStringLiteral("PostgreSQL база се изтрива от сървъра, не от връзката си")); }

    std::uint32_t nativeDatabaseHandle() override
    {
        throw Error(QStringLiteral("PostgreSQL няма вътрешен манипулатор на Firebird"));
    }
    std::uint32_t nativeTransactionHandle() override { return nativeDatabaseHandle(); }

private:
    void end(const char* sql)
    {
        if (!m_inTransaction)
            throw Error(QStringLiteral("Няма започната транзакция"));
        m_inTransaction = false;
        run(sql, {});
    }

    PgResult run(const QString& sql, const QVariantList& params)
    {
        if (!m_conn)
            throw Error(QStringLiteral("Няма връзка с базата данни"));
        const QByteArray text = cp1251::encode(sql);
        std::vector<QByteArray> values(static_cast<size_t>(params.size()));
        std::vector<const char*> ptrs(values.size(), nullptr);
        std::vector<int> lengths(values.size(), 0);
        std::vector<int> formats(values.size(), 0);
        for (size_t i = 0; i < values.size(); ++i) {
            const QVariant& v = params[static_cast<qsizetype>(i)];
            if (v.isNull() || !v.isValid())
                continue;
            switch (v.typeId()) {
            case QMetaType::Bool: values[i] = v.toBool() ? "t" : "f"; break;
            case QMetaType::Double:
            case QMetaType::Float: values[i] = QByteArray::number(v.toDouble(), 'g', 17); break;
            case QMetaType::QDate: values[i] = v.toDate().toString(Qt::ISODate).toLatin1(); break;
            case QMetaType::QTime: values[i] = v.toTime().toString(Qt::ISODateWithMs).toLatin1(); break;
            case QMetaType::QDateTime: {
                const QDateTime dt = v.toDateTime();
                values[i] = (dt.date().toString(Qt::ISODate) + QLatin1Char(' ') + dt.time().toString(Qt::ISODateWithMs)).toLatin1();
                break;
            }
            case QMetaType::QByteArray: values[i] = v.toByteArray(); formats[i] = 1; break;
            default: values[i] = cp1251::encode(v.toString()); break;
            }
            ptrs[i] = values[i].constData();
            lengths[i] = static_cast<int>(values[i].size());
        }
        PGresult* r = pq::PQexecParams(m_conn, text.constData(), static_cast<int>(values.size()), nullptr, ptrs.data(),
                                   lengths.data(), formats.data(), 0);
        const ExecStatusType status = pq::PQresultStatus(r);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            const char* msg = r ? pq::PQresultErrorMessage(r) : pq::PQerrorMessage(m_conn);
            const QString message = cp1251::decode(QByteArray(msg)).trimmed();
            if (r)
                pq::PQclear(r);
            const QString text = message.isEmpty() ? QStringLiteral("Грешка на сървъра PostgreSQL") : message;
            if (pq::PQstatus(m_conn) != CONNECTION_OK) {
                close();
                throw Error(lostConnectionText() + QStringLiteral(": ") + text, true);
            }
            throw Error(text);
        }
        return PgResult(r);
    }

    PGconn* m_conn = nullptr;
    bool m_inTransaction = false;
};

} // namespace

std::unique_ptr<Connection> createPgConnection() { return std::make_unique<PgConnection>(); }

} // namespace db
