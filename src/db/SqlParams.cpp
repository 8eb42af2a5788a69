#include "SqlParams.h"

namespace db {
namespace {

bool isNameStart(QChar c) { return c.isLetter() || c == QLatin1Char('_'); }
bool isNameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$'); }

} // namespace

ParsedSql parseNamedParams(const QString& sql, const std::function<QString(int)>& placeholder)
{
    ParsedSql out;
    out.sql.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // A doubled quote inside the literal just continues it.
            qsizetype j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            const qsizetype end = j < n ? j + 1 : n;
            out.sql += QStringView(sql).mid(i, end - i);
            i = end;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                j = n;
            out.sql += QStringView(sql).mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            j = j < 0 ? n : j + 2;
            out.sql += QStringView(sql).mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char(':') && i + 1 < n && sql[i + 1] == QLatin1Char(':')) {
            out.sql += QLatin1String("::");
            i += 2;
        } else if (c == QLatin1Char(':') && i + 1 < n && isNameStart(sql[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql[j]))
                ++j;
            out.names << sql.mid(i + 1, j - i - 1);
            out.sql += placeholder(static_cast<int>(out.names.size()));
            i = j;
        } else {
            out.sql += c;
            ++i;
        }
    }
    return out;
}

} // namespace db
