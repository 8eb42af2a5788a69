#pragma once

#include <QDialog>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class QComboBox;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class TProvisionRoute;
class QRadioButton;
class QWidget;
class TDM;

struct TUserInfo {
    qint32 id = 0;
    QString fullName;
    QString loginName;
};

struct TAppClass {
    int classIdx = 0;
    QString name;
};

struct TAppDB {
    QString caption;
    QString serverPath;
    QString dbn; // the entry's DBN in ZorCfg.ini (empty for an alias standing in)
    // The database as the configuration names it, for the log: DBN/caption.
    QString name() const { return dbn.isEmpty() ? caption : dbn + QLatin1Char('/') + caption; }
};

struct TApp {
    int aplId = 0;
    QString name;
    std::vector<TAppClass> classes;
    std::vector<TAppDB> databases;
    QString procedure;
    QString dbUser;
    QString dbPassword;
};

// "Автоматично задаване на права": one class in one application for many users at once, and
// the users pushed into the chosen databases of that application.
class TFormUserAutoRights : public QDialog {
    Q_OBJECT
public:
    explicit TFormUserAutoRights(TDM& dm, QWidget* parent = nullptr);
    ~TFormUserAutoRights() override;

    // What to do with a user who already holds a right in the application.
    enum Policy { KeepRight = 0, ChangeRight = 1, OnlyNames = 2 };

    void LoadUsers();
    void LoadApps();
    void cbox_AppChange(int index);
    void bbToRightClick();
    void bbToLeftClick();
    void BitBtn1Click(); // all to the right
    void BitBtn2Click(); // all to the left
    void bAddFromFileClick();
    // Moves, for each line, the last user of lb_UsersAll whose full name it is.
    void AddFromLines(const QStringList& lines);
    // "Създай права": checks, asks before changing more than one user, then starts the run.
    void BitBtn3Click();
    // Stops a run between two users.
    void StopClick();
    bool running() const;
    // The text a user is shown by: the full name, with the login name beside it when another user
    // has the same full name.
    QString UserText(const TUserInfo& user) const;

    // The LINKS step for one user; the message is empty when nothing was done.
    QString SetRight(qint32 userId, const TApp& app, int policy, int classIdx);

    const std::vector<std::unique_ptr<TApp>>& apps() const { return m_apps; }

    QListWidget* lb_UsersAll;
    QListWidget* lb_UsersToChange;
    QPushButton* bbToRight;
    QPushButton* bbToLeft;
    QPushButton* BitBtn1;
    QPushButton* BitBtn2;
    QPushButton* bAddFromFile;
    QComboBox* cbox_App;
    QComboBox* cbox_Class;
    QListWidget* clb_DBPath;
    QRadioButton* rbAddRights_ButDoNotChange;
    QRadioButton* rb_ChangeRight;
    QRadioButton* rbOnlyChangeNames;
    QPlainTextEdit* MemoLog;
    QPushButton* BitBtn3;
    QPushButton* bbStop;
    QProgressBar* pbProgress;

signals:
    // A run ended: done, stopped or closed.
    void runFinished();

protected:
    void reject() override;

private:
    void Move(QListWidget* from, QListWidget* to, QListWidgetItem* item);
    void Log(const QString& line);
    const TApp* chosenApp() const;
    // One step of a run: opens the next database or handles the next user of the open one.
    void Step();
    void FinishRun(const QString& lastLine);
    void SetRunning(bool on);

    TDM& m_dm;
    std::vector<std::unique_ptr<TUserInfo>> m_users;
    QHash<QString, int> m_nameCount; // users per full name, to tell namesakes apart
    std::vector<std::unique_ptr<TApp>> m_apps;

    // The run in progress, driven by m_timer one user at a time so that the window stays live.
    struct RunState {
        const TApp* app = nullptr;
        int classIdx = 0;
        int policy = ChangeRight;
        QList<int> databases; // indexes into app->databases
        QList<int> users;     // indexes into m_users
        int db = 0;           // the database being worked (index into databases)
        int user = 0;         // the next user of it
        int done = 0;         // users handled over all databases
        bool stopRequested = false;
        std::unique_ptr<TProvisionRoute> route;
    };
    std::unique_ptr<RunState> m_run;
    QTimer* m_timer;
};

// The texts of the automatic rights runs that name databases, users and counts.
namespace AutoRightsText {
inline const QString Stop = QStringLiteral("Спри");
// database, user, what was done
inline const QString UserLine = QStringLiteral("%1: %2 %3");
// database, user, reason
inline const QString ProvisionFailed = QStringLiteral("%1: %2 не е добавен в базата данни: %3");
// database, server path, reason
inline const QString OpenFailed = QStringLiteral("Не може да отвори %1 (%2): %3");
// users, databases, application
inline const QString ConfirmMany = QStringLiteral("Ще бъдат записани права на %1 потребители в %2 бази данни на %3. Да се продължи ли?");
// users handled, of all
inline const QString Finished = QStringLiteral("Готово: %1 от %2.");
inline const QString Stopped = QStringLiteral("Спряно: обработени %1 от %2.");
// a line of the file of names
inline const QString NoSuchUser = QStringLiteral("Няма потребител с име \"%1\" в списъка на всички потребители.");
} // namespace AutoRightsText

// Loads the users and the applications and shows the automatic rights window modally.
void ShowAutoRights(TDM& dm, QWidget* parent);
