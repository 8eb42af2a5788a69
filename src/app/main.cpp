#include "core/Aliases.h"
#include "core/BuiltIn.h"

#include "db/Error.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Gatekeep"));
    QApplication::setApplicationDisplayName(QStringLiteral("Gatekeep"));
    QApplication::setApplicationVersion(QStringLiteral(GATEKEEP_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Администриране на потребителите на приложенията"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption scramble(QStringLiteral("scramble"),
                                      QStringLiteral("Print TEXT in the scrambled form of the maintenance account override."),
                                      QStringLiteral("TEXT"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Show the main window, save it as a PNG file and exit."),
                                        QStringLiteral("FILE"));
    parser.addOption(scramble);
    parser.addOption(screenshot);
    parser.addPositionalArgument(QStringLiteral("login"), QStringLiteral("Login name (optional)."), QStringLiteral("[login password]"));
    parser.process(app);

    if (parser.isSet(scramble)) {
        try {
            std::printf("%s\n", qPrintable(EncodeBuiltInText(BuiltInKey(), parser.value(scramble))));
            return 0;
        } catch (const db::Error& e) {
            std::fprintf(stderr, "%s\n", e.message().toLocal8Bit().constData());
            return 1;
        }
    }

    InstallAliasResolver();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Gatekeep"));
    window.resize(800, 600);
    window.show();

    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QTimer::singleShot(300, &window, [&window, file] {
            const bool ok = window.grab().save(file, "PNG");
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
