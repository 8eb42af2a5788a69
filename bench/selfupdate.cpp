// The full self-update of a new system database: version 0 to the last step, embedded. Each
// run checks that the database ends at the last step's version.
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/SystemSchema.h"
#include "maint/SelfUpdate.h"
#include "maint/SelfUpdateSteps.h"

#include "Report.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr int kRuns = 7;
    std::vector<double> create, update;
    const int last = SelfUpdateSteps().last().number;
    QString storage;
    for (int run = 0; run < kRuns; ++run) {
        QTemporaryDir dir;
        if (storage.isEmpty())
            storage = StorageOf(dir.path());
        const QString path = dir.filePath(QStringLiteral("sys.fdb"));
        QElapsedTimer t;
        t.start();
        CreateSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        create.push_back(t.nsecsElapsed() / 1e6);

        TDM dm;
        SetStartupConnection(dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
        dm.db_Sys.connect();
        ExecSqlText(dm.WQ, QStringLiteral("Create Table SelfUpdates(SU_ID integer not null primary key,SU_Date Date,SU_Descr Varchar(100),SU_Blob Blob)"), true);
        t.restart();
        TfrmSelfUpdate window(dm);
        if (!window.RunSteps(path, 0)) {
            std::fprintf(stderr, "self-update failed\n");
            return 1;
        }
        update.push_back(t.nsecsElapsed() / 1e6);
        const int version = SystemSchemaVersion(dm.db_Sys);
        if (version != last) {
            std::fprintf(stderr, "the database ended at version %d, not %d\n", version, last);
            return 1;
        }
    }
    std::sort(create.begin(), create.end());
    std::sort(update.begin(), update.end());
    std::printf("new database at version 0: %.1f ms (median of %d)\n", create[kRuns / 2], kRuns);
    std::printf("self-update 0 -> %d: %.1f ms (median of %d), every run ended at version %d\n", last, update[kRuns / 2], kRuns, last);
    std::printf("database files on: %s\n", qPrintable(storage));
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
