// Imports a text file into a system database as the import window would, with every row's class
// in the second application of the table and no application database; prints each row's number
// as it is done. The tests kill it in the middle. Arguments: file, server path, user, password, class.
#include "bulk/Importer.h"
#include "core/DataModule.h"
#include "core/SqlOps.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: import_runner FILE SERVER USER PASSWORD CLASS\n");
        return 2;
    }
    try {
        TDM dm;
        SetStartupConnection(dm.db_Sys, args[3], args[4], args[2]);
        dm.db_Sys.connect();
        const ApplicationTable apps = BuildApplicationTable(dm.db_Sys);
        TUserImporter importer(dm, [](const QString& line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); });
        importer.LoadSnapshot();
        importer.setApplication(&apps.entries[1]);
        importer.defaultClass = args[5].toInt();
        const ImportTextFile file = ReadImportTextFile(args[1]);
        QList<ImportRow> rows;
        for (int i = 0; i < file.lines.size(); ++i)
            rows << SplitImportLine(file.lines[i], QStringLiteral(";"), i + 1);
        importer.ImportRows(rows, false, [](int done) { std::printf("%d\n", done), std::fflush(stdout); });
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
