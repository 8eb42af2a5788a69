// New databases are built without synchronous page writes and end with them on: a finished
// system or demo database must never be left running without them.
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/SystemSchema.h"
#include "db/Database.h"
#include "maint/Demo.h"

#include <QDir>

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
