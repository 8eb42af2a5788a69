// Imports a text file into a system database as the import window would, with every row's class
// in the second application of the table and no application database; prints each row's number
// as it is done. The tests kill it in the middle, or run two at once. Arguments: file, server path,
// user, password, class, and "refresh" to refresh existing users instead of skipping them.
#include "bulk/Importer.h"
#include "core/DataModule.h"
#include "core/SqlOps.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6 && !(args.size() == 7 && args[6] == QLatin1String("refresh"))) {
        std::fprintf(stderr, "usage: import_runner FILE SERVER USER PASSWORD CLASS [refresh]\n");
        return 2;
    }
    try {
        TDM dm;
        SetStartupConnection(dm.db_Sys, args[3], args[4], args[2]);
        dm.db_Sys.connect();
        const ApplicationTable apps = BuildApplicationTable(dm.db_Sys);
        TUserImporter importer(dm, [](const QString& line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); });
        importer.options.skipExisting = args.size() == 6;
        importer.LoadSnapshot();
        importer.setApplication(&apps.entries[1]);
        importer.defaultClass = args[5].toInt();
        const ImportTextFile file = ReadImportTextFile(args[1]);
        QList<ImportRow> rows;
        for (int i = 0; i < file.lines.size(); ++i)
            rows << SplitImportLine(file.lines[i], QStringLiteral(";"), i + 1);
        QList<std::pair<ImportRow, RowResult>> results;
        importer.ImportRows(rows, false, [](int done) { std::printf("%d\n", done), std::fflush(stdout); }, &results);
        for (const auto& [row, r] : results)
            if (r.outcome == RowResult::Refused)
                return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
