#include "CommandLine.h"

#include <QCommandLineParser>

namespace {

struct ActionName {
    const char* name;
    CommandLine::Action action;
};

constexpr ActionName kActions[] = {
    {"create-system-db", CommandLine::Action::CreateSystemDb},
    {"create-demo", CommandLine::Action::CreateDemo},
    {"write-install-description", CommandLine::Action::WriteInstallDescription},
    {"scramble", CommandLine::Action::Scramble},
    {"screenshot", CommandLine::Action::Screenshot},
    {"apply", CommandLine::Action::Apply},
    {"preview", CommandLine::Action::Preview},
    {"help", CommandLine::Action::Help},
    {"version", CommandLine::Action::Version},
};

// The parser of the action form. Built in one place so that the help shows what is parsed.
struct Options {
    QCommandLineParser parser;
    QCommandLineOption createSystemDb{QStringLiteral("create-system-db"),
                                      QStringLiteral("Create a new system database at DATABASE (a local path, host:path or "
                                                     "host/port:path) at the current schema, with the Gatekeep application, its "
                                                     "administrator class and the first administrator, and exit. An existing file "
                                                     "is never overwritten; a creation that fails leaves nothing behind."),
                                      QStringLiteral("DATABASE")};
    QCommandLineOption owner{QStringLiteral("owner"),
                             QStringLiteral("Owner of the new system database (default SYSCREAT); the administrator class opens "
                                            "the database with this account."),
                             QStringLiteral("USER"), QStringLiteral("SYSCREAT")};
    QCommandLineOption ownerPassword{QStringLiteral("password"), QStringLiteral("Password of the owner (a server checks it)."),
                                     QStringLiteral("PASSWORD")};
    QCommandLineOption admin{QStringLiteral("admin"), QStringLiteral("Login name of the first administrator (required)."),
                             QStringLiteral("LOGIN")};
    QCommandLineOption adminPassword{QStringLiteral("admin-password"),
                                     QStringLiteral("Password of the first administrator (required)."), QStringLiteral("PASSWORD")};
    QCommandLineOption createDemo{QStringLiteral("create-demo"), QStringLiteral("Create a demo installation in FOLDER and exit."),
                                  QStringLiteral("FOLDER")};
    QCommandLineOption writeInstall{QStringLiteral("write-install-description"),
                                    QStringLiteral("Write the installation description ICR (the file \"Инсталиране\" reads) from "
                                                   "the plain description INI, and exit."),
                                    QStringLiteral("INI>,<ICR")};
    QCommandLineOption scramble{QStringLiteral("scramble"),
                                QStringLiteral("Print TEXT in the scrambled form of the maintenance account override."),
                                QStringLiteral("TEXT")};
    QCommandLineOption screenshot{QStringLiteral("screenshot"),
                                  QStringLiteral("Log in, show the main window, save it as a PNG file and exit. A login that "
                                                 "begins with \"-\" follows \"--\"."),
                                  QStringLiteral("FILE")};
    QCommandLineOption window{QStringLiteral("window"),
                              QStringLiteral("With --screenshot: the window to save, \"main\" (default) or \"users\"."),
                              QStringLiteral("NAME"), QStringLiteral("main")};
    QCommandLineOption apply{QStringLiteral("apply"),
                             QStringLiteral("Apply the update script SCRIPT (repeat the option for several; they run sorted by "
                                            "name, without regard to case) to one database, print one line per step and exit: "
                                            "0 all applied or applied before, 1 a step failed, 2 a script could not be read, "
                                            "3 the database could not be reached. The database is the one the scripts' alias "
                                            "names, or --server, --alias or --database. A login after the options limits the "
                                            "configured databases to those of the system database it logs in to."),
                             QStringLiteral("SCRIPT")};
    QCommandLineOption preview{QStringLiteral("preview"),
                               QStringLiteral("Like --apply, but only print which steps would run and which were applied "
                                              "before; nothing is changed."),
                               QStringLiteral("SCRIPT")};
    QCommandLineOption server{QStringLiteral("server"),
                              QStringLiteral("With --apply or --preview: the database as a local path, host:path or "
                                             "host/port:path."),
                              QStringLiteral("PATH")};
    QCommandLineOption alias{QStringLiteral("alias"),
                             QStringLiteral("With --apply or --preview: the database of the alias NAME."), QStringLiteral("NAME")};
    QCommandLineOption database{QStringLiteral("database"),
                                QStringLiteral("With --apply or --preview: which of the configured databases of the scripts' "
                                               "application (its DBN in ZorCfg.ini); needed when there are several."),
                                QStringLiteral("DBN")};
    QCommandLineOption help{QStringLiteral("help"), QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{QStringLiteral("version"), QStringLiteral("Show the version and exit.")};

    Options()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Администриране на потребителите на приложенията.\n\n"
            "gatekeep [login password]: start; the first two arguments are the login name and password as they "
            "stand (also when they begin with \"-\"), without them the login is interactive. Options are read only "
            "when the first argument is one of the actions below."));
        // After the login nothing is an option: a password may begin with "-".
        parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
        parser.addOptions({createSystemDb, owner, ownerPassword, admin, adminPassword, createDemo, writeInstall, scramble,
                           screenshot, window, apply, preview, server, alias, database, help, version});
        parser.addPositionalArgument(QStringLiteral("login"),
                                     QStringLiteral("With --screenshot, --apply or --preview: login name and password."),
                                     QStringLiteral("[login password]"));
    }
};

} // namespace

QStringList CopyArguments(int argc, const char* const* argv)
{
    QStringList out;
    for (int i = 1; i < argc; ++i)
        out << QString::fromLocal8Bit(argv[i]);
    return out;
}

bool IsProgramAction(const QString& argument)
{
    for (const ActionName& a : kActions) {
        const QString option = QStringLiteral("--") + QLatin1String(a.name);
        if (argument == option || argument.startsWith(option + QLatin1Char('=')))
            return true;
    }
    return false;
}

CommandLine ParseCommandLine(const QStringList& arguments)
{
    CommandLine c;
    if (arguments.isEmpty() || !IsProgramAction(arguments.first())) {
        if (arguments.size() >= 2)
            c.login = arguments.mid(0, 2);
        return c;
    }

    Options o;
    if (!o.parser.parse(QStringList{QStringLiteral("gatekeep")} + arguments)) {
        // An unknown option may be a mistyped password: it is not repeated.
        c.error = o.parser.unknownOptionNames().isEmpty()
                      ? o.parser.errorText()
                      : QStringLiteral("Unknown option (see --help); a login that begins with \"-\" follows \"--\".");
        return c;
    }
    if (o.parser.isSet(o.help)) {
        c.action = CommandLine::Action::Help;
        return c;
    }
    if (o.parser.isSet(o.version)) {
        c.action = CommandLine::Action::Version;
        return c;
    }

    const struct {
        const QCommandLineOption& option;
        CommandLine::Action action;
    } actions[] = {
        {o.createSystemDb, CommandLine::Action::CreateSystemDb}, {o.createDemo, CommandLine::Action::CreateDemo},
        {o.writeInstall, CommandLine::Action::WriteInstallDescription}, {o.scramble, CommandLine::Action::Scramble},
        {o.screenshot, CommandLine::Action::Screenshot}, {o.apply, CommandLine::Action::Apply},
        {o.preview, CommandLine::Action::Preview},
    };
    int chosen = 0;
    for (const auto& a : actions) {
        if (o.parser.isSet(a.option)) {
            ++chosen;
            c.action = a.action;
            c.value = o.parser.value(a.option);
        }
    }
    if (chosen != 1) {
        c.action = CommandLine::Action::Login;
        c.error = QStringLiteral("One action at a time (see --help).");
        return c;
    }

    const bool creating = c.action == CommandLine::Action::CreateSystemDb;
    const bool shooting = c.action == CommandLine::Action::Screenshot;
    const bool updating = c.action == CommandLine::Action::Apply || c.action == CommandLine::Action::Preview;
    const bool takesLogin = shooting || updating;
    for (const QCommandLineOption* own : {&o.owner, &o.ownerPassword, &o.admin, &o.adminPassword})
        if (!creating && o.parser.isSet(*own))
            c.error = QStringLiteral("--%1 belongs to --create-system-db.").arg(own->names().first());
    if (!shooting && o.parser.isSet(o.window))
        c.error = QStringLiteral("--window belongs to --screenshot.");
    int targets = 0;
    for (const QCommandLineOption* own : {&o.server, &o.alias, &o.database}) {
        if (!updating && o.parser.isSet(*own))
            c.error = QStringLiteral("--%1 belongs to --apply and --preview.").arg(own->names().first());
        targets += o.parser.isSet(*own) ? 1 : 0;
    }
    if (targets > 1)
        c.error = QStringLiteral("One of --server, --alias and --database at a time.");
    if (!takesLogin && !o.parser.positionalArguments().isEmpty())
        c.error = QStringLiteral("Unexpected argument after the options (see --help).");
    if (updating && o.parser.positionalArguments().size() == 1)
        c.error = QStringLiteral("A login is a login name and a password.");
    if (creating && (!o.parser.isSet(o.admin) || !o.parser.isSet(o.adminPassword)))
        c.error = QStringLiteral("--create-system-db needs --admin LOGIN and --admin-password PASSWORD of the first administrator.");
    if (!c.error.isEmpty())
        return c;

    c.owner = o.parser.value(o.owner);
    c.ownerPassword = o.parser.value(o.ownerPassword);
    c.adminLogin = o.parser.value(o.admin);
    c.adminPassword = o.parser.value(o.adminPassword);
    c.window = o.parser.value(o.window);
    if (shooting && c.window != QLatin1String("main") && c.window != QLatin1String("users"))
        c.error = QStringLiteral("--window is \"main\" or \"users\".");
    if (takesLogin && o.parser.positionalArguments().size() >= 2)
        c.login = o.parser.positionalArguments().mid(0, 2);
    if (updating) {
        c.scripts = o.parser.values(c.action == CommandLine::Action::Apply ? o.apply : o.preview);
        c.server = o.parser.value(o.server);
        c.alias = o.parser.value(o.alias);
        c.database = o.parser.value(o.database);
    }
    return c;
}

QString CommandLineHelp()
{
    Options o;
    return o.parser.helpText();
}
