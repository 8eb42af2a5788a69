#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class QByteArray;

// The four fields of one row of an import file, as read. number is the row's 1-based line of a
// text file or row of a worksheet, for the log.
struct ImportRow {
    int number = 0;
    QString login;
    QString fullName;
    QString password;
    QString className;
    // A workbook cell of the row that cannot be read, and why (naming the cell); the row is refused.
    QString unreadable;
};

// How a text file to import was read.
enum class ImportEncoding { Utf8, Utf16, Cp1251 };

// The lines of a text file to import.
struct ImportTextFile {
    QStringList lines;
    ImportEncoding encoding = ImportEncoding::Utf8;
};

// UTF-8 when the bytes are valid UTF-8 (a leading mark is dropped); UTF-16 when they begin with
// its byte-order mark; else cp1251. Lines end at LF; the CR of a CR LF ending is dropped; a last
// line without an ending counts, an empty text after the last LF does not. Throws InputError,
// naming the lines, for what would be stored wrong: UTF-16 without its mark, and in a cp1251
// file lines in UTF-8 or with the byte 0x98, which cp1251 does not define.
ImportTextFile DecodeImportText(const QByteArray& bytes);
// Throws InputError when the file cannot be read or decoded.
ImportTextFile ReadImportTextFile(const QString& path);
// The log's line that says how the file was read.
QString ImportEncodingNote(ImportEncoding encoding);

// Login name, full name, password and class name of a text line: each field is the text before
// the next separator, the last one takes the rest; missing fields are empty, further ones ignored.
ImportRow SplitImportLine(const QString& line, const QString& separator, int number = 0);

// Whether a text file's fields are read as CSV, by its extension (.csv; case ignored).
bool IsCsvFile(const QString& path);

// The rows of a text file's lines, numbered by the line each starts on: for CSV, fields as RFC
// 4180 has them (quoted fields may hold the separator, doubled quotes and line breaks) with the
// given separator; else each line split as SplitImportLine does. Throws InputError before any
// row is used when the separator splits no line (naming the separator, and one the lines hold),
// or a CSV quote is left open or followed by text.
QList<ImportRow> ImportTextRows(const QStringList& lines, const QString& separator, bool csv);

// Why the row must not be stored, naming the field and the position of the first control
// character (NUL, Tab, line breaks, DEL, C1) and never the value; empty when it may be.
QString ForbiddenCharacterIn(const ImportRow& row);
