// The directory layer against the test slapd (Active-Directory-like schema, TLS from a test CA,
// a size limit of a few entries that only paging gets past).
#include "support/Slapd.h"
#include "support/TestEnv.h"

#include "core/Config.h"
#include "core/Directory.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What the program logs while alive.
class LogCapture {
public:
    LogCapture() { s_self = this, m_previous = qInstallMessageHandler(&handler); }
    ~LogCapture() { qInstallMessageHandler(m_previous), s_self = nullptr; }
    QStringList lines;

private:
    static void handler(QtMsgType, const QMessageLogContext& context, const QString& text)
    {
        if (s_self)
            s_self->lines << QString::fromUtf8(context.category) + QStringLiteral(": ") + text;
    }
    static inline LogCapture* s_self = nullptr;
    QtMessageHandler m_previous;
};

QStringList names(const QList<DomainAccount>& accounts)
{
    QStringList out;
    for (const DomainAccount& a : accounts)
        out << a.Name;
    out.sort();
    return out;
}

// A port on loopback that takes connections into its backlog and never answers them, or (not
// listening) refuses them.
class LoopbackPort {
public:
    explicit LoopbackPort(bool listening)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            ADD_FAILURE() << "no loopback port";
        m_port = ntohs(a.sin_port);
        if (listening)
            ::listen(m_fd, 4);
    }
    ~LoopbackPort() { ::close(m_fd); }
    QString uri() const { return QStringLiteral("ldap://127.0.0.1:%1").arg(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};

const DomainAccount* find(const QList<DomainAccount>& accounts, const QString& name)
{
    auto it = std::find_if(accounts.begin(), accounts.end(), [&](const DomainAccount& a) { return a.Name == name; });
    return it == accounts.end() ? nullptr : &*it;
}

} // namespace

TEST(DirectorySid, TextForm)
{
    struct Case {
        const char* name;
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {"domain user", SidBytes({21, 1004336348, 1177238915, 682003330, 1104}), QStringLiteral("S-1-5-21-1004336348-1177238915-682003330-1104")},
        {"parts above 2^31 stay unsigned", SidBytes({21, 3000000001, 4294967295, 2147483648u, 500}),
         QStringLiteral("S-1-5-21-3000000001-4294967295-2147483648-500")},
        {"well-known, one part", SidBytes({18}), QStringLiteral("S-1-5-18")},
        {"authority beyond 32 bits in hex", QByteArray::fromHex("0101010000000000") + QByteArray::fromHex("02000000"),
         QStringLiteral("S-1-0x010000000000-2")},
        {"count longer than the bytes", QByteArray::fromHex("0102000000000005") + QByteArray::fromHex("15000000"), QString()},
        {"too short", QByteArray::fromHex("010100"), QString()},
        {"empty", QByteArray(), QString()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SidToText(c.bytes), c.text) << c.name;
}

TEST(DirectorySettingsTest, ReadFromGatekeepIni)
{
    TempDir dir;
    {
        IniFile ini(dir.path(QStringLiteral("Gatekeep.ini")));
        ini.setValue(QStringLiteral("Directory"), QStringLiteral("URI"), QStringLiteral("ldaps://dc1.example.com ldaps://dc2.example.com"));
        ini.setValue(QStringLiteral("Directory"), QStringLiteral("Domain"), QStringLiteral("EXAMPLE"));
        ini.setValue(QStringLiteral("Directory"), QStringLiteral("StartTLS"), QStringLiteral("yes"));
        ini.setValue(QStringLiteral("Directory"), QStringLiteral("PageSize"), QStringLiteral("200"));
        ini.save();
    }
    const DirectorySettings s = ReadDirectorySettings(IniFile(dir.path(QStringLiteral("Gatekeep.ini"))));
    EXPECT_EQ(s.uri, QStringLiteral("ldaps://dc1.example.com ldaps://dc2.example.com"));
    EXPECT_EQ(s.domain, QStringLiteral("EXAMPLE"));
    EXPECT_TRUE(s.startTls);
    EXPECT_EQ(s.pageSize, 200);
    // What is not written: certificates checked, enabled user accounts only, the server's base.
    EXPECT_TRUE(s.requireCertificate);
    EXPECT_EQ(s.filter, kDefaultDirectoryFilter);
    EXPECT_TRUE(s.baseDn.isEmpty());
}

TEST(DirectoryPasswordFile, OnlyItsOwnerMayReadIt)
{
    TempDir dir;
    struct Case {
        const char* name;
        QByteArray text;
        int mode;
        QByteArray password; // null: refused
    };
    const Case cases[] = {
        {"0600, first line", "s3cret \"x\"\nsecond line\n", 0600, "s3cret \"x\""},
        {"0400, CR LF", "s3cret\r\n", 0400, "s3cret"},
        {"group may read", "s3cret\n", 0640, {}},
        {"others may read", "s3cret\n", 0604, {}},
        {"group may write", "s3cret\n", 0620, {}},
        {"empty", "\n", 0600, {}},
    };
    for (const Case& c : cases) {
        const QString path = SlapdBranch::writeFile(dir, QString::fromLatin1(c.name), c.text, c.mode);
        if (c.password.isNull()) {
            try {
                ReadBindPassword(path);
                ADD_FAILURE() << c.name << ": accepted";
            } catch (const DirectoryError& e) {
                EXPECT_TRUE(e.message().contains(path)) << c.name;
                EXPECT_FALSE(e.message().contains(QStringLiteral("s3cret"))) << c.name;
            }
        } else {
            EXPECT_EQ(ReadBindPassword(path), c.password) << c.name;
        }
    }
    EXPECT_THROW(ReadBindPassword(dir.path(QStringLiteral("missing"))), DirectoryError);
}

TEST(DirectoryAccounts, EnabledUserAccountsPageByPage)
{
    SlapdBranch branch;
    TempDir dir;
    const QByteArray bigSid = SidBytes({21, 3000000001, 4000000002, 2147483649u, 1105});
    branch.add({
        {QStringLiteral("ivan"), QStringLiteral("Иван Петров"), SidBytes({21, 1, 2, 3, 1101})},
        {QStringLiteral("nofull"), QString(), SidBytes({21, 1, 2, 3, 1102})},
        {QStringLiteral("disabled"), QStringLiteral("Disabled"), SidBytes({21, 1, 2, 3, 1103}), 514},
        {QStringLiteral("disabled-noexpire"), QStringLiteral("Disabled"), SidBytes({21, 1, 2, 3, 1104}), 66050},
        {QStringLiteral("noexpire"), QStringLiteral("Never Expires"), SidBytes({21, 1, 2, 3, 1106}), 66048},
        {QStringLiteral("big"), QStringLiteral("Big Sid"), bigSid},
        {QStringLiteral("nosid"), QStringLiteral("No Sid"), QByteArray()},
        {QString(), QStringLiteral("No Name"), SidBytes({21, 1, 2, 3, 1107})},
        {QStringLiteral("quote\"d"), QStringLiteral("Петър \"Пешо\" Петров"), SidBytes({21, 1, 2, 3, 1108})},
        {QStringLiteral("pc01$"), QStringLiteral("PC01"), SidBytes({21, 1, 2, 3, 1109}), 4096, true},
    });
    for (int i = 0; i < 6; ++i)
        branch.add({QStringLiteral("filler%1").arg(i), QString(), SidBytes({21, 1, 2, 3, 1200u + i})});

    LogCapture log;
    const QList<DomainAccount> accounts = ReadDomainAccounts(branch.settings(dir));
    // More than the server's size limit: the pages were followed to the end.
    EXPECT_GT(accounts.size(), qEnvironmentVariableIntValue("GATEKEEP_TEST_LDAP_SIZELIMIT"));
    EXPECT_EQ(names(accounts), (QStringList{QStringLiteral("big"), QStringLiteral("filler0"), QStringLiteral("filler1"),
                                            QStringLiteral("filler2"), QStringLiteral("filler3"), QStringLiteral("filler4"),
                                            QStringLiteral("filler5"), QStringLiteral("ivan"), QStringLiteral("noexpire"),
                                            QStringLiteral("nofull"), QStringLiteral("quote\"d")}));
    const DomainAccount* ivan = find(accounts, QStringLiteral("ivan"));
    ASSERT_TRUE(ivan);
    EXPECT_EQ(*ivan, (DomainAccount{QStringLiteral("GKTEST"), QStringLiteral("ivan"), QStringLiteral("S-1-5-21-1-2-3-1101"),
                                    QStringLiteral("Иван Петров")}));
    EXPECT_EQ(find(accounts, QStringLiteral("big"))->SID, QStringLiteral("S-1-5-21-3000000001-4000000002-2147483649-1105"));
    EXPECT_TRUE(find(accounts, QStringLiteral("nofull"))->FullName.isEmpty());
    EXPECT_EQ(find(accounts, QStringLiteral("quote\"d"))->FullName, QStringLiteral("Петър \"Пешо\" Петров"));
    EXPECT_TRUE(log.lines.join(QLatin1Char('\n')).contains(QStringLiteral("2 записа без objectSid или sAMAccountName")));
}

TEST(DirectoryAccounts, TheServersDefaultNamingContextIsTheBase)
{
    SlapdBranch branch;
    TempDir dir;
    DirectorySettings s = branch.settings(dir);
    s.baseDn.clear();
    EXPECT_EQ(ReadDefaultNamingContext(s), requireEnv("GATEKEEP_TEST_LDAP_BASE"));
    // And the whole directory is searched from there, over LDAPS this time.
    branch.add({QStringLiteral("found-from-root"), QString(), SidBytes({21, 9, 9, 9, 1000})});
    s.uri = requireEnv("GATEKEEP_TEST_LDAPS_URI");
    s.startTls = false;
    EXPECT_TRUE(find(ReadDomainAccounts(s), QStringLiteral("found-from-root")));
}

TEST(DirectoryAccounts, AFailureLeavesTheListEmptyAndItsReasonInTheLog)
{
    SlapdBranch branch;
    branch.add({QStringLiteral("ivan"), QStringLiteral("Иван Петров"), SidBytes({21, 1, 2, 3, 1101})});
    TempDir dir;
    const LoopbackPort silent(true);
    const LoopbackPort closed(false); // bound, so that no one else takes it meanwhile
    const QString silentUri = silent.uri();
    const QString closedUri = closed.uri();

    const QByteArray wrongPassword = "wrong-" + SlapdBranch::readerPassword().toUtf8();
    struct Case {
        const char* name;
        std::function<void(DirectorySettings&)> change;
        QString reason;
    };
    const Case cases[] = {
        {"wrong bind password",
         [&](DirectorySettings& s) { s.passwordFile = SlapdBranch::writeFile(dir, QStringLiteral("wrong.pw"), wrongPassword, 0600); },
         QStringLiteral("Invalid credentials")},
        {"password file others may read",
         [&](DirectorySettings& s) { s.passwordFile = SlapdBranch::writeFile(dir, QStringLiteral("open.pw"), wrongPassword, 0644); },
         QStringLiteral("chmod 600")},
        {"password over plain LDAP", [](DirectorySettings& s) { s.startTls = false; }, QStringLiteral("некриптирана")},
        {"certificate of an unknown authority",
         [](DirectorySettings& s) { s.caFile = requireEnv("GATEKEEP_TEST_LDAP_CA").replace(QStringLiteral("ca.pem"), QStringLiteral("other-ca.pem")); },
         QStringLiteral("StartTLS")},
        {"no such base", [](DirectorySettings& s) { s.baseDn = QStringLiteral("ou=none,") + s.baseDn; }, QStringLiteral("No such object")},
        {"server that never answers", [&](DirectorySettings& s) { s.uri = silentUri, s.networkTimeout = 1, s.searchTimeout = 1; },
         QStringLiteral("StartTLS")},
        {"nothing listening", [&](DirectorySettings& s) { s.uri = closedUri, s.networkTimeout = 1; }, QStringLiteral("Can't contact")},
        {"no domain configured", [](DirectorySettings& s) { s.domain.clear(); }, QStringLiteral("Domain")},
        {"no URI configured", [](DirectorySettings& s) { s.uri.clear(); }, QStringLiteral("URI")},
    };
    for (const Case& c : cases) {
        DirectorySettings s = branch.settings(dir);
        c.change(s);
        LogCapture log;
        const TADomainUserInfo info(QStringLiteral("gktest"), s);
        EXPECT_EQ(info.count(), 0) << c.name;
        EXPECT_TRUE(info.error().contains(c.reason)) << c.name << ": " << info.error().toStdString();
        const QString logged = log.lines.join(QLatin1Char('\n'));
        EXPECT_TRUE(logged.contains(info.error())) << c.name;
        EXPECT_FALSE(logged.contains(QString::fromUtf8(wrongPassword))) << c.name;
        EXPECT_FALSE(logged.contains(SlapdBranch::readerPassword())) << c.name;
    }

    // The same settings with the right password read the account, under any case of the domain.
    const TADomainUserInfo info(QStringLiteral("gktest"), branch.settings(dir));
    ASSERT_EQ(info.count(), 1) << info.error().toStdString();
    EXPECT_EQ(info.displayName(0), QStringLiteral("Иван Петров"));
}
