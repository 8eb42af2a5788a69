#pragma once

#include "core/LogInfo.h"
#include "core/Policy.h"

#include <QList>
#include <QMainWindow>

#include <functional>

// The window's own texts, as the administrator sees them.
namespace MainWindowText {
inline const QString SpecSymbols = QStringLiteral("!@#$%^&*()|-_,.<>~");
inline const QString SpecSymbolsCaption = QStringLiteral("Трябва да съдържат поне един от символи : '") + QLatin1Char(' ') + SpecSymbols;
inline const QString DeleteQuestion = QStringLiteral("Наистина ли желаете да изтриете всички пароли за ");
inline const QString UpdateQuestion = QStringLiteral("Програмата вече е инсталирана, да се направи ли Update ? ");
inline const QString ErrorPrefix = QStringLiteral("Грешка : ");
inline const QString OwnPasswordsStay = QStringLiteral(
    "Паролите на %1 не могат да бъдат изтрити: без тях никой администратор не може да влезе в програмата.");
inline const QString PolicyNotSaved =
    QStringLiteral("Настройките на паролите не са записани.Да се запишат ли промените  ?");
} // namespace MainWindowText

class QCheckBox;
class QComboBox;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TDM;
struct InstallDescription;

// What the main window opens lives in folders above this one; main() hands it over.
struct MainWindowHooks {
    std::function<bool(TDM& dm, const QString& location)> selfUpdateCheck;
    std::function<void(QWidget* parent)> openUsers;
    std::function<void(QWidget* parent)> openUpdate;
    std::function<void(QWidget* parent)> openRefresh;
};

class TfrmMain : public QMainWindow {
    Q_OBJECT
public:
    TfrmMain(TDM& dm, const TLogInfoRec& logInfo, MainWindowHooks hooks, QWidget* parent = nullptr);

    // Opens the system database with the login record's credentials, runs the self-update
    // check and, when it agrees, lists the applications and loads the policy. Runs once, when
    // the window is first shown. Returns false when the database could not be opened.
    bool ShowStep();
    bool terminateRequested() const { return m_terminate; }

    void OpenApplications();
    void LoadPolicy();
    // Returns whether the policy was written.
    bool SavePolicy();
    // The policy as the page shows it differs from the one loaded or saved last.
    bool PolicyEdited() const;
    // "Изтриване": every password of the selected application.
    void DeleteApplicationPasswords();
    // "Инсталиране": asks for a description file and registers what it describes.
    void InstallApplication();
    // Checks the whole description first; the registration is then one transaction, so a
    // failure part-way leaves no half application.
    void InstallApplicationFrom(const QString& path);
    void ShowAbout();
    static QString AboutText();

    struct Application {
        int id;
        QString name; // decoded
    };
    const QList<Application>& applications() const { return m_apps; }
    QComboBox* cbApplications = nullptr;
    QPushButton* BitBtn2 = nullptr;      // "Инсталиране"
    QPushButton* BitBtn1 = nullptr;      // "Изтриване"
    QPushButton* sbUserRights = nullptr; // "Потребители"
    QPushButton* Update_BB = nullptr;    // "Обновяване"
    QPushButton* BitBtn3 = nullptr;      // "Регенериране"
    QPushButton* About_SB = nullptr;     // "За програмата"
    QPushButton* SpeedButton1 = nullptr; // "Изход"
    QTabWidget* pages = nullptr;
    QSpinBox* sepasslen = nullptr;
    QSpinBox* sepassage = nullptr;
    QList<QCheckBox*> policyBoxes() const; // every check box with a tag above 100

signals:
    void showStepDone();

protected:
    void showEvent(QShowEvent* event) override;
    // "Изход" and the window's close button: edits of the policy are saved, dropped or kept open.
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMainPage(QWidget* page);
    void BuildPolicyPage(QWidget* page);
    void OpenChild(const std::function<void(QWidget*)>& open, const QString& errorPrefix);
    int SelectedApplicationId() const;
    // Returns false when the application exists and the administrator declined the update.
    bool RegisterApplication(const InstallDescription& d);
    QCheckBox* PolicyBox(QWidget* parent, int tag, const QString& name, const QString& caption);
    struct PolicyState {
        QString flags;
        int minLength = 0;
        int maxAge = 0;
        bool operator==(const PolicyState&) const = default;
    };
    PolicyState ShownPolicy() const;

    TDM& m_dm;
    const TLogInfoRec& m_logInfo;
    MainWindowHooks m_hooks;
    QList<Application> m_apps;
    QCheckBox* cbPassLen = nullptr;
    QCheckBox* cbPassAge = nullptr;
    PolicyState m_storedPolicy; // what the page showed after the last load or save
    bool m_shown = false;
    bool m_terminate = false;
};
