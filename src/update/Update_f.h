#pragma once

#include "SQLUpdater.h"
#include "ScriptRun.h" // the order of "Multi" and the maintenance login are the engine's

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class TAlias_F;
class TDBHintGrid;
class TDBNavigator2;

// Where update scripts are applied: step by step with the step's text in view, one script in
// the background ("Auto") or several in a row ("Multi"); the target database's history below.
class TUpdate_f : public QDialog {
    Q_OBJECT
public:
    explicit TUpdate_f(QWidget* parent = nullptr);
    ~TUpdate_f() override;

    TSQLUpdater Updater;
    QString ChosenAlias;
    QString ChosenServer;

    // The alias choice window, created after this one at start-up; without one the window
    // makes its own when first needed.
    void setAliasChoice(TAlias_F* aliasChoice) { m_aliasChoice = aliasChoice; }

    void ClearChosenDB();
    void SetChosenDB(const QString& alias, const QString& server);
    // The server path of a script's alias (see the README); false when the administrator
    // cancelled the choice of an alias, and nothing is to connect.
    bool ResolveServer(const QString& alias, QString& server);
    void ShowStepError(const QString& message);
    void ShowAlreadyApplied(std::int32_t stepNo, const QDateTime& appliedAt);

    void FileClick();
    void StepClick();
    void AutoClick();
    void MultiClick();
    void HistoryClick();
    void CancelDBClick();

    // Shows the window modally (after the preparations of its showing).
    int ShowModal();
    // How the window is shown from the main window: exec() unless a test drives it.
    static std::function<int(TUpdate_f&)>& Runner();

    QLineEdit* Als;
    QLabel* labScript;   // the loaded script's file name
    QLabel* labNextStep; // what the next "Стъпка" runs: its position and number
    QPlainTextEdit* Upd_Text; // the text of that step
    TDBHintGrid* DBGrid1;
    QPlainTextEdit* DBMemo1;
    TDBNavigator2* DBNavigator1;
    QLabel* labChoosedDB;
    QLabel* labChoosedDBInfo;
    QPushButton* sbCancelDB;
    QPushButton* File_SB;
    QPushButton* Step_sb;
    QPushButton* Auto_SB;
    QPushButton* Multi_SB;
    QPushButton* History_SB;
    QPushButton* Exit_SB;

protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

private:
    void AttachGrid(bool on);
    void ShowHistoryText();
    void CloseRunner();
    void ShowNextStep();
    void ClearStepInfo();
    void RunInBackground(const QStringList& files);

    TAlias_F* m_aliasChoice = nullptr;
    TAlias_F* m_ownAliasChoice = nullptr;
};

// "*.sql" matches "x.SQL" and "x.Sql" too: every letter of a pattern becomes a class of both cases.
QString AnyCaseFilter(const QString& filter);
