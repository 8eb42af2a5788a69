#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The C interface of an application's user library "<APL_NAME>_US.so". Texts are zero-terminated
// windows-1251 strings; window is the native id of the users window, 0 when it has none.
extern "C" {
using InitDLLFn = unsigned char (*)(std::uintptr_t window, const char* database, const char* credential1,
                                    const char* credential2);
using SetNewUserFn = void (*)(std::int32_t userId, const char* className);
using UpdateUserDetailsFn = void (*)(std::int32_t userId, const char* loginName, const char* password);
using FreeDLLFn = void (*)();
}

// "<APL_NAME>_US.so".
QString UserLibraryFileName(const QString& aplName);
// Where user libraries are looked for, in order: the program's own folder, then the library
// folder ($GATEKEEP_LIBRARY_DIR, else lib/gatekeep beside the program's bin folder).
QStringList UserLibraryFolders();

// Hands one user to an application's user library for one database: loads it, InitDLL,
// SetNewUser (or UpdateUserDetails when it has no SetNewUser), FreeDLL, unloads. Shows its own
// failures and returns whether the user was handed over. Throws InputError "Missing <path>"
// when no folder holds the library.
bool RunUserLibrary(const QString& aplName, const QString& database, const QString& credential1, const QString& credential2,
                    int userId, const QString& className, const QString& loginName, const QString& password,
                    std::uintptr_t window = 0);
