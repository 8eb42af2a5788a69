#pragma once

#include "ApplicationTable.h"
#include "UserAccounts.h"

#include "ui/MemDataSet.h"

#include <QDialog>

#include <functional>

class QAction;
class QComboBox;
class QTreeWidgetItem;
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

    // The rights of the current user (sbSave). Returns whether they were written.
    bool Save();
    // sbUserRefresh: every user's rights written again and provisioned again.
    void RefreshAll();
    // Tells the databases of the application of list row `row` about the user.
    void ProvisionApplication(int row, int userId, const QString& fullName);
    // The double click on the rights list: the selected application's user library.
    void RunSelectedUserLibrary();
    const ApplicationTable& applicationTable() const { return m_apps; }
    // The list row of an application, or -1.
    int rowOfApplication(int aplId) const;

    // What SpeedButton1 ("Въвеждане") and Button1 ("Авт. права") open: the bulk windows, which
    // depend on this one. Unset, the buttons are disabled.
    static std::function<void(TfrmUserRights&)>& ImportWindow();
    static std::function<void(TfrmUserRights&)>& AutoRightsWindow();
    TDM& dataModule() const { return m_dm; }

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
    QTreeWidget* lv = nullptr; // the rights of the current user
    QComboBox* cbClass;    // the class chooser over the row being edited
    QPushButton* sbSave;
    QPushButton* sbUserRefresh;
    QPushButton* SpeedButton1; // import
    QPushButton* Button1;      // automatic rights
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

    // The rights of the current user, loaded afresh.
    void ReloadRights();
    // The rights as another administrator left them, with this window's changes shown on top.
    void ReloadRightsKeeping(const QList<RightChange>& changes);
    // Tells the applications' own databases about a user's new full name.
    void ProvisionTickedApplications(int userId, const QString& fullName);

private:
    void BuildRightsList(QWidget* parent);
    void BuildApplicationList();
    void RightsRowSelected(QTreeWidgetItem* item);
    void CommitEdit();
    void ShowChooser();
    void ClassChosen(int index);
    void RowTicked(QTreeWidgetItem* item);
    QList<RightChoice> Choices() const;
    // namingTheUser: a failure names the user (refresh all goes through many).
    bool SaveRights(bool namingTheUser);
    // The databases of a section to work on; empty when there are none (after saying so).
    QStringList SelectDatabases(int row, const QString& title);
    void BuildWindow();
    void FitToScreen();
    void SetCurrentRemoteAccess(const QString& flags, const QDate& expires);
    void Detach();
    void Attach(bool runRowChange = true);
    void ShowRemoteAccess();
    bool UpdateFlags(const std::optional<QString>& flags, const QDate& expires);
    void ShowRights(const UserRightsMap& rights);
    void ReportError(const std::exception& e);
    // Unsaved rights are saved, discarded, or kept (Cancel, or a save that failed: false).
    bool OfferToSave();
    // Another user became current: his rights are shown once the edited ones are settled.
    // Returns whether the row change ran (false: still the same user, or taken back to him).
    bool FollowCurrentUser();
    bool SettleEditedRights();

    TDM& m_dm;
    bool m_modified = false;
    int m_rowUserId = -1; // the user the last row change was for
    bool m_settling = false; // moving back and forth while the edited rights are settled
    ApplicationTable m_apps;
    UserRightsMap m_loadedRights; // the current user's rights as read, against which a save writes
    int m_editRow = -1;         // the rights row being edited
    bool m_loadingRights = false;
    int m_lockTimeout = kUserLockTimeout;
    bool m_shown = false;
};

// Opens the users window modally from the main window.
void OpenUserRights(TDM& dm, QWidget* parent);
