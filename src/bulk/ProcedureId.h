#pragma once

#include "db/Connection.h"

#include <QList>
#include <QString>

#include <limits>

// The applications' user procedures take the user's id as the declared type of their id
// parameter, often a smallint: an id it cannot hold must be refused, not wrapped onto another user.
// Returns an empty text when the id fits (or the parameter is not found), else the reason.
inline QString UserIdDoesNotFit(const QList<db::ProcParam>& params, const QString& idParam, qint64 id)
{
    for (const db::ProcParam& p : params) {
        if (p.output || p.name.compare(idParam, Qt::CaseInsensitive) != 0)
            continue;
        const QString type = p.type.trimmed().toUpper();
        qint64 low = std::numeric_limits<qint32>::min();
        qint64 high = std::numeric_limits<qint32>::max();
        if (type == QLatin1String("SMALLINT")) {
            low = std::numeric_limits<qint16>::min();
            high = std::numeric_limits<qint16>::max();
        } else if (type == QLatin1String("BIGINT")) {
            return {};
        }
        if (id < low || id > high)
            return QStringLiteral("номерът %1 не се побира в параметъра %2 (%3) на процедурата").arg(id).arg(p.name, type);
        return {};
    }
    return {};
}
