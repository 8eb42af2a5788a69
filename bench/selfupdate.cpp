// The full self-update of a new system database: version 0 to the last step, embedded.
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/SystemSchema.h"
#include "maint/SelfUpdate.h"

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
    for (int run = 0; run < kRuns; ++run) {
        QTemporaryDir dir;
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
    }
    std::sort(create.begin(), create.end());
    std::sort(update.begin(), update.end());
    std::printf("new database at version 0: %.1f ms (median of %d)\n", create[kRuns / 2], kRuns);
    std::printf("self-update 0 -> 27: %.1f ms (median of %d)\n", update[kRuns / 2], kRuns);
    return 0;
}
