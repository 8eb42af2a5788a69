#include "Login.h"

#include "Config.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QFile>

#include <dlfcn.h>

#include <cstring>

const char* const kLoginLibraryFile = "libZorLogin.so";

namespace {

// Unloads the library when the call is over, also when it failed.
class LoadedLibrary {
public:
    explicit LoadedLibrary(const QString& file) : m_handle(dlopen(QFile::encodeName(file).constData(), RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary()
    {
        if (m_handle)
            dlclose(m_handle);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    bool loaded() const { return m_handle != nullptr; }
    template <typename Fn>
    Fn resolve(const char* name) const
    {
        return reinterpret_cast<Fn>(dlsym(m_handle, name));
    }

private:
    void* m_handle;
};

} // namespace

bool LoginThroughLibrary(const QString& appName, const QString& aliasName, bool flagA, bool flagB, TLogInfoRec& rec,
                         const QString& libraryFile)
{
    // A bare name is the program's own library: dlopen would not search the program's RUNPATH for
    // it when another library (Qt's) opens it, so it goes by its full path.
    LoadedLibrary lib(libraryFile.contains(QLatin1Char('/')) ? libraryFile : LibraryDir() + QLatin1Char('/') + libraryFile);
    if (!lib.loaded())
        throw db::Error(QStringLiteral("Missing %1.").arg(libraryFile));

    const auto externalLogin = lib.resolve<ExternalLoginFn>("ExternalLogin");
    const auto getUserRights = lib.resolve<GetUserRightsFn>("GetUserRights");
    const auto getAppUsersList = lib.resolve<GetAppUsersListFn>("GetAppUsersList");
    const auto setClientNames = lib.resolve<SetClientNamesFn>("SetClientNames");
    if (!externalLogin)
        return false;

    if (setClientNames)
        setClientNames(nullptr, nullptr);

    const QByteArray app = appName.toLocal8Bit();
    const QByteArray alias = aliasName.toLocal8Bit();
    // No window exists yet when the login runs; the library's dialogs have no owner.
    const bool result = externalLogin(nullptr, app.constData(), alias.constData(), flagA ? 1 : 0, flagB ? 1 : 0, &rec) != 0;

    if (rec.RightsCount > 0) {
        rec.RightsList = AllocateLibraryArray(rec.RightsCount, kRightsEntrySize);
        if (getUserRights)
            getUserRights(&rec.RightsList);
    }
    if (rec.UsersCount > 0) {
        rec.UsersList = AllocateLibraryArray(rec.UsersCount, kUsersEntrySize);
        if (getAppUsersList)
            getAppUsersList(&rec.UsersList);
    }
    return result;
}

bool StartupLogin(const QStringList& arguments, TLogInfoRec& rec, const QString& libraryFile)
{
    std::memset(&rec, 0, sizeof rec);
    if (arguments.size() >= 2) {
        SetShortString(rec.LoginName, arguments[0].left(50));
        SetShortString(rec.Password, arguments[1].left(50));
        return LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), false, false, rec, libraryFile);
    }
    return LoginThroughLibrary(QStringLiteral("Gatekeep"), QStringLiteral("sys_db"), true, true, rec, libraryFile);
}

QString LoginLogComment(const QString& appName, const QString& osUser, const QString& host)
{
    const QString text = QStringLiteral("%1: %2@%3").arg(appName, osUser, host);
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += QLatin1Char('?'); // one mark per character, not per UTF-16 half
            ++i;
        } else {
            out += cp1251::byteOf(c) < 0 ? QChar(u'?') : c;
        }
    }
    return out.left(240);
}
