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

} // namespace UserRightsText
