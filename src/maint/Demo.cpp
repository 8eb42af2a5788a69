#include "Demo.h"

#include "core/Aliases.h"
#include "core/Config.h"
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SystemSchema.h"
#include "SelfUpdater.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString kGatekeep = QStringLiteral("Gatekeep");
const QString kAdminClass = QStringLiteral("admnaccount");
const QString kAdminClassPassword = QStringLiteral("admn-demo");

struct DemoApp {
    QString name;   // APL_NAME and ZorCfg.ini section
    QString alias;
    QString file;
    QString caption;
    QStringList classes;
};

const QList<DemoApp>& demoApps()
{
    static const QList<DemoApp> apps = {
        {QStringLiteral("Mod02"), QStringLiteral("data_db"), QStringLiteral("mod02.fdb"), QStringLiteral("Деловодство"),
         {QStringLiteral("user1"), QStringLiteral("user2")}},
        {QStringLiteral("Mod05"), QStringLiteral("mod05_db"), QStringLiteral("mod05.fdb"), QStringLiteral("Заплати"),
         {QStringLiteral("user3"), QStringLiteral("user4")}},
        {QStringLiteral("Mod07"), QStringLiteral("Mod07"), QStringLiteral("mod07.fdb"), QStringLiteral("Склад"),
         {QStringLiteral("admnsklad"), QStringLiteral("user2")}},
    };
    return apps;
}

// A database of a host:path name lives on its server; a plain path is a file here.
bool isLocalFile(const QString& serverName) { return !serverName.contains(QLatin1Char(':')); }

const QString kPartTag = QStringLiteral(".part-");

// Where a database is built before it takes its name: beside it, hidden, and marked with the
// building process, so that a killed build is never taken for a made database.
QString partName(const QString& target)
{
    const QFileInfo fi(target);
    return fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + kPartTag + QString::number(::getpid());
}

// Removes what killed builds of target left behind; a build still running keeps its file.
void removeStaleParts(const QString& target)
{
    const QFileInfo fi(target);
    const QString prefix = QLatin1Char('.') + fi.fileName() + kPartTag;
    const QDir dir(fi.absolutePath());
    for (const QString& name : dir.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System)) {
        bool ok = false;
        const pid_t pid = name.mid(prefix.size()).toInt(&ok);
        if (ok && pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
            QFile::remove(dir.filePath(name));
    }
}

// Gives a finished file its name in one step, never over an existing file.
void moveIntoPlace(const QString& from, const QString& to)
{
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return;
    int error = errno;
    // A file system without the no-replace rename: a new link fails just as well on an existing name.
    if (error == EINVAL || error == ENOSYS) {
        if (::link(a.constData(), b.constData()) == 0) {
            ::unlink(a.constData());
            return;
        }
        error = errno;
    }
    if (error == EEXIST)
        throw db::Error(QStringLiteral("%1 вече съществува").arg(to));
    throw db::Error(QStringLiteral("%1 не може да бъде преименуван на %2: %3").arg(from, to, QString::fromLocal8Bit(std::strerror(error))));
}

void refuseExisting(const QString& path)
{
    if (QFileInfo::exists(path))
        throw db::Error(QStringLiteral("%1 вече съществува").arg(path));
}

void exec(TDM& dm, const QString& sql)
{
    if (!ExecSqlText(dm.WQ, sql, true))
        throw db::Error(LastSqlError());
}

void addApplication(TDM& dm, const QString& name, const QString& alias, const QString& user, const QString& password)
{
    dm.SQLAdd_apl.clearParams();
    dm.SQLAdd_apl.setParam(QStringLiteral("ANM"), EncodeStoredText(name));
    dm.SQLAdd_apl.setParam(QStringLiteral("G_ALIAS"), EncodeStoredText(alias));
    dm.SQLAdd_apl.setParam(QStringLiteral("G_UNAME"), EncodeStoredText(user));
    dm.SQLAdd_apl.setParam(QStringLiteral("G_PASW"), EncodeStoredText(password));
    dm.SQLAdd_apl.setParam(QStringLiteral("G_PROC"), EncodeStoredText(QStringLiteral("ADD_USER")));
    if (!dm.ExecSysProc(dm.SQLAdd_apl) || dm.SQLAdd_apl.param(QStringLiteral("RES")).toInt() > 1000)
        throw db::Error(QStringLiteral("Приложението %1 не беше добавено").arg(name));
}

void addClass(TDM& dm, const QString& app, const QString& cls, const QString& password)
{
    dm.SQLAdd_class.clearParams();
    dm.SQLAdd_class.setParam(QStringLiteral("ANM"), EncodeStoredText(app));
    dm.SQLAdd_class.setParam(QStringLiteral("CLNM"), EncodeStoredText(cls));
    dm.SQLAdd_class.setParam(QStringLiteral("CLPW"), EncodeStoredText(password));
    if (!dm.ExecSysProc(dm.SQLAdd_class) || dm.SQLAdd_class.param(QStringLiteral("RES")).toInt() != 0)
        throw db::Error(QStringLiteral("Класът %1 на %2 не беше добавен").arg(cls, app));
}

int addUser(TDM& dm, const QString& app, const QString& cls, const QString& login, const QString& password, const QString& fullName)
{
    dm.SQLADD_usr.clearParams();
    dm.SQLADD_usr.setParam(QStringLiteral("ANM"), EncodeStoredText(app));
    dm.SQLADD_usr.setParam(QStringLiteral("CLNM"), EncodeStoredText(cls));
    dm.SQLADD_usr.setParam(QStringLiteral("UNM"), EncodeStoredText(login));
    dm.SQLADD_usr.setParam(QStringLiteral("UPW"), EncodeStoredText(password));
    dm.SQLADD_usr.setParam(QStringLiteral("URNM"), EncodeStoredText(fullName));
    if (!dm.ExecSysProc(dm.SQLADD_usr) || dm.SQLADD_usr.param(QStringLiteral("RES")).toInt() != 0)
        throw db::Error(QStringLiteral("Потребителят %1 не беше добавен").arg(login));
    return dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt();
}

// An application database of the suite: its users table and the user procedure that the
// administration program calls when it provisions a user.
void createApplicationDatabase(const QString& path)
{
    db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString(), false);
    {
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
        d.connect();
        db::Query q(&d);
        q.setParamCheck(false);
        q.setSql(QStringLiteral("create table APP_USERS (U_ID integer not null primary key, U_RNM varchar(72))"));
        q.execSql();
        q.setSql(QStringLiteral("create procedure ADD_USER (U_ID smallint, U_RNM varchar(72)) as begin "
                                "update or insert into APP_USERS (U_ID, U_RNM) values (:U_ID, :U_RNM) matching (U_ID); end"));
        q.execSql();
    }
    db::Database::setFirebirdForcedWrites(path, QStringLiteral("SYSDBA"), QString(), true);
}

} // namespace

void CreateCurrentSystemDatabase(const QString& serverName, const QString& owner, const QString& password, Complete complete)
{
    CreateSystemDatabase(serverName, owner, password, Complete::Later);
    try {
        {
            TDM dm;
            SetStartupConnection(dm.db_Sys, owner, password, serverName);
            dm.db_Sys.connect();
            // The steps record themselves in SelfUpdates, which the check creates first.
            exec(dm, QStringLiteral("Create Table SelfUpdates(SU_ID integer not null primary key,SU_Date Date,SU_Descr Varchar(100),SU_Blob Blob)"));
            exec(dm, QStringLiteral("Create Trigger SetSUDate for SelfUpdates before Insert as Begin New.SU_Date = \"Now\"; End "));
        }
        // The engine alone, without its window: creation needs no display.
        db::Database su;
        SetSelfUpdateConnection(su, serverName);
        su.connect();
        SelfUpdater updater(su);
        QString failure;
        QObject::connect(&updater, &SelfUpdater::stepFailed, [&failure](const SelfUpdateStep& step, const QString& error) {
            failure = QStringLiteral(" (стъпка %1: %2)").arg(step.number).arg(error);
        });
        if (updater.run(0) != SelfUpdateResult::Done)
            throw db::Error(QStringLiteral("Обновяването на системната база %1 не завърши").arg(serverName) + failure);
        su.disconnect();
        if (complete == Complete::Now)
            CompleteSystemDatabase(serverName, owner, password);
    } catch (...) {
        DiscardSystemDatabase(serverName, owner, password);
        throw;
    }
}

void ValidateSystemAdministrator(const SystemAdministrator& admin)
{
    // The owner's password may be empty (embedded databases check none); every value is kept
    // in stored form, which holds 34 Windows-1251 characters.
    const struct {
        const QString& value;
        const char* field;
        bool mayBeEmpty;
    } fields[] = {
        {admin.owner, "owner", false},
        {admin.ownerPassword, "owner's password", true},
        {admin.login, "administrator's login", false},
        {admin.password, "administrator's password", false},
        {admin.fullName, "administrator's name", false},
    };
    for (const auto& f : fields) {
        if (f.value.isEmpty() && !f.mayBeEmpty)
            throw db::Error(QStringLiteral("The %1 is empty").arg(QLatin1String(f.field)));
        if (f.value.size() > kStoredTextMaxLength)
            throw db::Error(QStringLiteral("The %1 is longer than %2 characters").arg(QLatin1String(f.field)).arg(kStoredTextMaxLength));
        QChar offending;
        QByteArray bytes;
        if (!cp1251::tryEncode(f.value, bytes, &offending))
            throw db::Error(QStringLiteral("The %1 holds a character that Windows-1251 cannot store (U+%2)")
                                .arg(QLatin1String(f.field))
                                .arg(offending.unicode(), 4, 16, QLatin1Char('0')));
    }
}

namespace {

// The administered system database built at serverName itself; discarded if it fails.
void BuildAdministeredSystemDatabase(const QString& serverName, const SystemAdministrator& admin)
{
    CreateCurrentSystemDatabase(serverName, admin.owner, admin.ownerPassword, Complete::Later);
    try {
        {
            TDM dm;
            SetStartupConnection(dm.db_Sys, admin.owner, admin.ownerPassword, serverName);
            dm.db_Sys.connect();
            // The administrator class's account is the owner: the class's login record opens the
            // database with an account that may do anything in it.
            addApplication(dm, kGatekeep, QStringLiteral("sys_db"), admin.owner, admin.ownerPassword);
            addClass(dm, kGatekeep, admin.owner, admin.ownerPassword);
            addUser(dm, kGatekeep, admin.owner, admin.login, admin.password, admin.fullName);
        }
        CompleteSystemDatabase(serverName, admin.owner, admin.ownerPassword);
    } catch (...) {
        DiscardSystemDatabase(serverName, admin.owner, admin.ownerPassword);
        throw;
    }
}

} // namespace

void CreateAdministeredSystemDatabase(const QString& serverName, const SystemAdministrator& admin)
{
    ValidateSystemAdministrator(admin);
    // The server owns a host:path file and can only build it in place; what the build of a
    // client that died left carries the mark of an unfinished creation and is made again.
    if (!isLocalFile(serverName)) {
        DiscardUnfinishedSystemDatabase(serverName, admin.owner, admin.ownerPassword);
        BuildAdministeredSystemDatabase(serverName, admin);
        return;
    }
    const QString target = QFileInfo(serverName).absoluteFilePath();
    refuseExisting(target);
    removeStaleParts(target);
    const QString part = partName(target);
    BuildAdministeredSystemDatabase(part, admin);
    try {
        moveIntoPlace(part, target);
    } catch (...) {
        DiscardSystemDatabase(part, admin.owner, admin.ownerPassword);
        throw;
    }
}

namespace {

// A configuration file as it was before the demo wrote to it, put back if the demo fails.
class FileSnapshot {
public:
    explicit FileSnapshot(const QString& path) : m_path(path)
    {
        QFile f(path);
        m_existed = f.exists();
        // One that cannot be read cannot be written either, and stays as it is.
        m_known = !m_existed || f.open(QIODevice::ReadOnly);
        if (m_existed && m_known)
            m_bytes = f.readAll();
    }
    void restore() const noexcept
    {
        if (!m_known)
            return;
        if (!m_existed) {
            QFile::remove(m_path);
            return;
        }
        QSaveFile f(m_path);
        if (f.open(QIODevice::WriteOnly) && f.write(m_bytes) == m_bytes.size())
            f.commit();
    }

private:
    QString m_path;
    bool m_existed = false;
    bool m_known = false;
    QByteArray m_bytes;
};

// The demo's databases and configuration entries, built while no database has its name yet.
void BuildDemo(const QString& dir, const QString& sysPart, const QList<QPair<QString, QString>>& appFiles, const DemoLogin& admin)
{
    BuildAdministeredSystemDatabase(sysPart, {kAdminClass, kAdminClassPassword, admin.login, admin.password, QStringLiteral("Демо Администратор")});
    {
        TDM dm;
        SetStartupConnection(dm.db_Sys, kAdminClass, kAdminClassPassword, sysPart);
        dm.db_Sys.connect();
        addClass(dm, kGatekeep, QStringLiteral("user1"), QStringLiteral("user1-demo"));
        for (int i = 0; i < demoApps().size(); ++i) {
            const DemoApp& app = demoApps()[i];
            createApplicationDatabase(appFiles[i].first);
            addApplication(dm, app.name, app.alias, QStringLiteral("SYSDBA"), QStringLiteral("masterkey"));
            for (const QString& cls : app.classes)
                addClass(dm, app.name, cls, cls + QStringLiteral("-demo"));
        }
        // A few people with rights, to have something to look at.
        const struct {
            const char16_t* login;
            const char16_t* fullName;
            const char16_t* app;
            const char16_t* cls;
        } people[] = {
            {u"ivan", u"Иван Петров", u"Mod02", u"user1"},
            {u"anna", u"Анна Петрова", u"Mod05", u"user3"},
            {u"petar", u"Петър Иванов", u"Mod07", u"user2"},
        };
        for (const auto& p : people)
            addUser(dm, QString::fromUtf16(p.app), QString::fromUtf16(p.cls), QString::fromUtf16(p.login), QStringLiteral("demo"),
                    QString::fromUtf16(p.fullName));
    }

    const QString sys = dir + QStringLiteral("/sys.fdb");
    IniFile zor(ConfigIniPath());
    for (int i = 0; i < demoApps().size(); ++i) {
        const DemoApp& app = demoApps()[i];
        const QString& path = appFiles[i].second;
        zor.setValue(app.name, QStringLiteral("Number"), QStringLiteral("1"));
        zor.setValue(app.name, QStringLiteral("DBN1"), app.alias);
        zor.setValue(app.name, QStringLiteral("Caption1"), app.caption);
        zor.setValue(app.name, QStringLiteral("ServIP1"), QString());
        zor.setValue(app.name, QStringLiteral("BaseName1"), path);
        zor.setValue(app.name, QStringLiteral("sysBaseName1"), sys);
    }
    zor.save();
    for (int i = 0; i < demoApps().size(); ++i)
        WriteAlias(demoApps()[i].alias, QStringLiteral("INTRBASE"),
                   {{QStringLiteral("SERVER NAME"), appFiles[i].second}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")},
                    {QStringLiteral("LANGDRIVER"), QStringLiteral("ancyrr")}});
    WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"),
               {{QStringLiteral("SERVER NAME"), sys}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")},
                {QStringLiteral("LANGDRIVER"), QStringLiteral("ancyrr")}});
}

} // namespace

QString DemoCompletionMark(const QString& folder) { return QFileInfo(folder).absoluteFilePath() + QStringLiteral("/.complete"); }

DemoLogin CreateDemo(const QString& folder)
{
    const QString dir = QFileInfo(folder).absoluteFilePath();
    const bool madeDir = !QFileInfo::exists(dir);
    if (!QDir().mkpath(dir))
        throw db::Error(QStringLiteral("Папката %1 не може да бъде създадена").arg(dir));

    // Each database is built under a name of its own and takes its name at the end, the mark
    // of a finished demo last of all: a demo stopped at any point is not taken for one.
    QStringList names{QStringLiteral("sys.fdb")};
    for (const DemoApp& app : demoApps())
        names << app.file;
    QList<QPair<QString, QString>> files; // built as, named
    for (const QString& name : names) {
        const QString target = dir + QLatin1Char('/') + name;
        refuseExisting(target);
        removeStaleParts(target);
        files.append({partName(target), target});
    }
    const QString mark = DemoCompletionMark(dir);
    QFile::remove(mark);

    const DemoLogin admin{QStringLiteral("admin"), QStringLiteral("gatekeep")};
    const FileSnapshot aliases(AliasFilePath());
    const FileSnapshot zor(ConfigIniPath());
    int moved = 0;
    try {
        BuildDemo(dir, files[0].first, files.mid(1), admin);
        for (; moved < files.size(); ++moved)
            moveIntoPlace(files[moved].first, files[moved].second);
        QSaveFile done(mark);
        if (!done.open(QIODevice::WriteOnly) || done.write("Gatekeep demo\n") < 0 || !done.commit())
            throw db::Error(QStringLiteral("%1 не може да бъде записан: %2").arg(mark, done.errorString()));
    } catch (...) {
        for (int i = 0; i < files.size(); ++i)
            QFile::remove(i < moved ? files[i].second : files[i].first);
        aliases.restore();
        zor.restore();
        if (madeDir)
            QDir().rmdir(dir);
        throw;
    }
    return admin;
}
