#pragma once

#include <QString>
#include <QStringList>

// The program's arguments, copied before Qt sees them: Qt would take "-style x" or
// "-platform y" out of a login, and a password may begin with "-". Options are parsed only
// when the first argument names one of the program's own actions; otherwise the first two
// arguments are the login name and password, as they stand.
struct CommandLine {
    enum class Action { Login, CreateSystemDb, CreateDemo, WriteInstallDescription, Scramble, Screenshot, Apply, Preview, Import, Help, Version };

    Action action = Action::Login;
    QString value;          // the action's argument: database, folder, "INI,ICR", text or PNG file
    QStringList login;      // Login, Screenshot, Apply and Preview: the arguments that carry the login
    QString window;         // Screenshot: "main" or "users"
    QString owner;          // CreateSystemDb: owner of the new database and its administrators' account
    QString ownerPassword;
    QString adminLogin;     // CreateSystemDb: the first administrator
    QString adminPassword;
    QStringList scripts;    // Apply and Preview: the update scripts, in the order given
    QString server;         // Apply and Preview: the target as a server path ...
    QString alias;          // ... or as an alias of the alias layer ...
    QString database;       // ... or the DBN of one configured database of the scripts' application
    // Import: "import FILE [options] LOGIN PASSWORD".
    struct ImportArgs {
        QString file;
        QString application;   // caption, suite name or section; empty: no rights, no application database
        QString className;     // the default class by its whole name; empty: the application's last class
        QString password = QStringLiteral("579");
        QString separator = QStringLiteral(";");
        QString database;      // DBN of the application's database when several are configured
        bool preview = false;
        bool updateExisting = false;
        bool domainUser = false;
        bool changeLoginName = false;
    } import;
    QString error;          // a refused command line, said to the user; empty when accepted

    // Only these actions show windows; the others run without a display.
    bool needsWindows() const { return action == Action::Login || action == Action::Screenshot; }
};

// argv without the program name, as the user typed it (file names and logins in the locale's
// encoding, which is UTF-8 here).
QStringList CopyArguments(int argc, const char* const* argv);

// Whether an argument names one of the actions (also in the "--action=value" form).
bool IsProgramAction(const QString& argument);

CommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help.
QString CommandLineHelp();
