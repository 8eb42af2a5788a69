#include "Directory.h"

#include "Config.h"

#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#define LDAP_DEPRECATED 0
#include <lber.h>
#include <ldap.h>

#include "db/LazyLibrary.h"

#include <memory>

Q_LOGGING_CATEGORY(lcDirectory, "gatekeep.directory")

namespace {

// libldap (with liblber) is opened when the directory is first read.
namespace ldapi {
db::LazyLibrary& lib()
{
    static db::LazyLibrary library(GK_LIBLDAP_SONAME);
    return library;
}
GK_LAZY_FUNCTION(lib(), ber_bvdup)
GK_LAZY_FUNCTION(lib(), ber_bvfree)
GK_LAZY_FUNCTION(lib(), ber_memfree)
GK_LAZY_FUNCTION(lib(), ber_memvfree)
GK_LAZY_FUNCTION(lib(), ldap_control_find)
GK_LAZY_FUNCTION(lib(), ldap_control_free)
GK_LAZY_FUNCTION(lib(), ldap_controls_free)
GK_LAZY_FUNCTION(lib(), ldap_create_page_control)
GK_LAZY_FUNCTION(lib(), ldap_err2string)
GK_LAZY_FUNCTION(lib(), ldap_first_entry)
GK_LAZY_FUNCTION(lib(), ldap_get_option)
GK_LAZY_FUNCTION(lib(), ldap_get_values_len)
GK_LAZY_FUNCTION(lib(), ldap_initialize)
GK_LAZY_FUNCTION(lib(), ldap_memfree)
GK_LAZY_FUNCTION(lib(), ldap_msgfree)
GK_LAZY_FUNCTION(lib(), ldap_next_entry)
GK_LAZY_FUNCTION(lib(), ldap_parse_pageresponse_control)
GK_LAZY_FUNCTION(lib(), ldap_parse_result)
GK_LAZY_FUNCTION(lib(), ldap_sasl_bind_s)
GK_LAZY_FUNCTION(lib(), ldap_search_ext_s)
GK_LAZY_FUNCTION(lib(), ldap_set_option)
GK_LAZY_FUNCTION(lib(), ldap_start_tls_s)
GK_LAZY_FUNCTION(lib(), ldap_unbind_ext_s)
GK_LAZY_FUNCTION(lib(), ldap_value_free_len)
} // namespace ldapi


const QString kSection = QStringLiteral("Directory");

bool flag(const IniFile& ini, const QString& key, bool fallback)
{
    const QString v = ini.value(kSection, key).trimmed().toLower();
    if (v.isEmpty())
        return fallback;
    return v == QLatin1String("1") || v == QLatin1String("yes") || v == QLatin1String("true") || v == QLatin1String("on");
}

QStringList uris(const QString& text)
{
    static const QRegularExpression sep(QStringLiteral("[\\s,]+"));
    return text.split(sep, Qt::SkipEmptyParts);
}

struct LdapFree {
    void operator()(LDAP* ld) const { ldapi::ldap_unbind_ext_s(ld, nullptr, nullptr); }
    void operator()(LDAPMessage* m) const { ldapi::ldap_msgfree(m); }
    void operator()(LDAPControl* c) const { ldapi::ldap_control_free(c); }
    void operator()(LDAPControl** c) const { ldapi::ldap_controls_free(c); }
    void operator()(berval* b) const { ldapi::ber_bvfree(b); }
    void operator()(berval** v) const { ldapi::ldap_value_free_len(v); }
    void operator()(char* s) const { ldapi::ldap_memfree(s); }
    void operator()(char** v) const { ldapi::ber_memvfree(reinterpret_cast<void**>(v)); }
};
template <typename T>
using Owned = std::unique_ptr<T, LdapFree>;

// The server's words for a failure, with what it added, never anything we sent.
QString ldapReason(LDAP* ld, int rc)
{
    QString text = QString::fromUtf8(ldapi::ldap_err2string(rc));
    char* diag = nullptr;
    if (ld && ldapi::ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == LDAP_OPT_SUCCESS && diag) {
        Owned<char> own(diag);
        const QString more = QString::fromUtf8(diag).trimmed();
        if (!more.isEmpty())
            text += QStringLiteral(" (") + more + QLatin1Char(')');
    }
    return text;
}

// A bound connection to the first server of the list that answers.
class Connection {
public:
    explicit Connection(const DirectorySettings& s) : m_uri(s.uri)
    {
        const QStringList list = uris(s.uri);
        if (list.isEmpty())
            throw DirectoryError(QStringLiteral("Директорията не е настроена: няма URI в раздел [Directory] на Gatekeep.ini"));
        LDAP* raw = nullptr;
        int rc = ldapi::ldap_initialize(&raw, list.join(QLatin1Char(' ')).toUtf8().constData());
        m_ld.reset(raw);
        if (rc != LDAP_SUCCESS)
            fail(QStringLiteral("неправилен URI"), rc);

        const int version = LDAP_VERSION3;
        set(LDAP_OPT_PROTOCOL_VERSION, &version);
        // Active Directory refers to other domains' partitions; we read one domain only.
        set(LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
        timeval net{s.networkTimeout, 0};
        set(LDAP_OPT_NETWORK_TIMEOUT, &net);
        timeval api{s.searchTimeout, 0};
        set(LDAP_OPT_TIMEOUT, &api);
        const int limit = s.searchTimeout;
        set(LDAP_OPT_TIMELIMIT, &limit);

        if (!s.caFile.isEmpty())
            set(LDAP_OPT_X_TLS_CACERTFILE, s.caFile.toUtf8().constData());
        const int demand = s.requireCertificate ? LDAP_OPT_X_TLS_DEMAND : LDAP_OPT_X_TLS_NEVER;
        set(LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
        const int client = 0;
        set(LDAP_OPT_X_TLS_NEWCTX, &client); // the options above apply to this handle only

        if (s.startTls) {
            rc = ldapi::ldap_start_tls_s(m_ld.get(), nullptr, nullptr);
            if (rc != LDAP_SUCCESS)
                fail(QStringLiteral("StartTLS не успя"), rc);
        }

        QByteArray password;
        if (!s.bindDn.isEmpty()) {
            bool encrypted = s.startTls;
            if (!encrypted) {
                encrypted = true;
                for (const QString& u : list)
                    encrypted = encrypted && (u.startsWith(QLatin1String("ldaps://"), Qt::CaseInsensitive) ||
                                              u.startsWith(QLatin1String("ldapi://"), Qt::CaseInsensitive));
            }
            if (!encrypted)
                throw DirectoryError(QStringLiteral("Директорията %1: паролата не се изпраща по некриптирана връзка "
                                                    "(ldaps:// или StartTLS=1)")
                                         .arg(m_uri));
            if (s.passwordFile.isEmpty())
                throw DirectoryError(QStringLiteral("Директорията %1: за BindDN не е посочен PasswordFile").arg(m_uri));
            password = ReadBindPassword(s.passwordFile);
        }
        berval cred{static_cast<ber_len_t>(password.size()), password.data()};
        rc = ldapi::ldap_sasl_bind_s(m_ld.get(), s.bindDn.isEmpty() ? nullptr : s.bindDn.toUtf8().constData(), LDAP_SASL_SIMPLE,
                              &cred, nullptr, nullptr, nullptr);
        password.fill('\0');
        if (rc != LDAP_SUCCESS)
            fail(s.bindDn.isEmpty() ? QStringLiteral("анонимното свързване е отказано")
                                    : QStringLiteral("свързването като %1 е отказано").arg(s.bindDn),
                 rc);
    }

    LDAP* get() const { return m_ld.get(); }

    [[noreturn]] void fail(const QString& what, int rc) const
    {
        throw DirectoryError(QStringLiteral("Директорията %1: %2: %3").arg(m_uri, what, ldapReason(m_ld.get(), rc)));
    }

private:
    template <typename V>
    void set(int option, V value)
    {
        const int rc = ldapi::ldap_set_option(m_ld.get(), option, value);
        if (rc != LDAP_OPT_SUCCESS)
            fail(QStringLiteral("настройката %1 не е приета").arg(option), rc);
    }

    QString m_uri;
    Owned<LDAP> m_ld;
};

QString firstValue(LDAP* ld, LDAPMessage* entry, const char* attribute)
{
    Owned<berval*> values(ldapi::ldap_get_values_len(ld, entry, attribute));
    if (!values || !values.get()[0])
        return {};
    const berval* v = values.get()[0];
    return QString::fromUtf8(v->bv_val, static_cast<qsizetype>(v->bv_len));
}

QByteArray firstBytes(LDAP* ld, LDAPMessage* entry, const char* attribute)
{
    Owned<berval*> values(ldapi::ldap_get_values_len(ld, entry, attribute));
    if (!values || !values.get()[0])
        return {};
    const berval* v = values.get()[0];
    return QByteArray(v->bv_val, static_cast<qsizetype>(v->bv_len));
}

} // namespace

DirectorySettings ReadDirectorySettings(const IniFile& ini)
{
    DirectorySettings s;
    s.uri = ini.value(kSection, QStringLiteral("URI")).trimmed();
    s.startTls = flag(ini, QStringLiteral("StartTLS"), false);
    s.caFile = ini.value(kSection, QStringLiteral("CAFile")).trimmed();
    s.requireCertificate = flag(ini, QStringLiteral("RequireCertificate"), true);
    s.baseDn = ini.value(kSection, QStringLiteral("BaseDN")).trimmed();
    s.bindDn = ini.value(kSection, QStringLiteral("BindDN")).trimmed();
    s.passwordFile = ini.value(kSection, QStringLiteral("PasswordFile")).trimmed();
    s.domain = ini.value(kSection, QStringLiteral("Domain")).trimmed();
    const QString filter = ini.value(kSection, QStringLiteral("Filter")).trimmed();
    if (!filter.isEmpty())
        s.filter = filter;
    s.pageSize = qBound(1, ini.intValue(kSection, QStringLiteral("PageSize"), s.pageSize), 100000);
    s.networkTimeout = qBound(1, ini.intValue(kSection, QStringLiteral("NetworkTimeout"), s.networkTimeout), 3600);
    s.searchTimeout = qBound(1, ini.intValue(kSection, QStringLiteral("SearchTimeout"), s.searchTimeout), 3600);
    return s;
}

DirectorySettings ReadDirectorySettings()
{
    const IniFile ini(GatekeepIniPath());
    return ReadDirectorySettings(ini);
}

ProcessOwner GetProcessOwner(const DirectorySettings& settings)
{
    ProcessOwner owner;
    if (const passwd* pw = getpwuid(geteuid()))
        owner.user = QString::fromLocal8Bit(pw->pw_name);
    else
        owner.user = qEnvironmentVariable("USER");
    owner.domain = settings.domain;
    return owner;
}

ProcessOwner GetProcessOwner()
{
    try {
        return GetProcessOwner(ReadDirectorySettings());
    } catch (const std::exception& e) {
        qCWarning(lcDirectory).noquote() << QString::fromUtf8(e.what());
        return GetProcessOwner(DirectorySettings{});
    }
}

QString SidToText(QByteArrayView b)
{
    // revision, count of sub-authorities, 48-bit authority (big-endian), then each 32-bit
    // sub-authority little-endian; domain parts are often above 2^31, so all are unsigned.
    if (b.size() < 8)
        return {};
    const auto* p = reinterpret_cast<const uchar*>(b.data());
    const int count = p[1];
    if (b.size() != 8 + 4 * count)
        return {};
    quint64 authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = (authority << 8) | p[i];
    QString text = QStringLiteral("S-%1-").arg(p[0]);
    // Windows writes an authority beyond 32 bits in hexadecimal.
    text += authority < (quint64(1) << 32) ? QString::number(authority)
                                            : QStringLiteral("0x") + QString::number(authority, 16).toUpper().rightJustified(12, QLatin1Char('0'));
    for (int i = 0; i < count; ++i)
        text += QLatin1Char('-') + QString::number(qFromLittleEndian<quint32>(p + 8 + 4 * i));
    return text;
}

QByteArray ReadBindPassword(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw DirectoryError(QStringLiteral("Файлът с паролата за директорията %1 не може да бъде отворен").arg(path));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        throw DirectoryError(QStringLiteral("Файлът с паролата за директорията %1 не е обикновен файл").arg(path));
    if (st.st_uid != geteuid() || (st.st_mode & 077) != 0)
        throw DirectoryError(
            QStringLiteral("Файлът с паролата за директорията %1 трябва да е на потребителя, който стартира програмата, "
                           "и да е достъпен само за него (chmod 600)")
                .arg(path));
    QByteArray data(4096, '\0');
    qsizetype size = 0;
    for (;;) {
        const ssize_t n = ::read(fd, data.data() + size, static_cast<size_t>(data.size() - size));
        if (n < 0)
            throw DirectoryError(QStringLiteral("Файлът с паролата за директорията %1 не може да бъде прочетен").arg(path));
        if (n == 0)
            break;
        size += n;
        if (size == data.size())
            throw DirectoryError(QStringLiteral("Файлът с паролата за директорията %1 е твърде дълъг").arg(path));
    }
    data.truncate(size);
    const qsizetype eol = data.indexOf('\n');
    if (eol >= 0)
        data.truncate(eol);
    if (data.endsWith('\r'))
        data.chop(1);
    if (data.isEmpty()) // an empty password would be an anonymous bind under the given name
        throw DirectoryError(QStringLiteral("Файлът с паролата за директорията %1 е празен").arg(path));
    return data;
}

namespace {

QString defaultNamingContext(const Connection& c, const DirectorySettings& s)
{
    const char* attrs[] = {"defaultNamingContext", "namingContexts", nullptr};
    timeval tv{s.searchTimeout, 0};
    LDAPMessage* raw = nullptr;
    const int rc = ldapi::ldap_search_ext_s(c.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)", const_cast<char**>(attrs), 0, nullptr,
                                     nullptr, &tv, 1, &raw);
    Owned<LDAPMessage> res(raw);
    if (rc != LDAP_SUCCESS)
        c.fail(QStringLiteral("кореновият запис не е прочетен"), rc);
    LDAPMessage* entry = ldapi::ldap_first_entry(c.get(), res.get());
    QString base = entry ? firstValue(c.get(), entry, "defaultNamingContext") : QString();
    if (base.isEmpty() && entry)
        base = firstValue(c.get(), entry, "namingContexts");
    if (base.isEmpty())
        throw DirectoryError(QStringLiteral("Директорията %1 не посочва основен DN; задайте BaseDN").arg(s.uri));
    return base;
}

} // namespace

QString ReadDefaultNamingContext(const DirectorySettings& settings)
{
    const Connection c(settings);
    return defaultNamingContext(c, settings);
}

QList<DomainAccount> ReadDomainAccounts(const DirectorySettings& s)
{
    const Connection c(s);
    LDAP* ld = c.get();
    const QString base = s.baseDn.isEmpty() ? defaultNamingContext(c, s) : s.baseDn;
    const QByteArray base8 = base.toUtf8();
    const QByteArray filter8 = s.filter.toUtf8();
    const char* attrs[] = {"sAMAccountName", "displayName", "objectSid", nullptr};
    timeval tv{s.searchTimeout, 0};

    QList<DomainAccount> out;
    int leftOut = 0;
    Owned<berval> cookie;
    do {
        LDAPControl* rawPage = nullptr;
        int rc = ldapi::ldap_create_page_control(ld, static_cast<ber_int_t>(s.pageSize), cookie.get(), 0, &rawPage);
        Owned<LDAPControl> page(rawPage);
        if (rc != LDAP_SUCCESS)
            c.fail(QStringLiteral("страницирането не е възможно"), rc);
        LDAPControl* controls[] = {page.get(), nullptr};
        LDAPMessage* raw = nullptr;
        rc = ldapi::ldap_search_ext_s(ld, base8.constData(), LDAP_SCOPE_SUBTREE, filter8.constData(), const_cast<char**>(attrs), 0,
                               controls, nullptr, &tv, LDAP_NO_LIMIT, &raw);
        Owned<LDAPMessage> res(raw);
        // A server that ignores paging stops at its size limit: a cut list would look whole.
        if (rc != LDAP_SUCCESS)
            c.fail(QStringLiteral("търсенето в %1 с филтър %2 не успя").arg(base, s.filter), rc);

        for (LDAPMessage* e = ldapi::ldap_first_entry(ld, res.get()); e; e = ldapi::ldap_next_entry(ld, e)) {
            DomainAccount a;
            a.Domain = s.domain;
            a.Name = firstValue(ld, e, "sAMAccountName");
            a.SID = SidToText(firstBytes(ld, e, "objectSid"));
            a.FullName = firstValue(ld, e, "displayName");
            // Without a SID the account would match every unbound user.
            if (a.Name.isEmpty() || a.SID.isEmpty()) {
                ++leftOut;
                continue;
            }
            out.append(std::move(a));
        }

        LDAPControl** rawServer = nullptr;
        int err = LDAP_SUCCESS;
        rc = ldapi::ldap_parse_result(ld, res.get(), &err, nullptr, nullptr, nullptr, &rawServer, 0);
        Owned<LDAPControl*> server(rawServer);
        if (rc != LDAP_SUCCESS)
            c.fail(QStringLiteral("отговорът не може да бъде разчетен"), rc);
        cookie.reset();
        LDAPControl* answer = ldapi::ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, server.get(), nullptr);
        if (answer) {
            ber_int_t estimate = 0;
            berval next{0, nullptr};
            rc = ldapi::ldap_parse_pageresponse_control(ld, answer, &estimate, &next);
            if (rc != LDAP_SUCCESS)
                c.fail(QStringLiteral("отговорът за страницирането не може да бъде разчетен"), rc);
            if (next.bv_len > 0)
                cookie.reset(ldapi::ber_bvdup(&next));
            ldapi::ber_memfree(next.bv_val);
        }
    } while (cookie);

    if (leftOut > 0)
        qCInfo(lcDirectory).noquote() << QStringLiteral("%1: %2 записа без objectSid или sAMAccountName са пропуснати").arg(s.uri).arg(leftOut);
    return out;
}

TADomainUserInfo::TADomainUserInfo(const QString& domain) : m_domain(domain) { load(nullptr); }

TADomainUserInfo::TADomainUserInfo(const QString& domain, const DirectorySettings& settings) : m_domain(domain)
{
    load(&settings);
}

void TADomainUserInfo::load(const DirectorySettings* given)
{
    try {
        m_accounts = read(given ? *given : ReadDirectorySettings());
    } catch (const std::exception& e) {
        m_accounts.clear();
        m_error = QString::fromUtf8(e.what());
        qCWarning(lcDirectory).noquote() << m_error;
    }
}

QList<DomainAccount> TADomainUserInfo::read(const DirectorySettings& settings) const
{
    if (settings.domain.isEmpty())
        throw DirectoryError(QStringLiteral("Директорията не е настроена: няма Domain в раздел [Directory] на Gatekeep.ini"));
    if (m_domain.compare(settings.domain, Qt::CaseInsensitive) != 0)
        throw DirectoryError(QStringLiteral("Не е настроена директория за домейна %1").arg(m_domain));
    return ReadDomainAccounts(settings);
}

QString TADomainUserInfo::displayName(int i) const
{
    const DomainAccount& a = m_accounts[i];
    return a.FullName.trimmed().isEmpty() ? a.Name : a.FullName;
}
