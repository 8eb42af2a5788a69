// New databases are built without synchronous page writes and end with them on: a finished
// system or demo database must never be left running without them.
#include "KillChild.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/SystemSchema.h"
#include "db/Database.h"
#include "db/Error.h"
#include "maint/Demo.h"
#include "maint/SelfUpdate.h"

#include <QDir>
#include <QFile>

#include <functional>

#include <gtest/gtest.h>

namespace {

int forcedWrites(const QString& path)
{
    db::Database d;
    d.setDriverName(QStringLiteral("INTRBASE"));
    d.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
    d.connect();
    return scalarOf(d, QStringLiteral("select mon$forced_writes from mon$database")).toInt();
}

// What a finished system database has: the last step, an administrator, synchronous writes.
QString madeOrWhy(const db::ParamList& params)
{
    try {
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = params;
        d.connect();
        if (SystemSchemaVersion(d) != kSelfUpdateLastStep)
            return QStringLiteral("version %1").arg(SystemSchemaVersion(d));
        if (scalarOf(d, QStringLiteral("select count(*) from USERS")).toInt() == 0)
            return QStringLiteral("no administrator");
        if (scalarOf(d, QStringLiteral("select mon$forced_writes from mon$database")).toInt() != 1)
            return QStringLiteral("forced writes off");
        return QStringLiteral("made");
    } catch (const std::exception& e) {
        return db::errorMessage(e);
    }
}

QString madeOrWhy(const QString& path)
{
    return madeOrWhy(db::ParamList{{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}});
}

QStringList entries(const QString& dir) { return QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

bool hasPart(const QString& dir)
{
    return !QDir(dir).entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden).isEmpty();
}

int runProgram(const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(GK_PROGRAM), args);
    p.waitForFinished(120000);
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Moments after the first hidden build file appears: early, in the schema, in the steps, at the end.
const int kKillMoments[] = {0, 60, 150, 300, 500, 800, 1200, 1800};

} // namespace

TEST(Creation, EveryFinishedDatabaseWritesSynchronously)
{
    const QString owner = QStringLiteral("SYSCREAT");
    const struct {
        const char* name;
        std::function<void(const QString& path)> create;
        int forced;
    } cases[] = {
        {"schema", [&](const QString& p) { CreateSystemDatabase(p, owner, QString()); }, 1},
        {"schema, to be completed", [&](const QString& p) { CreateSystemDatabase(p, owner, QString(), Complete::Later); }, 0},
        {"current schema", [&](const QString& p) { CreateCurrentSystemDatabase(p, owner, QString()); }, 1},
        {"with its administrator", [&](const QString& p) {
             CreateAdministeredSystemDatabase(p, {owner, QString(), QStringLiteral("boss"), QStringLiteral("boss-pw"), QStringLiteral("Шеф")});
         }, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir tmp;
        const QString path = tmp.path(QStringLiteral("sys.fdb"));
        c.create(path);
        EXPECT_EQ(forcedWrites(path), c.forced);
    }
}

TEST(Creation, TheDemoWritesSynchronouslyInEveryDatabase)
{
    TempDir tmp;
    qputenv("GATEKEEP_CONFIG_DIR", tmp.path(QStringLiteral("config")).toLocal8Bit());
    qputenv("GATEKEEP_ZORCFG", tmp.path(QStringLiteral("ZorCfg.ini")).toLocal8Bit());
    CreateDemo(tmp.path(QStringLiteral("demo")));
    const QStringList files = QDir(tmp.path(QStringLiteral("demo"))).entryList({QStringLiteral("*.fdb")});
    EXPECT_EQ(files.size(), 4);
    for (const QString& f : files) {
        SCOPED_TRACE(f.toStdString());
        EXPECT_EQ(forcedWrites(tmp.path(QStringLiteral("demo/") + f)), 1);
    }
    qunsetenv("GATEKEEP_CONFIG_DIR");
    qunsetenv("GATEKEEP_ZORCFG");
}

TEST(Creation, AKilledCreationLeavesNoDatabaseOfThatNameAndTheNextOneSucceeds)
{
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    int killed = 0;
    for (int delay : kKillMoments) {
        SCOPED_TRACE(delay);
        TempDir tmp;
        const QString path = tmp.path(QStringLiteral("sys.fdb"));
        const QStringList args{QStringLiteral("--create-system-db"), path, QStringLiteral("--admin"), QStringLiteral("boss"),
                               QStringLiteral("--admin-password"), QStringLiteral("boss-pw")};
        killed += KillChildAt(QStringLiteral(GK_PROGRAM), args, env, [&](QProcess&) { return hasPart(tmp.path()); }, delay);
        // Either nothing of that name or a finished database.
        if (QFileInfo::exists(path))
            EXPECT_EQ(madeOrWhy(path), QStringLiteral("made"));
        else {
            EXPECT_EQ(runProgram(args, env), 0);
            EXPECT_EQ(madeOrWhy(path), QStringLiteral("made"));
        }
        // The next creation removes what the killed one left.
        EXPECT_EQ(entries(tmp.path()), QStringList{QStringLiteral("sys.fdb")});
    }
    EXPECT_GE(killed, 4);
}

// The server builds in place: what a creation that did not finish left is made again, a finished
// database is never touched.
TEST(Creation, AnUnfinishedServerDatabaseIsMadeAgainAndAFinishedOneIsRefused)
{
    const QString path = serverDatabasePath(QStringLiteral("unfinished"));
    const db::ParamList p = firebirdParams(path);
    const SystemAdministrator admin{p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")), QStringLiteral("boss"),
                                    QStringLiteral("boss-pw"), QStringLiteral("Шеф")};
    // Where a creation stopped before its administrator would have left it.
    CreateCurrentSystemDatabase(path, admin.owner, admin.ownerPassword, Complete::Later);
    EXPECT_EQ(madeOrWhy(p), QStringLiteral("no administrator"));
    CreateAdministeredSystemDatabase(path, admin);
    EXPECT_EQ(madeOrWhy(p), QStringLiteral("made"));
    EXPECT_THROW(CreateAdministeredSystemDatabase(path, admin), std::exception);
    EXPECT_EQ(madeOrWhy(p), QStringLiteral("made"));
    DiscardSystemDatabase(path, admin.owner, admin.ownerPassword);
}

TEST(Creation, AKilledDemoIsNotTakenAsFinishedAndIsMadeAgain)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    int killed = 0;
    for (int delay : kKillMoments) {
        SCOPED_TRACE(delay);
        TempDir tmp;
        env.insert(QStringLiteral("GATEKEEP_CONFIG_DIR"), tmp.path(QStringLiteral("config")));
        env.insert(QStringLiteral("GATEKEEP_ZORCFG"), tmp.path(QStringLiteral("ZorCfg.ini")));
        const QString demo = tmp.path(QStringLiteral("demo"));
        const QStringList args{QStringLiteral("--create-demo"), demo};
        killed += KillChildAt(QStringLiteral(GK_PROGRAM), args, env, [&](QProcess&) { return hasPart(demo); }, delay * 2);
        if (!QFileInfo::exists(DemoCompletionMark(demo))) {
            EXPECT_TRUE(QDir(demo).entryList({QStringLiteral("*.fdb")}, QDir::Files).isEmpty());
            EXPECT_EQ(runProgram(args, env), 0);
        }
        ASSERT_TRUE(QFileInfo::exists(DemoCompletionMark(demo)));
        EXPECT_EQ(madeOrWhy(demo + QStringLiteral("/sys.fdb")), QStringLiteral("made"));
        EXPECT_EQ(QDir(demo).entryList({QStringLiteral("*.fdb")}, QDir::Files).size(), 4);
        EXPECT_FALSE(hasPart(demo));
    }
    EXPECT_GE(killed, 4);
}

TEST(Creation, ADemoThatCannotWriteItsConfigurationLeavesNoDatabase)
{
    TempDir tmp;
    // A file where the configuration folder should be: nothing can be written there, even by root.
    QFile blocker(tmp.path(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("GATEKEEP_CONFIG_DIR", tmp.path(QStringLiteral("config")).toLocal8Bit());
    qputenv("GATEKEEP_ZORCFG", tmp.path(QStringLiteral("ZorCfg.ini")).toLocal8Bit());
    const QString demo = tmp.path(QStringLiteral("demo"));
    EXPECT_THROW(CreateDemo(demo), std::exception);
    EXPECT_FALSE(QFileInfo::exists(demo));
    EXPECT_FALSE(QFileInfo::exists(tmp.path(QStringLiteral("ZorCfg.ini"))));
    // An existing folder stays, empty.
    QDir().mkpath(demo);
    EXPECT_THROW(CreateDemo(demo), std::exception);
    EXPECT_EQ(entries(demo), QStringList());
    qunsetenv("GATEKEEP_CONFIG_DIR");
    qunsetenv("GATEKEEP_ZORCFG");
}
