#include "CommandLine.h"

#include <QCommandLineParser>
#include <QFileInfo>

#include <algorithm>

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
                              QStringLiteral("With --screenshot: the window to save, \"main\" (default), \"users\", \"import\" or \"autorights\"."),
                              QStringLiteral("NAME"), QStringLiteral("main")};
    QCommandLineOption apply{QStringLiteral("apply"),
                             QStringLiteral("Apply the update script SCRIPT (repeat the option for several; they run sorted by "
                                            "file name, without regard to case, then by folder) to one database, print one "
                                            "line per step and exit: 0 all applied or applied before, 1 a step failed, 2 a "
                                            "script could not be read, 3 a database could not be reached (nothing ran), 4 "
                                            "steps were applied, then a database could not be reached, 5 stopped by SIGTERM "
                                            "or Ctrl+C (the running step rolled back). The database is the one the scripts' alias "
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

// The import's own parser: its options (--preview among them) mean other things than the actions'.
struct ImportParser {
    QCommandLineParser parser;
    QCommandLineOption application{QStringLiteral("application"),
                                   QStringLiteral("The application that receives the class (its caption, suite name or section); "
                                                  "without it no rights are given and no application database is reached."),
                                   QStringLiteral("NAME")};
    QCommandLineOption className{QStringLiteral("class"),
                                 QStringLiteral("The default class, by its whole name (default: the application's last class)."),
                                 QStringLiteral("NAME")};
    QCommandLineOption password{QStringLiteral("password"), QStringLiteral("The password of rows without one (default 579)."),
                                QStringLiteral("TEXT"), QStringLiteral("579")};
    QCommandLineOption separator{QStringLiteral("separator"), QStringLiteral("The field separator of a text file (default ;)."),
                                 QStringLiteral("C"), QStringLiteral(";")};
    QCommandLineOption updateExisting{QStringLiteral("update-existing"),
                                      QStringLiteral("Refresh the names and the right of users that exist (default: leave them).")};
    QCommandLineOption domainUser{QStringLiteral("domain-user"), QStringLiteral("The login names are directory account names.")};
    QCommandLineOption changeLoginName{QStringLiteral("change-login-name"),
                                       QStringLiteral("With --domain-user: an existing user takes the file's login name.")};
    QCommandLineOption database{QStringLiteral("database"),
                                QStringLiteral("Which configured database of the application (its DBN in ZorCfg.ini); needed "
                                               "when there are several."),
                                QStringLiteral("DBN")};
    QCommandLineOption preview{QStringLiteral("preview"), QStringLiteral("Print what each row would do; change nothing.")};

    ImportParser()
    {
        parser.addOptions({application, className, password, separator, updateExisting, domainUser, changeLoginName, database, preview});
        parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("The text file or workbook."));
        parser.addPositionalArgument(QStringLiteral("login"), QStringLiteral("Login name and password."),
                                     QStringLiteral("login password"));
    }
};

CommandLine parseImport(const QStringList& arguments)
{
    CommandLine c;
    c.action = CommandLine::Action::Import;
    ImportParser o;
    if (!o.parser.parse(QStringList{QStringLiteral("gatekeep")} + arguments.mid(1))) {
        c.error = o.parser.unknownOptionNames().isEmpty()
                      ? o.parser.errorText()
                      : QStringLiteral("Unknown option of import (see --help); a login that begins with \"-\" follows \"--\".");
        return c;
    }
    const QStringList rest = o.parser.positionalArguments();
    if (rest.size() != 3) {
        c.error = QStringLiteral("import takes a file, a login name and a password (see --help).");
        return c;
    }
    CommandLine::ImportArgs& a = c.import;
    a.file = rest[0];
    c.login = rest.mid(1);
    a.application = o.parser.value(o.application);
    a.className = o.parser.value(o.className);
    a.password = o.parser.value(o.password);
    a.separator = o.parser.value(o.separator);
    a.database = o.parser.value(o.database);
    a.preview = o.parser.isSet(o.preview);
    a.updateExisting = o.parser.isSet(o.updateExisting);
    a.domainUser = o.parser.isSet(o.domainUser);
    a.changeLoginName = o.parser.isSet(o.changeLoginName);
    if (a.separator.size() != 1)
        c.error = QStringLiteral("--separator is one character.");
    else if (a.changeLoginName && !a.domainUser)
        c.error = QStringLiteral("--change-login-name goes with --domain-user.");
    else if (!a.application.isEmpty() || !(o.parser.isSet(o.className) || o.parser.isSet(o.database)))
        return c;
    else
        c.error = QStringLiteral("--class and --database go with --application.");
    return c;
}

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
    // "import" and two more words: the import; two words are still a login named "import".
    if (arguments.size() > 2 && arguments.first() == QLatin1String("import"))
        return parseImport(arguments);
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
    if (updating) {
        // "--apply a.sql b.sql c.sql" would log in as "b.sql": scripts are refused as a login.
        // The words are not repeated: they may hold a password.
        const QStringList rest = o.parser.positionalArguments();
        const bool scriptLike = std::any_of(rest.begin(), rest.end(), [](const QString& a) {
            return a.endsWith(QLatin1String(".sql"), Qt::CaseInsensitive) || QFileInfo(a).isFile();
        });
        const QString action = c.action == CommandLine::Action::Apply ? QStringLiteral("--apply") : QStringLiteral("--preview");
        if (scriptLike)
            c.error = QStringLiteral("Each script follows its own %1 (%1 a.sql %1 b.sql); after the options come only a login "
                                     "name and a password (see --help).").arg(action);
        else if (!rest.isEmpty() && rest.size() != 2)
            c.error = QStringLiteral("A login is a login name and a password: %1 words after the options are neither "
                                     "(see --help).").arg(rest.size());
    }
    if (creating && (!o.parser.isSet(o.admin) || !o.parser.isSet(o.adminPassword)))
        c.error = QStringLiteral("--create-system-db needs --admin LOGIN and --admin-password PASSWORD of the first administrator.");
    if (!c.error.isEmpty())
        return c;

    c.owner = o.parser.value(o.owner);
    c.ownerPassword = o.parser.value(o.ownerPassword);
    c.adminLogin = o.parser.value(o.admin);
    c.adminPassword = o.parser.value(o.adminPassword);
    c.window = o.parser.value(o.window);
    if (shooting && !QStringList{QStringLiteral("main"), QStringLiteral("users"), QStringLiteral("import"), QStringLiteral("autorights")}.contains(c.window))
        c.error = QStringLiteral("--window is \"main\", \"users\", \"import\" or \"autorights\".");
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
    ImportParser i;
    QString importHelp = i.parser.helpText();
    importHelp = importHelp.mid(importHelp.indexOf(QLatin1Char('\n')) + 1);
    return o.parser.helpText() +
           QStringLiteral("\ngatekeep import FILE [options] LOGIN PASSWORD: create or refresh the users of a text file or workbook "
                          "in the system database the login reaches, one line per row; exit 0 when every row went through, "
                          "1 when a row was refused or not provisioned, 2 for a bad file or option, 3 when the system or "
                          "application database cannot be reached.\n") +
           importHelp;
}
