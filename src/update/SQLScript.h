#pragma once

#include "SQLStep.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A script file split into its directives and steps. Knows no database, so a file can be
// checked whole before anything runs.
struct TSQLScript {
    QString Alias;                                   // lower case; empty without a directive
    QString HistoryTableName = QStringLiteral("SQL_UPDATES");
    TSetupArray Setups;
    std::vector<std::unique_ptr<TSQLStep>> Steps;
};

// The lines of a script's bytes: UTF-8 when the bytes are valid UTF-8, otherwise windows-1251.
// Throws InputError naming the line for a NUL byte, a byte windows-1251 does not define, or a
// character windows-1251 cannot hold (the target databases keep windows-1251 text).
// breaks, when given, gets the break after each line as the file has it ("\n", "\r\n", "\r";
// empty after a last line without one).
QStringList ScriptLines(const QByteArray& bytes, const QString& scriptName, QStringList* breaks = nullptr);

// Splits lines into directives and steps (owned by owner, which may be null). Throws
// InputError naming the script, the step and the line of the first fault: besides a step's own
// faults, a step without its stop line (at its start line), a start line inside a step before its
// stop line (there), and a step number other than 0 that an earlier step has. A file without
// steps loads with none (Steps is empty), for the caller to tell. breaks as ScriptLines gives
// them; without them the steps' SQL has CR LF after each line.
void ParseScript(const QStringList& lines, TSQLScript& script, TSQLUpdater* owner, const QString& scriptName = {},
                 const QStringList& breaks = {});

// Throws InputError naming the script, the step and its DLLName line for the first library step
// whose library is not in folder (the script's own). So a missing library stops a run before any
// step is applied, not when its step comes.
void CheckLibraries(const TSQLScript& script, const QString& folder);

// Reads and parses a file, and checks its libraries (CheckLibraries); the error of an unreadable
// file names it.
void LoadScriptFile(const QString& path, TSQLScript& script, TSQLUpdater* owner);
