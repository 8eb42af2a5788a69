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
};

// What the run ended with, as the program's exit code.
enum class ScriptRunResult { Done = 0, StepFailed = 1, ScriptUnreadable = 2, Unreachable = 3 };

// Reads every script first (a script that cannot be read runs nothing), finds each one's
// database, then runs them sorted as "Multi" sorts them, one line per step on out; stops at
// the first failure. Reasons that end the run before any step go to err.
ScriptRunResult RunScriptsFromCommandLine(const ScriptRunOptions& options, QTextStream& out, QTextStream& err);

// The configured databases of a section that the database selection would offer for filter.
// fileExists tells a missing ZorCfg.ini from one that lists nothing.
TDBEntryList OfferedDatabases(const QString& section, const QString& filter, bool* fileExists = nullptr);
