#pragma once

#include <QString>

// The texts of the update engine and its windows, spelled as the design has them (odd spacing
// included: peers compare them).
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

// The command-line runner's texts that the windows share.
inline const QString HistoryTableHeld =
    QStringLiteral("Друго обновяване държи таблицата %1 (изчакано %2 с): стъпка %3 може вече да е приложена от него. "
                   "Пуснете скрипта отново, когато то приключи. ");

// Update window
inline const QString Caption = QStringLiteral("Обновяване на база");
inline const QString AliasLabel = QStringLiteral("Псевдоним (Alias)  : ");
inline const QString ChosenDB = QStringLiteral("Избрана БД за обновяване");
inline const QString CancelDB = QStringLiteral("Откажи БД");
inline const QString File = QStringLiteral("Файл");
inline const QString Step = QStringLiteral("Стъпка");
inline const QString Auto = QStringLiteral("Auto");
inline const QString Multi = QStringLiteral("Multi");
inline const QString History = QStringLiteral("История");
inline const QString Exit = QStringLiteral("Изход");
inline const QString EndOfFile = QStringLiteral("Достигнат е краят на файла.");
inline const QString StepError = QStringLiteral("Грешка при изпълнение на стъпка(%1:\r");
inline const QString ConnectError = QStringLiteral("Грешка при изпълнение на стъпка:\r");
inline const QString AlreadyApplied = QStringLiteral("Упдейта (%1) е направен на  ");
inline const QString WindowDateFormat = QStringLiteral("dd.MM.yyyy hh:mm");
inline const QString SelectCaption = QStringLiteral("Избор на БД за обновяване");
inline const QString SelectPrompt = QStringLiteral("Изберете коя БД ще бъде обновявана");
inline const QString ScriptFilter = QStringLiteral("SQL|*.SQL|All files |*.*");
inline const QString MultiFilter = QStringLiteral("*.sql|*.sql");
inline const QString ColId = QStringLiteral("УНомер");
inline const QString ColNo = QStringLiteral("Стъпка N");
inline const QString ColDate = QStringLiteral("Дата");
inline const QString ColFileName = QStringLiteral("Име на файл");
inline const QString MenuAlias = QStringLiteral("_menu_");

// Alias choice
inline const QString AliasCaption = QStringLiteral("Избор на Алиас");
inline const QString AliasPrompt = QStringLiteral("Алиас(база данни) :");
inline const QString AliasOK = QStringLiteral("Избор");
inline const QString AliasCancel = QStringLiteral("Отказ");

// Progress window
inline const QString AutoCaption = QStringLiteral("Автоматично обновяване");
inline const QString Start = QStringLiteral("Стартирай");
inline const QString ColStep = QStringLiteral("Стъпка");
inline const QString ColState = QStringLiteral("Състояние");
inline const QString ColTime = QStringLiteral("Време");
inline const QString Started = QStringLiteral("Стартирана...");
inline const QString Done = QStringLiteral("Завършена.");
inline const QString StepAlreadyApplied = QStringLiteral("Стъпка %1 е извършена на %2.");
inline const QString ProgressDateFormat = QStringLiteral("dd.MM.yyyy , hh:mm");
inline const QString ErrorPrefix = QStringLiteral("Грешка : ");
inline const QString TimeFormat = QStringLiteral("hh:mm:ss");

// History viewer
inline const QString HistoryCaption = QStringLiteral("История на напревни обновления");
inline const QString Application = QStringLiteral("Приложение");
inline const QString Updates = QStringLiteral("Обновления");
inline const QString HistoryFile = QStringLiteral("Файл");
inline const QString HistoryStep = QStringLiteral("Стъпка N");
inline const QString HistoryDbName = QStringLiteral("_quelta_history_db_");
inline const QString SummaryQuery =
    QStringLiteral(" select distinct SU_FILENAME, su_date,max(su_no) as maxsuno from sql_updates  where Upper(SU_FILENAME) like ") +
    QLatin1Char('"') + QStringLiteral("%UPD___.SQL") + QLatin1Char('"') +
    QStringLiteral(" group by SU_FILENAME,su_date order by su_date");

// What the windows show besides the design's texts: what a run will do before it starts,
// where it stopped, the step the next press runs, and a history that cannot be read.
inline const QString ColScript = QStringLiteral("Скрипт");
inline const QString ColDatabase = QStringLiteral("База данни");
inline const QString ColSteps = QStringLiteral("Стъпки");
inline const QString PlanTitle = QStringLiteral("Ще се изпълнят, в този ред:");
inline const QString PlanThroughAlias = QStringLiteral("през алиаса %1");
inline const QString PlanNoDatabase = QStringLiteral("(няма избрана база)");
inline const QString DetailHint = QStringLiteral("Изберете ред, за да прочетете целия му текст.");
inline const QString RunStoppedAtStep =
    QStringLiteral("Изпълнението спря на стъпка %1 на %2 след грешка; следващите стъпки не са изпълнени.");
inline const QString RunStoppedInScript =
    QStringLiteral("Изпълнението спря при %1 след грешка; нито една негова стъпка не е изпълнена.");
inline const QString ScriptLabel = QStringLiteral("Скрипт :");
inline const QString NextStepLabel = QStringLiteral("Следваща стъпка :");
inline const QString NextStepInfo = QStringLiteral("стъпка %1 от %2, номер %3");
inline const QString NoNextStep = QStringLiteral("няма: всички %1 стъпки са минати, следващото \"Стъпка\" затваря файла");
inline const QString HistoryDate = QStringLiteral("Дата");
inline const QString HistoryChoose = QStringLiteral("Изберете база от списъка.");
inline const QString NoHistoryTable =
    QStringLiteral("Базата \"%1\" (%2) няма таблица %3: в нея не са прилагани скриптове за обновяване.");
inline const QString HistoryUnreadable = QStringLiteral("Историята на базата \"%1\" (%2) не може да бъде прочетена:\n");
} // namespace UpdateText
