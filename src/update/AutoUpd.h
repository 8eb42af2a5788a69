#pragma once

#include "SQLUpdater.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <optional>

class QPushButton;
class QTreeWidget;

// Finds the server path of a script's alias; may replace server (OnGetServer's signature).
using TGetServerHandler = std::function<void(const QString& alias, QString& server)>;

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

    // Prepares the thread for files and the chosen database, and shows the window modally.
    // The chosen server serves the scripts of the chosen alias only; other scripts ask handler.
    int Prepare(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer);

    // How the window is shown: exec() unless a test drives it.
    static std::function<int(TAutoUpd_Frm&)>& Runner();

    bool running() const { return Running; }
    TThreadUpdater* thread() const { return Thread; }

    QTreeWidget* Stage_LV;
    QPushButton* Start_BB;
    QPushButton* Exit_SB;

    void StartClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void ThreadDone();
    void FreeUnstarted();

    TThreadUpdater* Thread = nullptr;
    bool Running = false;
    QElapsedTimer StartTime;
    TGetServerHandler GetServer;
};

// Runs files (full paths, at least one) in the background behind the progress window.
void RunScripts(const QStringList& files, const QString& userSetting, const QString& passwordSetting,
                const TGetServerHandler& handler, const QString& chosenAlias, const QString& chosenServer,
                QWidget* parent = nullptr);

// The script's alias, read without a database; none when the file cannot be read or parsed
// (its run reports why).
std::optional<QString> ScriptAlias(const QString& path);
