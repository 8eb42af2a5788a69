// Files the program keeps are replaced whole or not at all, on a real file system that is full.
#include "support/FullDisk.h"
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/Config.h"
#include "core/FileWrite.h"
#include "core/InputError.h"
#include "core/InstallDescription.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include <sys/stat.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

mode_t currentUmask()
{
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// The configuration folder for the life of the object.
struct ConfigDirIn {
    explicit ConfigDirIn(const QString& dir) { qputenv("GATEKEEP_CONFIG_DIR", dir.toUtf8()); }
    ~ConfigDirIn() { qunsetenv("GATEKEEP_CONFIG_DIR"); }
};

const QString kNoSpace = QString::fromLocal8Bit(std::strerror(ENOSPC));

} // namespace

TEST(WriteFileAtomically, NewFilesTakeTheirAccessAndReplacementsKeepTheOldFilesBits)
{
    TempDir tmp;
    const QString shared = tmp.path(QStringLiteral("export.txt"));
    WriteFileAtomically(shared, "one\n", NewFileAccess::Shared);
    EXPECT_EQ(FullDisk::read(shared), "one\n");
    EXPECT_EQ(modeOf(shared), 0666 & ~currentUmask());

    const QString secret = tmp.path(QStringLiteral("Gatekeep.ini"));
    WriteFileAtomically(secret, "[Maintenance Account]\n", NewFileAccess::Private);
    EXPECT_EQ(modeOf(secret), 0600u);

    // An administrator's choice of bits outlives the program's saves, either way.
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0640), 0);
    WriteFileAtomically(secret, "two\n", NewFileAccess::Private);
    EXPECT_EQ(FullDisk::read(secret), "two\n");
    EXPECT_EQ(modeOf(secret), 0640u);
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0600), 0);
    WriteFileAtomically(shared, "three\n", NewFileAccess::Shared);
    EXPECT_EQ(modeOf(shared), 0600u);

    // A link stays a link; the file it names is replaced.
    const QString link = tmp.path(QStringLiteral("aliases.ini"));
    ASSERT_TRUE(QFile::link(secret, link));
    WriteFileAtomically(link, "through the link\n", NewFileAccess::Private);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(FullDisk::read(secret), "through the link\n");

    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
              (QStringList{QStringLiteral("Gatekeep.ini"), QStringLiteral("aliases.ini"), QStringLiteral("export.txt")}));
}

TEST(WriteFileAtomically, AFolderInTheWayIsRefusedByName)
{
    TempDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkdir(QStringLiteral("out.xml")));
    try {
        WriteFileAtomically(tmp.path(QStringLiteral("out.xml")), "x", NewFileAccess::Shared);
        ADD_FAILURE() << "written";
    } catch (const InputError& e) {
        EXPECT_TRUE(e.message().contains(tmp.path(QStringLiteral("out.xml")))) << e.what();
    }
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{QStringLiteral("out.xml")});
}

// Every writer of a file the program keeps, on a full disk: the old file stays byte for byte,
// no temporary file is left, and the reason is told. With room again, the same call writes.
TEST(FullDiskWriters, OldFileStaysAndTheReasonIsTold)
{
    const QByteArray gatekeepIni = "[Directory]\r\nServer=ldap://dc1\r\n[Maintenance Account]\r\nUser=GKFVHPFRTRJWKQ\r\nPassword=QWERTYQWERTY\r\n";
    const QByteArray aliases = "[sys_db]\nDRIVER=INTRBASE\nSERVER NAME=/db/sys.fdb\n";
    const QByteArray vendorIni = "[Application]\nName=Mod09\nAlias=mod09_db\nUser=SYSDBA\nPassword=masterkey\nProcedure=ADD_USER\n"
                                 "[Classes]\nName1=Касиер\nPassword1=Парола1\n";
    struct Case {
        const char* name;
        QString file;        // the file kept, in the small file system
        QByteArray before;
        QStringList others;  // files the case places beside it
        std::function<void(const FullDisk&)> act;
    };
    const Case cases[] = {
        {"GatekeepIniGbakPath", QStringLiteral("Gatekeep.ini"), gatekeepIni, {},
         [](const FullDisk&) { WriteGbakPath(QStringLiteral("/usr/bin/gbak")); }},
        {"AliasesIni", QStringLiteral("aliases.ini"), aliases, {},
         [](const FullDisk&) { WriteAlias(QStringLiteral("pg_app"), QStringLiteral("POSTGRESQL"), {{QStringLiteral("SERVER NAME"), QStringLiteral("h/5432:app")}}); }},
        {"AnyIniFile", QStringLiteral("ZorCfg.ini"), "[Mod05]\nNumber=0\n", {},
         [](const FullDisk& d) {
             IniFile ini(d.path(QStringLiteral("ZorCfg.ini")));
             ini.setValue(QStringLiteral("Mod05"), QStringLiteral("Number"), QStringLiteral("1"));
             ini.save();
         }},
        {"InstallDescription", QStringLiteral("app.icr"), "an older description\n", {QStringLiteral("app.ini")},
         [](const FullDisk& d) { WriteInstallDescription(d.path(QStringLiteral("app.ini")), d.path(QStringLiteral("app.icr"))); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FullDisk disk;
        const ConfigDirIn config(disk.path());
        const QString file = disk.path(c.file);
        FullDisk::write(file, c.before);
        for (const QString& other : c.others)
            FullDisk::write(disk.path(other), vendorIni);
        const QStringList entries = disk.entries();
        disk.fill();

        try {
            c.act(disk);
            ADD_FAILURE() << "written on a full disk";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(file)) << e.what();
            EXPECT_TRUE(e.message().contains(kNoSpace)) << e.what();
        }
        EXPECT_EQ(FullDisk::read(file), c.before);
        EXPECT_EQ(disk.entries(), entries);

        disk.unfill();
        c.act(disk);
        EXPECT_NE(FullDisk::read(file), c.before);
        EXPECT_EQ(disk.entries(), entries);
    }
}

// Finding gbak where Gatekeep.ini already says it is changes nothing, so nothing is written.
TEST(FullDiskWriters, GbakPathAlreadyHeldIsNotWrittenAgain)
{
    FullDisk disk;
    const ConfigDirIn config(disk.path());
    const QByteArray before = "[GBAK Location]\nPath=/usr/bin/gbak\n[Maintenance Account]\nUser=GKFVHPFRTRJWKQ\n";
    FullDisk::write(GatekeepIniPath(), before);
    disk.fill();
    EXPECT_NO_THROW(WriteGbakPath(QStringLiteral("/usr/bin/gbak")));
    EXPECT_EQ(FullDisk::read(GatekeepIniPath()), before);
}
