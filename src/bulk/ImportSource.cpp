#include "ImportSource.h"

#include "ImportText.h"

#include "core/InputError.h"
#include "core/TextOps.h"
#include "db/Cp1251.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringConverter>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

bool isUtf8(QByteArrayView bytes)
{
    // The decoding is lazy: it runs when the result becomes a string.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

namespace {

namespace Text = ImportText;

// The lines named in a refusal: the first ten, and how many more.
QString lineList(const QList<int>& numbers, const QString& one, const QString& many)
{
    if (numbers.size() == 1)
        return one.arg(numbers[0]);
    QStringList shown;
    for (qsizetype i = 0; i < numbers.size() && i < 10; ++i)
        shown << QString::number(numbers[i]);
    QString list = shown.join(QStringLiteral(", "));
    if (numbers.size() > 10)
        list += Text::AndMore.arg(numbers.size() - 10);
    return many.arg(list);
}

QString decodeUtf16(QByteArrayView all)
{
    const bool little = all.startsWith("\xFF\xFE");
    const QByteArrayView body = all.sliced(2);
    QStringDecoder decoder(little ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (body.size() % 2 != 0 || decoder.hasError())
        throw InputError(Text::BrokenUtf16);
    return text;
}

// NULs on one side of the byte pairs only, and many of them: the text is UTF-16 (the high bytes
// of Latin letters, digits, separators and line breaks).
bool looksLikeUtf16(QByteArrayView bytes)
{
    const qsizetype n = std::min<qsizetype>(bytes.size(), 1 << 16);
    qsizetype even = 0, odd = 0;
    for (qsizetype i = 0; i < n; ++i)
        if (bytes[i] == '\0')
            ++(i % 2 ? odd : even);
    const auto oneSide = [n](qsizetype on, qsizetype off) { return on >= 2 && off * 8 <= on && on * 16 >= n / 2; };
    return oneSide(odd, even) || oneSide(even, odd);
}

// A file read as cp1251 is decided for all its lines: a line meant as UTF-8 (valid UTF-8 with
// multi-byte sequences) would be stored as mojibake, and 0x98 has no character in cp1251.
void refuseMixedLines(QByteArrayView bytes)
{
    QList<int> utf8, undefined;
    qsizetype from = 0;
    for (int number = 1; from < bytes.size(); ++number) {
        qsizetype end = bytes.indexOf('\n', from);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(from, end - from);
        const bool high = std::any_of(line.begin(), line.end(), [](char c) { return uchar(c) >= 0x80; });
        if (high && isUtf8(line))
            utf8 << number;
        else if (line.contains('\x98'))
            undefined << number;
        from = end + 1;
    }
    QStringList faults;
    if (!utf8.isEmpty())
        faults << Text::Utf8LinesInCp1251.arg(lineList(utf8, Text::LineOne, Text::LinesMany));
    if (!undefined.isEmpty())
        faults << Text::Undefined98Lines.arg(lineList(undefined, Text::LineOneHolds, Text::LinesManyHold));
    if (!faults.isEmpty())
        throw InputError(faults.join(QStringLiteral("; ")) + Text::FileNotImported);
}

// The fields of CSV records (RFC 4180) with the given separator. Spaces around a quoted field are
// dropped; a quote inside an unquoted field is kept as it stands.
QList<ImportRow> csvRows(const QStringList& lines, const QString& separator, bool& split)
{
    QList<ImportRow> rows;
    const QChar quote = QLatin1Char('"');
    qsizetype li = 0;
    while (li < lines.size()) {
        const int first = int(li) + 1;
        QStringList fields;
        qsizetype at = 0;
        for (;;) {
            const QString* line = &lines[li];
            QString field;
            qsizetype p = at;
            while (p < line->size() && (*line)[p] == QLatin1Char(' '))
                ++p;
            if (p < line->size() && (*line)[p] == quote) {
                at = p + 1;
                for (;;) {
                    if (at >= line->size()) {
                        // The record goes on on the next line, the line break part of the field.
                        if (++li >= lines.size())
                            throw InputError(Text::CsvOpenQuote.arg(first).arg(fields.size() + 1));
                        line = &lines[li];
                        at = 0;
                        field += QLatin1Char('\n');
                        continue;
                    }
                    const QChar c = (*line)[at++];
                    if (c != quote) {
                        field += c;
                    } else if (at < line->size() && (*line)[at] == quote) {
                        field += quote;
                        ++at;
                    } else {
                        break;
                    }
                }
                while (at < line->size() && (*line)[at] == QLatin1Char(' '))
                    ++at;
                if (at < line->size() && !QStringView(*line).sliced(at).startsWith(separator))
                    throw InputError(Text::CsvTextAfterQuote.arg(li + 1).arg(fields.size() + 1));
            } else {
                const qsizetype end = line->indexOf(separator, at);
                field = line->mid(at, end < 0 ? -1 : end - at);
                at = end < 0 ? line->size() : end;
            }
            fields.append(field);
            if (at >= line->size())
                break;
            at += separator.size();
        }
        ++li;
        split = split || fields.size() > 1;
        while (fields.size() < 4)
            fields.append(QString());
        rows.append({first, fields[0], fields[1], fields[2], fields[3]});
    }
    return rows;
}

QString shownSeparator(const QString& separator)
{
    if (separator == QLatin1String("\t"))
        return Text::SeparatorTab;
    if (separator == QLatin1String(" "))
        return Text::SeparatorSpace;
    return QStringLiteral("\u201E%1\u201C").arg(separator);
}

// A separator every line with text holds, when there is one: what the file was meant with.
QString separatorHint(const QStringList& lines, const QString& separator)
{
    for (const char* candidate : {"\t", ";", ",", "|", "@", ":"}) {
        const QString c = QString::fromLatin1(candidate);
        if (c == separator)
            continue;
        bool everywhere = true, any = false;
        for (const QString& line : lines)
            if (!line.trimmed().isEmpty()) {
                any = true;
                everywhere = everywhere && line.contains(c);
            }
        if (any && everywhere)
            return Text::LinesHoldSeparator.arg(shownSeparator(c));
    }
    return {};
}

QString controlName(char16_t c)
{
    QString name = QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    const char* known = c == 0 ? "NUL" : c == 9 ? "Tab" : c == 10 ? "LF" : c == 13 ? "CR" : c == 0x7F ? "DEL" : nullptr;
    if (known)
        name += QStringLiteral(", ") + QLatin1String(known);
    return name;
}

} // namespace

ImportTextFile DecodeImportText(const QByteArray& bytes)
{
    ImportTextFile f;
    const QByteArrayView all(bytes);
    QString text;
    if (all.startsWith("\xFF\xFE") || all.startsWith("\xFE\xFF")) {
        f.encoding = ImportEncoding::Utf16;
        text = decodeUtf16(all);
    } else {
        const QByteArrayView body = all.startsWith("\xEF\xBB\xBF") ? all.sliced(3) : all;
        // UTF-16 without its mark is valid UTF-8 for Latin text: every other byte a NUL.
        if (looksLikeUtf16(body))
            throw InputError(Text::Utf16WithoutMark);
        if (isUtf8(body)) {
            f.encoding = ImportEncoding::Utf8;
            text = QString::fromUtf8(body);
        } else {
            refuseMixedLines(all);
            f.encoding = ImportEncoding::Cp1251;
            text = cp1251::decode(bytes);
        }
    }
    qsizetype from = 0;
    const qsizetype size = text.size();
    while (from < size) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        const qsizetype next = end < 0 ? size : end + 1;
        if (end < 0)
            end = size;
        qsizetype stop = end;
        if (stop > from && text[stop - 1] == QLatin1Char('\r'))
            --stop;
        f.lines.append(text.mid(from, stop - from));
        from = next;
    }
    return f;
}

ImportTextFile ReadImportTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(path, file.errorString()));
    try {
        return DecodeImportText(file.readAll());
    } catch (const InputError& e) {
        throw InputError(QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), e.message()));
    }
}

QString ImportEncodingNote(ImportEncoding encoding)
{
    switch (encoding) {
    case ImportEncoding::Utf8:
        return Text::ReadAsUtf8;
    case ImportEncoding::Utf16:
        return Text::ReadAsUtf16;
    case ImportEncoding::Cp1251:
        break;
    }
    return Text::ReadAsCp1251;
}

ImportRow SplitImportLine(const QString& line, const QString& separator, int number)
{
    QString rest = line;
    ImportRow r;
    r.number = number;
    r.login = TakeToken(separator, rest);
    r.fullName = TakeToken(separator, rest);
    r.password = TakeToken(separator, rest);
    r.className = TakeToken(separator, rest);
    return r;
}

bool IsCsvFile(const QString& path) { return QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0; }

QList<ImportRow> ImportTextRows(const QStringList& lines, const QString& separator, bool csv)
{
    QList<ImportRow> rows;
    bool split = false;
    if (csv && !separator.isEmpty() && separator != QLatin1String("\"")) {
        rows = csvRows(lines, separator, split);
    } else {
        rows.reserve(lines.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            rows.append(SplitImportLine(lines[i], separator, int(i + 1)));
            split = split || (!separator.isEmpty() && lines[i].contains(separator));
        }
    }
    // A separator that splits nothing would skip every row as one without a name: almost always
    // the wrong separator, which the administrator should hear of before the run.
    if (!split && std::any_of(lines.begin(), lines.end(), [](const QString& l) { return !l.trimmed().isEmpty(); }))
        throw InputError(Text::WrongSeparator.arg(shownSeparator(separator), separatorHint(lines, separator)));
    return rows;
}

QString ForbiddenCharacterIn(const ImportRow& row)
{
    const std::pair<const QString*, const QString*> fields[] = {
        {&row.login, &Text::FieldLogin}, {&row.fullName, &Text::FieldName}, {&row.password, &Text::FieldPassword}, {&row.className, &Text::FieldClass}};
    for (const auto& [value, name] : fields)
        for (qsizetype i = 0; i < value->size(); ++i)
            if (const char16_t c = (*value)[i].unicode(); c < 0x20 || (c >= 0x7F && c <= 0x9F))
                return Text::ControlCharacter.arg(*name).arg(i + 1).arg(controlName(c));
    return {};
}
