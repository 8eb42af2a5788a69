#pragma once

#include "core/SystemSchema.h"

#include <QString>

// A new system database at the current schema: created empty, then taken through every
// self-update step. owner owns it. A creation that fails part-way leaves nothing behind.
// Throws db::Error.
void CreateCurrentSystemDatabase(const QString& serverName, const QString& owner, const QString& password,
                                 Complete complete = Complete::Now);

// Who may log into a new system database: its owner account, which the Gatekeep
// administrator class opens it with, and the first administrator.
struct SystemAdministrator {
    QString owner;
    QString ownerPassword;
    QString login;
    QString password;
    QString fullName;
};

// Refuses values the system database cannot store (empty, too long, outside Windows-1251),
// naming the field and never the value. Throws db::Error.
void ValidateSystemAdministrator(const SystemAdministrator& admin);

// A new system database at the current schema that admin can log into: the Gatekeep
// application (alias sys_db), its administrator class named and opened as the owner, and the
// administrator with that class. Everything is checked before the file is made; a creation
// that fails part-way leaves nothing behind. A local file is built under a hidden name beside
// it and takes its name only when finished, so a killed creation never leaves a file of that
// name. Throws db::Error.
void CreateAdministeredSystemDatabase(const QString& serverName, const SystemAdministrator& admin);

struct DemoLogin {
    QString login;
    QString password;
};

// Builds a demo installation in folder: an embedded system database brought to the current
// schema, the Gatekeep application with an administrator class, a demo administrator, a few
// applications of the suite with classes, users and their own databases; the alias file
// (AliasFilePath) and ZorCfg.ini (ConfigIniPath) point at them. Refuses a folder that already
// has any of its databases. The databases take their names only when all of them are built,
// and DemoCompletionMark is written last; a failure removes every database it made and puts
// the configuration files back. Throws db::Error.
DemoLogin CreateDemo(const QString& folder);

// The file whose presence says that the demo in folder was finished.
QString DemoCompletionMark(const QString& folder);
