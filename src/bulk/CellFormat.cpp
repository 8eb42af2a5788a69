#include "CellFormat.h"

#include <QDate>
#include <QList>
#include <QLocale>

#include <cmath>
#include <optional>

namespace {

// One piece of a format section: text shown as it stands, or a code character.
struct Piece {
    bool literal = false;
    QString text;
};

QList<QString> sections(const QString& code)
{
    QList<QString> out{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('\\') && i + 1 < code.size()) {
            out.last() += c;
            out.last() += code[++i];
            continue;
        }
        if (!quoted && c == QLatin1Char(';')) {
            out.append(QString());
            continue;
        }
        out.last() += c;
    }
    return out;
}

// The pieces of a section; nullopt for what this formatter does not show (conditions).
std::optional<QList<Piece>> pieces(const QString& s)
{
    QList<Piece> out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('"')) {
            const qsizetype end = s.indexOf(QLatin1Char('"'), i + 1);
            out.append({true, s.mid(i + 1, (end < 0 ? s.size() : end) - i - 1)});
            i = end < 0 ? s.size() : end;
        } else if (c == QLatin1Char('\\') && i + 1 < s.size()) {
            out.append({true, QString(s[++i])});
        } else if (c == QLatin1Char('_') && i + 1 < s.size()) {
            ++i; // room as wide as the next character
            out.append({true, QStringLiteral(" ")});
        } else if (c == QLatin1Char('*') && i + 1 < s.size()) {
            ++i; // fills the column's width
        } else if (c == QLatin1Char('[')) {
            const qsizetype end = s.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                return std::nullopt;
            const QString inside = s.mid(i + 1, end - i - 1);
            i = end;
            if (inside.startsWith(QLatin1Char('$'))) {
                // A currency symbol with its locale: [$лв.-402]
                const QString symbol = inside.mid(1).section(QLatin1Char('-'), 0, 0);
                if (!symbol.isEmpty())
                    out.append({true, symbol});
            } else if (!inside.isEmpty() && QStringLiteral("hHmMsS").contains(inside[0]) &&
                       inside.count(inside[0]) == inside.size()) {
                out.append({false, QLatin1Char('[') + inside.toLower() + QLatin1Char(']')});
            } else if (!inside.isEmpty() && (inside[0] == QLatin1Char('<') || inside[0] == QLatin1Char('>') || inside[0] == QLatin1Char('='))) {
                return std::nullopt;
            } // a colour, or a locale's calendar: nothing shown
        } else {
            out.append({false, QString(c)});
        }
    }
    return out;
}

bool isDateCode(const QList<Piece>& ps)
{
    for (const Piece& p : ps) {
        if (p.literal)
            continue;
        if (p.text.startsWith(QLatin1Char('[')))
            return true;
        const QChar c = p.text[0].toLower();
        if (c == QLatin1Char('y') || c == QLatin1Char('m') || c == QLatin1Char('d') || c == QLatin1Char('h') ||
            c == QLatin1Char('s'))
            return true;
    }
    return false;
}

QString pad(qint64 n, int width) { return QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0')); }

std::optional<QString> formatDate(double value, const QList<Piece>& ps, bool date1904)
{
    if (!std::isfinite(value) || value < 0 || value > 2958466)
        return std::nullopt;
    // The code's characters run together: "yyyy" is one field.
    struct Field {
        QChar kind; // y m d h s a(m/pm) [ (elapsed) . (fraction of a second) or 0 for a literal
        int width = 0;
        QString text;
    };
    QList<Field> fields;
    bool twelveHours = false;
    for (qsizetype i = 0; i < ps.size(); ++i) {
        const Piece& p = ps[i];
        if (p.literal) {
            fields.append({QChar(), 0, p.text});
            continue;
        }
        if (p.text.startsWith(QLatin1Char('['))) {
            fields.append({QLatin1Char('['), int(p.text.size() - 2), p.text.mid(1, 1)});
            continue;
        }
        const QChar c = p.text[0].toLower();
        auto upcoming = [&](const QString& word) {
            QString s;
            for (qsizetype j = i; j < ps.size() && s.size() < word.size(); ++j)
                s += ps[j].literal ? QStringLiteral("\x01") : ps[j].text;
            return s.compare(word, Qt::CaseInsensitive) == 0;
        };
        if (c == QLatin1Char('a') && (upcoming(QStringLiteral("AM/PM")) || upcoming(QStringLiteral("A/P")))) {
            const int n = upcoming(QStringLiteral("AM/PM")) ? 5 : 3;
            fields.append({QLatin1Char('a'), n, {}});
            twelveHours = true;
            i += n - 1;
            continue;
        }
        if (QStringLiteral("ymdhs").contains(c)) {
            if (!fields.isEmpty() && fields.last().kind == c && i > 0 && !ps[i - 1].literal && ps[i - 1].text[0].toLower() == c)
                ++fields.last().width;
            else
                fields.append({c, 1, {}});
            continue;
        }
        if (c == QLatin1Char('.') && i + 1 < ps.size() && !ps[i + 1].literal && ps[i + 1].text == QLatin1String("0")) {
            int n = 0;
            while (i + 1 < ps.size() && !ps[i + 1].literal && ps[i + 1].text == QLatin1String("0")) {
                ++n;
                ++i;
            }
            fields.append({QLatin1Char('.'), n, {}});
            continue;
        }
        if (c.isLetter() || c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?') || c == QLatin1Char('@'))
            return std::nullopt; // a field this formatter does not know
        fields.append({QChar(), 0, p.text});
    }
    // "m" after an hour or before a second is minutes.
    auto neighbour = [&](qsizetype at, int step) -> QChar {
        for (qsizetype j = at + step; j >= 0 && j < fields.size(); j += step)
            if (!fields[j].kind.isNull() && fields[j].kind != QLatin1Char('.') && fields[j].kind != QLatin1Char('a'))
                return fields[j].kind == QLatin1Char('[') ? fields[j].text[0] : fields[j].kind;
        return QChar();
    };
    int decimals = 0;
    for (Field& f : fields)
        if (f.kind == QLatin1Char('.'))
            decimals = std::max(decimals, f.width);
    const double scale = std::pow(10.0, decimals);
    const double units = std::round(value * 86400.0 * scale);
    const qint64 whole = qint64(units / scale);
    const int fraction = int(units - double(whole) * scale);
    qint64 days = whole / 86400;
    const qint64 seconds = whole % 86400;
    QDate date;
    if (date1904)
        date = QDate(1904, 1, 1).addDays(days);
    else if (days >= 61)
        date = QDate(1899, 12, 30).addDays(days);
    else if (days >= 1)
        date = QDate(1899, 12, 31).addDays(days); // the spreadsheet's 29 February 1900 comes after
    else
        date = QDate(1899, 12, 31);
    const QLocale bg(QLocale::Bulgarian, QLocale::Bulgaria);
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        const int w = f.width;
        switch (f.kind.unicode()) {
        case 0:
            out += f.text;
            break;
        case 'y':
            out += w <= 2 ? pad(date.year() % 100, 2) : pad(date.year(), 4);
            break;
        case 'm': {
            const QChar before = neighbour(i, -1), after = neighbour(i, 1);
            if (w <= 2 && (before == QLatin1Char('h') || after == QLatin1Char('s'))) {
                out += pad(seconds / 60 % 60, w);
                break;
            }
            if (w <= 2)
                out += pad(date.month(), w);
            else if (w == 3)
                out += bg.monthName(date.month(), QLocale::ShortFormat);
            else if (w == 4)
                out += bg.standaloneMonthName(date.month(), QLocale::LongFormat);
            else
                out += bg.standaloneMonthName(date.month(), QLocale::LongFormat).left(1);
            break;
        }
        case 'd':
            if (w <= 2)
                out += pad(date.day(), w);
            else
                out += bg.dayName(date.dayOfWeek(), w == 3 ? QLocale::ShortFormat : QLocale::LongFormat);
            break;
        case 'h': {
            qint64 h = seconds / 3600;
            if (twelveHours)
                h = h % 12 == 0 ? 12 : h % 12;
            out += pad(h, std::min(w, 2));
            break;
        }
        case 's':
            out += pad(seconds % 60, std::min(w, 2));
            break;
        case '.':
            out += QLatin1Char('.') + pad(qint64(fraction / std::pow(10.0, decimals - w)), w);
            break;
        case 'a': {
            const bool pm = seconds >= 43200;
            out += w == 5 ? (pm ? QStringLiteral("PM") : QStringLiteral("AM")) : (pm ? QStringLiteral("P") : QStringLiteral("A"));
            break;
        }
        case '[': {
            const qint64 total = days * 86400 + seconds;
            const QChar unit = f.text[0];
            const qint64 n = unit == QLatin1Char('h') ? total / 3600 : unit == QLatin1Char('m') ? total / 60 : total;
            out += pad(n, f.width);
            break;
        }
        }
    }
    return out;
}

std::optional<QString> formatNumber(double value, const QList<Piece>& ps, bool negativeSign)
{
    int percents = 0;
    bool thousands = false;
    int scaleCommas = 0;
    bool point = false;
    bool gap = false; // text after a digit of the same part
    QString intCode, fracCode;
    for (qsizetype i = 0; i < ps.size(); ++i) {
        const Piece& p = ps[i];
        const QChar c = p.literal ? QChar() : p.text[0];
        const bool digit = c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?');
        if (digit && gap)
            return std::nullopt; // digits split by text: "000-0000"
        if (!digit && c != QLatin1Char(',') && c != QLatin1Char('.') && !(point ? fracCode : intCode).isEmpty())
            gap = true;
        if (p.literal)
            continue;
        if (digit) {
            (point ? fracCode : intCode) += c;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
            gap = false;
        } else if (c == QLatin1Char(',') && !point) {
            // Between digits it groups thousands; after the last digit it divides by a thousand.
            bool digitAfter = false;
            for (qsizetype j = i + 1; j < ps.size() && !digitAfter; ++j) {
                if (ps[j].literal || ps[j].text == QLatin1String(","))
                    continue;
                const QChar d = ps[j].text[0];
                if (d == QLatin1Char('.'))
                    break;
                digitAfter = d == QLatin1Char('0') || d == QLatin1Char('#') || d == QLatin1Char('?');
            }
            if (digitAfter && !intCode.isEmpty())
                thousands = true;
            else if (!intCode.isEmpty())
                ++scaleCommas;
        } else if (c == QLatin1Char('%')) {
            ++percents;
        } else if (c.toLower() == QLatin1Char('e') || c == QLatin1Char('/')) {
            return std::nullopt;
        } else if (c == QLatin1Char('@')) {
            return GeneralNumber(value);
        } else if (c.isLetter()) {
            return std::nullopt;
        }
    }
    double x = std::fabs(value) * std::pow(100.0, percents) / std::pow(1000.0, scaleCommas);
    const int decimals = int(fracCode.size());
    const double step = std::pow(10.0, decimals);
    x = std::round(x * step) / step;
    if (!std::isfinite(x) || x >= 1e15)
        return std::nullopt;
    QString digits = QString::number(x, 'f', decimals);
    QString intDigits = digits.section(QLatin1Char('.'), 0, 0);
    QString fracDigits = decimals ? digits.section(QLatin1Char('.'), 1, 1) : QString();
    const bool negative = negativeSign && value < 0 && (x != 0);
    if (intDigits == QLatin1String("0") && !intCode.contains(QLatin1Char('0')))
        intDigits.clear();
    const int minInt = int(intCode.count(QLatin1Char('0')) + intCode.count(QLatin1Char('?')));
    while (intDigits.size() < minInt)
        intDigits.prepend(QLatin1Char('0'));
    if (thousands)
        for (qsizetype at = intDigits.size() - 3; at > 0; at -= 3)
            intDigits.insert(at, QLatin1Char(','));
    // Optional decimals drop their trailing zeros; "?" keeps their room.
    for (qsizetype k = fracDigits.size() - 1; k >= 0 && fracCode[k] != QLatin1Char('0') && fracDigits[k] == QLatin1Char('0'); --k)
        fracDigits[k] = fracCode[k] == QLatin1Char('?') ? QLatin1Char(' ') : QChar();
    fracDigits.remove(QChar());
    // The digits take the place of the code's digits; text around and between them stays.
    QString out;
    bool placed = false, pointPlaced = false;
    for (const Piece& p : ps) {
        const QChar c = p.literal ? QChar() : p.text[0];
        if (!p.literal && (c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?') || c == QLatin1Char(','))) {
            if (!placed) {
                out += intDigits;
                placed = true;
            }
            continue;
        }
        if (!p.literal && c == QLatin1Char('.') && !pointPlaced) {
            if (!placed) {
                out += intDigits;
                placed = true;
            }
            out += QLatin1Char('.') + fracDigits;
            pointPlaced = true;
            continue;
        }
        out += p.text;
    }
    return (negative ? QStringLiteral("-") : QString()) + out;
}

} // namespace

QString GeneralNumber(double value)
{
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 1e15)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', 15);
}

QString FormatCellNumber(double value, const QString& code, bool date1904)
{
    const QString trimmed = code.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
        return GeneralNumber(value);
    const QList<QString> all = sections(trimmed);
    QString section = all[0];
    bool sign = true;
    if (value < 0 && all.size() >= 2 && !all[1].isEmpty()) {
        section = all[1];
        sign = false;
    } else if (value == 0 && all.size() >= 3 && !all[2].isEmpty()) {
        section = all[2];
    }
    const std::optional<QList<Piece>> ps = pieces(section);
    if (!ps || ps->isEmpty())
        return GeneralNumber(value);
    const std::optional<QString> out = isDateCode(*ps) ? formatDate(value, *ps, date1904) : formatNumber(value, *ps, sign);
    return out ? *out : GeneralNumber(value);
}

QString BuiltinNumberFormat(int id)
{
    switch (id) {
    case 1: return QStringLiteral("0");
    case 2: return QStringLiteral("0.00");
    case 3: return QStringLiteral("#,##0");
    case 4: return QStringLiteral("#,##0.00");
    case 9: return QStringLiteral("0%");
    case 10: return QStringLiteral("0.00%");
    case 11: return QStringLiteral("0.00E+00");
    case 12: return QStringLiteral("# ?/?");
    case 13: return QStringLiteral("# ?" "?/??"); // not a trigraph
    case 14: return QStringLiteral("dd.mm.yyyy");
    case 15: return QStringLiteral("d-mmm-yy");
    case 16: return QStringLiteral("d-mmm");
    case 17: return QStringLiteral("mmm-yy");
    case 18: return QStringLiteral("h:mm AM/PM");
    case 19: return QStringLiteral("h:mm:ss AM/PM");
    case 20: return QStringLiteral("h:mm");
    case 21: return QStringLiteral("h:mm:ss");
    case 22: return QStringLiteral("dd.mm.yyyy h:mm");
    case 37: return QStringLiteral("#,##0 ;(#,##0)");
    case 38: return QStringLiteral("#,##0 ;[Red](#,##0)");
    case 39: return QStringLiteral("#,##0.00;(#,##0.00)");
    case 40: return QStringLiteral("#,##0.00;[Red](#,##0.00)");
    case 45: return QStringLiteral("mm:ss");
    case 46: return QStringLiteral("[h]:mm:ss");
    case 47: return QStringLiteral("mmss.0");
    case 48: return QStringLiteral("##0.0E+0");
    case 49: return QStringLiteral("@");
    default: return QString();
    }
}
