#include "Keyboard.h"
#include "MainWindow.h"
#include "QtPrompts.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "bulk/ImportCommand.h"
#include "bulk/Import_u.h"
#include "bulk/UserAutoRights.h"
#include "core/CommandLine.h"
#include "core/ConsolePrompts.h"
#include "core/DataModule.h"
#include "core/InstallDescription.h"
#include "core/Locale.h"
#include "core/LogInfo.h"
#include "core/SqlOps.h"
#include "core/Login.h"
#include "core/Prompts.h"
#include "core/QuitSignals.h"
#include "maint/Demo.h"
#include "maint/Refresh.h"
#include "maint/SelfUpdate.h"
#include "update/Alias_F.h"
#include "update/ScriptRun.h"
#include "update/Update_f.h"
#include "users/UserRights.h"

#include "db/Connection.h"
#include "db/Database.h"
#include "db/Error.h"

#include <QApplication>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <thread>


namespace {

void printLine(const QString& text) { std::printf("%s\n", text.toLocal8Bit().constData()); }
void printError(const QString& text) { std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); }

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Gatekeep"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GATEKEEP_VERSION));
}

// The actions that show no window: they run without a display.
int runAction(const CommandLine& cl)
{
    ConsolePrompts console;
    setPrompts(&console);
    try {
        switch (cl.action) {
        case CommandLine::Action::Help:
            std::printf("%s", CommandLineHelp().toLocal8Bit().constData());
            break;
        case CommandLine::Action::Version:
            printLine(QStringLiteral("Gatekeep %1").arg(QStringLiteral(GATEKEEP_VERSION)));
            break;
        case CommandLine::Action::Scramble:
            printLine(EncodeBuiltInText(BuiltInKey(), cl.value));
            break;
        case CommandLine::Action::WriteInstallDescription: {
            const QStringList files = cl.value.split(QLatin1Char(','));
            if (files.size() != 2)
                throw db::Error(QStringLiteral("--write-install-description INI,ICR"));
            WriteInstallDescription(files[0], files[1]);
            printLine(QStringLiteral("Written %1").arg(files[1]));
            break;
        }
        case CommandLine::Action::CreateSystemDb:
            CreateAdministeredSystemDatabase(
                cl.value, {cl.owner, cl.ownerPassword, cl.adminLogin, cl.adminPassword, QStringLiteral("Администратор")});
            printLine(QStringLiteral("Created %1; its administrator logs in as \"%2\"").arg(cl.value, cl.adminLogin));
            break;
        case CommandLine::Action::CreateDemo: {
            const DemoLogin login = CreateDemo(cl.value);
            printLine(QStringLiteral("Demo administrator: login \"%1\", password \"%2\"").arg(login.login, login.password));
            break;
        }
        default:
            break;
        }
        return 0;
    } catch (const std::exception& e) {
        printError(db::errorMessage(e));
        return 1;
    }
}

// Applies or previews update scripts, one line per step; the exit code says how it ended.
int runScripts(const CommandLine& cl, int quitFd)
{
    ConsolePrompts console;
    setPrompts(&console);
    QTextStream out(stdout);
    QTextStream err(stderr);
    ScriptRunOptions o;
    o.scripts = cl.scripts;
    o.preview = cl.action == CommandLine::Action::Preview;
    o.server = cl.server;
    o.alias = cl.alias;
    o.database = cl.database;
    o.quitFd = quitFd;
    // A login limits the configured databases to those of its system database.
    if (!cl.login.isEmpty()) {
        try {
            if (!StartupLogin(cl.login, LogInfo())) {
                err << "The login failed." << Qt::endl;
                return int(ScriptRunResult::Unreachable);
            }
        } catch (const std::exception& e) {
            err << db::errorMessage(e) << Qt::endl;
            return int(ScriptRunResult::Unreachable);
        }
        o.filter = ShortString(LogInfo().Location);
    }
    return int(RunScriptsFromCommandLine(o, out, err));
}

// Imports users from a file, one line per row; the exit code says how it ended.
int runImport(const CommandLine& cl)
{
    ConsolePrompts console;
    setPrompts(&console);
    QTextStream out(stdout);
    QTextStream err(stderr);
    try {
        if (!StartupLogin(cl.login, LogInfo())) {
            err << "The login failed." << Qt::endl;
            return int(ImportRunResult::Unreachable);
        }
        TDM dm;
        SetStartupConnection(dm.db_Sys, ShortString(LogInfo().LoginName), ShortString(LogInfo().Password),
                             ShortString(LogInfo().ServerName));
        dm.db_Sys.connect();
        return int(RunImportFromCommandLine(dm, cl.import, ShortString(LogInfo().Location), out, err));
    } catch (const std::exception& e) {
        err << db::errorMessage(e) << Qt::endl;
        return int(ImportRunResult::Unreachable);
    }
}

// Logs in, shows the main window and runs until it closes (or saves a screenshot and exits).
// The embedded engine takes tens of milliseconds to start, and the login and the data module
// attach one after the other, each opening the database anew. An attachment of its own, made on
// a thread from the first moment, lets the engine start while the window system does and keeps
// the database open until the main window has its connection. Only for a local system database:
// a server's engine runs elsewhere. Nothing is read or written through it, and a failure is
// left for the login to report.
class EmbeddedWarmUp {
public:
    void start()
    {
        m_thread = std::thread([this] {
            try {
                const QString alias = QStringLiteral("sys_db");
                if (db::Database::kindOfDriver(AliasDriver(alias)) != db::Connection::Kind::Firebird)
                    return;
                const db::ParamList params = AliasParams(alias);
                if (params.value(QStringLiteral("SERVER NAME")).contains(QLatin1Char(':')))
                    return;
                auto conn = db::createFirebirdConnection();
                conn->open(params);
                m_conn = std::move(conn);
            } catch (const std::exception&) {
            }
        });
    }
    // A second attach while the engine is still starting waits a whole second in the client
    // library: the login waits here for the warm-up instead.
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void release()
    {
        wait();
        if (m_conn) {
            try {
                m_conn->close();
            } catch (const std::exception&) {
            }
            m_conn.reset();
        }
    }
    ~EmbeddedWarmUp() { release(); }

private:
    std::thread m_thread;
    std::unique_ptr<db::Connection> m_conn;
};

int runWindows(QApplication& app, const CommandLine& cl, EmbeddedWarmUp& warmUp)
{
    const bool shot = cl.action == CommandLine::Action::Screenshot;
    ConsolePrompts console;
    QtPrompts qtPrompts;
    setPrompts(shot ? static_cast<Prompts*>(&console) : &qtPrompts);

    TLogInfoRec& logInfo = LogInfo();
    bool loggedIn = false;
    warmUp.wait();
    try {
        loggedIn = StartupLogin(cl.login, logInfo);
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
        return 1;
    }
    if (!loggedIn)
        return 1;

    TDM dm;
    InstallBulkWindows();
    MainWindowHooks hooks;
    hooks.selfUpdateCheck = SelfUpdateCheck;
    hooks.openUsers = [&dm](QWidget* parent) { OpenUserRights(dm, parent); };
    hooks.openRefresh = [&dm](QWidget* parent) { OpenRefresh(dm, parent); };
    TUpdate_f* updateWindow = nullptr;
    hooks.openUpdate = [&updateWindow](QWidget*) {
        if (updateWindow)
            updateWindow->ShowModal();
    };
    TfrmMain frmMain(dm, logInfo, hooks);
    // Made once, after the main window and the data module, and kept for the program's life.
    TUpdate_f update_f(&frmMain);
    TAlias_F alias_f(&frmMain);
    update_f.setAliasChoice(&alias_f);
    updateWindow = &update_f;
    if (shot) {
        const QString file = cl.value;
        const QString which = cl.window;
        QObject::connect(&frmMain, &TfrmMain::showStepDone, &frmMain, [&frmMain, &dm, file, which] {
            if (frmMain.terminateRequested())
                return;
            QTimer::singleShot(0, &frmMain, [&frmMain, &dm, file, which] {
                if (which == QLatin1String("main")) {
                    QApplication::exit(frmMain.grab().save(file, "PNG") ? 0 : 1);
                    return;
                }
                auto* users = new TfrmUserRights(dm, &frmMain);
                users->show();
                QWidget* window = users;
                if (which == QLatin1String("import")) {
                    window = new TfrmImport(dm, users->applicationTable(), users, users);
                    window->show();
                } else if (which == QLatin1String("autorights")) {
                    auto* rights = new TFormUserAutoRights(dm, users);
                    rights->LoadUsers();
                    rights->LoadApps();
                    rights->show();
                    window = rights;
                }
                QTimer::singleShot(100, window, [window, file] { QApplication::exit(window->grab().save(file, "PNG") ? 0 : 1); });
            });
        });
    }
    QObject::connect(&frmMain, &TfrmMain::showStepDone, &frmMain, [&warmUp] { warmUp.release(); });
    frmMain.show();
    return app.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    // Qt sees only the program's name: its own options ("-style", "-platform", ...) would be
    // taken out of a login otherwise. Qt is set up through its environment variables.
    const CommandLine cl = ParseCommandLine(CopyArguments(argc, argv));
    if (!cl.error.isEmpty()) {
        printError(cl.error);
        return 2;
    }
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};

    if (!cl.needsWindows()) {
        const bool scripts = cl.action == CommandLine::Action::Apply || cl.action == CommandLine::Action::Preview;
        // Before any thread starts, so that the Firebird client never sees them: the run stops
        // itself, rolling back the running step.
        const int quitFd = scripts ? TakeQuitSignals() : -1;
        QCoreApplication app(qtArgc, qtArgv);
        nameApplication();
        UseBulgarianLocale(app);
        InstallAliasResolver();
        const int rc = scripts ? runScripts(cl, quitFd) : cl.action == CommandLine::Action::Import ? runImport(cl) : runAction(cl);
        ReleaseLibraryArrays();
        return rc;
    }

    const int quitFd = cl.needsWindows() ? TakeQuitSignals() : -1;
    // After the signals are blocked, which its thread inherits.
    EmbeddedWarmUp warmUp;
    warmUp.start();
    QApplication app(qtArgc, qtArgv);
    nameApplication();
    QApplication::setApplicationDisplayName(QStringLiteral("Gatekeep"));
    UseBulgarianLocale(app);
    InstallKeyboardConventions(app);
    InstallAliasResolver();
    if (cl.needsWindows())
        QuitOnSignals(app, quitFd);
    const int rc = cl.needsWindows() ? runWindows(app, cl, warmUp) : runAction(cl);
    ReleaseLibraryArrays();
    return rc;
}
