#pragma once

#include <QString>

// What the two exports of the users window say and ask, spelled as the suite's administrators know it.
namespace ExportText {

inline const QString MenuItem = QStringLiteral("Експорт");
inline const QString Button = QStringLiteral("Експорт");
inline const QString ButtonHint = QStringLiteral("Извежда списък с потребителите ");

inline const QString XmlTitle = QStringLiteral("Експорт на потребители ...");
inline const QString XmlFilter = QStringLiteral("XML Data file(*.xml)|*.xml|All files(*.*)|*.*");
inline const QString ForHub = QStringLiteral("Експорт към HUB?");

inline const QString TextTitle = QStringLiteral("Изберете име на файл за запис ");
inline const QString TextFilter = QStringLiteral("txt files|*.txt|all files|*.*");
inline const QString AliasPrefix = QStringLiteral("[BDE] ");
inline const QString AliasesFailed = QStringLiteral("Грешка при извличане на BDE Алиаси :");
inline const QString ConnectFailed = QStringLiteral("Грешка при свързване към ДБ - Не се извежда инф. за потребители  :");
inline const QString NoResolverData = QStringLiteral("Не е открита инф. за резолиращи - да се продължи ли  ?");

inline const QString ErrorPrefix = QStringLiteral("Грешка : ");

} // namespace ExportText
