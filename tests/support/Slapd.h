#pragma once

#include "support/TestEnv.h"

#include "core/Directory.h"

#include <QByteArray>
#include <QList>
#include <QString>

// An objectSid as Active Directory stores it: revision 1, authority 5, the sub-authorities
// little-endian.
QByteArray SidBytes(const QList<quint32>& subAuthorities);

// An entry of the test directory. An empty name or sid leaves that attribute out.
struct TestAccount {
    QString name;                   // sAMAccountName
    QString displayName;
    QByteArray sid;
    int userAccountControl = 512;   // a normal, enabled account
    bool computer = false;
};

// A branch of its own in the slapd that scripts/test-servers starts, removed when the test
// ends; the host's ldap.conf is not read (LDAPNOINIT).
class SlapdBranch {
public:
    SlapdBranch();
    ~SlapdBranch();
    SlapdBranch(const SlapdBranch&) = delete;
    SlapdBranch& operator=(const SlapdBranch&) = delete;

    const QString& dn() const { return m_dn; }
    void add(const TestAccount& account);
    void add(const QList<TestAccount>& accounts);

    // StartTLS with the test CA, the reader account with its password in a 0600 file in dir,
    // this branch as the base and "GKTEST" as the domain.
    DirectorySettings settings(const TempDir& dir) const;
    static QString readerPassword() { return qEnvironmentVariable("GATEKEEP_TEST_LDAP_BIND_PASSWORD"); }
    // Writes text to a file of that mode; returns its path.
    static QString writeFile(const TempDir& dir, const QString& name, const QByteArray& text, int mode);

private:
    QString m_dn;
};
