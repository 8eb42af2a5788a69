#pragma once

#include <QString>

// The update engine's own texts, spelled as the design has them.
namespace UpdateText {
inline const QString CannotLoadLibrary = QStringLiteral("Не може да зареди библиотеката ");
inline const QString CannotFindProc = QStringLiteral("Не може да намери функцията ");
inline const QString ProcFrom = QStringLiteral(" от ");
inline const QString ProcFailed = QStringLiteral("Грешка във функция ");
inline const QString UnknownComputer = QStringLiteral("UnknownComputer");
inline const QString UnknownUser = QStringLiteral("UnknownUser");
// Where a fault of a script is: the script, the step and the line of the file.
inline const QString ScriptPlace = QStringLiteral("Скрипт \"%1\", стъпка %2, ред %3: ");
inline const QString ScriptLinePlace = QStringLiteral("Скрипт \"%1\", ред %2: ");
inline const QString NotAnInteger = QStringLiteral("\"%1\" не е цяло число");
inline const QString TextAfterTerminator =
    QStringLiteral("текст след последния разделител \"%1\" на стъпката (той не би се изпълнил никога)");
inline const QString CreatedInSameStep =
    QStringLiteral(" (Firebird не вижда таблица или колона, създадена в същата транзакция: създайте обекта в една "
                   "стъпка и го попълнете в следваща.)");
} // namespace UpdateText
