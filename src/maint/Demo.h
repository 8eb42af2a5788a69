#pragma once

#include <QString>

// A new system database at the current schema: created empty, then taken through every
// self-update step. owner owns it. Throws db::Error.
void CreateCurrentSystemDatabase(const QString& serverName, const QString& owner, const QString& password);

struct DemoLogin {
    QString login;
    QString password;
};

// Builds a demo installation in folder: an embedded system database brought to the current
// schema, the Gatekeep application with an administrator class, a demo administrator, a few
// applications of the suite with classes, users and their own databases; the alias file
// (AliasFilePath) and ZorCfg.ini (ConfigIniPath) point at them. Refuses a folder that already
// has a system database. Throws db::Error.
DemoLogin CreateDemo(const QString& folder);
