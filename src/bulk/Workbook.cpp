#include "Workbook.h"

#include "core/InputError.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QtEndian>

#include <freexl.h>
#include <orcus/orcus_ods.hpp>
#include <orcus/orcus_xlsx.hpp>
#include <orcus/spreadsheet/document.hpp>
#include <orcus/spreadsheet/factory.hpp>
#include <orcus/spreadsheet/sheet.hpp>
#include <ixion/formula_result.hpp>
#include <ixion/model_context.hpp>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>

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
#include <limits>

namespace {

// A sheet may claim any size; nobody imports more users than this from one file.
constexpr int kMaxWorkbookRows = 1'000'000;

// A number as a sheet shows it in a general cell: whole numbers without a fraction.
QString numberText(double value)
{
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

[[noreturn]] void refuse(const QString& path, const QString& reason)
{
    throw InputError(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), reason));
}

QList<WorkbookRow> readXls(const QString& path)
{
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
    rows = std::min<unsigned int>(rows, kMaxWorkbookRows);
    const unsigned short used = std::min<unsigned short>(columns, 4);
    QList<WorkbookRow> out;
    out.reserve(rows);
    int last = 0;
    for (unsigned int r = 0; r < rows; ++r) {
        WorkbookRow row;
        for (unsigned short c = 0; c < used; ++c) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK)
                continue;
            switch (cell.type) {
            case FREEXL_CELL_INT:
                row[c] = QString::number(cell.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                row[c] = numberText(cell.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (cell.value.text_value)
                    row[c] = QString::fromUtf8(cell.value.text_value).trimmed();
                break;
            default:
                break;
            }
        }
        out.append(row);
        if (!row[0].isEmpty() || !row[1].isEmpty() || !row[2].isEmpty() || !row[3].isEmpty())
            last = int(out.size());
    }
    out.resize(last);
    return out;
}

// freexl can overrun its own buffers on a damaged file. The workbook is read in a child process,
// so that such a file costs a refusal instead of the program's memory; the rows come back through
// a pipe, each cell as its length and its UTF-8 bytes.
QList<WorkbookRow> readXlsIsolated(const QString& path)
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
            const QList<WorkbookRow> rows = readXls(path);
            out += 'R';
            for (const WorkbookRow& row : rows)
                for (const QString& cell : row) {
                    const QByteArray bytes = cell.toUtf8();
                    const quint32 n = qToLittleEndian(quint32(bytes.size()));
                    out.append(reinterpret_cast<const char*>(&n), 4).append(bytes);
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
    QList<WorkbookRow> rows;
    qsizetype at = 1;
    int cell = 0;
    WorkbookRow row;
    while (at + 4 <= in.size()) {
        const quint32 n = qFromLittleEndian<quint32>(in.constData() + at);
        at += 4;
        if (n > quint32(in.size() - at))
            refuse(path, QStringLiteral("четецът на .xls върна непълни данни"));
        row[cell] = QString::fromUtf8(in.constData() + at, n);
        at += n;
        if (++cell == 4) {
            rows.append(row);
            row = {};
            cell = 0;
        }
    }
    return rows;
}

quint32 le32(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }
quint16 le16(const QByteArray& b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }

// The zip reader believes the sizes a file declares and allocates them whole: a workbook whose
// parts claim more than any real workbook holds is refused before it is read.
void checkZip(const QString& path)
{
    constexpr quint32 kMaxPart = 128u << 20;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        refuse(path, f.errorString());
    const QByteArray b = f.readAll();
    const qsizetype size = b.size();
    qsizetype eocd = -1;
    for (qsizetype i = size - 22; i >= 0 && i >= size - 22 - 65535; --i)
        if (le32(b, i) == 0x06054b50) {
            eocd = i;
            break;
        }
    const QString broken = QStringLiteral("файлът не е работна книга или е повреден");
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
        if (packed > quint32(size) || unpacked > kMaxPart || local + 30 > size || le32(b, local) != 0x04034b50 ||
            le32(b, local + 18) > quint32(size) || le32(b, local + 22) > kMaxPart)
            refuse(path, broken);
        at += 46 + le16(b, at + 28) + le16(b, at + 30) + le16(b, at + 32);
    }
}

QList<WorkbookRow> readOrcus(const QString& path, bool ods)
{
    checkZip(path);
    try {
        orcus::spreadsheet::document doc{orcus::spreadsheet::range_size_t{kMaxWorkbookRows, 16384}};
        orcus::spreadsheet::import_factory factory{doc};
        const std::string name = QFile::encodeName(path).toStdString();
        if (ods) {
            orcus::orcus_ods reader(&factory);
            reader.read_file(name);
        } else {
            orcus::orcus_xlsx reader(&factory);
            reader.read_file(name);
        }
        const orcus::spreadsheet::sheet* sheet = doc.get_sheet(orcus::spreadsheet::sheet_t(0));
        if (!sheet)
            refuse(path, QStringLiteral("работната книга няма листове"));
        const ixion::abs_range_t range = sheet->get_data_range();
        if (!range.valid())
            return {};
        const ixion::model_context& cx = doc.get_model_context();
        const int lastRow = std::min(range.last.row, kMaxWorkbookRows - 1);
        QList<WorkbookRow> out;
        out.reserve(lastRow + 1);
        int last = 0;
        for (int r = 0; r <= lastRow; ++r) {
            WorkbookRow row;
            for (int c = 0; c < 4; ++c) {
                const ixion::abs_address_t at(0, r, c);
                try {
                    switch (cx.get_celltype(at)) {
                    case ixion::celltype_t::string:
                        row[c] = QString::fromUtf8(cx.get_string_value(at)).trimmed();
                        break;
                    case ixion::celltype_t::numeric:
                        row[c] = numberText(cx.get_numeric_value(at));
                        break;
                    case ixion::celltype_t::boolean:
                        row[c] = cx.get_numeric_value(at) != 0 ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
                        break;
                    case ixion::celltype_t::formula: {
                        const ixion::formula_result res = cx.get_formula_result(at);
                        if (res.get_type() == ixion::formula_result::result_type::value)
                            row[c] = numberText(res.get_value());
                        else if (res.get_type() == ixion::formula_result::result_type::string)
                            row[c] = QString::fromStdString(res.get_string()).trimmed();
                        break;
                    }
                    default:
                        break;
                    }
                } catch (const std::exception&) {
                    // A cell that cannot be read counts as empty.
                    row[c].clear();
                }
            }
            out.append(row);
            if (!row[0].isEmpty() || !row[1].isEmpty() || !row[2].isEmpty() || !row[3].isEmpty())
                last = int(out.size());
        }
        out.resize(last);
        return out;
    } catch (const InputError&) {
        throw;
    } catch (const std::exception& e) {
        refuse(path, QStringLiteral("файлът не е работна книга %1 или е повреден (%2)")
                         .arg(ods ? QStringLiteral(".ods") : QStringLiteral(".xlsx"), QString::fromUtf8(e.what())));
    }
}

} // namespace

bool IsWorkbookFile(const QString& path)
{
    const QString s = QFileInfo(path).suffix().toLower();
    return s == QLatin1String("xls") || s == QLatin1String("xlsx") || s == QLatin1String("ods");
}

QList<WorkbookRow> ReadWorkbook(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен").arg(path));
    const QString s = QFileInfo(path).suffix().toLower();
    if (s == QLatin1String("xls"))
        return readXlsIsolated(path);
    if (s == QLatin1String("xlsx") || s == QLatin1String("ods"))
        return readOrcus(path, s == QLatin1String("ods"));
    refuse(path, QStringLiteral("непознат вид работна книга"));
}
