// The two user export files for N users (10,000 unless given: `bench_export 50000`) with rights in
// five applications each, on an embedded system database, against the bare fetch of the same rows
// through the db layer (every column of every row read as a value, nothing built):
// - XML: "select * from users" and the rights with their application and class names, against
//   UsersXmlDocument and its file;
// - text: the applications with their classes and the rights, against UsersTextDocument of all
//   listed users and its file (the list, which the users window holds already, is read before).
// Every tenth user has a 1 KB certificate. Each measurement runs in a process of its own, so that
// its peak memory is its own; the sides alternate and the times are medians. Checked: the XML
// file holds N+1 User elements (one user has id 0) and 5 application attributes each (6 with
// AMod21), the text file 5 lines per listed user.
#include "Report.h"

#include "core/StoredText.h"
#include "core/SqlOps.h"
#include "maint/Demo.h"
#include "users/ExportUsers.h"

#include "db/Database.h"
#include "db/Query.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <map>
#include <vector>

namespace {

const QString kUsersList = QStringLiteral("select user_id, user_fnm, user_rnm from users where user_id > 0");
const QString kRights = QStringLiteral(
    "select links.lnk_usr, applications.apl_name, class.class_nm from links left join class on class.class_idx = links.lnk_class "
    "left join applications on applications.apl_id = links.lnk_aplid");
const QString kApplications = QStringLiteral("Select * from applications left join Class on Class_aplidx=apl_id");
const QString kLinks = QStringLiteral("select lnk_usr, lnk_aplid, lnk_class from links");

struct App {
    int id;
    const char* name;
    const char* classes[3];
};
const App kApps[] = {
    {1, "Gatekeep", {"admnSupervisor", "User2", "User3"}},
    {2, "Mod02", {"User1", "User2", "User3"}},
    {3, "Mod03", {"User1", "User2", "User4"}},
    {5, "Mod05", {"User3", "User4", "User1"}},
    {11, "Mod11", {"User6", "User1", "User2"}},
};

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

QString fullName(int i)
{
    static const char16_t* first[] = {u"Иван", u"Петър", u"Мария", u"Анна", u"Георги", u"Елена", u"Стоян", u"Цветана", u"Bojan", u"Яна"};
    static const char16_t* family[] = {u"Петров", u"Иванова", u"Георгиев", u"Костова", u"Стоянов", u"Ангелова", u"Димитров", u"Христова",
                                       u"Nikolov", u"Тодоров"};
    return QString::fromUtf16(first[i % 10]) + QLatin1Char(' ') + QString::fromUtf16(family[(i / 10) % 10]) + QStringLiteral(" %1").arg(i);
}

void connect(db::Database& d, const QString& path)
{
    SetStartupConnection(d, QStringLiteral("SYSCREAT"), QString(), path);
    d.connect();
}

void run(db::Database& d, const QString& sql)
{
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    q.execSql();
}

// Statements in blocks of 40 users (240 inserts; a block may name 256 tables): a prepare per row
// would take longer than the exports.
void fill(const QString& path, int users)
{
    db::Database d;
    connect(d, path);
    db::Transaction t(d);
    for (const App& a : kApps) {
        run(d, QStringLiteral("insert into applications (apl_id, apl_name, apl_state) values (%1, %2, 'Active')").arg(a.id).arg(lit(EncodeStoredText(QLatin1String(a.name)))));
        for (int c = 0; c < 3; ++c)
            run(d, QStringLiteral("insert into class (class_idx, class_aplidx, class_nm) values (%1, %2, %3)")
                       .arg(a.id * 10 + c)
                       .arg(a.id)
                       .arg(lit(EncodeStoredText(QLatin1String(a.classes[c])))));
    }
    const QString cert = QString(1024, QLatin1Char('c'));
    QString block;
    int inBlock = 0;
    for (int i = 0; i < users; ++i) {
        const int id = i; // one user has id 0, which only the XML document carries
        block += QStringLiteral("insert into users (user_id, user_rnm, user_fnm, user_fpw, user_domainuser, user_domainname, user_cert) "
                                "values (%1, %2, %3, %4, %5, %6, %7);\n")
                     .arg(id)
                     .arg(lit(EncodeStoredText(fullName(i))), lit(EncodeStoredText(QStringLiteral("user%1").arg(i))),
                          lit(EncodeStoredText(QStringLiteral("Пар%1").arg(i))),
                          i % 20 == 0 ? lit(QStringLiteral("user%1").arg(i)) : QStringLiteral("null"),
                          i % 20 == 0 ? QStringLiteral("'CORP'") : QStringLiteral("null"), i % 10 == 0 ? lit(cert) : QStringLiteral("null"));
        for (const App& a : kApps)
            block += QStringLiteral("insert into links (lnk_usr, lnk_aplid, lnk_class) values (%1, %2, %3);\n").arg(id).arg(a.id).arg(a.id * 10 + i % 3);
        if (++inBlock == 40 || i == users - 1) {
            run(d, QStringLiteral("execute block as begin\n") + block + QStringLiteral("end"));
            block.clear();
            inBlock = 0;
        }
    }
    t.commit();
}

// Reads every value of every row.
qint64 fetchAll(db::Database& d, const QString& sql)
{
    db::Query q(&d);
    q.setParamCheck(false);
    q.setSql(sql);
    qint64 touched = 0;
    for (q.open(); !q.eof(); q.next())
        for (int i = 0; i < q.fieldCount(); ++i)
            touched += q.field(i).value().isValid();
    return touched;
}

// CPU time of the process, all threads (the embedded engine's too): less shaken than the clock on a
// shared machine.
double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

QList<ExportListUser> listUsers(db::Database& d)
{
    QList<ExportListUser> users;
    db::Query q(&d);
    q.setSql(kUsersList);
    for (q.open(); !q.eof(); q.next())
        users.append({q.field(0).asInteger(), DecodeStoredText(q.field(1).asString()), DecodeStoredText(q.field(2).asString())});
    return users;
}

// One side, in this process: prints "key value" lines.
int measure(const QString& mode, const QString& path)
{
    db::Database d;
    connect(d, path);
    const QString out = QFileInfo(path).dir().filePath(mode + QStringLiteral(".out"));
    // The window holds its list already; the export reads only the rights.
    const QList<ExportListUser> users = mode == QLatin1String("text") ? listUsers(d) : QList<ExportListUser>();
    QElapsedTimer t;
    const double cpuStart = CpuMs();
    t.start();
    qint64 size = 0;
    if (mode == QLatin1String("fetch-xml")) {
        db::Transaction tr(d);
        size = fetchAll(d, QStringLiteral("select * from users")) + fetchAll(d, kRights);
        tr.commit();
    } else if (mode == QLatin1String("xml")) {
        const QByteArray doc = UsersXmlDocument(d, true);
        WriteExportFile(out, doc);
        size = doc.size();
    } else if (mode == QLatin1String("fetch-text")) {
        db::Transaction tr(d);
        size = fetchAll(d, kApplications) + fetchAll(d, kLinks);
        tr.commit();
    } else {
        const QByteArray doc = UsersTextDocument(d, users, nullptr);
        WriteExportFile(out, doc);
        size = doc.size();
    }
    const double ms = t.nsecsElapsed() / 1e6;
    std::printf("ms %.1f\ncpu %.1f\nsize %lld\npeak %ld\n", ms, CpuMs() - cpuStart, static_cast<long long>(size), PeakResidentKb());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--measure"))
        return measure(args[2], args[3]);
    const int users = args.size() > 1 ? args[1].toInt() : 10000;
    if (users <= 0 || args.size() > 3) {
        std::fprintf(stderr, "usage: bench_export [users [folder for the database, kept afterwards]]\n");
        return 2;
    }
    constexpr int kRuns = 5;

    QTemporaryDir temporary;
    const QString folder = args.size() > 2 ? args[2] : temporary.path();
    const QString path = NewDatabasePath(folder);
    if (path.isEmpty())
        return 2;
    QElapsedTimer t;
    t.start();
    CreateCurrentSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
    fill(path, users);
    const double fillSeconds = t.elapsed() / 1000.0;

    const QStringList modes = {QStringLiteral("fetch-xml"), QStringLiteral("xml"), QStringLiteral("fetch-text"), QStringLiteral("text")};
    std::map<QString, std::vector<double>> ms, cpu;
    std::map<QString, long> peak;
    for (int r = 0; r < kRuns; ++r)
        for (const QString& mode : modes) {
            std::map<QString, QString> out = MeasureInChild(mode, path);
            if (out.empty())
                return 1;
            ms[mode].push_back(out[QStringLiteral("ms")].toDouble());
            cpu[mode].push_back(out[QStringLiteral("cpu")].toDouble());
            peak[mode] = std::max(peak[mode], out[QStringLiteral("peak")].toLong());
        }

    // What the files must hold.
    const QString dir = QFileInfo(path).dir().path();
    const QByteArray xml = [&] {
        QFile f(dir + QStringLiteral("/xml.out"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const QByteArray text = [&] {
        QFile f(dir + QStringLiteral("/text.out"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    const qsizetype userElements = xml.count("<User ");
    const qsizetype attributes = xml.count(" AHUB=") + xml.count(" AMod02=") + xml.count(" AMod03=") + xml.count(" AMod21=") +
                                 xml.count(" AMod05=") + xml.count(" AMod22=");
    const bool ok = userElements == users && attributes == 6LL * users && text.count("\r\n") == 5LL * (users - 1);

    const double fx = Median(ms[QStringLiteral("fetch-xml")]), x = Median(ms[QStringLiteral("xml")]);
    const double ft = Median(ms[QStringLiteral("fetch-text")]), tx = Median(ms[QStringLiteral("text")]);
    std::printf("users: %d with rights in %zu applications each (database filled in %.0f s), %d runs of each side\n", users,
                std::size(kApps), fillSeconds, kRuns);
    std::printf("database file on: %s\n", qPrintable(StorageOf(path)));
    const auto cpuOf = [&](const char* mode) { return Median(cpu[QLatin1String(mode)]); };
    std::printf("XML:  bare fetch %.0f ms, export %.0f ms (%.1f MB), ratio %.2f; CPU %.0f ms against %.0f ms, ratio %.2f\n", fx, x,
                xml.size() / 1e6, x / fx, cpuOf("xml"), cpuOf("fetch-xml"), cpuOf("xml") / cpuOf("fetch-xml"));
    std::printf("text: bare fetch %.0f ms, export %.0f ms (%.1f MB), ratio %.2f; CPU %.0f ms against %.0f ms, ratio %.2f\n", ft, tx,
                text.size() / 1e6, tx / ft, cpuOf("text"), cpuOf("fetch-text"), cpuOf("text") / cpuOf("fetch-text"));
    std::printf("peak resident size of the process, KiB: fetch-xml %ld, xml %ld, fetch-text %ld, text %ld\n", peak[QStringLiteral("fetch-xml")],
                peak[QStringLiteral("xml")], peak[QStringLiteral("fetch-text")], peak[QStringLiteral("text")]);
    std::printf("checks (User elements, application attributes, text lines): %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
