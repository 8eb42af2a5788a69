// Provisioning one user into 20 Firebird databases on the test server and into 20 PostgreSQL
// databases (the built-in login accepted), against a yardstick in the same run: a bare connect
// and one procedure call through the connection layer alone. The DB log stays off. Each side
// records its calls in the databases, and every recorded call is checked at the end. Prints the
// median time per database, the ratio, the peak memory and where the databases are.
//   bench_provision [rounds]
// Needs the test servers of scripts/test-servers (source their env file first).
#include "BenchDb.h"

#include "dbman/DBLog.h"
#include "dbman/Provision.h"

#include "core/BuiltIn.h"
#include "core/Config.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kDatabases = 20;
const QString kPgRole = QStringLiteral("gkhubsvc");
const QString kName = QStringLiteral("Иван Петров Стоянов");

void connect(db::Database& d, const QString& driver, const QString& server, const QString& user, const QString& password)
{
    d.setDriverName(driver);
    d.params() = {{QStringLiteral("SERVER NAME"), server}, {QStringLiteral("USER NAME"), user}, {QStringLiteral("PASSWORD"), password}};
    d.connect();
}

struct Target {
    bool firebird;
    QString connText;   // as the administrator picks it, for ProvisionUser
    QString serverName; // as the connection layer takes it, for the yardstick
    QString user, password;
    QString callSql;    // the yardstick's procedure call
};

// The yardstick: connect, call the procedure once, disconnect.
void bareCall(const Target& t, int id)
{
    db::Database d;
    connect(d, t.firebird ? QStringLiteral("INTRBASE") : QStringLiteral("POSTGRESQL"), t.serverName, t.user, t.password);
    auto& c = d.connection();
    c.execute(t.callSql.arg(c.placeholder(1), c.placeholder(2)), {id, kName});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    DBLogState::reset();
    qunsetenv("GATEKEEP_DBLOG");
    try {
        const QString fbServer = env("GATEKEEP_TEST_FB_SERVER");
        const QString fbDir = env("GATEKEEP_TEST_FB_DIR");
        const QString fbUser = env("GATEKEEP_TEST_FB_USER");
        const QString fbPassword = env("GATEKEEP_TEST_FB_PASSWORD");
        const QString pgAdmin = env("GATEKEEP_TEST_PG");
        const QString pgPort = QRegularExpression(QStringLiteral("port=(\\d+)")).match(pgAdmin).captured(1);

        // The maintenance account is the server's administrator here.
        QTemporaryDir config;
        qputenv("GATEKEEP_CONFIG_DIR", config.path().toLocal8Bit());
        {
            IniFile ini(GatekeepIniPath());
            ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("User"), EncodeBuiltInText(BuiltInKey(), fbUser));
            ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("Password"), EncodeBuiltInText(BuiltInKey(), fbPassword));
            ini.save();
            QFile::setPermissions(GatekeepIniPath(), QFile::ReadOwner | QFile::WriteOwner);
        }

        const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(10);
        std::vector<Target> targets;
        QStringList fbFiles, pgNames;
        for (int i = 0; i < kDatabases; ++i) {
            const QString path = QStringLiteral("%1/bench-prov-%2-%3.fdb").arg(fbDir, tag).arg(i);
            const QString server = fbServer + QLatin1Char(':') + path;
            db::Database::createFirebirdDatabase(server, fbUser, fbPassword);
            db::Database d;
            connect(d, QStringLiteral("INTRBASE"), server, fbUser, fbPassword);
            exec(d, QStringLiteral("create table ADD_USER_CALLS (U_ID integer, U_RNM varchar(100))"));
            exec(d, QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) as begin "
                                   "insert into ADD_USER_CALLS values (:U_Id, :U_RNm); end"));
            fbFiles << path;
            targets.push_back({true, server, server, fbUser, fbPassword, QStringLiteral("execute procedure ADD_USER(%1, %2)")});
        }
        {
            db::Database admin;
            connect(admin, QStringLiteral("POSTGRESQL"), pgAdmin, {}, {});
            if (scalar(admin, QStringLiteral("select count(*) from pg_roles where rolname = '%1'").arg(kPgRole)) == 0)
                exec(admin, QStringLiteral("create role %1 login").arg(kPgRole));
            exec(admin, QStringLiteral("alter role %1 login password '%1'").arg(kPgRole));
            for (int i = 0; i < kDatabases; ++i) {
                const QString name = QStringLiteral("gk_bench_prov_%1_%2").arg(tag.toLower()).arg(i);
                exec(admin, QStringLiteral("create database %1").arg(name));
                pgNames << name;
                QString info = pgAdmin;
                info.replace(QRegularExpression(QStringLiteral("dbname=\\S+")), QStringLiteral("dbname=") + name);
                db::Database d;
                connect(d, QStringLiteral("POSTGRESQL"), info, {}, {});
                exec(d, QStringLiteral("create table hub_calls (id integer, first_name varchar(100))"));
                exec(d, QStringLiteral("grant all on hub_calls to public"));
                exec(d, QStringLiteral("create function hub_user_update(id integer, first_name varchar) returns void "
                                       "language sql as $$ insert into hub_calls values (id, first_name) $$"));
                const QString text = QStringLiteral("127.0.0.1/%1:%2").arg(pgPort, name);
                targets.push_back({false, text, text, kPgRole, kPgRole, QStringLiteral("select * from hub_user_update(%1, %2)")});
            }
        }

        // Provisioning writes ids from 1000, the yardstick from 2000; the order alternates per round.
        std::vector<double> fbProv, fbBare, pgProv, pgBare;
        for (int round = 0; round < rounds; ++round) {
            for (const Target& t : targets) {
                for (int side = 0; side < 2; ++side) {
                    const bool provision = (side + round) % 2 == 0;
                    QElapsedTimer timer;
                    timer.start();
                    if (provision)
                        ProvisionUser(t.connText, 1000 + round, kName);
                    else
                        bareCall(t, 2000 + round);
                    const double ms = timer.nsecsElapsed() / 1e6;
                    (t.firebird ? (provision ? fbProv : fbBare) : (provision ? pgProv : pgBare)).push_back(ms);
                }
            }
        }

        // Every database holds each round's two calls, with the name as sent.
        int bad = 0;
        for (const Target& t : targets) {
            db::Database d;
            QString server = t.serverName;
            if (!t.firebird) {
                server = pgAdmin;
                server.replace(QRegularExpression(QStringLiteral("dbname=\\S+")),
                               QStringLiteral("dbname=") + t.connText.mid(t.connText.indexOf(QLatin1Char(':')) + 1));
            }
            connect(d, t.firebird ? QStringLiteral("INTRBASE") : QStringLiteral("POSTGRESQL"), server, t.firebird ? fbUser : QString(),
                    t.firebird ? fbPassword : QString());
            const QString table = t.firebird ? QStringLiteral("ADD_USER_CALLS") : QStringLiteral("hub_calls");
            const QString nameColumn = t.firebird ? QStringLiteral("U_RNM") : QStringLiteral("first_name");
            const QString idColumn = t.firebird ? QStringLiteral("U_ID") : QStringLiteral("id");
            for (int round = 0; round < rounds; ++round) {
                for (int base : {1000, 2000}) {
                    db::Query q(&d);
                    q.setParamCheck(false);
                    q.setSql(QStringLiteral("select %1 from %2 where %3 = %4").arg(nameColumn, table, idColumn).arg(base + round));
                    int rows = 0;
                    for (q.open(); !q.eof(); q.next())
                        rows += q.field(0).asString() == kName ? 1 : 100;
                    if (rows != 1)
                        ++bad;
                }
            }
        }

        struct rusage usage {};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("databases: %d Firebird on %s (files %s/bench-prov-%s-*.fdb), %d PostgreSQL on 127.0.0.1:%s (gk_bench_prov_%s_*)\n",
                    kDatabases, qPrintable(fbServer), qPrintable(fbDir), qPrintable(tag), kDatabases, qPrintable(pgPort),
                    qPrintable(tag.toLower()));
        std::printf("rounds: %d; recorded calls %s\n", rounds, bad == 0 ? "all present and right" : "WRONG");
        const double fp = median(fbProv), fb = median(fbBare), pp = median(pgProv), pb = median(pgBare);
        std::printf("Firebird:   ProvisionUser %.2f ms, bare connect + call %.2f ms per database (medians), ratio %.2f\n", fp, fb, fp / fb);
        std::printf("PostgreSQL: ProvisionUser %.2f ms, bare connect + call %.2f ms per database (medians), ratio %.2f\n", pp, pb, pp / pb);
        std::printf("peak memory: %ld KiB\n", usage.ru_maxrss);
        std::printf("PostgreSQL login decoded %d time(s)\n", PgLoginDecodeCount());

        for (const QString& path : fbFiles)
            db::Database::dropFirebirdDatabase(fbServer + QLatin1Char(':') + path, fbUser, fbPassword);
        db::Database admin;
        connect(admin, QStringLiteral("POSTGRESQL"), pgAdmin, {}, {});
        for (const QString& name : pgNames)
            exec(admin, QStringLiteral("drop database %1 with (force)").arg(name));
        return bad == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_provision: %s\n", qPrintable(db::errorMessage(e)));
        return 1;
    }
}
