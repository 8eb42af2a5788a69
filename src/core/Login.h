#pragma once

#include "LogInfo.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// The suite's login library, loaded by its full path from LibraryDir() (Config.h).
extern const char* const kLoginLibraryFile;

// The library's entry points.
extern "C" {
using ExternalLoginFn = unsigned char (*)(void* owner, const char* appName, const char* aliasName,
                                          unsigned char flagA, unsigned char flagB, TLogInfoRec* rec);
using GetUserRightsFn = void (*)(std::uint32_t* rightsList);   // the address of offset 1928
using GetAppUsersListFn = void (*)(std::uint32_t* usersList);  // the address of offset 1920
using SetClientNamesFn = void (*)(const char* name1, const char* name2);
}

// Loads the library (a bare file name from LibraryDir()), calls it to fill rec, allocates the users and rights arrays it asks
// for, and unloads it again whatever happens. Throws db::Error "Missing <file>." when the
// library cannot be loaded; false when it has no ExternalLogin or the login failed.
bool LoginThroughLibrary(const QString& appName, const QString& aliasName, bool flagA, bool flagB, TLogInfoRec& rec,
                         const QString& libraryFile = QString::fromLatin1(kLoginLibraryFile));

// The start-up login: zero-fills rec; with at least two arguments logs in non-interactively
// with the first two (cut to 50 characters), otherwise interactively.
bool StartupLogin(const QStringList& arguments, TLogInfoRec& rec,
                  const QString& libraryFile = QString::fromLatin1(kLoginLibraryFile));

// The comment GET_LUNPW writes to the login log: "application: user@host", cut to the
// 240 characters of its column. The OS user and host names are not the suite's text: what
// cp1251 cannot hold becomes '?', here only, so that such a machine can still log in.
QString LoginLogComment(const QString& appName, const QString& osUser, const QString& host);
