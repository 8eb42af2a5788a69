#include "Slapd.h"

#include <QFile>
#include <QUuid>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/stat.h>

#define LDAP_DEPRECATED 0
#include <ldap.h>

#include <memory>
#include <vector>

namespace {

struct Unbind {
    void operator()(LDAP* ld) const { ldap_unbind_ext_s(ld, nullptr, nullptr); }
};

// The directory's administrator, over StartTLS with the test CA.
std::unique_ptr<LDAP, Unbind> admin()
{
    qputenv("LDAPNOINIT", "1");
    const QByteArray uri = requireEnv("GATEKEEP_TEST_LDAP_URI").toUtf8();
    LDAP* raw = nullptr;
    if (ldap_initialize(&raw, uri.constData()) != LDAP_SUCCESS)
        throw std::runtime_error("ldap_initialize");
    std::unique_ptr<LDAP, Unbind> ld(raw);
    const int version = LDAP_VERSION3;
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    const QByteArray ca = requireEnv("GATEKEEP_TEST_LDAP_CA").toUtf8();
    ldap_set_option(raw, LDAP_OPT_X_TLS_CACERTFILE, ca.constData());
    const int client = 0;
    ldap_set_option(raw, LDAP_OPT_X_TLS_NEWCTX, &client);
    int rc = ldap_start_tls_s(raw, nullptr, nullptr);
    if (rc != LDAP_SUCCESS)
        throw std::runtime_error(std::string("StartTLS: ") + ldap_err2string(rc));
    const QByteArray dn = requireEnv("GATEKEEP_TEST_LDAP_ADMIN_DN").toUtf8();
    QByteArray pw = requireEnv("GATEKEEP_TEST_LDAP_ADMIN_PASSWORD").toUtf8();
    berval cred{static_cast<ber_len_t>(pw.size()), pw.data()};
    rc = ldap_sasl_bind_s(raw, dn.constData(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    if (rc != LDAP_SUCCESS)
        throw std::runtime_error(std::string("bind: ") + ldap_err2string(rc));
    return ld;
}

// Attribute values kept alive for one ldap_add_ext_s.
class Entry {
public:
    void add(const char* type, const QByteArray& value)
    {
        if (value.isNull())
            return;
        m_values.push_back(std::make_unique<QByteArray>(value));
        m_bervals.push_back(std::make_unique<berval>(berval{static_cast<ber_len_t>(m_values.back()->size()), m_values.back()->data()}));
        m_lists.push_back(std::make_unique<berval*[]>(2));
        m_lists.back()[0] = m_bervals.back().get();
        m_lists.back()[1] = nullptr;
        m_mods.push_back(std::make_unique<LDAPMod>());
        LDAPMod* m = m_mods.back().get();
        m->mod_op = LDAP_MOD_ADD | LDAP_MOD_BVALUES;
        m->mod_type = const_cast<char*>(type);
        m->mod_bvalues = m_lists.back().get();
    }
    void write(LDAP* ld, const QString& dn)
    {
        std::vector<LDAPMod*> mods;
        for (auto& m : m_mods)
            mods.push_back(m.get());
        mods.push_back(nullptr);
        const int rc = ldap_add_ext_s(ld, dn.toUtf8().constData(), mods.data(), nullptr, nullptr);
        if (rc != LDAP_SUCCESS)
            throw std::runtime_error(std::string("add ") + dn.toStdString() + ": " + ldap_err2string(rc));
    }

private:
    std::vector<std::unique_ptr<QByteArray>> m_values;
    std::vector<std::unique_ptr<berval>> m_bervals;
    std::vector<std::unique_ptr<berval*[]>> m_lists;
    std::vector<std::unique_ptr<LDAPMod>> m_mods;
};

void deleteTree(LDAP* ld, const QByteArray& dn)
{
    const char* attrs[] = {"1.1", nullptr};
    LDAPMessage* res = nullptr;
    if (ldap_search_ext_s(ld, dn.constData(), LDAP_SCOPE_ONELEVEL, "(objectClass=*)", const_cast<char**>(attrs), 0, nullptr,
                          nullptr, nullptr, LDAP_NO_LIMIT, &res) == LDAP_SUCCESS) {
        for (LDAPMessage* e = ldap_first_entry(ld, res); e; e = ldap_next_entry(ld, e)) {
            char* child = ldap_get_dn(ld, e);
            deleteTree(ld, QByteArray(child));
            ldap_memfree(child);
        }
    }
    ldap_msgfree(res);
    ldap_delete_ext_s(ld, dn.constData(), nullptr, nullptr);
}

} // namespace

QByteArray SidBytes(const QList<quint32>& subs)
{
    QByteArray b;
    b.append(char(1)).append(char(subs.size()));
    b.append(QByteArray::fromHex("000000000005"));
    for (quint32 s : subs) {
        char le[4];
        qToLittleEndian(s, le);
        b.append(le, 4);
    }
    return b;
}

SlapdBranch::SlapdBranch()
{
    const QString id = QStringLiteral("t") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    m_dn = QStringLiteral("ou=%1,%2").arg(id, requireEnv("GATEKEEP_TEST_LDAP_BASE"));
    auto ld = admin();
    Entry e;
    e.add("objectClass", "organizationalUnit");
    e.add("ou", id.toUtf8());
    e.write(ld.get(), m_dn);
}

SlapdBranch::~SlapdBranch()
{
    try {
        auto ld = admin();
        deleteTree(ld.get(), m_dn.toUtf8());
    } catch (const std::exception&) {
    }
}

void SlapdBranch::add(const TestAccount& a) { add(QList<TestAccount>{a}); }

void SlapdBranch::add(const QList<TestAccount>& accounts)
{
    auto ld = admin();
    int n = 0;
    for (const TestAccount& a : accounts) {
        const QString cn = QStringLiteral("a%1-%2").arg(n++).arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
        Entry e;
        e.add("objectClass", a.computer ? "computer" : "user");
        e.add("cn", cn.toUtf8());
        e.add("sn", cn.toUtf8());
        if (!a.name.isEmpty())
            e.add("sAMAccountName", a.name.toUtf8());
        if (!a.displayName.isEmpty())
            e.add("displayName", a.displayName.toUtf8());
        if (!a.sid.isEmpty())
            e.add("objectSid", a.sid);
        e.add("sAMAccountType", a.computer ? "805306369" : "805306368");
        e.add("userAccountControl", QByteArray::number(a.userAccountControl));
        e.write(ld.get(), QStringLiteral("cn=%1,%2").arg(cn, m_dn));
    }
}

QString SlapdBranch::writeFile(const TempDir& dir, const QString& name, const QByteArray& text, int mode)
{
    const QString path = dir.path(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        throw std::runtime_error("cannot write " + path.toStdString());
    f.close();
    ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode));
    return path;
}

DirectorySettings SlapdBranch::settings(const TempDir& dir) const
{
    DirectorySettings s;
    s.uri = requireEnv("GATEKEEP_TEST_LDAP_URI");
    s.startTls = true;
    s.caFile = requireEnv("GATEKEEP_TEST_LDAP_CA");
    s.baseDn = m_dn;
    s.bindDn = requireEnv("GATEKEEP_TEST_LDAP_BIND_DN");
    s.passwordFile = writeFile(dir, QStringLiteral("bind.pw"), readerPassword().toUtf8() + '\n', 0600);
    s.domain = QStringLiteral("GKTEST");
    s.networkTimeout = 5;
    s.searchTimeout = 5;
    return s;
}
