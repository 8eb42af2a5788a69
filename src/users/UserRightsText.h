#pragma once

#include <QString>

// What the users window says and asks, spelled as the administrators of the suite know it.
// "\r" is the line break of the suite's messages.
namespace UserRightsText {

inline const QString Caption = QStringLiteral("Потребители/Права");
inline const QString RightsBox = QStringLiteral("Приложения(права)  - ");
// Every date the window shows or writes.
inline const QString DateFormat = QStringLiteral("dd.MM.yyyy");

inline const QString DialogFailedNewUser = QStringLiteral("Грешка при създаване на форама  : \r");
inline const QString DialogFailedPassword = QStringLiteral("Грешка при създаване на форама : \r");

inline const QString SimilarName = QStringLiteral("Намерен е потребител със сходно име  : \"");
inline const QString SimilarLogin = QStringLiteral("Намерен е потребител със сходно потребителско(Login) име  : \"");
inline const QString ContinueNew = QStringLiteral("Да се продължи ли с въвеждането на нов  ?");
inline const QString DuplicatePair = QStringLiteral("Вече има въведен потребител с зададеното име и парола !\r Потребителят не е добавен");
inline const QString AddFailed = QStringLiteral("Грешка при добавяне на потребител");

inline const QString RenameWarning = QStringLiteral(
    "Промяната на името има смисъл да се използва само при сгрешено или непълно име !\r"
    "Сигурни ли сте че искате да промените името на избраният потребител  ? ");
inline const QString NewNameCaption = QStringLiteral("Ново име");
inline const QString NewNamePrompt = QStringLiteral("Име");
inline const QString RenameFailed = QStringLiteral("Грешка : името на потребителя не е сменено");

inline const QString NewLoginCaption = QStringLiteral("Ново потребителско име");
inline const QString NewLoginPrompt = QStringLiteral("LoginName");
inline const QString ShortLogin = QStringLiteral("Късо потребителско име  !");
inline const QString CheckFailed = QStringLiteral("Грешка при проверка !");
inline const QString LoginTaken = QStringLiteral("Вече има потребител с посоченото потребителско име   ! [");
inline const QString LoginNotChanged = QStringLiteral("Потреб. име  не е променено .");
inline const QString LoginChangeFailed = QStringLiteral("Грешка : потребителското име не е променено  ");

inline const QString PairTaken = QStringLiteral("Вече има потребител с посоченото име и парола  !\rПаролата не е променена .");
inline const QString PasswordChangeFailed = QStringLiteral("Грешка : паролата не е променена  ");

inline const QString DeleteQuestion1 = QStringLiteral("Сигурни ли сте, че искате да забраните достъпа на  ");
inline const QString DeleteQuestion2 = QStringLiteral("до всички програми  ?");
inline const QString DeleteQuestion3 = QStringLiteral("Ако по-късно се добави със същото име и парола той ще бъде третиран като друг човек !");
inline const QString DeleteQuestion4 =
    QStringLiteral("Ако искате да забраните достъпа до определена програма махнете \"отметката\" пред името на програмата )");
// Not among the suite's texts: a refused delete is told, or the user would simply stay without a word.
inline const QString DeleteFailed = QStringLiteral("Грешка : потребителят не е изтрит");

inline const QString LoseChanges = QStringLiteral("Въведените или променени данни ще бъдат загубени.Да се запишат ли промените  ?");

// Rights per application.
inline const QString ColApplication = QStringLiteral("Приложение");
inline const QString ColClass = QStringLiteral("Клас");
inline const QString Save = QStringLiteral("Запис");
inline const QString RefreshAll = QStringLiteral("Обнови всички");
inline const QString Cancel = QStringLiteral("Отказ");
inline const QString RefreshAllHint = QStringLiteral(
    "Преминава през всички потребители и натиска бутон запис - обновява данните на потребителите за всички приложения");
inline const QString Import = QStringLiteral("Въвеждане");
inline const QString AutoRights = QStringLiteral("Авт. права");
inline const QString MissingSettings = QStringLiteral("Липсват настройки за  ");
inline const QString ProvisionTitle = QStringLiteral("Добавяне на потребители");
inline const QString LibraryTitle = QStringLiteral("Настройка на потребители");
inline const QString ChooseDatabases =
    QStringLiteral("Избраното приложение работи с няколко бази данни,изберете в кои да се направят промените");
inline const QString ProvisionFailed = QStringLiteral("Грешка при Добавяне/Обновяване на потребител :\r");
inline const QString MissingLibrary = QStringLiteral("Missing ");
inline const QString MissingFunctions = QStringLiteral("Липсват функции от ");
inline const QString InitFailed = QStringLiteral("Грешка при инициализация на ");
inline const QString UserCallFailed = QStringLiteral("Грешка при настройване на права \r");
// Not among the suite's texts: a library that is there but cannot be loaded is a broken
// install, told with the loader's reason rather than passed over in silence.
inline const QString LibraryNotLoaded = QStringLiteral("Грешка при зареждане на ");
// Not among the suite's texts: a user library needs the class the user is given.
inline const QString NoClassChosen = QStringLiteral("Не е избран клас за  ");
// Not among the suite's texts: what the rights list cannot hold is said once, when it opens.
inline const QString TooManyApplications = QStringLiteral("Показани са първите 27 приложения. Не са показани: ");
inline const QString TooManyClasses =
    QStringLiteral("Показани са първите 11 класа на приложение; правата в останалите се запазват. Приложения: ");
// Not among the suite's texts: refresh all names the user whose rights it could not write.
inline const QString RightsChangedMeanwhile = QStringLiteral("Правата на %1 в %2 са променени от друг администратор, след като бяха заредени. "
                                                           "Нищо не е записано: показани са текущите права с Вашите промени отгоре - прегледайте ги и запишете отново.");
inline const QString RightsNotSavedFor = QStringLiteral("Правата на потребителя не са записани : ");

} // namespace UserRightsText
