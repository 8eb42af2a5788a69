#pragma once

#include "SQLUpdater.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <optional>

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Finds the server path of a script's alias; may replace server (OnGetServer's signature).
// False: the administrator cancelled the choice, and nothing is to run.
using TGetServerHandler = std::function<bool(const QString& alias, QString& server)>;

// One script of a background run, read before anything runs.
struct TScriptPlan {
    QString file; // full path
    QString alias;
    QString server; // empty: the script's alias reaches its database
    int steps = 0;
};

// Reads every file whole and finds each one's database, asking handler once per alias; nothing
// connects. The chosen server serves the scripts of the chosen alias only. Throws the first
// fault of a script (naming it, the step and the line); none when a choice was cancelled.
std::optional<QList<TScriptPlan>> PlanScripts(const QStringList& files, const TGetServerHandler& handler,
                                              const QString& chosenAlias, const QString& chosenServer);

// Runs an ordered list of scripts against their databases in the background. Every report of
// the runner is handed to the interface thread, which shows it in the progress list while this
// thread waits; the interface thread never waits for this one.
class TThreadUpdater : public QThread {
    Q_OBJECT
public:
    TThreadUpdater(QTreeWidget* list, const QString& suffix);
    ~TThreadUpdater() override;

    TSQLUpdater Updater;
    QTreeWidget* StageList;
    QString StatusText;
    int ShownStepNo = 0;
    bool ShownNoStep = false; // a row of its own for an error outside any step
    qint64 ShownTime = -1; // milliseconds; -1 shows no time (a step may take 0 ms)
    bool NewRow = false;
    QStringList Files;
    // The server path for each of Files; empty: the script's alias reaches its database.
    QStringList Servers;
    int CurrentFile = 0; // of Files, whose script runs now

    // Where an error stopped the run: the file and the step (none: outside any step).
    int StoppedFile = -1;
    std::optional<std::int32_t> StoppedStep;
    bool stopped() const { return m_stop; }

    // The columns of the progress list.
    enum Column { colScript, colStep, colState, colTime };

    void ShowProgress(); // on the interface thread

protected:
    void run() override;

private:
    void RunScript();
    void Display();
    void ReportStepStart(TSQLUpdater& sender);
    void ReportStepDone(TSQLUpdater& sender);
    void ReportAlreadyApplied(std::int32_t stepNo, const QDateTime& appliedAt);
    void ReportError(const QString& message, bool ownRow);

    std::atomic<bool> m_stop{false};
};

// The progress window of a background run.
class TAutoUpd_Frm : public QDialog {
    Q_OBJECT
public:
    explicit TAutoUpd_Frm(QWidget* parent = nullptr);
    ~TAutoUpd_Frm() override;

    // Reads every script and finds its database (PlanScripts), lists what will run and prepares
    // the thread; nothing runs. Throws a script's fault; false when a choice was cancelled.
    bool Prepare(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                 const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer);
    // Shows the prepared window modally.
    int ShowModal();

    // How the window is shown: exec() unless a test drives it.
    static std::function<int(TAutoUpd_Frm&)>& Runner();

    bool running() const { return Running; }
    TThreadUpdater* thread() const { return Thread; }

    QTreeWidget* Plan_LV; // what will run: script, steps, database
    QTreeWidget* Stage_LV;
    QPlainTextEdit* Detail_Text; // the whole text of the current row of Stage_LV
    QPushButton* Start_BB;
    QPushButton* Exit_SB;

    void StartClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ThreadDone();
    void FreeUnstarted();
    void ShowDetail(QTreeWidgetItem* row);

    TThreadUpdater* Thread = nullptr;
    bool Running = false;
    QElapsedTimer StartTime;
    TGetServerHandler GetServer;
};

// Runs files (full paths, at least one) in the background behind the progress window. Every
// script is read first: a fault throws before anything runs, and a cancelled choice of
// database shows nothing; beforeShow runs once the window is about to show.
void RunScripts(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer,
                QWidget* parent = nullptr, const std::function<void()>& beforeShow = {});
