#pragma once

#include <QString>
#include <QStringList>

// The texts of the database selection, as the suite has them.
namespace SelectDBPathsText {
inline const QStringList Columns = {
    QStringLiteral("Име - вътрешно"),
    QStringLiteral("Етикет(за показване)"),
    QStringLiteral("Сървер IP (HostName)"),
    QStringLiteral("Име на базата"),
    QStringLiteral("База за достъп"),
};
inline const QString OK = QStringLiteral("OK");
inline const QString Cancel = QStringLiteral("Отказ");
inline const QString Error = QStringLiteral("Грешка : ");
inline const QString LoadLvFromIniError = QStringLiteral("Грешка - <LoadLvFromIni> : ");
} // namespace SelectDBPathsText
