// Runs one script against one database as the program would, printing each event on a line;
// the tests kill it inside a step. Arguments: script, server path, user, password.
#include "update/SQLUpdater.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: update_step_runner SCRIPT SERVER USER PASSWORD\n");
        return 2;
    }
    TSQLUpdater u(QStringLiteral("_child"));
    u.PumpMessages = false;
    u.SetLoginParams(QStringLiteral("USER NAME=") + args[3], QStringLiteral("PASSWORD=") + args[4]);
    u.OnStepStart = [](TSQLUpdater& s) { std::printf("start %d\n", s.CurrentStepNo()), std::fflush(stdout); };
    u.OnStepDone = [](TSQLUpdater& s) { std::printf("done %d\n", s.CurrentStepNo()), std::fflush(stdout); };
    u.OnAlreadyApplied = [](int n, const QDateTime&) { std::printf("applied %d\n", n), std::fflush(stdout); };
    u.OnError = [](const QString& m) { std::printf("error %s\n", m.toUtf8().constData()), std::fflush(stdout); };
    u.LoadScript(args[1]);
    u.ServerName = args[2];
    u.Connect();
    while (u.RunNextStep()) {
    }
    u.CloseAll();
    return 0;
}
