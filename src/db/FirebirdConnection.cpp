#include "Connection.h"

#include "Cp1251.h"
#include "Error.h"

#include <QDateTime>
#include <QHash>

#include <firebird/Interface.h>
#include <ibase.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <cstring>
#include <type_traits>
#include <vector>

using namespace Firebird;

namespace db {
namespace {

constexpr unsigned kCharsetOctets = 1;
constexpr int kTextBlob = 1;

IMaster* master()
{
    static IMaster* m = fb_get_master_interface();
    return m;
}

IUtil* util()
{
    static IUtil* u = master()->getUtilInterface();
    return u;
}

// A throwing status for one call chain; the client's exceptions become db::Error.
class Status {
public:
    Status() : m_status(master()->getStatus()), m_wrapper(m_status) {}
    ~Status() { m_status->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    ThrowStatusWrapper* operator&() { return &m_wrapper; }

private:
    IStatus* m_status;
    ThrowStatusWrapper m_wrapper;
};

QString formatStatus(const IStatus* status)
{
    char buf[2048];
    util()->formatStatus(buf, sizeof buf, const_cast<IStatus*>(status));
    return cp1251::decode(buf, static_cast<qsizetype>(std::strlen(buf))).trimmed();
}

bool isLostConnection(const IStatus* status)
{
    static constexpr ISC_STATUS kLost[] = {isc_network_error, isc_net_read_err,  isc_net_write_err, isc_conn_lost,
                                           isc_lost_db_connection, isc_att_shutdown, isc_shutdown,      isc_net_connect_err};
    const ISC_STATUS* v = const_cast<IStatus*>(status)->getErrors();
    // The vector is code/argument pairs ending in isc_arg_end; only isc_arg_gds entries are codes.
    for (int i = 0; v && v[i] != isc_arg_end && i < 40; i += 2) {
        if (v[i] == isc_arg_gds && std::find(std::begin(kLost), std::end(kLost), v[i + 1]) != std::end(kLost))
            return true;
        if (v[i] == isc_arg_cstring)
            ++i; // length, pointer
    }
    return false;
}

Error errorOf(const IStatus* status)
{
    const QString text = formatStatus(status);
    if (isLostConnection(status))
        return Error(lostConnectionText() + QStringLiteral(": ") + text, true);
    return Error(text);
}

[[noreturn]] void rethrow(const FbException& e) { throw errorOf(e.getStatus()); }

// Releases (or disposes) a Firebird interface pointer when it goes out of scope.
template <typename T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    explicit Ref(T* ptr) : p(ptr) {}
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p(o.p) { o.p = nullptr; }
    Ref& operator=(Ref&& o) noexcept
    {
        if (this != &o) {
            reset();
            p = o.p;
            o.p = nullptr;
        }
        return *this;
    }
    void reset(T* ptr = nullptr)
    {
        if (p) {
            if constexpr (std::is_base_of_v<IReferenceCounted, T>)
                p->release();
            else
                p->dispose();
        }
        p = ptr;
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Read committed without waiting unless asked: a desktop tool reports a lock conflict instead
// of hanging.
std::vector<unsigned char> transactionParams(const TransactionOptions& o = {}, bool readOnly = false)
{
    std::vector<unsigned char> tpb{isc_tpb_version3, static_cast<unsigned char>(readOnly ? isc_tpb_read : isc_tpb_write), isc_tpb_read_committed,
                                   isc_tpb_rec_version};
    if (o.lockTimeout > 0) {
        tpb.push_back(isc_tpb_wait);
        tpb.push_back(isc_tpb_lock_timeout);
        tpb.push_back(4);
        const auto t = static_cast<std::uint32_t>(o.lockTimeout);
        for (int i = 0; i < 4; ++i)
            tpb.push_back(static_cast<unsigned char>(t >> (8 * i)));
    } else {
        tpb.push_back(isc_tpb_nowait);
    }
    for (const QString& table : o.protectedWrite) {
        const QByteArray name = cp1251::encode(table.trimmed().toUpper());
        if (name.isEmpty() || name.size() > 255)
            throw Error(QStringLiteral("Невалидно име на таблица за резервиране"));
        tpb.push_back(isc_tpb_lock_write);
        tpb.push_back(static_cast<unsigned char>(name.size()));
        tpb.insert(tpb.end(), name.begin(), name.end());
        tpb.push_back(isc_tpb_protected);
    }
    return tpb;
}

// A statement that can only read runs in a read-only transaction of its own: its commit then
// forces no page write. A selectable procedure with side effects needs an explicit transaction.
bool readsOnly(const QString& sql)
{
    const QString t = sql.trimmed();
    return t.startsWith(QLatin1String("select"), Qt::CaseInsensitive) && !t.contains(QLatin1String("for update"), Qt::CaseInsensitive) &&
           !t.contains(QLatin1String("with lock"), Qt::CaseInsensitive);
}

FieldType fieldType(unsigned type, int subType, int scale)
{
    switch (type) {
    case SQL_TEXT:
    case SQL_VARYING:
        return FieldType::Text;
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return scale < 0 ? FieldType::Float : FieldType::Integer;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return FieldType::Float;
    case SQL_TIMESTAMP:
        return FieldType::DateTime;
    case SQL_TYPE_DATE:
        return FieldType::Date;
    case SQL_TYPE_TIME:
        return FieldType::Time;
    case SQL_BLOB:
        return subType == kTextBlob ? FieldType::Text : FieldType::Blob;
    case SQL_BOOLEAN:
        return FieldType::Boolean;
    default:
        return FieldType::Unknown;
    }
}

QDate toQDate(ISC_DATE d)
{
    unsigned y, m, day;
    util()->decodeDate(d, &y, &m, &day);
    return QDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(day));
}

QTime toQTime(ISC_TIME t)
{
    unsigned h, m, s, frac;
    util()->decodeTime(t, &h, &m, &s, &frac);
    return QTime(static_cast<int>(h), static_cast<int>(m), static_cast<int>(s), static_cast<int>(frac / 10));
}

ISC_TIME fromQTime(const QTime& t)
{
    return util()->encodeTime(t.hour(), t.minute(), t.second(), t.msec() * 10);
}

ISC_DATE fromQDate(const QDate& d) { return util()->encodeDate(d.year(), d.month(), d.day()); }

// Describes the columns of a message once, so that each row is read straight from its buffer.
struct MessageLayout {
    struct Col {
        unsigned type;
        int subType;
        int scale;
        unsigned length;
        unsigned charset;
        unsigned offset;
        unsigned nullOffset;
    };
    std::vector<Col> cols;
    QList<ColumnInfo> info;
    unsigned length = 0;

    void read(IMessageMetadata* meta)
    {
        Status st;
        const unsigned n = meta->getCount(&st);
        cols.resize(n);
        info.clear();
        for (unsigned i = 0; i < n; ++i) {
            Col& c = cols[i];
            c.type = meta->getType(&st, i) & ~1u;
            c.subType = meta->getSubType(&st, i);
            c.scale = meta->getScale(&st, i);
            c.length = meta->getLength(&st, i);
            c.charset = meta->getCharSet(&st, i);
            c.offset = meta->getOffset(&st, i);
            c.nullOffset = meta->getNullOffset(&st, i);
            ColumnInfo ci;
            ci.name = cp1251::decode(QByteArray(meta->getAlias(&st, i)));
            if (ci.name.isEmpty())
                ci.name = cp1251::decode(QByteArray(meta->getField(&st, i)));
            ci.type = fieldType(c.type, c.subType, c.scale);
            ci.size = static_cast<int>(c.length);
            ci.scale = c.scale;
            info << ci;
        }
        length = meta->getMessageLength(&st);
    }
};

QString readBlob(IAttachment* att, ITransaction* tra, ISC_QUAD id, bool text, QByteArray* raw)
{
    Status st;
    Ref<IBlob> blob(att->openBlob(&st, tra, &id, 0, nullptr));
    QByteArray data;
    char buf[32768];
    for (;;) {
        unsigned got = 0;
        const int rc = blob->getSegment(&st, sizeof buf, buf, &got);
        if (rc == IStatus::RESULT_NO_DATA)
            break;
        data.append(buf, got);
    }
    blob->close(&st);
    blob.p = nullptr; // close() released it
    if (raw)
        *raw = data;
    return text ? cp1251::decode(data) : QString();
}

QVariant readValue(const MessageLayout::Col& c, const unsigned char* buf, IAttachment* att, ITransaction* tra)
{
    if (*reinterpret_cast<const short*>(buf + c.nullOffset))
        return {};
    const unsigned char* p = buf + c.offset;
    auto scaled = [&](qint64 v) -> QVariant {
        if (c.scale < 0)
            return static_cast<double>(v) / std::pow(10.0, -c.scale);
        return v;
    };
    switch (c.type) {
    case SQL_TEXT:
        if (c.charset == kCharsetOctets)
            return QByteArray(reinterpret_cast<const char*>(p), c.length);
        return cp1251::decode(reinterpret_cast<const char*>(p), c.length);
    case SQL_VARYING: {
        const auto len = *reinterpret_cast<const unsigned short*>(p);
        const char* data = reinterpret_cast<const char*>(p + 2);
        if (c.charset == kCharsetOctets)
            return QByteArray(data, len);
        return cp1251::decode(data, len);
    }
    case SQL_SHORT: {
        const auto v = *reinterpret_cast<const qint16*>(p);
        return c.scale < 0 ? scaled(v) : QVariant(static_cast<int>(v));
    }
    case SQL_LONG: {
        const auto v = *reinterpret_cast<const qint32*>(p);
        return c.scale < 0 ? scaled(v) : QVariant(static_cast<int>(v));
    }
    case SQL_INT64:
        return scaled(*reinterpret_cast<const qint64*>(p));
    case SQL_FLOAT:
        return static_cast<double>(*reinterpret_cast<const float*>(p));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return *reinterpret_cast<const double*>(p);
    case SQL_TIMESTAMP: {
        const auto* ts = reinterpret_cast<const ISC_TIMESTAMP*>(p);
        return QDateTime(toQDate(ts->timestamp_date), toQTime(ts->timestamp_time), Qt::UTC);
    }
    case SQL_TYPE_DATE:
        return toQDate(*reinterpret_cast<const ISC_DATE*>(p));
    case SQL_TYPE_TIME:
        return toQTime(*reinterpret_cast<const ISC_TIME*>(p));
    case SQL_BOOLEAN:
        return *p != 0;
    case SQL_BLOB: {
        const auto id = *reinterpret_cast<const ISC_QUAD*>(p);
        if (c.subType == kTextBlob)
            return readBlob(att, tra, id, true, nullptr);
        QByteArray raw;
        readBlob(att, tra, id, false, &raw);
        return raw;
    }
    default:
        throw Error(QStringLiteral("Неподдържан тип на поле (%1)").arg(c.type));
    }
}

template <typename T>
void put(unsigned char* buf, unsigned offset, T value)
{
    std::memcpy(buf + offset, &value, sizeof value);
}

// The input message of a statement, typed after the values we were given so that the
// server does the conversions (text to number, and so on) as it would for literals.
struct InputMessage {
    Ref<IMessageMetadata> meta;
    std::vector<unsigned char> buffer;
};

InputMessage buildInput(IStatement* stmt, const QVariantList& params, IAttachment* att, ITransaction* tra)
{
    Status st;
    InputMessage msg;
    Ref<IMessageMetadata> described(stmt->getInputMetadata(&st));
    const unsigned n = described->getCount(&st);
    if (n != static_cast<unsigned>(params.size()))
        throw Error(QStringLiteral("Заявката очаква %1 параметъра, подадени са %2").arg(n).arg(params.size()));
    if (n == 0) {
        msg.meta = std::move(described);
        return msg;
    }

    Ref<IMetadataBuilder> builder(described->getBuilder(&st));
    std::vector<QByteArray> texts(n);
    for (unsigned i = 0; i < n; ++i) {
        const QVariant& v = params[static_cast<qsizetype>(i)];
        const unsigned origType = described->getType(&st, i) & ~1u;
        if (v.isNull() || !v.isValid())
            continue; // keep the described type; only the null flag is set
        if (origType == SQL_BLOB)
            continue;
        switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::Bool:
            builder->setType(&st, i, SQL_INT64 + 1);
            builder->setLength(&st, i, sizeof(qint64));
            builder->setScale(&st, i, 0);
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            builder->setType(&st, i, SQL_DOUBLE + 1);
            builder->setLength(&st, i, sizeof(double));
            builder->setScale(&st, i, 0);
            break;
        case QMetaType::QDateTime:
        case QMetaType::QDate:
            builder->setType(&st, i, SQL_TIMESTAMP + 1);
            builder->setLength(&st, i, sizeof(ISC_TIMESTAMP));
            builder->setScale(&st, i, 0);
            break;
        case QMetaType::QTime:
            builder->setType(&st, i, SQL_TYPE_TIME + 1);
            builder->setLength(&st, i, sizeof(ISC_TIME));
            builder->setScale(&st, i, 0);
            break;
        case QMetaType::QByteArray:
            texts[i] = v.toByteArray();
            builder->setType(&st, i, SQL_VARYING + 1);
            builder->setLength(&st, i, std::max<unsigned>(1, static_cast<unsigned>(texts[i].size())));
            builder->setCharSet(&st, i, kCharsetOctets);
            builder->setScale(&st, i, 0);
            break;
        default: {
            texts[i] = cp1251::encode(v.toString());
            if (texts[i].size() > 32765)
                throw Error(QStringLiteral("Текстов параметър %1 е твърде дълъг (%2 знака)").arg(i + 1).arg(texts[i].size()));
            const bool wasText = origType == SQL_TEXT || origType == SQL_VARYING;
            builder->setType(&st, i, SQL_VARYING + 1);
            builder->setLength(&st, i, std::max<unsigned>(1, static_cast<unsigned>(texts[i].size())));
            if (!wasText)
                builder->setCharSet(&st, i, 0);
            builder->setScale(&st, i, 0);
            break;
        }
        }
    }
    msg.meta.reset(builder->getMetadata(&st));
    msg.buffer.assign(msg.meta->getMessageLength(&st), 0);
    unsigned char* buf = msg.buffer.data();
    for (unsigned i = 0; i < n; ++i) {
        const QVariant& v = params[static_cast<qsizetype>(i)];
        const unsigned off = msg.meta->getOffset(&st, i);
        const unsigned nullOff = msg.meta->getNullOffset(&st, i);
        if (v.isNull() || !v.isValid()) {
            put<short>(buf, nullOff, -1);
            continue;
        }
        put<short>(buf, nullOff, 0);
        const unsigned type = msg.meta->getType(&st, i) & ~1u;
        switch (type) {
        case SQL_INT64:
            put<qint64>(buf, off, v.toLongLong());
            break;
        case SQL_DOUBLE:
            put<double>(buf, off, v.toDouble());
            break;
        case SQL_TIMESTAMP: {
            ISC_TIMESTAMP ts;
            if (v.typeId() == QMetaType::QDate) {
                ts.timestamp_date = fromQDate(v.toDate());
                ts.timestamp_time = 0;
            } else {
                const QDateTime dt = v.toDateTime();
                ts.timestamp_date = fromQDate(dt.date());
                ts.timestamp_time = fromQTime(dt.time());
            }
            put(buf, off, ts);
            break;
        }
        case SQL_TYPE_TIME:
            put<ISC_TIME>(buf, off, fromQTime(v.toTime()));
            break;
        case SQL_VARYING: {
            const QByteArray& t = texts[i];
            put<unsigned short>(buf, off, static_cast<unsigned short>(t.size()));
            std::memcpy(buf + off + 2, t.constData(), static_cast<size_t>(t.size()));
            break;
        }
        case SQL_BLOB: {
            const QByteArray data = v.typeId() == QMetaType::QByteArray ? v.toByteArray() : cp1251::encode(v.toString());
            ISC_QUAD id{};
            Ref<IBlob> blob(att->createBlob(&st, tra, &id, 0, nullptr));
            for (qsizetype pos = 0; pos < data.size(); pos += 32768) {
                const auto chunk = static_cast<unsigned>(std::min<qsizetype>(32768, data.size() - pos));
                blob->putSegment(&st, chunk, data.constData() + pos);
            }
            blob->close(&st);
            blob.p = nullptr;
            put(buf, off, id);
            break;
        }
        default:
            throw Error(QStringLiteral("Неподдържан тип на параметър %1").arg(i + 1));
        }
    }
    return msg;
}

class FbConnection;

class FbResultSet final : public ResultSet {
public:
    FbResultSet(FbConnection* owner, IAttachment* att, ITransaction* tra, bool ownsTransaction)
        : m_owner(owner), m_att(att), m_tra(tra), m_ownsTra(ownsTransaction) {}
    ~FbResultSet() override;

    // The statement must outlive its cursor, so the result set keeps it.
    void openCursor(Ref<IStatement> stmtRef, const InputMessage& in)
    {
        m_stmt = std::move(stmtRef);
        IStatement* stmt = m_stmt.p;
        Status st;
        Ref<IMessageMetadata> out(stmt->getOutputMetadata(&st));
        m_layout.read(out.p);
        m_buffer.assign(m_layout.length, 0);
        m_cursor = stmt->openCursor(&st, m_tra, in.meta.p, in.buffer.empty() ? nullptr : const_cast<unsigned char*>(in.buffer.data()), out.p, 0);
    }

    // For statements that give one output row without a cursor (execute procedure).
    void setSingleRow(MessageLayout layout, std::vector<unsigned char> row)
    {
        m_layout = std::move(layout);
        m_buffer = std::move(row);
        m_single = true;
    }

    ITransaction* transaction() const { return m_tra; }
    int columnCount() const override { return static_cast<int>(m_layout.cols.size()); }
    const ColumnInfo& column(int index) const override { return m_layout.info[index]; }

    bool fetch() override
    {
        if (m_single) {
            const bool first = !m_singleFetched;
            m_singleFetched = true;
            m_hasRow = first;
            return first;
        }
        if (!m_cursor)
            return m_hasRow = false;
        try {
            m_hasRow = m_cursor->fetchNext(&m_status, m_buffer.data()) == IStatus::RESULT_OK;
        } catch (const FbException& e) {
            rethrow(e);
        }
        return m_hasRow;
    }

    bool isNull(int index) const override
    {
        checkRow(index);
        return *reinterpret_cast<const short*>(m_buffer.data() + m_layout.cols[index].nullOffset) != 0;
    }

    QVariant value(int index) const override
    {
        checkRow(index);
        try {
            return readValue(m_layout.cols[index], m_buffer.data(), m_att, m_tra);
        } catch (const FbException& e) {
            rethrow(e);
        }
    }

    bool textBytes(int index, QByteArrayView* bytes) const override
    {
        checkRow(index);
        const MessageLayout::Col& c = m_layout.cols[index];
        if (c.charset == kCharsetOctets || (c.type != SQL_TEXT && c.type != SQL_VARYING))
            return false;
        const unsigned char* p = m_buffer.data() + c.offset;
        if (*reinterpret_cast<const short*>(m_buffer.data() + c.nullOffset))
            *bytes = QByteArrayView();
        else if (c.type == SQL_TEXT)
            *bytes = QByteArrayView(reinterpret_cast<const char*>(p), c.length);
        else
            *bytes = QByteArrayView(reinterpret_cast<const char*>(p + 2), *reinterpret_cast<const unsigned short*>(p));
        return true;
    }

    bool integerValue(int index, qint64* out) const override
    {
        checkRow(index);
        const MessageLayout::Col& c = m_layout.cols[index];
        if (c.scale != 0)
            return false;
        const unsigned char* p = m_buffer.data() + c.offset;
        const bool null = *reinterpret_cast<const short*>(m_buffer.data() + c.nullOffset) != 0;
        switch (c.type) {
        case SQL_SHORT:
            *out = null ? 0 : *reinterpret_cast<const qint16*>(p);
            return true;
        case SQL_LONG:
            *out = null ? 0 : *reinterpret_cast<const qint32*>(p);
            return true;
        case SQL_INT64:
            *out = null ? 0 : *reinterpret_cast<const qint64*>(p);
            return true;
        default:
            return false;
        }
    }

    void close() override;
    void detach() { closeQuietly(); }

private:
    void checkRow(int index) const
    {
        if (!m_hasRow)
            throw Error(QStringLiteral("Няма текущ ред"));
        if (index < 0 || index >= columnCount())
            throw Error(QStringLiteral("Няма поле с номер %1").arg(index));
    }
    void closeQuietly();

    FbConnection* m_owner;
    IAttachment* m_att;
    ITransaction* m_tra;
    bool m_ownsTra;
    IResultSet* m_cursor = nullptr;
    Ref<IStatement> m_stmt;
    MessageLayout m_layout;
    std::vector<unsigned char> m_buffer;
    Status m_status; // one per result: a fetch allocates nothing
    bool m_hasRow = false;
    bool m_single = false;
    bool m_singleFetched = false;
};

class FbConnection final : public Connection {
public:
    ~FbConnection() override { closeQuietly(); }

    Kind kind() const override { return Kind::Firebird; }

    void open(const ParamList& params) override
    {
        close();
        const QString server = params.value(QStringLiteral("SERVER NAME"));
        if (server.trimmed().isEmpty())
            throw Error(QStringLiteral("Не е зададено име на сървър и база данни (SERVER NAME)"));
        m_dialect = params.value(QStringLiteral("SQL DIALECT"), QStringLiteral("1")).toUInt();
        if (m_dialect == 0)
            m_dialect = 1;
        const bool create = params.value(QStringLiteral("CREATE")).compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
        try {
            Status st;
            Ref<IXpbBuilder> dpb(util()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0));
            // The tag below makes every string of the block UTF-8, the account's name and
            // password too: as cp1251 a password such as "Парола1" never matches the server's.
            const QByteArray user = params.value(QStringLiteral("USER NAME")).toUtf8();
            const QByteArray password = params.value(QStringLiteral("PASSWORD")).toUtf8();
            if (!user.isEmpty())
                dpb->insertString(&st, isc_dpb_user_name, user.constData());
            if (!password.isEmpty())
                dpb->insertString(&st, isc_dpb_password, password.constData());
            dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
            const QString role = params.value(QStringLiteral("ROLE NAME"));
            if (!role.isEmpty())
                dpb->insertString(&st, isc_dpb_sql_role_name, role.toUtf8().constData());
            // A database being built is discarded when the build fails, so it may skip the
            // synchronous page writes until it is complete; the setting stays in its header.
            const QString forced = params.value(QStringLiteral("FORCED WRITES"));
            if (!forced.isEmpty())
                dpb->insertInt(&st, isc_dpb_force_write, forced.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0 ? 0 : 1);
            if (create) {
                dpb->insertInt(&st, isc_dpb_sql_dialect, static_cast<int>(m_dialect));
                dpb->insertString(&st, isc_dpb_set_db_charset, "WIN1251");
            }
            // File names are not cp1251 text: they go as UTF-8, tagged so.
            dpb->insertTag(&st, isc_dpb_utf8_filename);
            const QByteArray path = server.toUtf8();
            Ref<IProvider> prov(master()->getDispatcher());
            const unsigned len = dpb->getBufferLength(&st);
            const unsigned char* buf = dpb->getBuffer(&st);
            IAttachment* att = create ? prov->createDatabase(&st, path.constData(), len, buf)
                                      : prov->attachDatabase(&st, path.constData(), len, buf);
            setAttachment(att);
        } catch (const FbException& e) {
            rethrow(e);
        }
    }

    void close() override
    {
        if (!m_att)
            return;
        closeCursors();
        try {
            Status st;
            if (m_tra) {
                m_tra->rollback(&st);
                m_tra = nullptr;
            }
            const std::lock_guard lock(m_cancelMutex);
            m_att->detach(&st);
            m_att = nullptr;
        } catch (const FbException& e) {
            closeQuietly();
            rethrow(e);
        }
    }

    bool isOpen() const override { return m_att != nullptr; }

    void dropDatabase() override
    {
        requireOpen();
        closeCursors();
        if (m_tra) {
            rollbackQuietly(m_tra);
            m_tra = nullptr;
        }
        try {
            Status st;
            const std::lock_guard lock(m_cancelMutex);
            m_att->dropDatabase(&st);
            m_att = nullptr;
        } catch (const FbException& e) {
            rethrow(e);
        }
    }

    void startTransaction(const TransactionOptions& options) override
    {
        requireOpen();
        if (m_tra)
            throw Error(QStringLiteral("Транзакцията вече е започната"));
        m_tra = beginTransaction(options);
    }

    void commit() override { endTransaction(true); }
    void rollback() override { endTransaction(false); }
    bool inTransaction() const override { return m_tra != nullptr; }

    QString placeholder(int) const override { return QStringLiteral("?"); }

    qint64 execute(const QString& sql, const QVariantList& params) override
    {
        return run(sql, params, nullptr, nullptr);
    }

    QVariantList executeRow(const QString& sql, const QVariantList& params, QList<ColumnInfo>* columns) override
    {
        QVariantList row;
        run(sql, params, &row, columns);
        return row;
    }

    std::unique_ptr<ResultSet> openCursor(const QString& sql, const QVariantList& params) override
    {
        requireOpen();
        const QByteArray text = cp1251::encode(sql);
        ITransaction* tra = m_tra;
        const bool own = tra == nullptr;
        try {
            if (own)
                tra = beginTransaction({}, readsOnly(sql));
            auto rs = std::make_unique<FbResultSet>(this, m_att, tra, own);
            tra = nullptr; // the result set ends it now
            Status st;
            Ref<IStatement> stmt(m_att->prepare(&st, rs->transaction(), static_cast<unsigned>(text.size()), text.constData(), m_dialect, IStatement::PREPARE_PREFETCH_METADATA));
            const InputMessage in = buildInput(stmt.p, params, m_att, rs->transaction());
            const unsigned type = stmt->getType(&st);
            if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
                rs->openCursor(std::move(stmt), in);
            } else {
                Ref<IMessageMetadata> out(stmt->getOutputMetadata(&st));
                MessageLayout layout;
                layout.read(out.p);
                std::vector<unsigned char> row(layout.length, 0);
                stmt->execute(&st, rs->transaction(), in.meta.p, in.buffer.empty() ? nullptr : const_cast<unsigned char*>(in.buffer.data()), out.p, row.empty() ? nullptr : row.data());
                rs->setSingleRow(std::move(layout), std::move(row));
            }
            m_cursors.push_back(rs.get());
            return rs;
        } catch (const FbException& e) {
            if (tra)
                rollbackQuietly(tra);
            rethrow(e);
        }
    }

    QStringList tableNames() override
    {
        QStringList out;
        auto rs = openCursor(QStringLiteral("select rdb$relation_name from rdb$relations "
                                            "where coalesce(rdb$system_flag, 0) = 0 and rdb$view_blr is null "
                                            "order by rdb$relation_name"),
                             {});
        while (rs->fetch())
            out << rs->value(0).toString().trimmed();
        return out;
    }

    QList<ProcParam> procedureParams(const QString& procedure) override
    {
        QList<ProcParam> out;
        auto rs = openCursor(QStringLiteral(
                                 "select pp.rdb$parameter_name, pp.rdb$parameter_type, f.rdb$field_type, "
                                 "f.rdb$field_sub_type, f.rdb$field_length, f.rdb$character_length, f.rdb$field_scale "
                                 "from rdb$procedure_parameters pp "
                                 "join rdb$fields f on f.rdb$field_name = pp.rdb$field_source "
                                 "where pp.rdb$procedure_name = ? "
                                 "order by pp.rdb$parameter_type, pp.rdb$parameter_number"),
                             {procedure.trimmed().toUpper()});
        while (rs->fetch()) {
            ProcParam p;
            p.name = rs->value(0).toString().trimmed();
            p.output = rs->value(1).toInt() == 1;
            const int type = rs->value(2).toInt();
            const int sub = rs->value(3).toInt();
            const int scale = rs->value(6).toInt();
            p.type = catalogueTypeName(type, sub, scale);
            p.size = rs->isNull(5) ? rs->value(4).toInt() : rs->value(5).toInt();
            out << p;
        }
        return out;
    }

    QString procedureCallSql(const QString& procedure, int count) const override
    {
        QStringList marks;
        for (int i = 0; i < count; ++i)
            marks << QStringLiteral("?");
        return QStringLiteral("execute procedure %1%2").arg(procedure, count ? QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')') : QString());
    }

    std::uint32_t nativeDatabaseHandle() override
    {
        requireOpen();
        isc_db_handle h = 0;
        ISC_STATUS_ARRAY status{};
        if (fb_get_database_handle(status, &h, m_att))
            throw Error(QStringLiteral("Няма вътрешен манипулатор на базата данни"));
        return h;
    }

    std::uint32_t nativeTransactionHandle() override
    {
        if (!m_tra)
            throw Error(QStringLiteral("Няма започната транзакция"));
        isc_tr_handle h = 0;
        ISC_STATUS_ARRAY status{};
        if (fb_get_transaction_handle(status, &h, m_tra))
            throw Error(QStringLiteral("Няма вътрешен манипулатор на транзакцията"));
        return h;
    }

    void forget(FbResultSet* rs) { std::erase(m_cursors, rs); }

private:
    static QString catalogueTypeName(int type, int sub, int scale)
    {
        switch (type) {
        case 7: return scale < 0 ? QStringLiteral("NUMERIC") : QStringLiteral("SMALLINT");
        case 8: return scale < 0 ? QStringLiteral("NUMERIC") : QStringLiteral("INTEGER");
        case 16: return scale < 0 ? QStringLiteral("NUMERIC") : QStringLiteral("BIGINT");
        case 10: return QStringLiteral("FLOAT");
        case 27: return QStringLiteral("DOUBLE PRECISION");
        case 12: return QStringLiteral("DATE");
        case 13: return QStringLiteral("TIME");
        case 35: return QStringLiteral("TIMESTAMP");
        case 14: return QStringLiteral("CHAR");
        case 37: return QStringLiteral("VARCHAR");
        case 261: return sub == kTextBlob ? QStringLiteral("BLOB SUB_TYPE TEXT") : QStringLiteral("BLOB");
        case 23: return QStringLiteral("BOOLEAN");
        default: return QStringLiteral("TYPE %1").arg(type);
        }
    }

    void requireOpen() const
    {
        if (!m_att)
            throw Error(QStringLiteral("Няма връзка с базата данни"));
    }

    ITransaction* beginTransaction(const TransactionOptions& options = {}, bool readOnly = false)
    {
        const auto tpb = transactionParams(options, readOnly);
        try {
            Status st;
            return m_att->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
        } catch (const FbException& e) {
            rethrow(e);
        }
    }

    static void rollbackQuietly(ITransaction* tra)
    {
        try {
            Status st;
            tra->rollback(&st);
        } catch (const FbException&) {
            tra->release();
        }
    }

    void endTransaction(bool commit)
    {
        if (!m_tra)
            throw Error(QStringLiteral("Няма започната транзакция"));
        closeCursorsOf(m_tra);
        try {
            Status st;
            if (commit)
                m_tra->commit(&st);
            else
                m_tra->rollback(&st);
            m_tra = nullptr;
        } catch (const FbException& e) {
            // A transaction that failed to commit is rolled back, so the connection is free again.
            Error error = errorOf(e.getStatus());
            if (commit)
                rollbackQuietly(m_tra);
            else
                m_tra->release();
            m_tra = nullptr;
            throw error;
        }
    }

    qint64 run(const QString& sql, const QVariantList& params, QVariantList* row, QList<ColumnInfo>* columns)
    {
        requireOpen();
        const QByteArray text = cp1251::encode(sql);
        ITransaction* tra = m_tra;
        const bool own = tra == nullptr;
        try {
            if (own)
                tra = beginTransaction({}, readsOnly(sql));
            Status st;
            qint64 affected = 0;
            {
                Ref<IStatement> stmt(m_att->prepare(&st, tra, static_cast<unsigned>(text.size()), text.constData(), m_dialect, IStatement::PREPARE_PREFETCH_METADATA));
                const InputMessage in = buildInput(stmt.p, params, m_att, tra);
                Ref<IMessageMetadata> out(stmt->getOutputMetadata(&st));
                const unsigned type = stmt->getType(&st);
                unsigned char* inBuf = in.buffer.empty() ? nullptr : const_cast<unsigned char*>(in.buffer.data());
                MessageLayout layout;
                layout.read(out.p);
                if (type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd) {
                    Ref<IResultSet> cursor(stmt->openCursor(&st, tra, in.meta.p, inBuf, out.p, 0));
                    std::vector<unsigned char> buf(layout.length, 0);
                    if (cursor->fetchNext(&st, buf.data()) == IStatus::RESULT_OK && row)
                        fillRow(layout, buf, tra, *row);
                    cursor->close(&st);
                    cursor.p = nullptr;
                } else {
                    std::vector<unsigned char> buf(layout.length, 0);
                    stmt->execute(&st, tra, in.meta.p, inBuf, out.p, buf.empty() ? nullptr : buf.data());
                    if (row && !layout.cols.empty())
                        fillRow(layout, buf, tra, *row);
                    affected = static_cast<qint64>(stmt->getAffectedRecords(&st));
                }
                if (columns)
                    *columns = layout.info;
                stmt->free(&st);
                stmt.p = nullptr;
            }
            if (own)
                tra->commit(&st);
            return affected;
        } catch (const FbException& e) {
            Error error = errorOf(e.getStatus());
            if (own && tra)
                rollbackQuietly(tra);
            throw error;
        } catch (...) {
            if (own && tra)
                rollbackQuietly(tra);
            throw;
        }
    }

    void fillRow(const MessageLayout& layout, const std::vector<unsigned char>& buf, ITransaction* tra, QVariantList& row)
    {
        row.clear();
        for (const auto& c : layout.cols)
            row << readValue(c, buf.data(), m_att, tra);
    }

    void closeCursors()
    {
        const auto cursors = m_cursors;
        for (FbResultSet* rs : cursors)
            rs->detach();
        m_cursors.clear();
    }

    // Cursors that run in their own transactions stay open: a loop over one result may
    // handle each row in transactions of its own.
    void closeCursorsOf(ITransaction* tra)
    {
        const auto cursors = m_cursors;
        for (FbResultSet* rs : cursors)
            if (rs->transaction() == tra)
                rs->detach();
    }

    void closeQuietly()
    {
        closeCursors();
        if (m_tra) {
            rollbackQuietly(m_tra);
            m_tra = nullptr;
        }
        if (m_att) {
            const std::lock_guard lock(m_cancelMutex);
            try {
                Status st;
                m_att->detach(&st);
            } catch (const FbException&) {
                m_att->release();
            }
            m_att = nullptr;
        }
    }

public:
    bool cancel() override
    {
        // Under the lock the owning thread takes to detach, so the attachment outlives the call.
        const std::lock_guard lock(m_cancelMutex);
        if (!m_att)
            return false;
        try {
            Status st;
            m_att->cancelOperation(&st, fb_cancel_raise);
            return true;
        } catch (const FbException&) {
            return false; // nothing running
        }
    }

private:
    // Only the owning thread changes the attachment; the lock is for cancel() on another one.
    void setAttachment(IAttachment* att)
    {
        const std::lock_guard lock(m_cancelMutex);
        m_att = att;
    }

    friend class FbResultSet;
    std::mutex m_cancelMutex;
    IAttachment* m_att = nullptr;
    ITransaction* m_tra = nullptr;
    unsigned m_dialect = 1;
    std::vector<FbResultSet*> m_cursors;
};

FbResultSet::~FbResultSet() { closeQuietly(); }

void FbResultSet::close()
{
    if (!m_owner)
        return;
    FbConnection* owner = m_owner;
    m_owner = nullptr;
    owner->forget(this);
    try {
        Status st;
        if (m_cursor) {
            m_cursor->close(&st);
            m_cursor = nullptr;
        }
        m_stmt.reset();
        if (m_ownsTra && m_tra) {
            m_tra->commit(&st);
            m_tra = nullptr;
        }
    } catch (const FbException& e) {
        closeQuietly();
        rethrow(e);
    }
    m_hasRow = false;
}

void FbResultSet::closeQuietly()
{
    if (m_owner) {
        m_owner->forget(this);
        m_owner = nullptr;
    }
    if (m_cursor) {
        try {
            Status st;
            m_cursor->close(&st);
        } catch (const FbException&) {
            m_cursor->release();
        }
        m_cursor = nullptr;
    }
    m_stmt.reset();
    if (m_ownsTra && m_tra) {
        try {
            Status st;
            m_tra->commit(&st);
        } catch (const FbException&) {
            try {
                Status st;
                m_tra->rollback(&st);
            } catch (const FbException&) {
                m_tra->release();
            }
        }
        m_tra = nullptr;
    }
    m_hasRow = false;
}

} // namespace

std::unique_ptr<Connection> createFirebirdConnection() { return std::make_unique<FbConnection>(); }

} // namespace db
