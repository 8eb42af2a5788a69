#include "TextOps.h"

#include "db/Cp1251.h"

QString FormatDateDMY(const QDate& date) { return date.toString(kDateFormat); }

QString EscapeDoubleQuotes(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return out;
}

QString SimilarityKey(const QString& text)
{
    static const QString dropped = QStringLiteral(" !\"#'*+,-./:;?\\_");
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (dropped.contains(c))
            continue;
        // Upper-casing follows the code page: a-z and cp1251 224-255 (а-я) lose 32, nothing else changes.
        const int b = cp1251::byteOf(c);
        if ((b >= 'a' && b <= 'z') || b >= 224)
            c = cp1251::charOf(static_cast<unsigned char>(b - 32));
        out += c;
    }
    return out;
}

PersonName SplitPersonName(const QString& text)
{
    auto trimmable = [](QChar c) {
        return c == QLatin1Char('\b') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char(' ');
    };
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && trimmable(text[from]))
        ++from;
    while (to > from && trimmable(text[to - 1]))
        --to;
    const QString t = text.mid(from, to - from);

    PersonName name;
    const qsizetype p = t.indexOf(QLatin1Char(' '));
    if (p < 0) {
        name.last = t;
        return name;
    }
    const qsizetype q = t.lastIndexOf(QLatin1Char(' '));
    name.first = t.left(p);
    if (p != q)
        name.middle = t.mid(p + 1, q - p - 1);
    name.last = t.mid(q + 1);
    return name;
}

QString TakeToken(const QString& delimiter, QString& text)
{
    const qsizetype i = delimiter.isEmpty() ? -1 : text.indexOf(delimiter);
    if (i < 0) {
        QString all = text;
        text.clear();
        return all;
    }
    QString token = text.left(i);
    text = text.mid(i + delimiter.size());
    return token;
}
