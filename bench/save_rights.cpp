// Saving rights in the users window, against a yardstick in the same run:
//  1. one user granted 10 applications with 3 Firebird databases each (30 provisioning calls),
//     against 30 x (connect + call) through the connection layer alone;
//  2. refresh all over N users (default 1,000) with rights in 2 applications of one database
//     each, per user, against 2 x (connect + call) per user.
// The system database is embedded; the application databases are on the test Firebird server.
// The selection window is answered at once. Each side records its calls in the databases, and
// every call is checked at the end, as are the LINKS rows.
//   bench_save_rights [rounds [users]]
// Needs the test servers of scripts/test-servers (source their env file first).
#include "BenchDb.h"
#include "Report.h"

#include "core/BuiltIn.h"
#include "core/Config.h"
#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "dbman/DBLog.h"
#include "maint/Demo.h"
#include "update/SelectDBPaths.h"
#include "users/UserRights.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kApps = 10;
constexpr int kDatabasesPerApp = 3;
const char* const kApplications[kApps] = {"Mod02", "Mod03", "Mod05", "Mod06", "Mod07", "Mod08", "Mod09", "Mod10", "Mod11", "Mod12"};
const QString kLocation = QStringLiteral("bench:/sys.fdb");

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

// Counts what the window shows: in a correct run it shows nothing.
class CountingPrompts final : public Prompts {
public:
    int shown = 0;
    void message(const QString& text, Icon) override
    {
        ++shown;
        std::fprintf(stderr, "shown: %s\n", qPrintable(text));
    }
    bool confirm(const QString&, Icon, Answer) override { return ++shown, false; }
    Answer askYesNoCancel(const QString&, Icon) override { return ++shown, Answer::Cancel; }
    bool inputText(const QString&, const QString&, QString&) override { return ++shown, false; }
    QString openFile(const FileDialogOptions&) override { return {}; }
    QStringList openFiles(const FileDialogOptions&) override { return {}; }
    QString saveFile(const FileDialogOptions&) override { return {}; }
    QString chooseFolder(const QString&, const QString&) override { return {}; }
};

struct AppDb {
    QString server; // host/port:path
    QString path;
};

class Bench {
public:
    Bench(const QString& fbServer, const QString& fbDir, const QString& fbUser, const QString& fbPassword)
        : m_fbServer(fbServer), m_fbDir(fbDir), m_user(fbUser), m_password(fbPassword)
    {
    }
    ~Bench()
    {
        for (const AppDb& d : m_appDbs) {
            try {
                db::Database::dropFirebirdDatabase(d.server, m_user, m_password);
            } catch (const std::exception&) {
            }
        }
    }

    AppDb createAppDb()
    {
        const QString path = QStringLiteral("%1/bench-rights-%2-%3.fdb").arg(m_fbDir, m_tag).arg(m_appDbs.size());
        const AppDb d{m_fbServer + QLatin1Char(':') + path, path};
        db::Database::createFirebirdDatabase(d.server, m_user, m_password);
        m_appDbs.push_back(d);
        db::Database c;
        connect(c, d.server);
        exec(c, QStringLiteral("create table ADD_USER_CALLS (U_ID integer, U_RNM varchar(100))"));
        exec(c, QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) as begin "
                               "insert into ADD_USER_CALLS values (:U_Id, :U_RNm); end"));
        return d;
    }
    void connect(db::Database& d, const QString& server)
    {
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = {{QStringLiteral("SERVER NAME"), server}, {QStringLiteral("USER NAME"), m_user}, {QStringLiteral("PASSWORD"), m_password}};
        d.connect();
    }
    // The yardstick: connect, call the procedure once, disconnect.
    void bareCall(const QString& server, int id, const QString& name)
    {
        db::Database d;
        connect(d, server);
        auto& c = d.connection();
        c.execute(QStringLiteral("execute procedure ADD_USER(%1, %2)").arg(c.placeholder(1), c.placeholder(2)), {id, name});
    }
    int calls(const AppDb& app, const QString& where)
    {
        db::Database d;
        connect(d, app.server);
        return scalar(d, QStringLiteral("select count(*) from ADD_USER_CALLS where ") + where);
    }

    const QString m_tag = QUuid::createUuid().toString(QUuid::Id128).left(10);
    QString m_fbServer, m_fbDir, m_user, m_password;
    std::vector<AppDb> m_appDbs;
};

void writeZorCfg(const QString& path, const std::vector<std::vector<AppDb>>& perApp)
{
    QByteArray ini;
    for (int a = 0; a < int(perApp.size()); ++a) {
        ini += QByteArray("[") + kApplications[a] + "]\nNumber=" + QByteArray::number(int(perApp[a].size())) + "\n";
        for (int i = 0; i < int(perApp[a].size()); ++i) {
            const QString n = QString::number(i + 1);
            const QString server = perApp[a][i].server;
            const qsizetype colon = server.indexOf(QLatin1Char(':'));
            ini += QStringLiteral("DBN%1=db%1\nCaption%1=База %1\nServIP%1=%2\nBaseName%1=%3\nsysBaseName%1=%4\n")
                       .arg(n, server.left(colon), server.mid(colon + 1), kLocation)
                       .toUtf8();
        }
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size())
        throw db::Error(QStringLiteral("%1 cannot be written").arg(path));
}

void grant(TfrmUserRights& w, int row)
{
    w.lv->setCurrentItem(w.lv->topLevelItem(row));
    w.lv->topLevelItem(row)->setCheckState(0, Qt::Checked);
    w.cbClass->setCurrentIndex(0);
    emit w.cbClass->activated(0);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qapp(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int users = argc > 2 ? std::max(1, atoi(argv[2])) : 1000;
    DBLogState::reset();
    qunsetenv("GATEKEEP_DBLOG");
    CountingPrompts prompts;
    setPrompts(&prompts);
    int bad = 0;
    try {
        Bench b(env("GATEKEEP_TEST_FB_SERVER"), env("GATEKEEP_TEST_FB_DIR"), env("GATEKEEP_TEST_FB_USER"), env("GATEKEEP_TEST_FB_PASSWORD"));
        QTemporaryDir tmp;
        const QString sysPath = tmp.filePath(QStringLiteral("sys.fdb"));
        CreateCurrentSystemDatabase(sysPath, QStringLiteral("SYSCREAT"), QString());

        // The maintenance account is the server's administrator here.
        qputenv("GATEKEEP_CONFIG_DIR", tmp.path().toLocal8Bit());
        {
            IniFile ini(GatekeepIniPath());
            ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("User"), EncodeBuiltInText(BuiltInKey(), b.m_user));
            ini.setValue(QStringLiteral("Maintenance Account"), QStringLiteral("Password"), EncodeBuiltInText(BuiltInKey(), b.m_password));
            ini.save();
            QFile::setPermissions(GatekeepIniPath(), QFile::ReadOwner | QFile::WriteOwner);
        }
        qputenv("GATEKEEP_ZORCFG", tmp.filePath(QStringLiteral("ZorCfg.ini")).toLocal8Bit());
        qputenv("GATEKEEP_ALIASES", tmp.filePath(QStringLiteral("aliases.ini")).toLocal8Bit());
        SetShortString(LogInfo().Location, kLocation);
        TfrmSelectDBPaths::Runner() = [](TfrmSelectDBPaths&) { return int(QDialog::Accepted); };

        TDM dm;
        SetStartupConnection(dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), sysPath);
        dm.db_Sys.connect();
        for (const char* app : kApplications) {
            exec(dm.db_Sys, QStringLiteral("insert into applications (apl_name, apl_state) values (%1, 'Active')")
                                .arg(lit(EncodeStoredText(QLatin1String(app)))));
            exec(dm.db_Sys, QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) "
                                           "select max(apl_id), max(apl_id), %1, '' from applications")
                                .arg(lit(EncodeStoredText(QStringLiteral("Оператор")))));
        }
        const QString name = QStringLiteral("Иван Петров Стоянов");
        exec(dm.db_Sys, QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw) values (%1, 'x', 'x')").arg(lit(EncodeStoredText(name))));

        // 1. One user, 10 applications x 3 databases.
        std::vector<std::vector<AppDb>> perApp(kApps);
        std::vector<AppDb> all;
        for (auto& dbs : perApp)
            for (int i = 0; i < kDatabasesPerApp; ++i)
                all.push_back(dbs.emplace_back(b.createAppDb()));
        writeZorCfg(tmp.filePath(QStringLiteral("ZorCfg.ini")), perApp);
        std::vector<double> saveMs, bareMs;
        {
            TfrmUserRights w(dm);
            w.show();
            const int userId = w.currentUserId();
            for (int round = 0; round < rounds; ++round) {
                for (int side = 0; side < 2; ++side) {
                    if ((side + round) % 2 == 0) {
                        for (int row = 0; row < kApps; ++row)
                            grant(w, row);
                        QElapsedTimer t;
                        t.start();
                        if (!w.Save())
                            ++bad;
                        saveMs.push_back(t.nsecsElapsed() / 1e6);
                        // Ungranted again, so that the next round's grant is an edit.
                        for (int row = 0; row < kApps; ++row)
                            w.lv->topLevelItem(row)->setCheckState(0, Qt::Unchecked);
                    } else {
                        QElapsedTimer t;
                        t.start();
                        for (const AppDb& d : all)
                            b.bareCall(d.server, 100000 + round, name);
                        bareMs.push_back(t.nsecsElapsed() / 1e6);
                    }
                }
            }
            for (const AppDb& d : all) {
                if (b.calls(d, QStringLiteral("U_ID = %1").arg(userId)) != rounds)
                    ++bad;
                if (b.calls(d, QStringLiteral("U_ID >= 100000")) != rounds)
                    ++bad;
            }
            if (scalar(dm.db_Sys, QStringLiteral("select count(*) from links where lnk_usr = %1").arg(userId)) != kApps)
                ++bad;
        }

        // 2. Refresh all: every user holds rights in 2 applications of one database each.
        perApp.assign(2, {});
        perApp[0].push_back(b.createAppDb());
        perApp[1].push_back(b.createAppDb());
        writeZorCfg(tmp.filePath(QStringLiteral("ZorCfg.ini")), perApp);
        exec(dm.db_Sys, QStringLiteral("delete from links"));
        exec(dm.db_Sys, QStringLiteral("delete from users"));
        {
            db::Transaction t(dm.db_Sys);
            for (int i = 0; i < users; ++i)
                exec(dm.db_Sys, QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw) values (%1, 'x', 'x')")
                                    .arg(lit(EncodeStoredText(QStringLiteral("Потребител %1").arg(i, 5, 10, QLatin1Char('0'))))));
            exec(dm.db_Sys, QStringLiteral("insert into links select u.user_id, a.apl_id, a.apl_id from users u, applications a "
                                           "where a.apl_id in (select first 2 apl_id from applications order by apl_id)"));
            t.commit();
        }
        const int linksBefore = scalar(dm.db_Sys, QStringLiteral("select count(*) from links"));
        double refreshMs = 0, bareRefreshMs = 0;
        {
            TfrmUserRights w(dm);
            w.show();
            QElapsedTimer t;
            t.start();
            w.RefreshAll();
            refreshMs = t.nsecsElapsed() / 1e6;
        }
        {
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < users; ++i)
                for (const auto& dbs : perApp)
                    b.bareCall(dbs.front().server, 200000 + i, name);
            bareRefreshMs = t.nsecsElapsed() / 1e6;
        }
        for (const auto& dbs : perApp)
            if (b.calls(dbs.front(), QStringLiteral("U_ID < 200000")) != users || b.calls(dbs.front(), QStringLiteral("U_ID >= 200000")) != users)
                ++bad;
        if (scalar(dm.db_Sys, QStringLiteral("select count(*) from links")) != linksBefore || linksBefore != 2 * users)
            ++bad;
        bad += prompts.shown;

        std::printf("system database: embedded, %s (%s)\n", qPrintable(sysPath), qPrintable(StorageOf(sysPath)));
        std::printf("application databases: %zu on %s (files %s/bench-rights-%s-*.fdb)\n", b.m_appDbs.size(), qPrintable(b.m_fbServer),
                    qPrintable(b.m_fbDir), qPrintable(b.m_tag));
        std::printf("checks: %s\n", bad == 0 ? "every call recorded, LINKS as expected, nothing shown" : "WRONG");
        const double s = median(saveMs), y = median(bareMs);
        std::printf("Save, 10 applications x 3 databases: %.1f ms, yardstick 30 x (connect + call) %.1f ms (medians of %d), ratio %.2f\n", s,
                    y, rounds, s / y);
        std::printf("refresh all over %d users (2 applications, 1 database each): %.2f ms per user, yardstick 2 x (connect + call) "
                    "%.2f ms per user, ratio %.2f\n",
                    users, refreshMs / users, bareRefreshMs / users, refreshMs / bareRefreshMs);
        std::printf("peak memory: %ld KiB\n", PeakResidentKb());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_save_rights: %s\n", qPrintable(db::errorMessage(e)));
        return 1;
    }
    TfrmSelectDBPaths::Runner() = nullptr;
    setPrompts(nullptr);
    return bad == 0 ? 0 : 1;
}
