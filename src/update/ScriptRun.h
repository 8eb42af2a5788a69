#pragma once

#include "DBLists.h"

#include <QString>
#include <QStringList>

class QTextStream;

// Update scripts run from the command line, without any window.
struct ScriptRunOptions {
    QStringList scripts;
    bool preview = false; // only say what would run; nothing is written
    QString server;       // the target as a server path, for every script ...
    QString alias;        // ... or the database of an alias of the alias layer ...
    QString database;     // ... or the DBN of one configured database of the scripts' application
    QString filter;       // the location of the system database logged in to; empty: none
    // A descriptor that reads SIGTERM and SIGINT (TakeQuitSignals), or -1. A signal cancels the
    // running statement: the step rolls back and the run stops.
    int quitFd = -1;
};

// What the run ended with, as the program's exit code (the README lists them).
enum class ScriptRunResult {
    Done = 0,             // every step applied or applied before (or nothing to do)
    StepFailed = 1,       // a step failed and left no trace; the steps before it stay applied
    ScriptUnreadable = 2, // a script could not be read or checked; nothing ran
    Unreachable = 3,      // a database could not be found or reached; nothing ran
    LostMidRun = 4,       // steps were applied, then a database could not be reached
    Stopped = 5,          // SIGTERM or SIGINT: the running step rolled back
};

// Reads every script first (a script that cannot be read runs nothing), finds each one's
// database and connects it, then runs them in SortScripts order, one line per step on out;
// stops at the first failure. Reasons that end the run, and warnings, go to err.
ScriptRunResult RunScriptsFromCommandLine(const ScriptRunOptions& options, QTextStream& out, QTextStream& err);

// The configured databases of a section that the database selection would offer for filter.
// fileExists tells a missing ZorCfg.ini from one that lists nothing.
TDBEntryList OfferedDatabases(const QString& section, const QString& filter, bool* fileExists = nullptr);

// The built-in maintenance account as the two setting lines SetLoginParams takes.
QStringList MaintenanceLoginLines();
// Paths in the order "Multi" and --apply run them: by file name without regard to case, then by
// folder (zzz/UPD001.SQL before aaa/upd002.sql).
QStringList SortScripts(QStringList files);
