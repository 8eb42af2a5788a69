#pragma once

#include "core/CommandLine.h"

class QTextStream;
class TDM;

// What the import from the command line ended with, as the program's exit code.
enum class ImportRunResult { Done = 0, RowsRefused = 1, BadInput = 2, Unreachable = 3 };

// Imports the file into the system database of dm (connected), one line per row on out; the
// administrators' log lines and the reasons that stop the run go to err. filter: the location
// of the system database, which limits the application's configured databases.
ImportRunResult RunImportFromCommandLine(TDM& dm, const CommandLine::ImportArgs& args, const QString& filter, QTextStream& out,
                                         QTextStream& err);
