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

// The lines of a text file to import.
struct ImportTextFile {
    QStringList lines;
    bool utf8 = false; // read as UTF-8 (valid UTF-8, with or without its mark); else as cp1251
};

// UTF-8 when the bytes are valid UTF-8 (a leading mark is dropped), else cp1251. Lines end at LF;
// the CR of a CR LF ending is dropped; a last line without an ending counts, an empty text after
// the last LF does not.
ImportTextFile DecodeImportText(const QByteArray& bytes);
// Throws InputError when the file cannot be read.
ImportTextFile ReadImportTextFile(const QString& path);

// Login name, full name, password and class name of a text line: each field is the text before
// the next separator, the last one takes the rest; missing fields are empty, further ones ignored.
ImportRow SplitImportLine(const QString& line, const QString& separator, int number = 0);
