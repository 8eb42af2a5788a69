// Listing the accounts of a domain (ReadDomainAccounts: StartTLS, bind, paged search, SIDs to
// text) against `ldapsearch` of the same entries with the same filter, attributes and page size,
// in the same run, on the test slapd of scripts/test-servers (its size limit forces paging).
// N accounts (10,000 unless given: `bench_directory 50000`) are added under a branch of their
// own, removed at the end. The two sides alternate five times; times are medians. Checked: both
// see N entries.
#include "Report.h"

#include "core/Directory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString env(const char* name)
{
    const QString v = qEnvironmentVariable(name);
    if (v.isEmpty()) {
        std::fprintf(stderr, "%s is not set: start the test servers (scripts/test-servers start DIR; . DIR/env)\n", name);
        std::exit(2);
    }
    return v;
}

QProcessEnvironment toolEnv()
{
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove(QStringLiteral("LDAPNOINIT")); // the tools take the CA from the environment
    e.insert(QStringLiteral("LDAPTLS_CACERT"), env("GATEKEEP_TEST_LDAP_CA"));
    return e;
}

QByteArray run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.setProcessEnvironment(toolEnv());
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(-1);
    if (p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
        std::exit(1);
    }
    return p.readAllStandardOutput();
}

QStringList adminArgs()
{
    return {QStringLiteral("-x"), QStringLiteral("-ZZ"), QStringLiteral("-H"), env("GATEKEEP_TEST_LDAP_URI"), QStringLiteral("-D"),
            env("GATEKEEP_TEST_LDAP_ADMIN_DN"), QStringLiteral("-w"), env("GATEKEEP_TEST_LDAP_ADMIN_PASSWORD")};
}

QByteArray ldif(const QString& branch, int n)
{
    QByteArray out = "dn: " + branch.toUtf8() + "\nobjectClass: organizationalUnit\nou: " + branch.section(',', 0, 0).mid(3).toUtf8() + "\n\n";
    for (int i = 0; i < n; ++i) {
        QByteArray sid = QByteArray::fromHex("010500000000000515000000");
        for (quint32 part : {quint32(3000000001u), quint32(4000000002u), quint32(12345), quint32(1000 + i)}) {
            char le[4];
            qToLittleEndian(part, le);
            sid.append(le, 4);
        }
        const QByteArray name = "user" + QByteArray::number(i);
        out += "dn: cn=" + name + "," + branch.toUtf8() + "\nobjectClass: user\ncn: " + name + "\nsn: " + name +
               "\nsAMAccountName: " + name + "\ndisplayName:: " + QStringLiteral("Потребител %1").arg(i).toUtf8().toBase64() +
               "\nsAMAccountType: 805306368\nuserAccountControl: " + (i % 10 == 9 ? "514" : "512") +
               "\nobjectSid:: " + sid.toBase64() + "\n\n";
    }
    return out;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qputenv("LDAPNOINIT", "1");
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const QString branch = QStringLiteral("ou=bench-%1,%2").arg(QUuid::createUuid().toString(QUuid::Id128).left(8), env("GATEKEEP_TEST_LDAP_BASE"));

    QTemporaryDir tmp;
    const QString pwFile = tmp.filePath(QStringLiteral("bind.pw"));
    {
        QFile f(pwFile);
        f.open(QIODevice::WriteOnly);
        f.write(env("GATEKEEP_TEST_LDAP_BIND_PASSWORD").toUtf8());
        f.close();
    }
    ::chmod(QFile::encodeName(pwFile).constData(), 0600);

    QElapsedTimer fillTime;
    fillTime.start();
    run(QStringLiteral("ldapadd"), adminArgs(), ldif(branch, n));
    std::printf("%d accounts (every tenth disabled) added in %.1f s\n", n, fillTime.elapsed() / 1000.0);

    DirectorySettings s;
    s.uri = env("GATEKEEP_TEST_LDAP_URI");
    s.startTls = true;
    s.caFile = env("GATEKEEP_TEST_LDAP_CA");
    s.baseDn = branch;
    s.bindDn = env("GATEKEEP_TEST_LDAP_BIND_DN");
    s.passwordFile = pwFile;
    s.domain = QStringLiteral("BENCH");
    const int expected = n - n / 10;

    const QStringList searchArgs{QStringLiteral("-x"), QStringLiteral("-ZZ"), QStringLiteral("-LLL"), QStringLiteral("-H"), s.uri,
                                 QStringLiteral("-D"), s.bindDn, QStringLiteral("-y"), pwFile, QStringLiteral("-b"), branch,
                                 QStringLiteral("-E"), QStringLiteral("pr=%1/noprompt").arg(s.pageSize), s.filter,
                                 QStringLiteral("sAMAccountName"), QStringLiteral("displayName"), QStringLiteral("objectSid")};
    std::vector<double> ours, tool;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer t;
        t.start();
        const QList<DomainAccount> accounts = ReadDomainAccounts(s);
        ours.push_back(t.nsecsElapsed() / 1e6);
        t.start();
        const QByteArray out = run(QStringLiteral("ldapsearch"), searchArgs);
        tool.push_back(t.nsecsElapsed() / 1e6);
        const int seen = static_cast<int>(out.count("\ndn: ") + (out.startsWith("dn: ") ? 1 : 0));
        if (accounts.size() != expected || seen != expected) {
            std::fprintf(stderr, "expected %d accounts; ReadDomainAccounts %lld, ldapsearch %d\n", expected,
                         static_cast<long long>(accounts.size()), seen);
            return 1;
        }
    }
    run(QStringLiteral("ldapdelete"), adminArgs() + QStringList{QStringLiteral("-r"), branch});

    std::printf("listing %d enabled accounts of %d, page size %d, over StartTLS (medians of 5):\n", expected, n, s.pageSize);
    std::printf("  ReadDomainAccounts  %8.1f ms\n", median(ours));
    std::printf("  ldapsearch          %8.1f ms   (a process of its own, text output)\n", median(tool));
    std::printf("  ratio               %8.2f\n", median(ours) / median(tool));
    std::printf("storage: the directory's files are slapd's (mdb, no sync); this process's temp folder: %s\n",
                qPrintable(StorageOf(tmp.path())));
    std::printf("peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
