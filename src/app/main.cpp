#include "Keyboard.h"
#include "MainWindow.h"
#include "QtPrompts.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/DataModule.h"
#include "core/InstallDescription.h"
#include "core/LogInfo.h"
#include "core/Login.h"
#include "core/ConsolePrompts.h"
#include "core/Prompts.h"
#include "core/SystemSchema.h"
#include "maint/Demo.h"
#include "maint/SelfUpdate.h"
#include "users/UserRights.h"

#include "db/Error.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

namespace {

void printLine(const QString& text) { std::printf("%s\n", text.toLocal8Bit().constData()); }
void printError(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InstallKeyboardConventions(app);
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
    const QCommandLineOption createSystemDb(QStringLiteral("create-system-db"),
                                            QStringLiteral("Create a new, empty system database at DATABASE (a local path, host:path "
                                                           "or host/port:path) and exit; an existing file is never overwritten. "
                                                           "The program brings it to the current schema at the first login."),
                                            QStringLiteral("DATABASE"));
    const QCommandLineOption owner(QStringLiteral("owner"), QStringLiteral("Owner of the new system database (default SYSCREAT)."),
                                   QStringLiteral("USER"), QStringLiteral("SYSCREAT"));
    const QCommandLineOption ownerPassword(QStringLiteral("password"), QStringLiteral("Password of the owner (a server checks it)."),
                                           QStringLiteral("PASSWORD"));
    const QCommandLineOption createDemo(QStringLiteral("create-demo"),
                                        QStringLiteral("Create a demo installation in FOLDER and exit."), QStringLiteral("FOLDER"));
    const QCommandLineOption writeInstall(QStringLiteral("write-install-description"),
                                          QStringLiteral("Write the installation description ICR (the file \"Инсталиране\" reads) "
                                                         "from the plain description INI, and exit."),
                                          QStringLiteral("INI>,<ICR"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Show the main window, save it as a PNG file and exit."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption shotWindow(QStringLiteral("window"),
                                        QStringLiteral("With --screenshot: the window to save, \"main\" (default) or \"users\"."),
                                        QStringLiteral("NAME"), QStringLiteral("main"));
    parser.addOptions({scramble, createSystemDb, owner, ownerPassword, createDemo, writeInstall, screenshot, shotWindow});
    parser.addPositionalArgument(QStringLiteral("login"), QStringLiteral("Login name and password (both or neither)."),
                                 QStringLiteral("[login password]"));
    parser.process(app);

    InstallAliasResolver();

    if (parser.isSet(scramble) || parser.isSet(createSystemDb) || parser.isSet(createDemo) || parser.isSet(writeInstall)) {
        ConsolePrompts console;
        setPrompts(&console);
        try {
            if (parser.isSet(scramble)) {
                printLine(EncodeBuiltInText(BuiltInKey(), parser.value(scramble)));
            } else if (parser.isSet(writeInstall)) {
                const QStringList files = parser.value(writeInstall).split(QLatin1Char(','));
                if (files.size() != 2)
                    throw db::Error(QStringLiteral("--write-install-description INI,ICR"));
                WriteInstallDescription(files[0], files[1]);
                printLine(QStringLiteral("Written %1").arg(files[1]));
            } else if (parser.isSet(createSystemDb)) {
                CreateSystemDatabase(parser.value(createSystemDb), parser.value(owner), parser.value(ownerPassword));
                printLine(QStringLiteral("Created %1").arg(parser.value(createSystemDb)));
            } else {
                const DemoLogin login = CreateDemo(parser.value(createDemo));
                printLine(QStringLiteral("Demo administrator: login \"%1\", password \"%2\"").arg(login.login, login.password));
            }
            return 0;
        } catch (const std::exception& e) {
            printError(db::errorMessage(e));
            return 1;
        }
    }

    const bool shot = parser.isSet(screenshot);
    ConsolePrompts console;
    QtPrompts qtPrompts;
    setPrompts(shot ? static_cast<Prompts*>(&console) : &qtPrompts);

    TLogInfoRec& logInfo = LogInfo();
    bool loggedIn = false;
    try {
        loggedIn = StartupLogin(parser.positionalArguments(), logInfo);
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
        ReleaseLibraryArrays();
        return 1;
    }
    if (!loggedIn) {
        ReleaseLibraryArrays();
        return 1;
    }

    int rc = 0;
    {
        TDM dm;
        MainWindowHooks hooks;
        hooks.selfUpdateCheck = SelfUpdateCheck;
        hooks.openUsers = [&dm](QWidget* parent) { OpenUserRights(dm, parent); };
        TfrmMain frmMain(dm, logInfo, hooks);
        if (shot) {
            const QString file = parser.value(screenshot);
            const bool users = parser.value(shotWindow) == QLatin1String("users");
            QObject::connect(&frmMain, &TfrmMain::showStepDone, &frmMain, [&frmMain, &dm, file, users] {
                if (frmMain.terminateRequested())
                    return;
                QTimer::singleShot(0, &frmMain, [&frmMain, &dm, file, users] {
                    if (!users) {
                        QApplication::exit(frmMain.grab().save(file, "PNG") ? 0 : 1);
                        return;
                    }
                    auto* window = new TfrmUserRights(dm, &frmMain);
                    window->show();
                    QTimer::singleShot(100, window, [window, file] { QApplication::exit(window->grab().save(file, "PNG") ? 0 : 1); });
                });
            });
        }
        frmMain.show();
        rc = app.exec();
    }
    ReleaseLibraryArrays();
    return rc;
}
