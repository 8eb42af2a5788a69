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

// What a text file may not hold, and what a row may not store
inline const QString ReadAsUtf16 = QStringLiteral("Файлът е прочетен като UTF-16.");
inline const QString Utf16WithoutMark = QStringLiteral("файлът е в UTF-16 без знак за реда на байтовете (BOM) - запишете го в UTF-8 или с BOM; нищо не е въведено.");
inline const QString BrokenUtf16 = QStringLiteral("файлът започва като UTF-16, но не е изцяло в UTF-16; нищо не е въведено.");
inline const QString Utf8LinesInCp1251 = QStringLiteral("файлът не е изцяло в UTF-8 и се чете като windows-1251, но %1 в UTF-8");
inline const QString Undefined98Lines = QStringLiteral("%1 байта 0x98, който windows-1251 не определя");
inline const QString FileNotImported = QStringLiteral("; нищо не е въведено.");
inline const QString LineOne = QStringLiteral("ред %1 е");
inline const QString LinesMany = QStringLiteral("редове %1 са");
inline const QString LineOneHolds = QStringLiteral("ред %1 съдържа");
inline const QString LinesManyHold = QStringLiteral("редове %1 съдържат");
inline const QString AndMore = QStringLiteral(" и още %1");
inline const QString WrongSeparator = QStringLiteral("Разделителят %1 не разделя нито един ред на файла%2; нищо не е въведено.");
inline const QString LinesHoldSeparator = QStringLiteral(" (редовете съдържат %1)");
inline const QString SeparatorTab = QStringLiteral("Tab");
inline const QString SeparatorSpace = QStringLiteral("интервал");
inline const QString CsvOpenQuote = QStringLiteral("ред %1: кавичките на поле %2 не са затворени; нищо не е въведено.");
inline const QString CsvTextAfterQuote = QStringLiteral("ред %1: след затварящите кавички на поле %2 има текст; нищо не е въведено.");
inline const QString ControlCharacter = QStringLiteral("%1: знакът на позиция %2 (%3) е управляващ знак");
inline const QString RowRefused = QStringLiteral("Ред %1: %2 - редът не е въведен.");
inline const QString FieldLogin = QStringLiteral("Потребителското име");
inline const QString FieldName = QStringLiteral("Името");
inline const QString FieldPassword = QStringLiteral("Паролата");
inline const QString FieldClass = QStringLiteral("Класът");

// The window's preview, report and stop
inline const QString Preview = QStringLiteral("Преглед");
inline const QString Stop = QStringLiteral("Спри");
inline const QString SaveReport = QStringLiteral("Запис на отчета...");
inline const QString ReportTab = QStringLiteral("Отчет");
inline const QString ReportFilter = QStringLiteral("Text Files|*.txt|All files(*.*)|*.*");
inline const QString PreviewHeader = QStringLiteral("Преглед: нищо не е записано.");
inline const QString SummaryRun = QStringLiteral("Обработени редове: %1 от %2.");
inline const QString SummaryPreview = QStringLiteral("Преглед на %1 от %2 реда, нищо не е записано.");
inline const QString SummaryCounts =
    QStringLiteral("Създадени: %1, обновени: %2, пропуснати: %3, отказани: %4, не са добавени в базата на приложението: %5.");
inline const QString SummaryStopped = QStringLiteral("Спряно от потребителя преди ред %1; редовете преди него са записани.");
inline const QString SummaryFailed = QStringLiteral("Прекъснато с грешка на ред %1.");
inline const QString ReportSaved = QStringLiteral("Отчетът е записан в %1");
inline const QString ReportNotSaved = QStringLiteral("Отчетът не е записан: %1");
inline const QString NoReport = QStringLiteral("Няма отчет за записване.");

// The special import
inline const QString SpecialCreated = QStringLiteral("%1: Успешно въведен.");
inline const QString SpecialMiddleAdded = QStringLiteral("%1: Успешно сложено бащино име.");
inline const QString SpecialFullMatch = QStringLiteral("%1: Намерено съвпадение по 3 имена - %2 %3.");
inline const QString SpecialNoLogin = QStringLiteral("%1: Не може да формира коректно потребителско име.");
} // namespace ImportText
