#include "Workbook.h"

#include "CellFormat.h"

#include "core/InputError.h"
#include "db/Cp1251.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <freexl.h>
#include <orcus/zip_archive.hpp>
#include <orcus/zip_archive_stream.hpp>
#include <pugixml.hpp>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <optional>

#include <poll.h>

#if defined(__SANITIZE_ADDRESS__)
#define GK_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GK_ADDRESS_SANITIZER 1
#endif
#endif
#if GK_ADDRESS_SANITIZER
#include <sanitizer/common_interface_defs.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The rows a sheet has; its last row may be used like any other.
constexpr int kSheetRows = 1'048'576;
// The largest part of a zipped workbook and the largest .xls file read: a sheet of a million users
// fits well within them, and the reader holds the whole part in memory.
constexpr quint32 kMaxPartMB = 128;
constexpr qint64 kMaxXlsMB = 256;

const QString kBroken = QStringLiteral("файлът не е работна книга %1 или е повреден");
const QString kEncrypted = QStringLiteral("работната книга е защитена с парола (шифрована); запишете я без парола и заредете отново");
const QString kTooBig = QStringLiteral("%1 е твърде голям: %2 MB, а се четат най-много %3 MB");
const QString kNoRows = QStringLiteral("в първия лист няма попълнени клетки в колони A до D");
const QString kBeyondSheet = QStringLiteral("клетка на ред %1 е извън листа (редовете са най-много %2)");
const QString kNoResult = QStringLiteral("клетка %1 съдържа формула без запазена стойност; отворете файла в програмата за таблици и го запишете отново");
const QString kErrorValue = QStringLiteral("клетка %1 показва грешка %2");

[[noreturn]] void refuse(const QString& path, const QString& reason)
{
    throw InputError(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), reason));
}

QString cellName(int row, int col) { return QChar(u'A' + col) + QString::number(row + 1); }

// What the first sheet shows in the columns A to D, by row (0-based).
class SheetCells {
public:
    void set(int row, int col, const QString& text)
    {
        if (col < 0 || col > 3)
            return;
        const QString t = text.trimmed();
        auto it = m_rows.find(row);
        if (it == m_rows.end()) {
            if (t.isEmpty())
                return;
            it = m_rows.emplace(row, ImportRow{}).first;
            it->second.number = row + 1;
        }
        field(it->second, col) = t;
    }
    void unreadable(int row, int col, const QString& reason)
    {
        if (col < 0 || col > 3)
            return;
        ImportRow& r = m_rows[row];
        r.number = row + 1;
        if (r.unreadable.isEmpty())
            r.unreadable = reason;
        field(r, col).clear();
    }
    QList<ImportRow> rows() const
    {
        QList<ImportRow> out;
        for (const auto& [n, r] : m_rows)
            if (!r.login.isEmpty() || !r.fullName.isEmpty() || !r.password.isEmpty() || !r.className.isEmpty() ||
                !r.unreadable.isEmpty())
                out.append(r);
        return out;
    }
    static QString& field(ImportRow& r, int col)
    {
        switch (col) {
        case 0: return r.login;
        case 1: return r.fullName;
        case 2: return r.password;
        default: return r.className;
        }
    }

private:
    std::map<int, ImportRow> m_rows;
};

// ---- .xls: the compound file and the records freexl leaves out

quint32 le32(QByteArrayView b, qsizetype at) { return qFromLittleEndian<quint32>(b.data() + at); }
quint16 le16(QByteArrayView b, qsizetype at) { return qFromLittleEndian<quint16>(b.data() + at); }

// The streams of an OLE compound file, by name.
class Compound {
public:
    explicit Compound(const QByteArray& f) : m_f(f)
    {
        if (f.size() < 512 || !f.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            return;
        const int shift = le16(f, 0x1E);
        if (shift != 9 && shift != 12)
            return;
        m_size = 1 << shift;
        // The sectors of the allocation table: 109 in the header, the rest in a chain of their own.
        QList<quint32> fatSectors;
        for (int i = 0; i < 109; ++i)
            fatSectors.append(le32(f, 0x4C + 4 * i));
        quint32 dif = le32(f, 0x44);
        for (qsizetype guard = 0; dif < 0xFFFFFFFA && guard < f.size() / m_size; ++guard) {
            if (!inFile(dif))
                return;
            const qsizetype at = offset(dif);
            for (int i = 0; i < m_size / 4 - 1; ++i)
                fatSectors.append(le32(f, at + 4 * i));
            dif = le32(f, at + m_size - 4);
        }
        const quint32 count = std::min<quint32>(le32(f, 0x2C), quint32(fatSectors.size()));
        for (quint32 i = 0; i < count; ++i) {
            const quint32 s = fatSectors[i];
            if (!inFile(s))
                return;
            for (int k = 0; k < m_size / 4; ++k)
                m_fat.append(le32(f, offset(s) + 4 * k));
        }
        const QByteArray dir = chain(m_fat, le32(f, 0x30), -1, false);
        m_cutoff = le32(f, 0x38);
        for (qsizetype at = 0; at + 128 <= dir.size(); at += 128) {
            const int nameBytes = std::min<int>(le16(dir, at + 64), 64);
            Entry e;
            e.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(dir.constData() + at), std::max(0, nameBytes / 2 - 1));
            e.type = quint8(dir[at + 66]);
            e.start = le32(dir, at + 116);
            e.size = le32(dir, at + 120);
            m_entries.append(e);
        }
        if (!m_entries.isEmpty()) {
            m_mini = chain(m_fat, m_entries[0].start, m_entries[0].size, false);
            const QByteArray miniFat = chain(m_fat, le32(f, 0x3C), -1, false);
            for (qsizetype at = 0; at + 4 <= miniFat.size(); at += 4)
                m_miniFat.append(le32(miniFat, at));
        }
        m_ok = true;
    }
    bool ok() const { return m_ok; }
    bool has(const QString& name) const { return find(name) != nullptr; }
    std::optional<QByteArray> stream(const QString& name) const
    {
        const Entry* e = find(name);
        if (!e)
            return std::nullopt;
        if (e->size < m_cutoff)
            return chain(m_miniFat, e->start, e->size, true);
        return chain(m_fat, e->start, e->size, false);
    }

private:
    struct Entry {
        QString name;
        quint8 type = 0;
        quint32 start = 0;
        quint32 size = 0;
    };
    const Entry* find(const QString& name) const
    {
        for (const Entry& e : m_entries)
            if (e.type == 2 && e.name.compare(name, Qt::CaseInsensitive) == 0)
                return &e;
        return nullptr;
    }
    qsizetype offset(quint32 sector) const { return (qsizetype(sector) + 1) * m_size; }
    bool inFile(quint32 sector) const { return sector < 0xFFFFFFFA && offset(sector) + m_size <= m_f.size(); }
    // The sectors of a chain, joined and cut to size (-1: whole); a loop or a sector outside the
    // file ends it.
    QByteArray chain(const QList<quint32>& table, quint32 start, qint64 size, bool mini) const
    {
        QByteArray out;
        quint32 s = start;
        // A chain that loops ends after as many sectors as there are.
        const qsizetype most = std::min<qsizetype>(table.size(), (mini ? m_mini.size() / 64 : m_f.size() / m_size) + 1);
        for (qsizetype steps = 0; s < 0xFFFFFFFA && steps <= most; ++steps) {
            if (mini) {
                if (qsizetype(s) * 64 + 64 > m_mini.size())
                    break;
                out.append(m_mini.constData() + qsizetype(s) * 64, 64);
            } else {
                if (!inFile(s))
                    break;
                out.append(m_f.constData() + offset(s), m_size);
            }
            if (size >= 0 && out.size() >= size)
                break;
            if (s >= quint32(table.size()))
                break;
            s = table[s];
        }
        if (size >= 0 && out.size() > size)
            out.truncate(size);
        return out;
    }

    const QByteArray& m_f;
    int m_size = 512;
    bool m_ok = false;
    quint32 m_cutoff = 4096;
    QList<quint32> m_fat, m_miniFat;
    QByteArray m_mini;
    QList<Entry> m_entries;
};

// A record of the workbook stream and the CONTINUE records that follow it.
struct Record {
    quint16 type = 0;
    QList<QByteArrayView> parts;
    QByteArrayView data() const { return parts.isEmpty() ? QByteArrayView() : parts[0]; }
};

class Records {
public:
    Records(const QByteArray& s, qsizetype at) : m_s(s), m_at(at) {}
    bool next(Record& r)
    {
        if (m_at + 4 > m_s.size())
            return false;
        r.type = le16(m_s, m_at);
        r.parts.clear();
        for (bool first = true;; first = false) {
            const quint16 len = le16(m_s, m_at + 2);
            if (m_at + 4 + len > m_s.size())
                return false;
            r.parts.append(QByteArrayView(m_s.constData() + m_at + 4, len));
            m_at += 4 + len;
            if (m_at + 4 > m_s.size() || le16(m_s, m_at) != 0x003C || (first && r.type == 0x003C))
                break;
        }
        return true;
    }

private:
    const QByteArray& m_s;
    qsizetype m_at;
};

// A string of a record: its count (one or two bytes), in BIFF8 a flags byte and one- or two-byte
// characters that may go on in CONTINUE records, each with a flags byte of its own.
QString biffString(const Record& r, qsizetype at, int countBytes, bool biff8, int codepage)
{
    if (r.parts.isEmpty() || at + countBytes > r.parts[0].size())
        return {};
    QByteArrayView p = r.parts[0];
    const int count = countBytes == 1 ? quint8(p[at]) : le16(p, at);
    at += countBytes;
    if (!biff8) {
        const QByteArrayView bytes = p.sliced(at, std::min<qsizetype>(count, p.size() - at));
        return codepage == 1251 ? cp1251::decode(bytes.data(), bytes.size()) : QString::fromLatin1(bytes);
    }
    if (at >= p.size())
        return {};
    bool wide = quint8(p[at++]) & 1;
    QString out;
    int part = 0;
    while (out.size() < count) {
        if (at + (wide ? 2 : 1) > p.size()) {
            if (++part >= r.parts.size())
                break;
            p = r.parts[part];
            if (p.isEmpty())
                break;
            wide = quint8(p[0]) & 1;
            at = 1;
            continue;
        }
        out += wide ? QChar(le16(p, at)) : QChar(quint8(p[at]));
        at += wide ? 2 : 1;
    }
    return out;
}

double rkValue(quint32 rk)
{
    double v;
    if (rk & 2) {
        v = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, 8);
    }
    return (rk & 1) ? v / 100 : v;
}

QString biffError(quint8 code)
{
    switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    default: return QStringLiteral("#N/A");
    }
}

// The numbers (with their formats), formula results and truth values of the first worksheet, which
// freexl reads without their formats or not at all. nullopt when the records cannot be found;
// an encrypted workbook is refused.
std::optional<SheetCells> readBiffValues(const QString& path, const QByteArray& file)
{
    const Compound cf(file);
    if (!cf.ok())
        return std::nullopt;
    std::optional<QByteArray> s = cf.stream(QStringLiteral("Workbook"));
    if (!s)
        s = cf.stream(QStringLiteral("Book"));
    if (!s)
        return std::nullopt;
    Records globals(*s, 0);
    Record r;
    if (!globals.next(r) || r.type != 0x0809 || r.data().size() < 2)
        return std::nullopt;
    const bool biff8 = le16(r.data(), 0) == 0x0600;
    bool date1904 = false;
    int codepage = 1252;
    QHash<int, QString> formats;
    QList<int> xfs;
    qint64 sheetAt = -1;
    while (globals.next(r) && r.type != 0x000A) {
        const QByteArrayView d = r.data();
        switch (r.type) {
        case 0x002F:
            refuse(path, kEncrypted);
        case 0x0022:
            if (d.size() >= 2)
                date1904 = le16(d, 0) == 1;
            break;
        case 0x0042:
            if (d.size() >= 2)
                codepage = le16(d, 0);
            break;
        case 0x041E:
            if (d.size() >= 3)
                formats.insert(le16(d, 0), biffString(r, 2, biff8 ? 2 : 1, biff8, codepage));
            break;
        case 0x00E0:
            if (d.size() >= 4)
                xfs.append(le16(d, 2));
            break;
        case 0x0085:
            if (d.size() >= 6 && sheetAt < 0 && quint8(d[5]) == 0)
                sheetAt = le32(d, 0);
            break;
        default:
            break;
        }
    }
    if (sheetAt < 0 || sheetAt >= s->size())
        return std::nullopt;
    auto shown = [&](int xf, double value) {
        const int id = xf >= 0 && xf < xfs.size() ? xfs[xf] : 0;
        const auto it = formats.constFind(id);
        return FormatCellNumber(value, it != formats.cend() ? *it : BuiltinNumberFormat(id), date1904);
    };
    SheetCells cells;
    Records sheet(*s, sheetAt);
    int depth = 0;
    int pendingRow = -1, pendingCol = -1; // a formula whose text result follows
    while (sheet.next(r)) {
        const QByteArrayView d = r.data();
        if (r.type == 0x0809) {
            ++depth;
            continue;
        }
        if (r.type == 0x000A) {
            if (--depth <= 0)
                break;
            continue;
        }
        if (depth != 1)
            continue;
        if (r.type == 0x0207 && pendingRow >= 0) {
            cells.set(pendingRow, pendingCol, biffString(r, 0, 2, biff8, codepage));
            pendingRow = -1;
            continue;
        }
        if (d.size() < 6)
            continue;
        const int row = le16(d, 0), col = le16(d, 2), xf = le16(d, 4);
        switch (r.type) {
        case 0x0203: // NUMBER
            if (d.size() >= 14) {
                double v;
                std::memcpy(&v, d.data() + 6, 8);
                cells.set(row, col, shown(xf, qFromLittleEndian(v)));
            }
            break;
        case 0x027E: // RK
            if (d.size() >= 10)
                cells.set(row, col, shown(xf, rkValue(le32(d, 6))));
            break;
        case 0x00BD: // MULRK
            for (qsizetype at = 4, c = col; at + 6 <= d.size() - 2; at += 6, ++c)
                cells.set(row, int(c), shown(le16(d, at), rkValue(le32(d, at + 2))));
            break;
        case 0x0205: // BOOLERR
            if (d.size() >= 8) {
                if (quint8(d[7]))
                    cells.unreadable(row, col, kErrorValue.arg(cellName(row, col), biffError(quint8(d[6]))));
                else
                    cells.set(row, col, quint8(d[6]) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
            }
            break;
        case 0x0006: // FORMULA: the last result is stored with it
            if (d.size() >= 14) {
                if (quint8(d[12]) == 0xFF && quint8(d[13]) == 0xFF) {
                    switch (quint8(d[6])) {
                    case 0:
                        pendingRow = row;
                        pendingCol = col;
                        break;
                    case 1:
                        cells.set(row, col, quint8(d[8]) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
                        break;
                    case 2:
                        cells.unreadable(row, col, kErrorValue.arg(cellName(row, col), biffError(quint8(d[8]))));
                        break;
                    default:
                        cells.set(row, col, QString());
                        break;
                    }
                } else {
                    double v;
                    std::memcpy(&v, d.data() + 6, 8);
                    cells.set(row, col, shown(xf, qFromLittleEndian(v)));
                }
            }
            break;
        default:
            break;
        }
    }
    return cells;
}

QList<ImportRow> readXls(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        refuse(path, f.errorString());
    if (f.size() > kMaxXlsMB << 20)
        refuse(path, kTooBig.arg(QStringLiteral("Файлът")).arg(f.size() >> 20).arg(kMaxXlsMB));
    const QByteArray file = f.readAll();
    const std::optional<SheetCells> values = readBiffValues(path, file);

    const void* handle = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (freexl_open(name.constData(), &handle) != FREEXL_OK || !handle) {
        if (handle)
            freexl_close(handle);
        refuse(path, QStringLiteral("файлът не е работна книга .xls, повреден е или е шифрован"));
    }
    struct Closer {
        const void* h;
        ~Closer() { freexl_close(h); }
    } closer{handle};
    unsigned int rows = 0;
    unsigned short columns = 0;
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK ||
        freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK)
        refuse(path, QStringLiteral("първият лист не може да бъде прочетен"));
    rows = std::min<unsigned int>(rows, kSheetRows);
    const unsigned short used = std::min<unsigned short>(columns, 4);
    // freexl gives the texts; the values read above give numbers as formatted, and formula results.
    SheetCells cells = values ? *values : SheetCells();
    for (unsigned int r = 0; r < rows; ++r) {
        for (unsigned short c = 0; c < used; ++c) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK)
                continue;
            switch (cell.type) {
            case FREEXL_CELL_INT:
                if (!values)
                    cells.set(int(r), c, QString::number(cell.value.int_value));
                break;
            case FREEXL_CELL_DOUBLE:
                if (!values)
                    cells.set(int(r), c, GeneralNumber(cell.value.double_value));
                break;
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (!values && cell.value.text_value)
                    cells.set(int(r), c, QString::fromUtf8(cell.value.text_value));
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
                if (cell.value.text_value)
                    cells.set(int(r), c, QString::fromUtf8(cell.value.text_value));
                break;
            default:
                break;
            }
        }
    }
    return cells.rows();
}

void putText(QByteArray& out, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    const quint32 n = qToLittleEndian(quint32(bytes.size()));
    out.append(reinterpret_cast<const char*>(&n), 4).append(bytes);
}

// freexl can overrun its own buffers on a damaged file. The workbook is read in a child process,
// so that such a file costs a refusal instead of the program's memory; the rows come back through
// a pipe, each as its number and its five texts (the four cells and why it cannot be read), each
// text as its length and its UTF-8 bytes.
QList<ImportRow> readXlsIsolated(const QString& path)
{
    int fds[2];
    if (pipe(fds) != 0)
        refuse(path, QString::fromLocal8Bit(std::strerror(errno)));
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        refuse(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    if (child == 0) {
        close(fds[0]);
#if GK_ADDRESS_SANITIZER
        // A sanitizer's report ends the child here, not in the handlers it inherited.
        __sanitizer_set_death_callback([] { _exit(3); });
#endif
        QByteArray out;
        try {
            const QList<ImportRow> rows = readXls(path);
            out += 'R';
            for (const ImportRow& row : rows) {
                const quint32 n = qToLittleEndian(quint32(row.number));
                out.append(reinterpret_cast<const char*>(&n), 4);
                for (const QString* t : {&row.login, &row.fullName, &row.password, &row.className, &row.unreadable})
                    putText(out, *t);
            }
        } catch (const InputError& e) {
            out = 'E' + e.message().toUtf8();
        }
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n = write(fds[1], out.constData() + done, size_t(out.size() - done));
            if (n <= 0)
                _exit(1);
            done += n;
        }
        _exit(0);
    }
    close(fds[1]);
    QByteArray in;
    char buffer[65536];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        // A reader that hangs is stopped after a minute.
        if (poll(&p, 1, 60000) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        in.append(buffer, n);
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || in.isEmpty())
        refuse(path, QStringLiteral("файлът е повреден: четецът на .xls не можа да го прочете"));
    if (in[0] == 'E')
        throw InputError(QString::fromUtf8(in.mid(1)));
    QList<ImportRow> rows;
    qsizetype at = 1;
    auto take = [&]() -> quint32 {
        if (at + 4 > in.size())
            refuse(path, QStringLiteral("четецът на .xls върна непълни данни"));
        const quint32 n = qFromLittleEndian<quint32>(in.constData() + at);
        at += 4;
        return n;
    };
    while (at < in.size()) {
        ImportRow row;
        row.number = int(take());
        for (QString* t : {&row.login, &row.fullName, &row.password, &row.className, &row.unreadable}) {
            const quint32 n = take();
            if (n > quint32(in.size() - at))
                refuse(path, QStringLiteral("четецът на .xls върна непълни данни"));
            *t = QString::fromUtf8(in.constData() + at, n);
            at += n;
        }
        rows.append(row);
    }
    return rows;
}

// ---- .xlsx and .ods: zipped XML

// The zip reader believes the sizes a file declares and allocates them whole: a workbook whose
// parts claim more than any real workbook holds is refused before it is read. Returns the file.
QByteArray checkZip(const QString& path, const QString& kind)
{
    constexpr quint32 kMaxPart = kMaxPartMB << 20;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        refuse(path, f.errorString());
    const QByteArray b = f.readAll();
    const qsizetype size = b.size();
    // Encrypted OOXML workbooks are compound files holding the encrypted package.
    if (b.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") && Compound(b).has(QStringLiteral("EncryptedPackage")))
        refuse(path, kEncrypted);
    qsizetype eocd = -1;
    for (qsizetype i = size - 22; i >= 0 && i >= size - 22 - 65535; --i)
        if (le32(b, i) == 0x06054b50) {
            eocd = i;
            break;
        }
    const QString broken = kBroken.arg(kind);
    if (eocd < 0)
        refuse(path, broken);
    const quint16 entries = le16(b, eocd + 10);
    const quint32 dirSize = le32(b, eocd + 12);
    qsizetype at = le32(b, eocd + 16);
    if (at + qsizetype(dirSize) > eocd)
        refuse(path, broken);
    for (quint16 n = 0; n < entries; ++n) {
        if (at + 46 > eocd || le32(b, at) != 0x02014b50)
            refuse(path, broken);
        const quint32 packed = le32(b, at + 20);
        const quint32 unpacked = le32(b, at + 24);
        const qsizetype local = le32(b, at + 42);
        const quint16 nameLength = le16(b, at + 28);
        if (packed > quint32(size) || local + 30 > size || le32(b, local) != 0x04034b50 || le32(b, local + 18) > quint32(size))
            refuse(path, broken);
        if (unpacked > kMaxPart || le32(b, local + 22) > kMaxPart) {
            const QString part = at + 46 + nameLength <= size ? QString::fromUtf8(b.mid(at + 46, nameLength)) : QString();
            refuse(path, kTooBig.arg(QStringLiteral("Листът %1").arg(part)).arg(std::max(unpacked, le32(b, local + 22)) >> 20).arg(kMaxPartMB));
        }
        at += 46 + nameLength + le16(b, at + 30) + le16(b, at + 32);
    }
    return b;
}

class Zip {
public:
    Zip(const QByteArray& bytes)
        : m_stream(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())), m_archive(&m_stream)
    {
        m_archive.load();
    }
    std::optional<std::vector<unsigned char>> part(const std::string& name) const
    {
        std::vector<unsigned char> buf;
        try {
            if (!m_archive.read_file_entry(name, buf))
                return std::nullopt;
        } catch (const orcus::zip_error&) {
            return std::nullopt;
        }
        return buf;
    }

private:
    orcus::zip_archive_stream_blob m_stream;
    orcus::zip_archive m_archive;
};

// Names without their namespace prefix: writers choose prefixes freely.
std::string_view local(const char* name)
{
    const std::string_view n(name);
    const size_t colon = n.find(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

pugi::xml_node child(pugi::xml_node n, std::string_view name)
{
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && local(c.name()) == name)
            return c;
    return {};
}

pugi::xml_attribute attr(pugi::xml_node n, std::string_view name, std::string_view prefix = {})
{
    for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view full(a.name());
        if (local(a.name()) == name && (prefix.empty() || full.substr(0, full.find(':')) == prefix))
            return a;
    }
    return {};
}

QString text(const char* s) { return QString::fromUtf8(s); }

class Xml {
public:
    Xml(const QString& path, const QString& kind, std::vector<unsigned char> bytes) : m_bytes(std::move(bytes))
    {
        if (m_bytes.empty())
            return;
        const pugi::xml_parse_result res = m_doc.load_buffer_inplace(m_bytes.data(), m_bytes.size());
        if (!res)
            refuse(path, kBroken.arg(kind) + QStringLiteral(" (%1)").arg(text(res.description())));
    }
    pugi::xml_node root() const { return m_doc.document_element(); }

private:
    std::vector<unsigned char> m_bytes;
    pugi::xml_document m_doc;
};

// A relationship's target beside the part at base ("xl/workbook.xml").
std::string resolve(const std::string& base, std::string target)
{
    if (!target.empty() && target[0] == '/')
        return target.substr(1);
    std::string dir = base.substr(0, base.rfind('/') + 1);
    while (target.rfind("../", 0) == 0) {
        target = target.substr(3);
        if (!dir.empty())
            dir = dir.substr(0, dir.rfind('/', dir.size() - 2) + 1);
    }
    return dir + target;
}

// The targets of a part's relationships by id and by the last word of their type.
struct Relations {
    QHash<QString, std::string> byId, byType;
};

Relations relations(const QString& path, const Zip& zip, const std::string& part)
{
    const size_t slash = part.rfind('/');
    const std::string relsName = (slash == std::string::npos ? std::string() : part.substr(0, slash + 1)) + "_rels/" +
                                 part.substr(slash == std::string::npos ? 0 : slash + 1) + ".rels";
    Relations out;
    std::optional<std::vector<unsigned char>> bytes = zip.part(relsName);
    if (!bytes)
        return out;
    const Xml xml(path, QStringLiteral(".xlsx"), std::move(*bytes));
    for (pugi::xml_node r = xml.root().first_child(); r; r = r.next_sibling()) {
        if (local(r.name()) != "Relationship")
            continue;
        const std::string target = resolve(part, r.attribute("Target").value());
        out.byId.insert(text(r.attribute("Id").value()), target);
        out.byType.insert(text(r.attribute("Type").value()).section(QLatin1Char('/'), -1), target);
    }
    return out;
}

// The text of a shared or inline string: its runs, without the phonetic guides.
QString runText(pugi::xml_node n)
{
    QString out;
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        const std::string_view name = local(c.name());
        if (name == "t")
            out += text(c.text().get());
        else if (name == "r")
            out += runText(c);
    }
    return out;
}

// "C5" → column 2 (-1 without letters); row from its digits (0 without).
int columnOf(const char* ref, int& row)
{
    int col = 0;
    bool letters = false;
    const char* p = ref;
    for (; *p >= 'A' && *p <= 'Z'; ++p) {
        col = std::min(col * 26 + (*p - 'A' + 1), 1 << 20);
        letters = true;
    }
    row = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        row = std::min(row * 10 + (*p - '0'), kSheetRows + 1);
    return letters ? col - 1 : -1;
}

QList<ImportRow> readXlsx(const QString& path)
{
    const QString kind = QStringLiteral(".xlsx");
    const QByteArray bytes = checkZip(path, kind);
    const Zip zip(bytes);
    const Relations root = relations(path, zip, std::string());
    const std::string bookName = root.byType.value(QStringLiteral("officeDocument"), "xl/workbook.xml");
    std::optional<std::vector<unsigned char>> bookBytes = zip.part(bookName);
    if (!bookBytes)
        refuse(path, kBroken.arg(kind));
    const Xml book(path, kind, std::move(*bookBytes));
    const Relations rels = relations(path, zip, bookName);
    bool date1904 = false;
    if (pugi::xml_node pr = child(book.root(), "workbookPr"))
        date1904 = pr.attribute("date1904").as_bool();
    const pugi::xml_node first = child(child(book.root(), "sheets"), "sheet");
    if (!first)
        refuse(path, QStringLiteral("работната книга няма листове"));
    const std::string sheetName = rels.byId.value(text(attr(first, "id", "r").value()),
                                                  rels.byId.value(text(attr(first, "id").value()), std::string()));

    QList<QString> shared;
    if (std::optional<std::vector<unsigned char>> b = zip.part(rels.byType.value(QStringLiteral("sharedStrings"), "xl/sharedStrings.xml"))) {
        const Xml sst(path, kind, std::move(*b));
        for (pugi::xml_node si = sst.root().first_child(); si; si = si.next_sibling())
            if (local(si.name()) == "si")
                shared.append(runText(si));
    }
    QList<QString> xfFormats; // the number format code of each cell format
    if (std::optional<std::vector<unsigned char>> b = zip.part(rels.byType.value(QStringLiteral("styles"), "xl/styles.xml"))) {
        const Xml styles(path, kind, std::move(*b));
        QHash<int, QString> codes;
        for (pugi::xml_node f = child(child(styles.root(), "numFmts"), "numFmt"); f; f = f.next_sibling())
            codes.insert(f.attribute("numFmtId").as_int(), text(f.attribute("formatCode").value()));
        for (pugi::xml_node xf = child(child(styles.root(), "cellXfs"), "xf"); xf; xf = xf.next_sibling()) {
            const int id = xf.attribute("numFmtId").as_int();
            xfFormats.append(codes.value(id, BuiltinNumberFormat(id)));
        }
    }
    std::optional<std::vector<unsigned char>> sheetBytes = sheetName.empty() ? std::nullopt : zip.part(sheetName);
    if (!sheetBytes)
        refuse(path, QStringLiteral("първият лист не може да бъде прочетен"));
    const Xml sheet(path, kind, std::move(*sheetBytes));

    SheetCells cells;
    int row = -1;
    for (pugi::xml_node r = child(child(sheet.root(), "sheetData"), "row"); r; r = r.next_sibling()) {
        if (local(r.name()) != "row")
            continue;
        row = r.attribute("r") ? std::min(r.attribute("r").as_int(), kSheetRows + 1) - 1 : row + 1;
        if (row < 0)
            refuse(path, kBroken.arg(kind));
        int col = -1;
        for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
            if (local(c.name()) != "c")
                continue;
            int refRow = 0;
            const int at = c.attribute("r") ? columnOf(c.attribute("r").value(), refRow) : -1;
            col = at >= 0 ? at : col + 1;
            if (row >= kSheetRows)
                refuse(path, kBeyondSheet.arg(row + 1).arg(kSheetRows));
            if (col > 3)
                continue;
            const std::string_view type = c.attribute("t").value();
            const pugi::xml_node v = child(c, "v");
            const bool formula = bool(child(c, "f"));
            const QString value = text(v.text().get());
            if (type == "inlineStr") {
                cells.set(row, col, runText(child(c, "is")));
            } else if (formula && !v) {
                cells.unreadable(row, col, kNoResult.arg(cellName(row, col)));
            } else if (type == "s") {
                const int i = value.toInt();
                cells.set(row, col, i >= 0 && i < shared.size() ? shared[i] : QString());
            } else if (type == "str" || type == "d") {
                cells.set(row, col, value);
            } else if (type == "b") {
                cells.set(row, col, value == QLatin1String("1") ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
            } else if (type == "e") {
                cells.unreadable(row, col, kErrorValue.arg(cellName(row, col), value));
            } else if (v) {
                bool ok = false;
                const double number = QByteArray(v.text().get()).trimmed().toDouble(&ok);
                const int style = c.attribute("s").as_int();
                if (!ok)
                    cells.set(row, col, value);
                else
                    cells.set(row, col, FormatCellNumber(number, style >= 0 && style < xfFormats.size() ? xfFormats[style] : QString(), date1904));
            }
        }
    }
    return cells.rows();
}

// The text a paragraph of an OpenDocument cell shows.
void odsText(pugi::xml_node n, QString& out)
{
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
            out += text(c.value());
            continue;
        }
        if (c.type() != pugi::node_element)
            continue;
        const std::string_view name = local(c.name());
        if (name == "s")
            out += QString(std::clamp(c.attribute("text:c").as_int(1), 1, 1000), QLatin1Char(' '));
        else if (name == "tab")
            out += QLatin1Char('\t');
        else if (name == "line-break")
            out += QLatin1Char('\n');
        else if (name != "annotation" && name != "note")
            odsText(c, out);
    }
}

// The rows of a table, also inside row groups and header rows.
template <typename F>
void odsRows(pugi::xml_node n, F&& each)
{
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) {
        const std::string_view name = local(c.name());
        if (name == "table-row")
            each(c);
        else if (name == "table-row-group" || name == "table-header-rows" || name == "table-rows")
            odsRows(c, each);
    }
}

QList<ImportRow> readOds(const QString& path)
{
    const QString kind = QStringLiteral(".ods");
    const QByteArray bytes = checkZip(path, kind);
    const Zip zip(bytes);
    if (std::optional<std::vector<unsigned char>> m = zip.part("META-INF/manifest.xml"))
        if (std::string_view(reinterpret_cast<const char*>(m->data()), m->size()).find("encryption-data") != std::string_view::npos)
            refuse(path, kEncrypted);
    std::optional<std::vector<unsigned char>> contentBytes = zip.part("content.xml");
    if (!contentBytes)
        refuse(path, kBroken.arg(kind));
    const Xml content(path, kind, std::move(*contentBytes));
    const pugi::xml_node table = child(child(child(content.root(), "body"), "spreadsheet"), "table");
    if (!table)
        refuse(path, QStringLiteral("работната книга няма листове"));

    SheetCells cells;
    qint64 row = 0;
    odsRows(table, [&](pugi::xml_node r) {
        const qint64 repeat = std::clamp<qint64>(attr(r, "number-rows-repeated").as_llong(1), 1, kSheetRows);
        // The cells as the sheet places them: a merged cell's covered columns keep their places
        // and show nothing.
        struct Shown {
            QString text, unreadable;
        };
        std::array<std::optional<Shown>, 4> shown;
        qint64 col = 0;
        for (pugi::xml_node c = r.first_child(); c && col < 4; c = c.next_sibling()) {
            const std::string_view name = local(c.name());
            if (name != "table-cell" && name != "covered-table-cell")
                continue;
            const qint64 span = std::clamp<qint64>(attr(c, "number-columns-repeated").as_llong(1), 1, 16384);
            if (name == "table-cell") {
                Shown s;
                for (pugi::xml_node p = c.first_child(); p; p = p.next_sibling())
                    if (local(p.name()) == "p") {
                        if (!s.text.isEmpty())
                            s.text += QLatin1Char('\n');
                        odsText(p, s.text);
                    }
                const std::string_view type = attr(c, "value-type", "office").value();
                const std::string_view calcType = attr(c, "value-type", "calcext").value();
                const bool formula = bool(attr(c, "formula"));
                if (calcType == "error") {
                    s.unreadable = kErrorValue.arg(QStringLiteral("%1"), s.text.trimmed());
                } else if (s.text.trimmed().isEmpty()) {
                    if (type == "float" || type == "percentage" || type == "currency")
                        s.text = GeneralNumber(attr(c, "value", "office").as_double());
                    else if (type == "date")
                        s.text = text(attr(c, "date-value").value());
                    else if (type == "time")
                        s.text = text(attr(c, "time-value").value());
                    else if (type == "boolean")
                        s.text = attr(c, "boolean-value").as_bool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                    else if (type == "string")
                        s.text = text(attr(c, "string-value").value());
                    else if (formula)
                        s.unreadable = kNoResult;
                }
                for (qint64 k = col; k < std::min<qint64>(col + span, 4); ++k)
                    shown[k] = s;
            }
            col += span;
        }
        bool any = false;
        for (const auto& s : shown)
            any = any || (s && (!s->text.trimmed().isEmpty() || !s->unreadable.isEmpty()));
        if (any) {
            if (row + repeat > kSheetRows)
                refuse(path, kBeyondSheet.arg(row + repeat).arg(kSheetRows));
            for (qint64 k = 0; k < repeat; ++k)
                for (int i = 0; i < 4; ++i)
                    if (shown[i]) {
                        if (!shown[i]->unreadable.isEmpty())
                            cells.unreadable(int(row + k), i, shown[i]->unreadable.arg(cellName(int(row + k), i)));
                        else
                            cells.set(int(row + k), i, shown[i]->text);
                    }
        }
        row += repeat;
    });
    return cells.rows();
}

QList<ImportRow> readZipped(const QString& path, bool ods)
{
    try {
        return ods ? readOds(path) : readXlsx(path);
    } catch (const InputError&) {
        throw;
    } catch (const std::exception& e) {
        refuse(path, kBroken.arg(ods ? QStringLiteral(".ods") : QStringLiteral(".xlsx")) + QStringLiteral(" (%1)").arg(text(e.what())));
    }
}

} // namespace

bool IsWorkbookFile(const QString& path)
{
    const QString s = QFileInfo(path).suffix().toLower();
    return s == QLatin1String("xls") || s == QLatin1String("xlsx") || s == QLatin1String("ods");
}

QList<ImportRow> ReadWorkbook(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен").arg(path));
    const QString s = QFileInfo(path).suffix().toLower();
    QList<ImportRow> rows;
    if (s == QLatin1String("xls"))
        rows = readXlsIsolated(path);
    else if (s == QLatin1String("xlsx") || s == QLatin1String("ods"))
        rows = readZipped(path, s == QLatin1String("ods"));
    else
        refuse(path, QStringLiteral("непознат вид работна книга"));
    if (rows.isEmpty())
        refuse(path, kNoRows);
    return rows;
}
