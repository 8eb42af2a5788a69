// Regenerates the first database of ZorCfg.ini as the program does: the window shown modally
// over a running event loop, SIGTERM and SIGINT taken as the program takes them, messages on
// standard error, the window's log on standard output as it grows. The tests signal or kill it
// in the middle. Argument: the work folder.
#include "core/ConsolePrompts.h"
#include "core/QuitSignals.h"
#include "maint/Refresh.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    const int quitFd = TakeQuitSignals();
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: refresh_runner WORKDIR\n");
        return 2;
    }
    ConsolePrompts console;
    setPrompts(&console);
    QuitOnSignals(app, quitFd);
    const QString workDir = QString::fromLocal8Bit(argv[1]);
    QTimer::singleShot(0, &app, [workDir] {
        int rc = 3;
        {
            TfrmRefresh w;
            w.setWorkDir(workDir);
            int printed = 0;
            QObject::connect(w.mm, &QPlainTextEdit::textChanged, &w, [&w, &printed] {
                const QTextDocument* log = w.mm->document();
                for (; printed < log->blockCount() - 1; ++printed)
                    std::printf("%s\n", log->findBlockByNumber(printed).text().toUtf8().constData());
                std::fflush(stdout);
            });
            if (w.LocateGbak()) {
                w.selectEntry(0);
                QObject::connect(&w, &TfrmRefresh::finished, &w, [&rc](bool ok) { rc = ok ? 0 : 1; });
                w.show();
                w.Start();
                w.exec();
            }
        }
        QCoreApplication::exit(rc);
    });
    return app.exec();
}
