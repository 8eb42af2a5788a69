#pragma once

#include <QString>

// The texts of the import window and its runs, as the administrators know them.
namespace ImportText {
// The window
inline const QString Caption = QStringLiteral("Въвеждане на потребители");
inline const QString DefaultPassword = QStringLiteral("579");
inline const QString DefaultSeparator = QStringLiteral(";");
inline const QString SkipExisting = QStringLiteral("Не променяй съществуващите");
inline const QString DomainUser = QStringLiteral("Потребитолско име от AD ");
inline const QString ChangeUserName = QStringLiteral("Подменя потр. име с това от AD");
inline const QString LogGroup = QStringLiteral("Съобщения свързани с въвеждането на потребители");
inline const QString LoadedFile = QStringLiteral("Зареден файл");
inline const QString FormatHint = QStringLiteral("Зареждания файл трябва да е във вида потребител@истинско име@парола@....");
inline const QString Load = QStringLiteral("Зареждане");
inline const QString Save = QStringLiteral("Въвеждане в БД");
inline const QString Exit = QStringLiteral("Изход");
inline const QString SpecialImport = QStringLiteral("Не ме превеждай!");
inline const QString FileFilter = QStringLiteral("All files(*.*)|*.*|Text Files|*.txt|Comma Separated|*.csv|Excel|*.xls");

// Messages
inline const QString ShowFailed = QStringLiteral("Грешка при зареждане на формата !!!");
inline const QString FileNotFound = QStringLiteral("Файла не е намерен!!!");
inline const QString LoadFirst = QStringLiteral("Заредете файл!!!");
inline const QString ConfirmSave = QStringLiteral("Сигурни ли сте, че искате да запишете потребителите в базата данни!!!");
inline const QString ConfirmWorkbook1 = QStringLiteral("Информацията за потребителите ще се въведе от файл :");
inline const QString ConfirmWorkbook2 = QStringLiteral("Да се продължи ли с операцията?");
inline const QString WorkbookFailed = QStringLiteral("Грешка при зареждане на фаил с потребители (Може би не е инсталиран MSExcel?) :");
inline const QString NoWorkbook = QStringLiteral("Не може да се създаде Excel Workbook");
inline const QString MissingSettings = QStringLiteral("Липсват настройки за  ");
inline const QString SelectCaption = QStringLiteral("Добавяне на потребители");
inline const QString SelectPrompt = QStringLiteral("Избраното приложение работи с няколко бази данни,изберете в кои да се направят промените");
inline const QString ConnectionProblem = QStringLiteral("Проблем във връзката със сървера");
inline const QString UserExists = QStringLiteral("Потребител %1 вече съществува (%2)");
inline const QString AddFailed = QStringLiteral("Грешка при добавяне на потребител: ");
inline const QString ProvisionFailed1 = QStringLiteral("Потребителя - Номер : ");
inline const QString ProvisionFailed2 = QStringLiteral("Име : ");
inline const QString ProvisionFailed3 = QStringLiteral("не е добавен ...");
inline const QString HeaderName = QStringLiteral("Име");
inline const QString EmptyRow = QStringLiteral("Ред %1: няма потребителско име или име - пропуснат.");
inline const QString RunStopped = QStringLiteral("Ред %1: %2 - въвеждането е прекъснато.");
inline const QString ReadAsUtf8 = QStringLiteral("Файлът е прочетен като UTF-8.");
inline const QString ReadAsCp1251 = QStringLiteral("Файлът е прочетен като windows-1251.");
// A workbook row with a cell that cannot be read
inline const QString RowUnreadable = QStringLiteral("Ред %1: %2 - редът не е въведен.");

// The special import
inline const QString SpecialCreated = QStringLiteral("%1: Успешно въведен.");
inline const QString SpecialMiddleAdded = QStringLiteral("%1: Успешно сложено бащино име.");
inline const QString SpecialFullMatch = QStringLiteral("%1: Намерено съвпадение по 3 имена - %2 %3.");
inline const QString SpecialNoLogin = QStringLiteral("%1: Не може да формира коректно потребителско име.");
} // namespace ImportText
