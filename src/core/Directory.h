#pragma once

#include "InputError.h"

#include <QByteArrayView>
#include <QList>
#include <QLoggingCategory>
#include <QString>

class IniFile;

Q_DECLARE_LOGGING_CATEGORY(lcDirectory)

// Enabled user accounts, not computers, not disabled (bit 2 of userAccountControl).
inline const QString kDefaultDirectoryFilter =
    QStringLiteral("(&(sAMAccountType=805306368)(!(userAccountControl:1.2.840.113556.1.4.803:=2)))");

// Where the domain's accounts are read: section "Directory" of Gatekeep.ini.
struct DirectorySettings {
    QString uri;                    // one or more, separated by spaces or commas, tried in order
    bool startTls = false;
    QString caFile;                 // empty: the system's trusted authorities
    bool requireCertificate = true; // off only for test servers with certificates of their own
    QString baseDn;                 // empty: defaultNamingContext of the server's root entry
    QString bindDn;                 // a DN or a UPN (user@domain); empty: anonymous
    QString passwordFile;           // the bind password, in a file only its owner may read
    QString domain;                 // the NetBIOS name, as USER_DOMAINNAME holds it
    QString filter = kDefaultDirectoryFilter;
    int pageSize = 500;             // below Active Directory's 1,000 per page
    int networkTimeout = 10;        // seconds to reach a server
    int searchTimeout = 30;         // seconds for one answer
};

DirectorySettings ReadDirectorySettings(const IniFile& ini);
// From Gatekeep.ini; throws InputError when the file cannot be read.
DirectorySettings ReadDirectorySettings();

// Why a directory could not be read. The text never holds the bind password.
class DirectoryError : public InputError {
public:
    using InputError::InputError;
};

// One enabled account of the domain.
struct DomainAccount {
    QString Domain;
    QString Name;     // sAMAccountName
    QString SID;      // S-1-5-…
    QString FullName; // displayName, may be empty
    bool operator==(const DomainAccount&) const = default;
};

struct ProcessOwner {
    QString user;
    QString domain;
};
// The OS user running the program, and the domain the configuration names.
ProcessOwner GetProcessOwner(const DirectorySettings& settings);
// With the settings of Gatekeep.ini; an unreadable file leaves the domain empty (and logged).
ProcessOwner GetProcessOwner();

// objectSid in its text form; empty when the bytes are no SID.
QString SidToText(QByteArrayView bytes);

// The first line of the file. Throws DirectoryError unless the file is a regular file of the
// user running the program that no one else may read or write, and holds a password.
QByteArray ReadBindPassword(const QString& path);

// The naming context the server names as its default (or, lacking one, its first).
QString ReadDefaultNamingContext(const DirectorySettings& settings);

// Every account the filter finds under the base, read page by page; entries without objectSid
// or sAMAccountName are left out. Throws DirectoryError.
QList<DomainAccount> ReadDomainAccounts(const DirectorySettings& settings);

// The accounts of one domain, read once when created. A failure leaves it empty and its reason
// in error() and the program's log.
class TADomainUserInfo {
public:
    explicit TADomainUserInfo(const QString& domain);
    TADomainUserInfo(const QString& domain, const DirectorySettings& settings);

    int count() const { return static_cast<int>(m_accounts.size()); }
    // FullName when it is not blank, otherwise Name.
    QString displayName(int i) const;
    const DomainAccount& account(int i) const { return m_accounts[i]; }
    const QString& domain() const { return m_domain; }
    const QString& error() const { return m_error; }

private:
    void load(const DirectorySettings* settings); // nullptr: those of Gatekeep.ini
    QList<DomainAccount> read(const DirectorySettings& settings) const;
    QString m_domain;
    QList<DomainAccount> m_accounts;
    QString m_error;
};
