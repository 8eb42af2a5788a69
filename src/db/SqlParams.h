#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace db {

struct ParsedSql {
    QString sql;          // with every :name replaced by the server's placeholder
    QStringList names;    // one entry per placeholder, in order (a name may repeat)
};

// Finds :name parameters outside quoted literals, quoted identifiers and comments.
// "::" (a PostgreSQL cast) is left alone.
ParsedSql parseNamedParams(const QString& sql, const std::function<QString(int)>& placeholder);

} // namespace db
