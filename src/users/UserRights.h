#pragma once

#include "ui/MemDataSet.h"

#include <QDialog>

class QAction;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QWidget;
class TBetterGroupBox;
class TDBHintGrid;
class TDBNavigator2;
class TDM;
class TDomainAccounts;

// "Потребители/Права": the users of the suite and everything done to their accounts; the
// rights of the current user below them.
class TfrmUserRights : public QDialog {
    Q_OBJECT
public:
    explicit TfrmUserRights(TDM& dm, QWidget* parent = nullptr);
    ~TfrmUserRights() override;

    // Rebuilds the list; userId > 0 makes that user current.
    void LoadUserList(int userId);
    void RowChange();

    void CreateUser();
    void ChangeFullName();
    void ChangeLoginName();
    void ChangePassword();
    void DeleteUser();
    void Search();
    void AllowRemoteAccess();
    void ChangeRemoteAccessDate();
    void DenyRemoteAccess();
    void ForcePasswordChange();
    void Sort(bool ascending);
    void ShowPassword();
    // sbExit: offers to save unsaved rights, then closes.
    void Leave();

    bool modified() const { return m_modified; }
    void setModified(bool on) { m_modified = on; }
    int currentUserId() const;
    // Seconds to wait for another administrator's write to the users before giving up.
    void setLockTimeout(int seconds) { m_lockTimeout = seconds; }

    TMemDataSet tblUsers;
    TDBHintGrid* grid;
    TDBNavigator2* navigator;
    QWidget* pnlTop;
    TBetterGroupBox* gbSearch;
    QLineEdit* edSeek;
    QPushButton* Seek_SB;
    QRadioButton* rbRealName;
    QRadioButton* rbUserName;
    QGroupBox* gbRights;
    QTreeWidget* lv;       // the rights of the current user
    QWidget* pnlDomain;    // the domain account of the current user
    QWidget* pnlExport;    // the export commands
    TBetterGroupBox* bgb;  // "Отдалечен достъп(Web Interface)"
    QPushButton* sbAllowInet;
    QPushButton* sbInetChangeDate;
    QPushButton* sbDenny;
    QDateEdit* DTP;
    QPushButton* sbNewUser;
    QPushButton* sbChangeName;
    QPushButton* sbLogName;
    QPushButton* sbPwdChange;
    QPushButton* sbDelete;
    QPushButton* sbExit;
    QMenu* gridMenu;
    QAction* miSortAZ;
    QAction* miSortZA;
    QAction* miMustChangePWD;
    TDomainAccounts* domainAccounts; // the directory accounts in pnlDomain, and N1

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The rights of the current user, and saving them: filled in by the rights part.
    virtual void ReloadRights() {}
    virtual void SaveRights() {}
    // Tells the applications' own databases about a user's new full name.
    virtual void ProvisionTickedApplications(int /*userId*/, const QString& /*fullName*/) {}

private:
    void BuildWindow();
    void FitToScreen();
    // The new user's id, or 0 when the pair (login name, password) is taken.
    int InsertUser(const QString& encLogin, const QString& encPassword, const QString& encName);
    void SetCurrentRemoteAccess(const QString& flags, const QDate& expires);
    void Detach();
    void Attach(bool runRowChange = true);
    void ShowRemoteAccess();
    bool UpdateFlags(const QString& flags, const QDate& expires);
    void ReportError(const std::exception& e);
    void OfferToSave();

    TDM& m_dm;
    bool m_modified = false;
    int m_rowUserId = -1; // the user the last row change was for
    int m_lockTimeout = 10;
    bool m_shown = false;
};

// Opens the users window modally from the main window.
void OpenUserRights(TDM& dm, QWidget* parent);
