#pragma once

#include "SQLScript.h"
#include "SQLStep.h"

#include "db/Database.h"
#include "db/Query.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TMemDataSet;

// The engine that applies one update script to one target database. With a history table
// each step's work and its history row are one transaction that reserves the history table
// for protected write, so a step other than 0 runs once however many runners there are, a
// failed step leaves no trace and a killed run resumes where it stopped. Knows no windows: it
// reports through its events, which run on the thread that calls RunNextStep.
// Calling order: construct, SetLoginParams, then per script LoadScript, Connect, RunNextStep
// until it returns false, CloseAll.
class TSQLUpdater {
public:
    static const QString SourceConnectionName; // "@_@_@_SRCDB_@_@_@", followed by the suffix
    static const QString TargetConnectionName; // "@_@_@_DESTDB_@_@_@", followed by the suffix
    // The settings every connection of the runner carries besides the account.
    static const QStringList& DriverSettings();
    static const QString& CheckSqlPattern();  // %1: history table
    static const QString& InsertSqlPattern(); // %1: history table

    explicit TSQLUpdater(const QString& suffix = {});
    ~TSQLUpdater();
    TSQLUpdater(const TSQLUpdater&) = delete;
    TSQLUpdater& operator=(const TSQLUpdater&) = delete;

    // Two "NAME=value" lines: the "USER NAME" and the "PASSWORD" setting.
    void SetLoginParams(const QString& userSetting, const QString& passwordSetting);
    // Reads and checks the whole file before anything else changes; throws InputError naming
    // the script, the step and the line. ServerName is kept.
    void LoadScript(const QString& path);
    // Connects the target; a failure goes to OnError and is not thrown.
    void Connect();
    // Runs the step under the cursor; false when the cursor had passed the last step.
    bool RunNextStep();
    // Whether step n has a history row (raising OnAlreadyApplied with its date); never for 0
    // or without a history table. Outside a step it reads what is committed.
    bool IsApplied(std::int32_t n);
    int StepCount() const { return static_cast<int>(m_script.Steps.size()); }
    TSQLStep& Steps(int i) const { return *m_script.Steps[static_cast<size_t>(i)]; }
    std::int32_t CurrentStepNo() const;
    void CloseAll();

    // The history rows of the target database, SU_TEXT read when asked for; empty without a
    // history table. Grows by the rows of this runner's steps, without reading the table again.
    TMemDataSet& HistoryTable() const { return *m_history; }

    // Fields of the design.
    QString Alias;
    QString UserParam;
    QString PasswordParam;
    db::Database SourceDB;
    db::Database TargetDB;
    db::Query ExecQuery;
    db::Query CheckQuery;
    db::Query InsertQuery;
    int Cursor = 0;
    bool InStep = false;
    QString ServerName;
    bool HistoryExists = false;
    QString ScriptFile;
    QDateTime ScriptDate; // the script's modification time; the zero date when unreadable
    QString CompName;
    QString UserName;
    bool PumpMessages = true;
    qint64 StepTime = 0; // milliseconds the last applied step took, measured by an elapsed timer
    QString HistoryTableName = QStringLiteral("SQL_UPDATES");
    const TSetupArray& Setups() const { return m_script.Setups; }

    // Not of the design: the 32-bit handle a library step gets as its window (none here), and
    // how long a step waits for another runner's reservation of the history table.
    std::uint32_t WindowHandle = 0;
    int LockTimeout = 60;

    // Events, each invoked only when set.
    std::function<void(const QString& message)> OnError;
    std::function<void(std::int32_t stepNo, const QDateTime& appliedAt)> OnAlreadyApplied;
    std::function<void(TSQLUpdater& sender)> OnStepStart;
    std::function<void(TSQLUpdater& sender)> OnStepDone;
    std::function<void(const QString& alias, QString& server)> OnGetServer;

    // "hh:mm:ss" of a duration in milliseconds.
    static QString FormatDuration(qint64 ms);
    // The date Delphi counts as zero, which SU_FILEDATE gets for an unreadable script.
    static QDateTime ZeroDate();

private:
    void PrepareHistory();
    std::optional<QDateTime> AppliedAt(std::int32_t n);
    void RecordStep(const TSQLStep& step);
    std::vector<QVariantList> NewHistoryRows();
    void AppendHistoryRows(const std::vector<QVariantList>& rows);
    QString StepErrorText(const TSQLStep& step, const QString& message) const;

    TSQLScript m_script;
    std::unique_ptr<TMemDataSet> m_history;
    qint64 m_lastHistoryId = 0;
    QString m_historyCatalogName; // as the catalogue stores it, for the reservation

    // While a step's transaction reserves the history table: a failure then is another run's lock.
    bool m_reservingHistory = false;
};
