#include "ImportCommand.h"

#include "ImportReport.h"
#include "ImportText.h"
#include "Importer.h"
#include "Workbook.h"

#include "core/DataModule.h"
#include "core/InputError.h"
#include "db/Error.h"
#include "update/DBLists.h"
#include "update/ScriptRun.h"

#include <QFile>
#include <QTextStream>

#include <unistd.h>

namespace Text = ImportText;

namespace {

QList<ImportRow> readRows(const CommandLine::ImportArgs& a, bool& workbook, QTextStream& err)
{
    QList<ImportRow> rows;
    workbook = IsWorkbookFile(a.file);
    if (workbook) {
        rows = ReadWorkbook(a.file);
        return rows;
    }
    const ImportTextFile file = ReadImportTextFile(a.file);
    err << ImportEncodingNote(file.encoding) << Qt::endl;
    return ImportTextRows(file.lines, a.separator, IsCsvFile(a.file));
}

const ApplicationEntry* findApplication(const ApplicationTable& apps, const QString& name)
{
    // The first row is this program's own, which the import does not offer.
    for (int i = 1; i < apps.count; ++i) {
        const ApplicationEntry& e = apps.entries[i];
        for (const QString& n : {e.caption(), e.suiteAplName(), e.section()})
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return &e;
    }
    return nullptr;
}

// The application's database for this system database, as the window would offer it.
QString applicationDatabase(const ApplicationEntry& app, const QString& wanted, const QString& filter, QString& error, bool& missing)
{
    missing = false;
    bool fileExists = false;
    const TDBEntryList offered = OfferedDatabases(app.section(), filter, &fileExists);
    if (!fileExists) {
        const QString server = AliasServerName(SectionAlias(app.section())).trimmed();
        missing = server.isEmpty();
        return server;
    }
    QStringList dbns;
    for (const TDBEntry& e : offered) {
        if (!wanted.isEmpty() && e.DBN.compare(wanted, Qt::CaseInsensitive) == 0)
            return ServerPath(e.ServIP, e.BaseName);
        dbns << e.DBN;
    }
    if (!wanted.isEmpty()) {
        error = QStringLiteral("No database %1 of %2 is configured for this system database (configured: %3).")
                    .arg(wanted, app.caption(), dbns.join(QStringLiteral(", ")));
        return {};
    }
    if (offered.size() > 1) {
        error = QStringLiteral("%1 has several databases; name one with --database (%2).").arg(app.caption(), dbns.join(QStringLiteral(", ")));
        return {};
    }
    missing = offered.isEmpty();
    return missing ? QString() : ServerPath(offered[0].ServIP, offered[0].BaseName);
}

// Whether the stream writes to a terminal.
bool onTerminal(QTextStream& stream)
{
    const auto* file = qobject_cast<QFile*>(stream.device());
    return file && file->handle() >= 0 && isatty(file->handle());
}

} // namespace

ImportRunResult RunImportFromCommandLine(TDM& dm, const CommandLine::ImportArgs& a, const QString& filter, QTextStream& out,
                                         QTextStream& err)
{
    QList<ImportRow> rows;
    bool workbook = false;
    try {
        rows = readRows(a, workbook, err);
    } catch (const std::exception& e) {
        err << db::errorMessage(e) << Qt::endl;
        return ImportRunResult::BadInput;
    }

    // Each row's line is out as soon as the row is done, so that a run killed midway leaves its
    // record; on a terminal the count of rows done shows on standard error, under the log lines.
    const bool progress = onTerminal(err);
    bool counterShown = false;
    const auto clearCounter = [&err, &counterShown] {
        if (counterShown)
            err << "\r\033[K" << Qt::flush;
        counterShown = false;
    };
    TUserImporter importer(dm, [&err, &clearCounter](const QString& line) {
        clearCounter();
        err << QString(line).replace(QLatin1Char('\r'), QLatin1Char('\n')) << Qt::endl;
    });
    importer.options.defaultPassword = a.password;
    importer.options.skipExisting = !a.updateExisting;
    importer.options.domainUser = a.domainUser;
    importer.options.changeUserName = a.changeLoginName;
    importer.options.preview = a.preview;

    ApplicationTable apps;
    const ApplicationEntry* app = nullptr;
    try {
        importer.LoadSnapshot();
        if (!a.application.isEmpty()) {
            apps = BuildApplicationTable(dm.db_Sys);
            app = findApplication(apps, a.application);
            if (!app) {
                QStringList known;
                for (int i = 1; i < apps.count; ++i)
                    known << apps.entries[i].caption();
                err << QStringLiteral("No application %1 (there are: %2).").arg(a.application, known.join(QStringLiteral(", "))) << Qt::endl;
                return ImportRunResult::BadInput;
            }
        }
    } catch (const std::exception& e) {
        err << db::errorMessage(e) << Qt::endl;
        return ImportRunResult::Unreachable;
    }
    if (app) {
        importer.setApplication(app);
        importer.defaultClass = app->ClassCount > 0 ? app->Classes[app->ClassCount - 1].ClassIdx : -1;
        if (!a.className.isEmpty()) {
            const ClassEntry* chosen = nullptr;
            for (int i = 0; i < app->ClassCount && !chosen; ++i)
                if (app->Classes[i].FullName.compare(a.className, Qt::CaseInsensitive) == 0)
                    chosen = &app->Classes[i];
            if (!chosen) {
                err << QStringLiteral("%1 has no class %2.").arg(app->caption(), a.className) << Qt::endl;
                return ImportRunResult::BadInput;
            }
            importer.defaultClass = chosen->ClassIdx;
        }
        QString error;
        bool missing = false;
        const QString path = applicationDatabase(*app, a.database, filter, error, missing);
        if (!error.isEmpty()) {
            err << error << Qt::endl;
            return ImportRunResult::BadInput;
        }
        if (missing || path.isEmpty()) {
            err << Text::MissingSettings + app->caption() << Qt::endl;
            return ImportRunResult::Unreachable;
        }
        if (!importer.ConnectImportDB(path))
            return ImportRunResult::Unreachable;
    }

    QList<std::pair<ImportRow, RowResult>> results;
    bool refused = false;
    ImportCounts counts;
    const bool finished = importer.ImportRows(rows, workbook, [&](int done) {
        const auto& [row, r] = results.last();
        counts.add(r);
        refused = refused || r.outcome == RowResult::Refused || !r.provisionError.isEmpty();
        clearCounter();
        out << ImportRowLine(row, r, a.preview) << Qt::endl;
        if (progress) {
            err << QStringLiteral("%1/%2").arg(done).arg(rows.size()) << Qt::flush;
            counterShown = true;
        }
    }, &results);
    clearCounter();
    importer.CloseImportDB();
    // The same summary as the window's, after the rows' lines.
    ImportEnd end;
    end.total = int(rows.size());
    end.preview = a.preview;
    end.failedAt = finished || results.size() >= rows.size() ? 0 : rows[results.size()].number;
    for (const QString& line : ImportSummary(counts, end))
        err << line << Qt::endl;
    return refused || !finished ? ImportRunResult::RowsRefused : ImportRunResult::Done;
}
