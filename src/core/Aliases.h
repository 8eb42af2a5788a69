#pragma once

#include "db/ParamList.h"

#include <QString>
#include <QStringList>

// Named connection settings: one section per alias in the alias file, with the key "DRIVER"
// (INTRBASE or POSTGRESQL) and the connection parameters ("SERVER NAME", "USER NAME", ...).
// The file is $GATEKEEP_ALIASES when set, otherwise aliases.ini in ConfigDir().
QString AliasFilePath();
QStringList AliasNames();
bool AliasExists(const QString& alias);
QString AliasDriver(const QString& alias);
db::ParamList AliasParams(const QString& alias); // every key but DRIVER
void WriteAlias(const QString& alias, const QString& driver, const db::ParamList& params);

// Lets db::Database resolve its alias name through the alias file.
void InstallAliasResolver();
