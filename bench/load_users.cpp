// LoadUserList against the raw yardstick (RawUsers.cpp: the same query on the Firebird OO API
// into plain arrays, names decoded, sorted without regard to case), in the same run, on an
// embedded system database of N users (100,000 unless given: `bench_load_users 1000000`; a
// folder given after it holds the database, to be measured on other storage, and keeps it).
// Every tenth user has a 1 KB certificate, every third remote access, every twentieth a domain
// account. Each measurement runs in a process of its own, so that its memory is its own; the
// two sides alternate and the times are medians. Checked: both give N rows and the first and
// last full names that the generated names give. Memory: heap held by the loaded list, from
// glibc's mallinfo2 (in use + mmapped) before and after the load, and the growth of the peak
// resident size over the resident size before the load; both per user.
#include "RawUsers.h"
#include "Report.h"

#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"
#include "users/UserRights.h"

#include "db/Cp1251.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "RawAttach.h"

#include <firebird/Interface.h>
#include <firebird/Message.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

const QString kSql = QStringLiteral("select User_id,user_rnm,user_fnm,user_flags,user_expdate,user_domainuser, user_domainname, "
                                    "user_domainsid, User_FPW, user_cert from users where user_id >0");

QString fullName(int i)
{
    static const char16_t* first[] = {u"Иван", u"Петър", u"Мария", u"Анна", u"Георги", u"Елена", u"Стоян", u"Цветана", u"Bojan", u"Яна"};
    static const char16_t* family[] = {u"Петров", u"Иванова", u"Георгиев", u"Костова", u"Стоянов", u"Ангелова", u"Димитров", u"Христова",
                                       u"Nikolov", u"Тодоров"};
    QString name = QString::fromUtf16(first[i % 10]) + QLatin1Char(' ') + QString::fromUtf16(family[(i / 10) % 10]) +
                   QStringLiteral(" %1").arg((i * 7919) % 1000003);
    // Some written in lower case, so that the order has to ignore case.
    return i % 7 == 3 ? name.toLower() : name;
}

long statusKb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(static_cast<qsizetype>(std::strlen(key))).trimmed().split(' ').first().toLong();
    return 0;
}

size_t heapInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void fill(const QString& path, int users)
{
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper st(master->getStatus());
    IAttachment* att = AttachEmbeddedRaw(st, path);
    ITransaction* tra = att->startTransaction(&st, 0, nullptr);
    FB_MESSAGE(In, ThrowStatusWrapper,
               (FB_VARCHAR(72), rnm)(FB_VARCHAR(72), fnm)(FB_VARCHAR(72), fpw)(FB_VARCHAR(20), flags)(FB_TIMESTAMP, expdate)
               (FB_VARCHAR(240), domainName)(FB_VARCHAR(240), domainUser)(FB_BLOB, cert))
    in(&st, master);
    const char* insert = "insert into users (user_rnm, user_fnm, user_fpw, user_flags, user_expdate, user_domainname, "
                         "user_domainuser, user_cert) values (?, ?, ?, ?, ?, ?, ?, ?)";
    IStatement* stmt = att->prepare(&st, tra, 0, insert, 1, 0);
    const QByteArray cert(1024, 'c');
    const auto set = [](auto& field, const QString& text) { field.set(cp1251::encode(text).constData()); };
    for (int i = 0; i < users; ++i) {
        in.clear();
        set(in->rnm, EncodeStoredText(fullName(i)));
        set(in->fnm, EncodeStoredText(QStringLiteral("user%1").arg(i)));
        set(in->fpw, EncodeStoredText(QStringLiteral("pw%1").arg(i)));
        const bool remote = i % 3 == 0;
        set(in->flags, QString(remote ? QStringLiteral("T") : QStringLiteral("F")) + QString(19, QLatin1Char('0')));
        in->expdateNull = !remote;
        if (remote)
            in->expdate.date.encode(master->getUtilInterface(), 2030, 1 + i % 12, 1 + i % 28);
        in->domainNameNull = in->domainUserNull = i % 20 != 0;
        if (i % 20 == 0) {
            in->domainName.set("CORP");
            set(in->domainUser, QStringLiteral("user%1").arg(i));
        }
        in->certNull = i % 10 != 0;
        if (i % 10 == 0) {
            IBlob* blob = att->createBlob(&st, tra, &in->cert, 0, nullptr);
            blob->putSegment(&st, static_cast<unsigned>(cert.size()), cert.constData());
            blob->close(&st);
        }
        stmt->execute(&st, tra, in.getMetadata(), in.getData(), nullptr, nullptr);
    }
    stmt->free(&st);
    tra->commit(&st);
    att->detach(&st);
    st.dispose();
}

// One side, in this process: prints "key value" lines.
int measure(const QString& mode, const QString& path)
{
    if (mode == QLatin1String("raw")) {
        const size_t heapBefore = heapInUse();
        const RawUsers r = LoadUsersRaw(path, kSql);
        std::printf("ms %.1f\nrows %zu\nfirst %s\nlast %s\nheap %zu\narrays %zu\n", r.ms, r.rows, r.firstName.toUtf8().constData(),
                    r.lastName.toUtf8().constData(), heapInUse() - heapBefore, r.dataBytes);
    } else {
        TDM dm;
        SetStartupConnection(dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
        dm.db_Sys.connect();
        TfrmUserRights window(dm);
        const long rssReady = statusKb("VmRSS:");
        const size_t heapBefore = heapInUse();
        QElapsedTimer t;
        t.start();
        window.LoadUserList(0);
        const double ms = t.nsecsElapsed() / 1e6;
        const size_t heap = heapInUse() - heapBefore;
        TMemDataSet& users = window.tblUsers;
        const int rnm = users.fieldIndex(QStringLiteral("USER_RNM"));
        const int n = users.recordCount();
        std::printf("ms %.1f\nrows %d\nfirst %s\nlast %s\nheap %zu\npeak %ld\n", ms, n, users.textAt(0, rnm).toUtf8().constData(),
                    users.textAt(n - 1, rnm).toUtf8().constData(), heap, (statusKb("VmHWM:") - rssReady) * 1024);
        // A certificate is there when asked for.
        const int cert = users.fieldIndex(QStringLiteral("USER_CERT"));
        int certRow = 0;
        while (certRow < n && users.isNull(users.sourceRowAt(certRow), cert))
            ++certRow;
        std::printf("cert %lld\n", certRow < n ? static_cast<long long>(users.valueAt(certRow, cert).toByteArray().size()) : -1LL);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--measure"))
        return measure(args[2], args[3]);
    const int users = args.size() > 1 ? args[1].toInt() : 100000;
    if (users <= 0 || args.size() > 3) {
        std::fprintf(stderr, "usage: bench_load_users [users [folder for the database, kept afterwards]]\n");
        return 2;
    }
    const int runs = users > 300000 ? 3 : 5;

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

    // What the two sides must give: the case-folded smallest and largest full names.
    QString first = fullName(0), last = first;
    for (int i = 1; i < users; ++i) {
        const QString name = fullName(i);
        const QString folded = name.toCaseFolded();
        if (QString::compare(folded, first.toCaseFolded()) < 0)
            first = name;
        if (QString::compare(folded, last.toCaseFolded()) > 0)
            last = name;
    }

    std::map<QString, std::vector<double>> ms;
    std::map<QString, std::map<QString, QString>> lastRun;
    bool ok = true;
    for (int run = 0; run < runs; ++run) {
        for (const QString& mode : {QStringLiteral("raw"), QStringLiteral("load")}) {
            std::map<QString, QString> out = MeasureInChild(mode, path);
            if (out.empty())
                return 1;
            ms[mode].push_back(out[QStringLiteral("ms")].toDouble());
            const auto check = [&](const char* what, const QString& got, const QString& want) {
                if (got != want) {
                    std::fprintf(stderr, "%s: %s is \"%s\", expected \"%s\"\n", qPrintable(mode), what, qPrintable(got), qPrintable(want));
                    ok = false;
                }
            };
            check("rows", out[QStringLiteral("rows")], QString::number(users));
            check("first full name", out[QStringLiteral("first")], first);
            check("last full name", out[QStringLiteral("last")], last);
            if (mode == QLatin1String("load"))
                check("certificate size", out[QStringLiteral("cert")], QStringLiteral("1024"));
            lastRun[mode] = out;
        }
    }

    const double raw = Median(ms[QStringLiteral("raw")]);
    const double load = Median(ms[QStringLiteral("load")]);
    auto perUser = [&](const QString& mode, const char* key) { return lastRun[mode][QString::fromLatin1(key)].toDouble() / users; };
    std::printf("users: %d (database filled in %.0f s), %d runs of each side\n", users, fillSeconds, runs);
    std::printf("database file on: %s\n", qPrintable(StorageOf(path)));
    std::printf("raw yardstick (OO API, plain arrays, decode, sort): %.0f ms median, arrays %.0f B/user\n", raw,
                perUser(QStringLiteral("raw"), "arrays"));
    std::printf("LoadUserList (fetch, decode, sort, row change):   %.0f ms median\n", load);
    std::printf("time ratio LoadUserList / raw: %.2f\n", load / raw);
    std::printf("heap held by the list (mallinfo2 in use + mmapped, after - before): %.0f B/user\n", perUser(QStringLiteral("load"), "heap"));
    std::printf("peak resident growth during the load (VmHWM after - VmRSS before): %.0f B/user\n", perUser(QStringLiteral("load"), "peak"));
    std::printf("checks (rows, first and last names, a certificate read on demand): %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
