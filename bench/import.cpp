// Import of 10,000 users (or the given count) from a text file with a class and provisioning,
// embedded: the import engine against isql-fb running the same statements and commits in both
// databases (per row, the user and its right committed in the system database, then the user
// procedure committed in the application database). Also the import by name matching of N names
// against N users, in memory, at two sizes, to show that it stays linear.
#include "BenchUpdate.h"
#include "Report.h"

#include "bulk/Importer.h"
#include "bulk/SpecialImport.h"
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "db/Cp1251.h"
#include "maint/Demo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kClass = 5;

QString sqlText(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

QString loginOf(int i) { return QStringLiteral("u%1").arg(i); }
QString nameOf(int i) { return QStringLiteral("Потребител Номер %1").arg(i); }

struct Round {
    QString sys, app;
};

// A system database with this program's application and one application with a class, and an
// application database whose user procedure records its calls.
Round makeDatabases(const QTemporaryDir& dir, const QString& tag)
{
    Round r{dir.filePath(QStringLiteral("sys-%1.fdb").arg(tag)), QString()};
    CreateCurrentSystemDatabase(r.sys, QString::fromLatin1(kBenchUser), QString::fromLatin1(kBenchPassword));
    db::Database d;
    benchConnect(d, r.sys);
    const QString user = sqlText(EncodeStoredText(QString::fromLatin1(kBenchUser)));
    const QString password = sqlText(EncodeStoredText(QString::fromLatin1(kBenchPassword)));
    for (const char* name : {"Gatekeep", "Mod02"})
        execSql(d, QStringLiteral("insert into applications (apl_name, apl_state, gdb_uname, gdb_pasw, gdb_proc) values (") +
                       sqlText(EncodeStoredText(QString::fromLatin1(name))) + QStringLiteral(", 'Active', ") + user + QStringLiteral(", ") +
                       password + QStringLiteral(", ") + sqlText(EncodeStoredText(QStringLiteral("ADD_USER"))) + QStringLiteral(")"));
    execSql(d, QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (%1, (select max(apl_id) from applications), ")
                       .arg(kClass) +
                   sqlText(EncodeStoredText(QStringLiteral("Писар"))) + QStringLiteral(", '')"));
    r.app = benchNewDatabase(dir, QStringLiteral("app-%1.fdb").arg(tag),
                             {QStringLiteral("create table CALLS (U_ID integer, U_RNM varchar(100))"),
                              QStringLiteral("create procedure ADD_USER (U_Id integer, U_RNm varchar(100)) as begin "
                                             "insert into CALLS (U_ID, U_RNM) values (:U_Id, :U_RNm); end")});
    return r;
}

bool check(const Round& r, int users, const char* who)
{
    return benchCheck(r.sys, who, {{QStringLiteral("select count(*) from users"), users},
                                   {QStringLiteral("select count(*) from links where lnk_class = 5"), users}}) &&
           benchCheck(r.app, who, {{QStringLiteral("select count(distinct U_ID) from CALLS"), users}});
}

double runImport(const Round& r, const QString& file)
{
    QElapsedTimer t;
    t.start();
    TDM dm;
    SetStartupConnection(dm.db_Sys, QString::fromLatin1(kBenchUser), QString::fromLatin1(kBenchPassword), r.sys);
    dm.db_Sys.connect();
    const ApplicationTable apps = BuildApplicationTable(dm.db_Sys);
    TUserImporter importer(dm, [](const QString& line) { std::fprintf(stderr, "%s\n", line.toUtf8().constData()); });
    importer.LoadSnapshot();
    importer.setApplication(&apps.entries[1]);
    importer.defaultClass = kClass;
    const ImportTextFile text = ReadImportTextFile(file);
    QList<ImportRow> rows;
    rows.reserve(text.lines.size());
    for (int i = 0; i < text.lines.size(); ++i)
        rows << SplitImportLine(text.lines[i], QStringLiteral(";"), i + 1);
    if (!importer.ConnectImportDB(r.app))
        return -1;
    importer.ImportRows(rows, false, nullptr);
    importer.CloseImportDB();
    return t.nsecsElapsed() / 1e6;
}

double runIsql(const Round& r, const QString& sysScript, const QString& appScript)
{
    QElapsedTimer t;
    t.start();
    for (const auto& [script, db] : {std::pair{sysScript, r.sys}, std::pair{appScript, r.app}}) {
        QProcess p;
        p.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-sqldialect"), QStringLiteral("1"), QStringLiteral("-ch"),
                                             QStringLiteral("WIN1251"), QStringLiteral("-b"), QStringLiteral("-user"),
                                             QString::fromLatin1(kBenchUser), QStringLiteral("-i"), script, db});
        p.waitForFinished(-1);
        if (p.exitCode() != 0) {
            std::fprintf(stderr, "isql-fb failed: %s\n", p.readAllStandardError().constData());
            return -1;
        }
    }
    return t.nsecsElapsed() / 1e6;
}

// N names against N existing users in memory: half match, half are new.
double matchNames(int n)
{
    TExistingUserList list;
    for (int i = 0; i < n; ++i)
        list.append(i + 1, loginOf(i), QStringLiteral("Име%1 Презиме Фамилия%1").arg(i), false);
    QStringList lines;
    for (int i = 0; i < n; ++i)
        lines << (i % 2 ? QStringLiteral("Име%1 Фамилия%1").arg(i) : QStringLiteral("Ново%1 Фамилия%1").arg(i));
    QElapsedTimer t;
    t.start();
    int matched = 0;
    for (const QString& line : lines) {
        bool partial = false;
        const NameWords w = SplitNameWords(line);
        const int m = list.MatchExisting(line, w, partial);
        if (m >= 0) {
            list[m].matched = true;
            ++matched;
        } else if (list.LoginInUse(w.first.left(1) + w.last) < 0) {
            list.addCreated(n + matched, w.first.left(1) + w.last, line);
        }
    }
    const double ms = t.nsecsElapsed() / 1e6;
    if (matched != n / 2)
        std::fprintf(stderr, "matching: %d of %d names matched\n", matched, n / 2);
    return ms;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const int users = argc > 2 ? std::max(1, atoi(argv[2])) : 10000;
    QTemporaryDir dir;

    QByteArray text, sysSql, appSql;
    for (int i = 1; i <= users; ++i) {
        text += (loginOf(i) + QLatin1Char(';') + nameOf(i) + QStringLiteral(";pw%1\n").arg(i)).toUtf8();
        // The same rows as the import writes, with the ids it would get.
        // Stored texts may hold "%": the statement is put together without arg().
        const QString id = QString::number(i);
        sysSql += cp1251::encode(QStringLiteral("insert into USERS (USER_ID, USER_FNM, USER_FPW, USER_RNM) values (") + id +
                                 QStringLiteral(", ") + sqlText(EncodeStoredText(loginOf(i))) + QStringLiteral(", ") +
                                 sqlText(EncodeStoredText(QStringLiteral("pw%1").arg(i))) + QStringLiteral(", ") +
                                 sqlText(EncodeStoredText(nameOf(i))) +
                                 QStringLiteral(");\nupdate or insert into LINKS (LNK_USR, LNK_APLID, LNK_CLASS) values (") + id +
                                 QStringLiteral(", 2, %1) matching (LNK_USR, LNK_APLID);\ncommit;\n").arg(kClass));
        appSql += cp1251::encode(QStringLiteral("execute procedure ADD_USER(%1, %2);\ncommit;\n").arg(i).arg(sqlText(nameOf(i))));
    }
    const QString file = dir.filePath(QStringLiteral("users.txt"));
    const QString sysScript = dir.filePath(QStringLiteral("sys.sql"));
    const QString appScript = dir.filePath(QStringLiteral("app.sql"));
    benchWrite(file, text);
    benchWrite(sysScript, sysSql);
    benchWrite(appScript, appSql);

    std::vector<double> ours, theirs;
    for (int round = 0; round < rounds; ++round) {
        const Round a = makeDatabases(dir, QStringLiteral("a%1").arg(round));
        const Round b = makeDatabases(dir, QStringLiteral("b%1").arg(round));
        ours.push_back(runImport(a, file));
        theirs.push_back(runIsql(b, sysScript, appScript));
        if (ours.back() < 0 || theirs.back() < 0 || !check(a, users, "import") || !check(b, users, "isql-fb"))
            return 1;
    }
    const double o = Median(ours), t = Median(theirs);
    std::printf("import of %d users with a class and provisioning, embedded (median of %d rounds)\n", users, rounds);
    std::printf("  import engine (read, snapshot, rows):        %8.1f ms\n", o);
    std::printf("  isql-fb (same statements and commits, 2 dbs): %8.1f ms\n", t);
    std::printf("  ratio: %.2f (goal <= 2)\n", o / t);
    for (int n : {10000, 100000}) {
        const double ms = matchNames(n);
        std::printf("name matching, %d names against %d users: %8.1f ms (%.2f us per name)\n", n, n, ms, ms * 1000 / n);
    }
    std::printf("database files on: %s\n", qPrintable(StorageOf(dir.path())));
    return 0;
}
