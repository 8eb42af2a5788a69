#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <memory>
#include <vector>

class QComboBox;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
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
    void BitBtn3Click(); // "Създай права"

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

private:
    void Move(QListWidget* from, QListWidget* to, QListWidgetItem* item);
    void Log(const QString& line);
    const TApp* chosenApp() const;
    void Run();

    TDM& m_dm;
    std::vector<std::unique_ptr<TUserInfo>> m_users;
    std::vector<std::unique_ptr<TApp>> m_apps;
    bool m_usedDataDB = false; // a run connected the data module's application database
};

// Loads the users and the applications and shows the automatic rights window modally.
void ShowAutoRights(TDM& dm, QWidget* parent);
