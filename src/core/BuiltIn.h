#pragma once

#include "db/ParamList.h"

#include <QString>

// Built-in strings are kept scrambled in the program and decoded at run time.
QString DecodeBuiltInText(const QString& key, const QString& scrambled);
// The inverse, for vendors preparing an override. Throws db::Error for a character the
// scrambled form cannot hold.
QString EncodeBuiltInText(const QString& key, const QString& plain);

// The program's own 7-character key for its built-in strings.
QString BuiltInKey();

// The built-in maintenance account. Gatekeep.ini may override it in section
// "Maintenance Account" (keys "User" and "Password", scrambled with BuiltInKey()), but only
// while the file is readable by its owner alone.
QString BuiltInUser();
QString BuiltInPassword();

// Sets "USER NAME" and "PASSWORD" of params to the maintenance account.
void AddBuiltInCredentials(db::ParamList& params);

// The PostgreSQL login of the central user-management product, scrambled with BuiltInKey():
// decoded, it is both the role's name and its password.
QString BuiltInPgLoginScrambled();
