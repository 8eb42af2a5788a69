#pragma once

#include "ImportSource.h"
#include "Importer.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// What an import run says about its rows, the same in the window and on the command line.

// One row's line: "4: refused long: <reason>". preview leaves out a new user's id, which does not
// exist yet. Never holds a password.
QString ImportRowLine(const ImportRow& row, const RowResult& r, bool preview);

// The counts of a run, as its rows come.
struct ImportCounts {
    int created = 0;
    int refreshed = 0;
    int skipped = 0;
    int refused = 0;
    int notProvisioned = 0; // written in the system database, not in the application's
    void add(const RowResult& r);
    int rows() const { return created + refreshed + skipped + refused; }
};

// The end of a run. stoppedBefore: the number of the first row not done when the administrator
// stopped the run (0: it was not stopped); failedAt: the row whose error ended the run (0: none).
struct ImportEnd {
    int total = 0;
    bool preview = false;
    int stoppedBefore = 0;
    int failedAt = 0;
};

// The summary lines (Bulgarian, as the window shows them).
QStringList ImportSummary(const ImportCounts& counts, const ImportEnd& end);

// Where a run's report goes by default: beside the imported file, "<file>.import-<date-time>.txt".
QString DefaultImportReportPath(const QString& importedFile, const QDateTime& at);

// Writes the report (its lines, UTF-8, one per line) whole or not at all; throws InputError.
void WriteImportReport(const QString& path, const QStringList& lines);
