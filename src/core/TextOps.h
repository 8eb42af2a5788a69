#pragma once

#include <QDate>
#include <QString>

// The one form of a date the program shows and writes, whatever the locale says.
inline const QString kDateFormat = QStringLiteral("dd.MM.yyyy");

QString FormatDateDMY(const QDate& date);
// Doubles every double quote, for a value inside a double-quoted SQL literal.
QString EscapeDoubleQuotes(const QString& text);
// Drops punctuation and spaces and upper-cases Latin and Cyrillic letters, for comparing names.
QString SimilarityKey(const QString& text);

struct PersonName {
    QString first;
    QString middle;
    QString last;
    bool operator==(const PersonName&) const = default;
};
PersonName SplitPersonName(const QString& text);

// Returns the text before the first delimiter and leaves the rest in text; without a
// delimiter returns the whole text and leaves text empty.
QString TakeToken(const QString& delimiter, QString& text);
