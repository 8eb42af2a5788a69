#include "MemDataSet.h"

#include "db/Cp1251.h"
#include "db/Query.h"

#include <QDateTime>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace {

// A growable array of plain values on realloc: a large one grows and shrinks by remapping
// pages, so that loading a long list needs no second copy of it at any moment.
template <typename T>
class PodVec {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodVec() = default;
    PodVec(const PodVec&) = delete;
    PodVec& operator=(const PodVec&) = delete;
    PodVec(PodVec&& o) noexcept
        : m_data(std::exchange(o.m_data, nullptr)), m_size(std::exchange(o.m_size, 0)), m_cap(std::exchange(o.m_cap, 0)) {}
    PodVec& operator=(PodVec&& o) noexcept
    {
        if (this != &o) {
            std::free(m_data);
            m_data = std::exchange(o.m_data, nullptr);
            m_size = std::exchange(o.m_size, 0);
            m_cap = std::exchange(o.m_cap, 0);
        }
        return *this;
    }
    ~PodVec() { std::free(m_data); }

    size_t size() const { return m_size; }
    T* data() { return m_data; }
    const T* data() const { return m_data; }
    T& operator[](size_t i) { return m_data[i]; }
    const T& operator[](size_t i) const { return m_data[i]; }

    void push_back(const T& v)
    {
        if (m_size == m_cap)
            grow(m_size + 1);
        m_data[m_size++] = v;
    }
    // Room for n more values at the end, uninitialised; truncate() gives back what was not used.
    T* extend(size_t n)
    {
        if (m_size + n > m_cap)
            grow(m_size + n);
        T* p = m_data + m_size;
        m_size += n;
        return p;
    }
    void truncate(size_t n) { m_size = std::min(n, m_size); }
    void resize(size_t n) // new values are zero
    {
        if (n > m_cap)
            grow(n);
        if (n > m_size)
            std::memset(static_cast<void*>(m_data + m_size), 0, (n - m_size) * sizeof(T));
        m_size = n;
    }
    void erase(size_t i)
    {
        std::memmove(static_cast<void*>(m_data + i), m_data + i + 1, (m_size - i - 1) * sizeof(T));
        --m_size;
    }
    void clear()
    {
        std::free(m_data);
        m_data = nullptr;
        m_size = m_cap = 0;
    }
    void shrink()
    {
        if (m_size == 0)
            clear();
        else if (m_cap != m_size)
            reallocTo(m_size);
    }

private:
    void grow(size_t need) { reallocTo(std::max<size_t>({need, m_cap * 2, 16})); }
    void reallocTo(size_t cap)
    {
        void* p = std::realloc(static_cast<void*>(m_data), cap * sizeof(T));
        if (!p)
            throw std::bad_alloc();
        m_data = static_cast<T*>(p);
        m_cap = cap;
    }

    T* m_data = nullptr;
    size_t m_size = 0;
    size_t m_cap = 0;
};

using Bits = PodVec<std::uint64_t>;

bool bitAt(const Bits& bits, size_t i) { return (bits[i / 64] >> (i % 64)) & 1u; }

void setBit(Bits& bits, size_t i, bool on)
{
    const std::uint64_t mask = std::uint64_t(1) << (i % 64);
    if (on)
        bits[i / 64] |= mask;
    else
        bits[i / 64] &= ~mask;
}

// Sets bit `rows` (the one after the last) to on.
void pushBit(Bits& bits, size_t rows, bool on)
{
    if (rows % 64 == 0)
        bits.push_back(0);
    setBit(bits, rows, on);
}

// Removes bit i of `rows` bits, moving the later ones down by one.
void eraseBit(Bits& bits, size_t rows, size_t i)
{
    const size_t words = (rows + 63) / 64;
    const size_t w = i / 64;
    const unsigned b = i % 64;
    const std::uint64_t low = b ? bits[w] & ((std::uint64_t(1) << b) - 1) : 0;
    const std::uint64_t high = b == 63 ? 0 : (bits[w] >> (b + 1)) << b;
    bits[w] = low | high;
    for (size_t k = w + 1; k < words; ++k) {
        bits[k - 1] |= (bits[k] & 1u) << 63;
        bits[k] >>= 1;
    }
    if ((rows - 1) % 64 == 0)
        bits.truncate(words - 1);
}

Bits permutedBits(const Bits& bits, const std::vector<std::uint32_t>& order)
{
    Bits out;
    out.resize(bits.size());
    for (size_t i = 0; i < order.size(); ++i)
        if (bitAt(bits, order[i]))
            setBit(out, i, true);
    return out;
}

template <typename T>
PodVec<T> permuted(const PodVec<T>& v, const std::vector<std::uint32_t>& order)
{
    PodVec<T> out;
    T* p = out.extend(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        p[i] = v[order[i]];
    return out;
}

// Case-insensitive order of windows-1251 text, as comparing the case-folded UTF-16 texts gives
// it: every byte has the rank of its folded character, so eight bytes make one integer key.
struct FoldTable {
    char16_t fold[256];
    unsigned char rank[256];
    FoldTable()
    {
        std::vector<char16_t> folded;
        for (int b = 0; b < 256; ++b) {
            fold[b] = QString(cp1251::charOf(static_cast<unsigned char>(b))).toCaseFolded().at(0).unicode();
            folded.push_back(fold[b]);
        }
        std::sort(folded.begin(), folded.end());
        folded.erase(std::unique(folded.begin(), folded.end()), folded.end());
        for (int b = 0; b < 256; ++b)
            rank[b] = static_cast<unsigned char>(std::lower_bound(folded.begin(), folded.end(), fold[b]) - folded.begin());
    }
};

const FoldTable& foldTable()
{
    static const FoldTable t;
    return t;
}

constexpr qint64 kMsecsPerDay = 86400000;

QString displayText(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.toString(QStringLiteral("dd.MM.yyyy")) : dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    default:
        return v.toString();
    }
}

bool isIntegral(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

} // namespace

// The values of one field. Typed storage is chosen by the first value that is not null; a
// value of another type turns the field into plain QVariants, so nothing set is ever changed.
class TMemDataSet::Column {
public:
    enum class Kind : unsigned char { Empty, Int32, Int64, Double, Bool, Text, DateTime, Date, Variant, Deferred };

    Kind kind = Kind::Empty;
    size_t rows = 0;
    Bits nulls;                  // set: the value is null
    PodVec<std::int32_t> i32;    // Int32, Bool
    PodVec<std::int64_t> i64;    // Int64; DateTime as julian day * msecs per day + msecs of the day; Date as julian day
    PodVec<double> dbl;          // Double
    Qt::TimeSpec spec = Qt::UTC; // DateTime
    struct Span {
        std::uint32_t offset;
        std::uint32_t length;
    };
    PodVec<Span> spans;          // Text: where each row's text lies in the arena
    PodVec<char> bytes;          // Text arena in windows-1251...
    PodVec<char16_t> wide;       // ...or in UTF-16 once a text that has no windows-1251 form was set
    bool isWide = false;
    size_t garbage = 0;          // arena units no row points at any more
    std::vector<QVariant> variants; // Variant; Deferred: the values set after the load (see setBits)
    Bits setBits;                // Deferred: the row's value was set and lives in variants
    FieldLoad::Loader loader;    // Deferred

    bool isNull(size_t row) const { return bitAt(nulls, row); }
    bool isSet(size_t row) const { return kind == Kind::Deferred && bitAt(setBits, row); }

    void makeText() { kind = Kind::Text; }
    void makeDeferred(FieldLoad::Loader l)
    {
        kind = Kind::Deferred;
        loader = std::move(l);
    }

    void appendNull()
    {
        pushBit(nulls, rows, true);
        switch (kind) {
        case Kind::Empty:
            break;
        case Kind::Int32:
        case Kind::Bool:
            i32.push_back(0);
            break;
        case Kind::Int64:
        case Kind::DateTime:
        case Kind::Date:
            i64.push_back(0);
            break;
        case Kind::Double:
            dbl.push_back(0);
            break;
        case Kind::Text:
            spans.push_back({0, 0});
            break;
        case Kind::Variant:
            variants.emplace_back();
            break;
        case Kind::Deferred:
            pushBit(setBits, rows, false);
            if (!variants.empty())
                variants.emplace_back();
            break;
        }
        ++rows;
    }

    void append(const QVariant& v)
    {
        appendNull();
        if (v.isValid())
            set(rows - 1, v);
    }

    // The fetched windows-1251 bytes of a text, kept as they are or through a decoder.
    void appendBytes(const char* data, qsizetype size, const FieldLoad::Decoder& decode)
    {
        pushBit(nulls, rows, false);
        const size_t offset = bytes.size();
        const size_t room = decode ? std::max<size_t>(static_cast<size_t>(size), 64) : static_cast<size_t>(size);
        checkArena(offset + room);
        char* out = bytes.extend(room);
        size_t n = static_cast<size_t>(size);
        if (decode)
            n = static_cast<size_t>(decode(data, size, out));
        else if (size > 0)
            std::memcpy(out, data, n);
        bytes.truncate(offset + n);
        spans.push_back({static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(n)});
        ++rows;
    }

    void appendDeferred(bool null)
    {
        pushBit(nulls, rows, null);
        pushBit(setBits, rows, false);
        if (!variants.empty())
            variants.emplace_back();
        ++rows;
    }

    static Kind kindFor(const QVariant& v)
    {
        switch (v.typeId()) {
        case QMetaType::Int:
            return Kind::Int32;
        case QMetaType::LongLong:
            return Kind::Int64;
        case QMetaType::Double:
            return Kind::Double;
        case QMetaType::Bool:
            return Kind::Bool;
        case QMetaType::QString:
            return Kind::Text;
        case QMetaType::QDateTime: {
            const QDateTime dt = v.toDateTime();
            const Qt::TimeSpec s = dt.timeSpec();
            return dt.isValid() && (s == Qt::UTC || s == Qt::LocalTime) ? Kind::DateTime : Kind::Variant;
        }
        case QMetaType::QDate:
            return v.toDate().isValid() ? Kind::Date : Kind::Variant;
        default:
            return Kind::Variant;
        }
    }

    bool fits(const QVariant& v) const
    {
        const Kind k = kindFor(v);
        if (k != kind)
            return false;
        return k != Kind::DateTime || v.toDateTime().timeSpec() == spec;
    }

    void set(size_t row, const QVariant& v)
    {
        if (kind == Kind::Deferred) {
            if (variants.empty())
                variants.resize(rows);
            variants[row] = v;
            setBit(setBits, row, true);
            setBit(nulls, row, !v.isValid());
            return;
        }
        if (!v.isValid()) {
            setNull(row);
            return;
        }
        if (kind == Kind::Empty)
            become(kindFor(v), v);
        else if (kind != Kind::Variant && !fits(v))
            becomeVariant();
        setBit(nulls, row, false);
        switch (kind) {
        case Kind::Int32:
            i32[row] = v.toInt();
            break;
        case Kind::Bool:
            i32[row] = v.toBool() ? 1 : 0;
            break;
        case Kind::Int64:
            i64[row] = v.toLongLong();
            break;
        case Kind::Double:
            dbl[row] = v.toDouble();
            break;
        case Kind::DateTime: {
            const QDateTime dt = v.toDateTime();
            i64[row] = dt.date().toJulianDay() * kMsecsPerDay + dt.time().msecsSinceStartOfDay();
            break;
        }
        case Kind::Date:
            i64[row] = v.toDate().toJulianDay();
            break;
        case Kind::Text:
            setText(row, v.toString());
            break;
        case Kind::Variant:
            variants[row] = v;
            break;
        case Kind::Empty:
        case Kind::Deferred:
            break;
        }
    }

    void setNull(size_t row)
    {
        setBit(nulls, row, true);
        if (kind == Kind::Text) {
            garbage += spans[row].length;
            spans[row] = {0, 0};
        } else if (kind == Kind::Variant) {
            variants[row] = QVariant();
        }
    }

    // A value read after the load (a deferred field that was never set is the dataset's to read).
    QVariant value(size_t row) const
    {
        if (kind == Kind::Deferred)
            return isSet(row) ? variants[row] : QVariant();
        if (isNull(row))
            return {};
        switch (kind) {
        case Kind::Int32:
            return i32[row];
        case Kind::Bool:
            return i32[row] != 0;
        case Kind::Int64:
            return static_cast<qlonglong>(i64[row]);
        case Kind::Double:
            return dbl[row];
        case Kind::DateTime:
            return QDateTime(QDate::fromJulianDay(i64[row] / kMsecsPerDay), QTime::fromMSecsSinceStartOfDay(static_cast<int>(i64[row] % kMsecsPerDay)),
                             spec);
        case Kind::Date:
            return QDate::fromJulianDay(i64[row]);
        case Kind::Text:
            return text(row);
        case Kind::Variant:
            return variants[row];
        case Kind::Empty:
        case Kind::Deferred:
            break;
        }
        return {};
    }

    QString text(size_t row) const
    {
        const Span s = spans[row];
        if (isWide)
            return QString(reinterpret_cast<const QChar*>(wide.data() + s.offset), s.length);
        return cp1251::decode(bytes.data() + s.offset, s.length);
    }

    void textInto(size_t row, QString& out) const
    {
        const Span s = spans[row];
        out.resize(s.length);
        QChar* dst = out.data();
        if (isWide) {
            std::memcpy(static_cast<void*>(dst), wide.data() + s.offset, s.length * sizeof(char16_t));
            return;
        }
        const char* src = bytes.data() + s.offset;
        for (std::uint32_t i = 0; i < s.length; ++i)
            dst[i] = cp1251::charOf(static_cast<unsigned char>(src[i]));
    }

    void erase(size_t row)
    {
        eraseBit(nulls, rows, row);
        switch (kind) {
        case Kind::Int32:
        case Kind::Bool:
            i32.erase(row);
            break;
        case Kind::Int64:
        case Kind::DateTime:
        case Kind::Date:
            i64.erase(row);
            break;
        case Kind::Double:
            dbl.erase(row);
            break;
        case Kind::Text:
            garbage += spans[row].length;
            spans.erase(row);
            break;
        case Kind::Variant:
            variants.erase(variants.begin() + static_cast<std::ptrdiff_t>(row));
            break;
        case Kind::Deferred:
            eraseBit(setBits, rows, row);
            if (!variants.empty())
                variants.erase(variants.begin() + static_cast<std::ptrdiff_t>(row));
            break;
        case Kind::Empty:
            break;
        }
        --rows;
    }

    // Row i becomes what row order[i] was.
    void permute(const std::vector<std::uint32_t>& order)
    {
        nulls = permutedBits(nulls, order);
        switch (kind) {
        case Kind::Int32:
        case Kind::Bool:
            i32 = permuted(i32, order);
            break;
        case Kind::Int64:
        case Kind::DateTime:
        case Kind::Date:
            i64 = permuted(i64, order);
            break;
        case Kind::Double:
            dbl = permuted(dbl, order);
            break;
        case Kind::Text:
            spans = permuted(spans, order);
            break;
        case Kind::Deferred:
            setBits = permutedBits(setBits, order);
            if (variants.empty())
                break;
            [[fallthrough]];
        case Kind::Variant: {
            std::vector<QVariant> out(variants.size());
            for (size_t i = 0; i < order.size(); ++i)
                out[i] = std::move(variants[order[i]]);
            variants = std::move(out);
            break;
        }
        case Kind::Empty:
            break;
        }
    }

    void shrink()
    {
        nulls.shrink();
        i32.shrink();
        i64.shrink();
        dbl.shrink();
        spans.shrink();
        bytes.shrink();
        wide.shrink();
        setBits.shrink();
    }

private:
    void become(Kind k, const QVariant& first)
    {
        kind = k;
        switch (k) {
        case Kind::Int32:
        case Kind::Bool:
            i32.resize(rows);
            break;
        case Kind::Int64:
        case Kind::Date:
            i64.resize(rows);
            break;
        case Kind::DateTime:
            spec = first.toDateTime().timeSpec();
            i64.resize(rows);
            break;
        case Kind::Double:
            dbl.resize(rows);
            break;
        case Kind::Text:
            spans.resize(rows);
            break;
        case Kind::Variant:
            variants.resize(rows);
            break;
        case Kind::Empty:
        case Kind::Deferred:
            break;
        }
    }

    void becomeVariant()
    {
        std::vector<QVariant> values(rows);
        for (size_t r = 0; r < rows; ++r)
            values[r] = value(r);
        i32.clear();
        i64.clear();
        dbl.clear();
        spans.clear();
        bytes.clear();
        wide.clear();
        isWide = false;
        garbage = 0;
        variants = std::move(values);
        kind = Kind::Variant;
    }

    void checkArena(size_t units) const
    {
        if (units > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("text of a list field exceeds 4 GiB");
    }

    void setText(size_t row, const QString& s)
    {
        if (!isWide && !cp1251::canEncode(s))
            widen();
        Span& sp = spans[row];
        const auto n = static_cast<std::uint32_t>(s.size());
        std::uint32_t offset = sp.offset;
        if (n > sp.length) {
            garbage += sp.length;
            offset = static_cast<std::uint32_t>(isWide ? wide.size() : bytes.size());
            checkArena(size_t(offset) + n);
            isWide ? (void)wide.extend(n) : (void)bytes.extend(n);
        } else {
            garbage += sp.length - n;
        }
        if (isWide) {
            std::memcpy(static_cast<void*>(wide.data() + offset), s.constData(), n * sizeof(char16_t));
        } else {
            char* dst = bytes.data() + offset;
            for (std::uint32_t i = 0; i < n; ++i)
                dst[i] = static_cast<char>(cp1251::byteOf(s[i]));
        }
        sp = {offset, n};
        compactIfWasteful();
    }

    void widen()
    {
        char16_t* dst = wide.extend(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i)
            dst[i] = cp1251::charOf(static_cast<unsigned char>(bytes[i])).unicode();
        bytes.clear();
        isWide = true;
    }

    // Edits leave the old texts behind; once they are most of the arena, it is written anew.
    void compactIfWasteful()
    {
        const size_t size = isWide ? wide.size() : bytes.size();
        if (garbage < 4096 || garbage * 2 < size)
            return;
        if (isWide)
            compact(wide);
        else
            compact(bytes);
        garbage = 0;
    }

    template <typename Unit>
    void compact(PodVec<Unit>& arena)
    {
        PodVec<Unit> out;
        for (size_t r = 0; r < rows; ++r) {
            Span& sp = spans[r];
            const auto offset = static_cast<std::uint32_t>(out.size());
            Unit* dst = out.extend(sp.length);
            if (sp.length)
                std::memcpy(static_cast<void*>(dst), arena.data() + sp.offset, sp.length * sizeof(Unit));
            sp.offset = offset;
        }
        out.shrink();
        arena = std::move(out);
    }
};

TMemDataSet::TMemDataSet(QObject* parent) : QObject(parent) {}

TMemDataSet::~TMemDataSet() = default;

void TMemDataSet::setFields(const QStringList& names)
{
    m_fields = names;
    m_columns.clear();
    m_columns.resize(static_cast<size_t>(names.size()));
    m_rowCount = 0;
    rebuild(-1);
}

int TMemDataSet::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TMemDataSet::open()
{
    m_active = true;
    for (Column& c : m_columns)
        c.shrink();
    emit activeChanged(true);
    rebuild(-1);
}

void TMemDataSet::close()
{
    m_active = false;
    emit activeChanged(false);
    dropRows();
    m_state = State::Browse;
    rebuild(-1);
}

void TMemDataSet::clearRows()
{
    dropRows();
    m_state = State::Browse;
    rebuild(-1);
}

void TMemDataSet::dropRows()
{
    m_columns.clear();
    m_columns.resize(static_cast<size_t>(m_fields.size()));
    m_rowCount = 0;
}

void TMemDataSet::afterAppend(int source)
{
    if (accepts(source)) {
        m_visible.push_back(source);
        if (!m_disabled)
            emit layoutReset();
        else
            m_pendingReset = true;
        if (m_current < 0)
            moveTo(0);
    }
}

int TMemDataSet::appendRow(QVariantList values)
{
    for (size_t i = 0; i < m_columns.size(); ++i)
        m_columns[i].append(i < static_cast<size_t>(values.size()) ? values[static_cast<qsizetype>(i)] : QVariant());
    const int source = m_rowCount++;
    afterAppend(source);
    return source;
}

void TMemDataSet::loadFromQuery(db::Query& query, const QList<FieldLoad>& how)
{
    QStringList names;
    for (int i = 0; i < query.fieldCount(); ++i)
        names << query.fieldName(i).trimmed();
    m_fields = names;
    dropRows();
    const int n = static_cast<int>(names.size());
    enum class Way { Value, Text, Deferred };
    std::vector<Way> ways(static_cast<size_t>(n), Way::Value);
    std::vector<FieldLoad::Decoder> decoders(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        Column& c = m_columns[static_cast<size_t>(i)];
        const auto it = std::find_if(how.begin(), how.end(), [&](const FieldLoad& f) { return f.field.compare(names[i], Qt::CaseInsensitive) == 0; });
        if (it != how.end() && it->deferred) {
            c.makeDeferred(it->deferred);
            ways[static_cast<size_t>(i)] = Way::Deferred;
        } else if (query.field(i).type() == db::FieldType::Text) {
            c.makeText();
            ways[static_cast<size_t>(i)] = Way::Text;
            if (it != how.end())
                decoders[static_cast<size_t>(i)] = it->decode;
        }
    }
    try {
        QByteArray encoded;
        for (; !query.eof(); query.next()) {
            for (int i = 0; i < n; ++i) {
                Column& c = m_columns[static_cast<size_t>(i)];
                switch (ways[static_cast<size_t>(i)]) {
                case Way::Deferred:
                    c.appendDeferred(query.isNull(i));
                    break;
                case Way::Text: {
                    QByteArrayView b;
                    if (query.isNull(i)) {
                        c.appendNull();
                    } else if (query.textBytes(i, &b)) {
                        c.appendBytes(b.data(), b.size(), decoders[static_cast<size_t>(i)]);
                    } else if (const FieldLoad::Decoder& d = decoders[static_cast<size_t>(i)];
                               d && cp1251::tryEncode(query.field(i).value().toString(), encoded)) {
                        c.appendBytes(encoded.constData(), encoded.size(), d);
                    } else {
                        c.append(query.field(i).value());
                    }
                    break;
                }
                case Way::Value:
                    c.append(query.field(i).value());
                    break;
                }
            }
            ++m_rowCount;
        }
    } catch (...) {
        // Half a row in some fields and not in others would be worse than no rows.
        dropRows();
        m_state = State::Browse;
        rebuild(-1);
        throw;
    }
    for (Column& c : m_columns)
        c.shrink();
    m_active = true;
    m_state = State::Browse;
    emit activeChanged(true);
    rebuild(-1);
}

QVariant TMemDataSet::sourceValue(int sourceRow, int field) const
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return {};
    const Column& c = m_columns[static_cast<size_t>(field)];
    const auto row = static_cast<size_t>(sourceRow);
    if (c.kind == Column::Kind::Deferred && !c.isSet(row))
        return c.isNull(row) || !c.loader ? QVariant() : c.loader(*this, sourceRow);
    return c.value(row);
}

bool TMemDataSet::isNull(int sourceRow, int field) const
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return true;
    return m_columns[static_cast<size_t>(field)].isNull(static_cast<size_t>(sourceRow));
}

QString TMemDataSet::sourceText(int sourceRow, int field) const
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return {};
    const Column& c = m_columns[static_cast<size_t>(field)];
    const auto row = static_cast<size_t>(sourceRow);
    if (c.kind == Column::Kind::Deferred || c.kind == Column::Kind::Variant || c.isNull(row))
        return displayText(sourceValue(sourceRow, field));
    switch (c.kind) {
    case Column::Kind::Text:
        return c.text(row);
    case Column::Kind::Int32:
        return QString::number(c.i32[row]);
    case Column::Kind::Int64:
        return QString::number(c.i64[row]);
    default:
        return displayText(c.value(row));
    }
}

void TMemDataSet::sourceTextInto(int sourceRow, int field, QString& out) const
{
    if (sourceRow >= 0 && sourceRow < sourceRowCount() && field >= 0 && field < fieldCount()) {
        const Column& c = m_columns[static_cast<size_t>(field)];
        if (c.kind == Column::Kind::Text) {
            c.textInto(static_cast<size_t>(sourceRow), out);
            return;
        }
    }
    out = sourceText(sourceRow, field);
}

void TMemDataSet::setSourceValue(int sourceRow, int field, const QVariant& value)
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return;
    m_columns[static_cast<size_t>(field)].set(static_cast<size_t>(sourceRow), value);
    if (m_disabled) {
        m_pendingReset = true;
        return;
    }
    const auto it = std::find(m_visible.begin(), m_visible.end(), sourceRow);
    if (it != m_visible.end())
        emit rowChanged(static_cast<int>(it - m_visible.begin()));
}

void TMemDataSet::mapField(int field, const std::function<QVariant(const QVariant&)>& fn)
{
    if (field < 0 || field >= fieldCount())
        return;
    Column& c = m_columns[static_cast<size_t>(field)];
    for (int row = 0; row < m_rowCount; ++row)
        c.set(static_cast<size_t>(row), fn(sourceValue(row, field)));
    if (m_disabled)
        m_pendingReset = true;
    else
        emit layoutReset();
}

bool TMemDataSet::accepts(int sourceRow)
{
    if (m_filtered && m_filter && !m_filter(*this, sourceRow))
        return false;
    return !m_gridFilter || m_gridFilter(sourceRow);
}

void TMemDataSet::setGridFilter(GridFilter filter)
{
    m_gridFilter = std::move(filter);
    rebuild(currentSourceRow());
}

void TMemDataSet::rebuild(int keepSourceRow)
{
    m_visible.clear();
    m_visible.reserve(static_cast<size_t>(m_rowCount));
    const int n = sourceRowCount();
    for (int i = 0; i < n; ++i)
        if (accepts(i))
            m_visible.push_back(i);
    int row = 0;
    bool kept = false;
    if (keepSourceRow >= 0) {
        const auto it = std::find(m_visible.begin(), m_visible.end(), keepSourceRow);
        kept = it != m_visible.end();
        if (kept)
            row = static_cast<int>(it - m_visible.begin());
    }
    m_current = -1;
    if (m_disabled)
        m_pendingReset = true;
    else
        emit layoutReset();
    if (!kept) {
        moveTo(m_visible.empty() ? -1 : row, true);
        return;
    }
    // The same record stays current, only at another position: the views follow it, but it is
    // no scroll (an owner's after-scroll would treat it as a new record and drop its edits).
    m_current = row;
    m_bof = m_eof = false;
    if (m_disabled)
        m_pendingScroll = true;
    else
        emit currentChanged(m_current);
}

void TMemDataSet::setFiltered(bool on)
{
    if (m_filtered == on)
        return;
    m_filtered = on;
    rebuild(currentSourceRow());
}

void TMemDataSet::refilter() { rebuild(currentSourceRow()); }

void TMemDataSet::moveTo(int row, bool force)
{
    if (m_visible.empty()) {
        const bool changed = m_current != -1;
        m_current = -1;
        m_bof = m_eof = true;
        if (changed || force)
            notifyScroll();
        return;
    }
    row = std::clamp(row, 0, recordCount() - 1);
    m_bof = m_eof = false;
    if (row == m_current && !force)
        return;
    m_current = row;
    notifyScroll();
}

void TMemDataSet::notifyScroll()
{
    if (m_disabled) {
        m_pendingScroll = true;
        return;
    }
    emit currentChanged(m_current);
    if (afterScroll)
        afterScroll(*this);
}

void TMemDataSet::enableControls()
{
    if (m_disabled > 0)
        --m_disabled;
    if (m_disabled)
        return;
    if (m_pendingReset) {
        m_pendingReset = false;
        emit layoutReset();
    }
    if (m_pendingScroll) {
        m_pendingScroll = false;
        emit currentChanged(m_current);
    }
}

void TMemDataSet::setRecNo(int row) { moveTo(row); }

void TMemDataSet::first()
{
    moveTo(0);
    m_bof = true;
}

void TMemDataSet::last()
{
    moveTo(recordCount() - 1);
    m_eof = true;
}

void TMemDataSet::next()
{
    if (m_visible.empty() || m_current >= recordCount() - 1) {
        m_eof = true;
        return;
    }
    moveTo(m_current + 1);
}

void TMemDataSet::prior()
{
    if (m_visible.empty() || m_current <= 0) {
        m_bof = true;
        return;
    }
    moveTo(m_current - 1);
}

bool TMemDataSet::locate(const QString& field, const QVariant& value)
{
    const int f = fieldIndex(field);
    if (f < 0)
        return false;
    const Column& c = m_columns[static_cast<size_t>(f)];
    const bool text = value.typeId() == QMetaType::QString;
    const bool integers = (c.kind == Column::Kind::Int32 || c.kind == Column::Kind::Int64) && isIntegral(value);
    const qint64 wanted = integers ? value.toLongLong() : 0;
    const QString wantedText = text ? value.toString() : QString();
    QString cell;
    for (int row = 0; row < recordCount(); ++row) {
        const auto source = static_cast<size_t>(sourceRowAt(row));
        bool found;
        if (integers) {
            found = !c.isNull(source) && (c.kind == Column::Kind::Int32 ? c.i32[source] : c.i64[source]) == wanted;
        } else if (text && c.kind == Column::Kind::Text) {
            if (c.isNull(source))
                cell.clear();
            else
                c.textInto(source, cell);
            found = cell.compare(wantedText, Qt::CaseInsensitive) == 0;
        } else {
            const QVariant v = valueAt(row, f);
            found = text ? v.toString().compare(wantedText, Qt::CaseInsensitive) == 0 : v == value;
        }
        if (found) {
            moveTo(row);
            return true;
        }
    }
    return false;
}

QVariant TMemDataSet::value(int field) const { return sourceValue(currentSourceRow(), field); }
QVariant TMemDataSet::value(const QString& field) const { return value(fieldIndex(field)); }
QString TMemDataSet::text(int field) const { return sourceText(currentSourceRow(), field); }
QString TMemDataSet::text(const QString& field) const { return text(fieldIndex(field)); }

void TMemDataSet::edit()
{
    if (m_state != State::Browse || m_current < 0)
        return;
    const int source = currentSourceRow();
    m_editBackup.assign(m_columns.size(), QVariant());
    m_editDeferred.assign(m_columns.size(), false);
    for (size_t f = 0; f < m_columns.size(); ++f) {
        const Column& c = m_columns[f];
        if (c.kind == Column::Kind::Deferred && !c.isSet(static_cast<size_t>(source)))
            m_editDeferred[f] = true;
        else
            m_editBackup[f] = sourceValue(source, static_cast<int>(f));
    }
    m_state = State::Edit;
}

void TMemDataSet::appendNullRow()
{
    for (Column& c : m_columns)
        c.appendNull();
    ++m_rowCount;
}

void TMemDataSet::insert()
{
    if (m_state != State::Browse)
        post();
    appendNullRow();
    m_visible.push_back(sourceRowCount() - 1);
    if (!m_disabled)
        emit layoutReset();
    m_state = State::Insert;
    moveTo(recordCount() - 1);
}

void TMemDataSet::setValue(int field, const QVariant& value)
{
    if (m_state == State::Browse)
        edit();
    setSourceValue(currentSourceRow(), field, value);
}

void TMemDataSet::setValue(const QString& field, const QVariant& value) { setValue(fieldIndex(field), value); }

void TMemDataSet::post() { m_state = State::Browse; }

void TMemDataSet::cancel()
{
    if (m_state == State::Insert) {
        m_state = State::Browse;
        deleteCurrent();
        return;
    }
    if (m_state == State::Edit && m_current >= 0) {
        const auto source = static_cast<size_t>(currentSourceRow());
        for (size_t f = 0; f < m_columns.size() && f < m_editBackup.size(); ++f) {
            Column& c = m_columns[f];
            if (!m_editDeferred[f]) {
                c.set(source, m_editBackup[f]);
            } else if (c.isSet(source)) {
                // Back to what the load saw: read again when asked for.
                setBit(c.setBits, source, false);
                c.variants[source] = QVariant();
            }
        }
        if (!m_disabled)
            emit rowChanged(m_current);
    }
    m_state = State::Browse;
}

void TMemDataSet::deleteCurrent()
{
    if (m_current < 0)
        return;
    m_state = State::Browse;
    const int source = currentSourceRow();
    for (Column& c : m_columns)
        c.erase(static_cast<size_t>(source));
    --m_rowCount;
    int row = m_current;
    m_visible.erase(m_visible.begin() + row);
    for (int& v : m_visible)
        if (v > source)
            --v;
    if (!m_disabled)
        emit layoutReset();
    else
        m_pendingReset = true;
    m_current = -1;
    moveTo(std::min(row, recordCount() - 1), true);
}

void TMemDataSet::refresh()
{
    if (onRefresh)
        onRefresh(*this);
}

std::vector<std::uint32_t> TMemDataSet::sortOrder(int field, bool ascending) const
{
    const Column& c = m_columns[static_cast<size_t>(field)];
    const auto n = static_cast<size_t>(m_rowCount);
    std::vector<std::uint32_t> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<std::uint32_t>(i);
    // Equal values keep their order, in both directions.
    const auto directed = [ascending](auto less, auto equal) {
        return [=](std::uint32_t a, std::uint32_t b) {
            if (!equal(a, b))
                return ascending ? less(a, b) : less(b, a);
            return a < b;
        };
    };

    if (c.kind == Column::Kind::Text && !c.isWide) {
        // Two integer keys of the first sixteen folded characters (names often share the first
        // word); only equal keys compare the rest of the texts.
        const FoldTable& t = foldTable();
        struct Item {
            std::uint64_t key[2];
            std::uint32_t row;
        };
        const auto span = [&c](size_t r) { return c.isNull(r) ? Column::Span{0, 0} : c.spans[r]; };
        std::vector<Item> items(n);
        for (size_t r = 0; r < n; ++r) {
            const Column::Span s = span(r);
            const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data() + s.offset);
            Item& item = items[r];
            for (std::uint32_t w = 0; w < 2; ++w) {
                std::uint64_t key = 0;
                for (std::uint32_t i = w * 8; i < w * 8 + 8; ++i)
                    key = (key << 8) | (i < s.length ? t.rank[p[i]] : 0);
                item.key[w] = key;
            }
            item.row = static_cast<std::uint32_t>(r);
        }
        // Called only for equal keys: the characters the keys hold are equal already.
        const auto rest = [&](std::uint32_t a, std::uint32_t b) {
            const Column::Span sa = span(a), sb = span(b);
            const auto* pa = reinterpret_cast<const unsigned char*>(c.bytes.data() + sa.offset);
            const auto* pb = reinterpret_cast<const unsigned char*>(c.bytes.data() + sb.offset);
            const std::uint32_t m = std::min(sa.length, sb.length);
            for (std::uint32_t i = std::min<std::uint32_t>(m, 16); i < m; ++i)
                if (t.rank[pa[i]] != t.rank[pb[i]])
                    return t.rank[pa[i]] < t.rank[pb[i]] ? -1 : 1;
            return sa.length == sb.length ? 0 : (sa.length < sb.length ? -1 : 1);
        };
        std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
            for (int w = 0; w < 2; ++w)
                if (a.key[w] != b.key[w])
                    return ascending ? a.key[w] < b.key[w] : a.key[w] > b.key[w];
            const int cmp = rest(a.row, b.row);
            if (cmp != 0)
                return ascending ? cmp < 0 : cmp > 0;
            return a.row < b.row;
        });
        for (size_t i = 0; i < n; ++i)
            order[i] = items[i].row;
        return order;
    }

    // Nulls come before every value.
    const auto nullsFirst = [&](auto valueLess) {
        return [&c, valueLess](std::uint32_t a, std::uint32_t b) {
            const bool na = c.isNull(a), nb = c.isNull(b);
            if (na || nb)
                return na && !nb;
            return valueLess(a, b);
        };
    };
    const auto sortTyped = [&](const auto& values) {
        const auto less = nullsFirst([&values](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
        const auto equal = [&](std::uint32_t a, std::uint32_t b) { return !less(a, b) && !less(b, a); };
        std::sort(order.begin(), order.end(), directed(less, equal));
    };
    switch (c.kind) {
    case Column::Kind::Int32:
    case Column::Kind::Bool:
        sortTyped(c.i32);
        return order;
    case Column::Kind::Int64:
    case Column::Kind::DateTime:
    case Column::Kind::Date:
        sortTyped(c.i64);
        return order;
    case Column::Kind::Double:
        sortTyped(c.dbl);
        return order;
    default:
        break;
    }

    // Wide text and fields of mixed types: case-folded keys when any value is text, else the
    // values' own order.
    std::vector<QVariant> values(n);
    bool text = false;
    for (size_t r = 0; r < n; ++r) {
        values[r] = sourceValue(static_cast<int>(r), field);
        text = text || values[r].typeId() == QMetaType::QString;
    }
    if (text) {
        std::vector<QString> keys(n);
        for (size_t r = 0; r < n; ++r)
            keys[r] = values[r].toString().toCaseFolded();
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const int cmp = QString::compare(keys[a], keys[b]);
            return ascending ? cmp < 0 : cmp > 0;
        });
    } else {
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const auto cmp = QVariant::compare(values[a], values[b]);
            return ascending ? cmp == QPartialOrdering::Less : cmp == QPartialOrdering::Greater;
        });
    }
    return order;
}

void TMemDataSet::sortBy(int field, bool ascending)
{
    if (field < 0 || field >= fieldCount())
        return;
    const int keep = currentSourceRow();
    const std::vector<std::uint32_t> order = sortOrder(field, ascending);
    for (Column& c : m_columns)
        c.permute(order);
    int newKeep = -1;
    for (size_t i = 0; i < order.size() && keep >= 0; ++i)
        if (order[i] == static_cast<std::uint32_t>(keep)) {
            newKeep = static_cast<int>(i);
            break;
        }
    rebuild(newKeep);
}
