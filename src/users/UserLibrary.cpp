#include "UserLibrary.h"

#include "UserRightsText.h"

#include "core/InputError.h"
#include "core/Prompts.h"
#include "core/SuiteApplications.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace Text = UserRightsText;

namespace {

// A library's own error text may repeat what it was given.
QString withoutPassword(QString message, const QString& password)
{
    if (!password.trimmed().isEmpty())
        message.replace(password, QStringLiteral("***"));
    return message;
}

QString reasonOf(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return db::errorMessage(e);
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

// Runs a call into the library; an exception it raises comes back as its message.
template <typename F>
bool callLibrary(F f, QString& error)
{
    try {
        f();
        return true;
    } catch (...) {
        error = reasonOf(std::current_exception());
        return false;
    }
}

} // namespace

QString UserLibraryFileName(const QString& aplName) { return aplName + QStringLiteral("_US.so"); }

QStringList UserLibraryFolders()
{
    const QString program = QCoreApplication::applicationDirPath();
    const QString configured = qEnvironmentVariable("GATEKEEP_LIBRARY_DIR");
    const QString library = configured.isEmpty() ? QDir::cleanPath(program + QStringLiteral("/../lib/gatekeep")) : configured;
    return {program, library};
}

bool RunUserLibrary(const QString& aplName, const QString& database, const QString& credential1, const QString& credential2,
                    int userId, const QString& className, const QString& loginName, const QString& password,
                    std::uintptr_t window)
{
    if (FindSuiteApplication(aplName) < 0)
        return false;
    const QString name = UserLibraryFileName(aplName);
    const QStringList folders = UserLibraryFolders();
    QString path;
    for (const QString& folder : folders) {
        const QString candidate = QDir(folder).filePath(name);
        if (QFileInfo(candidate).isFile()) {
            path = candidate;
            break;
        }
    }
    if (path.isEmpty())
        throw InputError(Text::MissingLibrary + QDir(folders.first()).filePath(name));

    // Every text is checked before the library sees any of them.
    const QByteArray db8 = cp1251::encode(database);
    const QByteArray c1 = cp1251::encode(credential1);
    const QByteArray c2 = cp1251::encode(credential2);
    const QByteArray class8 = cp1251::encode(className);
    const QByteArray login8 = cp1251::encode(loginName);
    const QByteArray password8 = cp1251::encode(password, QStringLiteral("password"));

    QLibrary library(path);
    if (!library.load()) {
        prompts().message(Text::LibraryNotLoaded + path + QLatin1Char('\r') + library.errorString(), Prompts::Icon::Error);
        return false;
    }
    const auto init = reinterpret_cast<InitDLLFn>(library.resolve("InitDLL"));
    const auto setNewUser = reinterpret_cast<SetNewUserFn>(library.resolve("SetNewUser"));
    const auto updateDetails = reinterpret_cast<UpdateUserDetailsFn>(library.resolve("UpdateUserDetails"));
    const auto freeDll = reinterpret_cast<FreeDLLFn>(library.resolve("FreeDLL"));
    if (!init || !freeDll || (!setNewUser && !updateDetails)) {
        library.unload();
        prompts().message(Text::MissingFunctions + path, Prompts::Icon::Error);
        return false;
    }

    QString error;
    unsigned char started = 0;
    if (!callLibrary([&] { started = init(window, db8.constData(), c1.constData(), c2.constData()); }, error)) {
        prompts().message(Text::InitFailed + path + QLatin1Char('\r') + withoutPassword(error, password), Prompts::Icon::Error);
        library.unload();
        return false;
    }
    if (!started) {
        library.unload();
        return false;
    }
    const bool done = callLibrary(
        [&] {
            if (setNewUser)
                setNewUser(userId, class8.constData());
            else
                updateDetails(userId, login8.constData(), password8.constData());
        },
        error);
    if (!done)
        prompts().message(Text::UserCallFailed + withoutPassword(error, password), Prompts::Icon::Error);
    QString freeError;
    if (!callLibrary([&] { freeDll(); }, freeError))
        prompts().message(Text::UserCallFailed + withoutPassword(freeError, password), Prompts::Icon::Error);
    library.unload();
    return done;
}
