#pragma once

#include "core/Directory.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;
class TDM;
class TfrmUserRights;

// What the domain part of the users window says and asks. "\r" is the suite's line break.
namespace DomainAccountsText {

inline const QString TwoUsersOneAccount =
    QStringLiteral("Не може да има два потребителя свързани с един и същи потребител от Активна Директория.");
inline const QString BindFailed = QStringLiteral("Error : ");
inline const QString ConfirmAll = QStringLiteral(
    "Паролата ще бъде сменена за всички потребители !!!. Да се продължи ли ?\r"
    "Не забравяйте след операцията да промените собствената си парола!!!");
inline const QString ConfirmBound = QStringLiteral(
    "Паролата ще бъде сменена за всички потребители, за които е избрано логване с потребител от домейн. Да се продължи ли ?");
// Not among the suite's texts: an account the system database cannot hold, and failed updates.
inline const QString NotCp1251 = QStringLiteral("Потребителят от домейна \"%1\" не може да бъде свързан: %2");
inline const QString PasswordsFailed = QStringLiteral("Паролите на %1 от %2 потребители не са сменени.");

inline const QString ClearBinding = QStringLiteral("Изчиства връзка с домейн");
inline const QString FillIn = QStringLiteral("<-=->");
inline const QString FillInHint =
    QStringLiteral("Допълва данните за AD по  Domain User Name(след четене на потребители от файл)");
inline const QString GeneratePass = QStringLiteral("Задай пароли ");
inline const QString GeneratePassHint = QStringLiteral("Генерира нови пароли на потребителите със  избран  потребител от AD");
inline const QString ResetPassAll = QStringLiteral("за всички");
inline const QString ResetPassAllHint = QStringLiteral("!!! Променя паролите на всички потребители!!!");

} // namespace DomainAccountsText

// A password nobody is told: 20 characters from the system's secure random source, with a
// digit, a capital, a small letter and a symbol of the password policy's list among them;
// no space and no double quote.
QString GeneratedPassword();

// The directory accounts of the users window: the panel beside the user list (filter field,
// account list, fill-in and password buttons) and the grid's item that clears a binding.
class TDomainAccounts : public QObject {
    Q_OBJECT
public:
    TDomainAccounts(TfrmUserRights& window, TDM& dm, QWidget* panel);
    ~TDomainAccounts() override;

    // Reads the accounts of the running user's domain, when the policy allows domain logins.
    void LoadDomainUsers();
    void Filter();
    void BindDomainAccount(int userId, const DomainAccount& account);
    void ClearBinding();
    void FillInBindings();
    void SetGeneratedPasswords();

    const TADomainUserInfo* info() const { return m_info.get(); }
    // The account an item of lbDomainUsers stands for.
    const DomainAccount& accountOf(int listRow) const;
    // Seconds to wait for another administrator's write to the users before giving up.
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }

    QLineEdit* edDomainUsers;
    QListWidget* lbDomainUsers;
    QPushButton* SpeedButton2;
    QPushButton* sbGeneratePass;
    QCheckBox* cbResetPassAll;
    QAction* N1;

private:
    TfrmUserRights& m_window;
    TDM& m_dm;
    std::unique_ptr<TADomainUserInfo> m_info;
    QList<int> m_sorted;          // account indexes by display name
    QMap<QString, int> m_byName;  // case-folded Name to account index
    int m_lockTimeout = 10;
};
