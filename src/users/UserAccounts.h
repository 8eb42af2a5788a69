#pragma once

// Every write of a user and of a right in the system database, and the one reader of the
// applications with their classes. Windows, the importer and the command line call these; none
// of them writes USERS or LINKS itself, so that the rules for several administrators at once
// (reservations, the user's row locked, only what changed written) live here once.

#include "ApplicationTable.h"

#include "db/Connection.h"
#include "db/Error.h"

#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace db {
class Database;
}

// Seconds a write waits for another administrator's transaction on USERS or LINKS.
constexpr int kUserLockTimeout = 10;

// An application with every class it has, as stored (names decoded).
struct StoredClass {
    int classIdx = 0;
    QString name;
};
struct StoredApplication {
    int aplId = 0;
    QString name;
    QString alias;
    QString aliasUser;
    QString aliasPassword;
    QString aliasProc;
    QList<StoredClass> classes; // in CLASS_IDX order
};

// APPLICATIONS with their classes, in APL_ID order. Throws db::Error.
QList<StoredApplication> ReadApplications(db::Database& sys);

// The applications of the suite as the rights list offers them. Throws db::Error.
ApplicationTable BuildApplicationTable(db::Database& sys);

// The user was deleted by someone else since this program read him.
class UserGone : public db::Error {
public:
    explicit UserGone(int userId);
    int userId() const { return m_userId; }

private:
    int m_userId;
};

// Rights this window would change were changed by someone else since they were read.
class RightsChanged : public db::Error {
public:
    explicit RightsChanged(QList<int> aplIds);
    const QList<int>& aplIds() const { return m_aplIds; }

private:
    QList<int> m_aplIds;
};

// A transaction that may write users and rights: USERS and LINKS reserved, so that a second
// writer of this program waits until this one ends and then sees what it wrote.
db::TransactionOptions UserWriteOptions(int lockTimeout = kUserLockTimeout);

// --- Rights -----------------------------------------------------------------------------------

// A user's rights: application id to class.
using UserRightsMap = QMap<int, int>;
UserRightsMap LoadUserRights(db::Database& sys, int userId);

// One application's right as loaded and as it is to be.
struct RightChange {
    int aplId = 0;
    std::optional<int> before;
    std::optional<int> after;
};

// What the edited list changes against the rights as loaded. A ticked row without a class keeps
// what the user holds there (a class the list does not know survives); a ticked row without a
// class and without a right stores nothing.
QList<RightChange> RightsChanges(const UserRightsMap& loaded, const QList<RightChoice>& choices);

// Applies the changes in one transaction that reserves USERS and LINKS and locks the user's row.
// Throws UserGone when the user no longer exists and RightsChanged when a right to be changed is
// no longer as it was loaded; nothing is written then. With no changes it only checks the user.
// The user's rights in the listed applications whose class no longer exists are dropped.
void SaveUserRights(db::Database& sys, int userId, const QList<RightChange>& changes, int lockTimeout = kUserLockTimeout,
                    const QList<int>& listed = {});

// In the caller's transaction, which reserves LINKS (UserWriteOptions):
std::optional<int> HeldClass(db::Database& sys, int userId, int aplId);
// The user's one class in the application, whatever he held there before.
void GrantRight(db::Database& sys, int userId, int aplId, int classIdx);
// Locks the user's row for the rest of the transaction; throws UserGone.
void LockUser(db::Database& sys, int userId);

// --- Users ------------------------------------------------------------------------------------

// A new user's columns, in stored form (EncodeStoredText).
struct NewUserRow {
    QString login;
    QString password;
    QString fullName;
    QString domainUser; // empty: none
};

// Inserts in the caller's transaction (UserWriteOptions) and returns the id the insert took.
qint32 InsertUser(db::Database& sys, const NewUserRow& user);

// Creates the user unless the pair of login name and password is taken; 0 then.
qint32 CreateUser(db::Database& sys, const NewUserRow& user, int lockTimeout = kUserLockTimeout);

// For a run that keeps a list of users while others write: the id generator's value now (read
// it before the list), and then the users whose ids it gave out after the mark, which moves on.
qint64 UserIdMark(db::Database& sys);
struct UserRowRead {
    qint32 id = 0;
    QString login;    // decoded
    QString fullName; // decoded
    QString domainUser;
};
QList<UserRowRead> UsersAddedSince(db::Database& sys, qint64& mark);

// Each throws UserGone when the user is not there (any more), db::Error otherwise. Texts are in
// stored form.
void SetUserFullName(db::Database& sys, int userId, const QString& storedName, int lockTimeout = kUserLockTimeout);
// In the caller's transaction: the full name, and the login name when given.
void WriteUserNames(db::Database& sys, int userId, const std::optional<QString>& storedLogin, const QString& storedName);
// The holder's decoded full name when another user has the login name; empty when it was set.
QString SetUserLogin(db::Database& sys, int userId, const QString& storedLogin, int lockTimeout = kUserLockTimeout);
// False when another user has this pair of login name and password (nothing written); the
// certificate goes with the old password.
bool SetUserPassword(db::Database& sys, int userId, const QString& storedLogin, const QString& storedPassword,
                     int lockTimeout = kUserLockTimeout);
void SetUserRemoteAccess(db::Database& sys, int userId, const std::optional<QString>& flags, const QDate& expires,
                         int lockTimeout = kUserLockTimeout);
void ForceUserPasswordChange(db::Database& sys, int userId, int lockTimeout = kUserLockTimeout);
// In the caller's transaction; false when the user is not there.
bool WriteUserPassword(db::Database& sys, int userId, const QString& storedPassword);
// Binds the user to a directory account (empty texts: unbinds). False when another user is bound
// to that account (nothing written).
bool BindDomainAccount(db::Database& sys, int userId, const QString& domain, const QString& name, const QString& sid,
                       int lockTimeout = kUserLockTimeout);
// The user and his rights, together.
void DeleteUserAccount(db::Database& sys, int userId, int lockTimeout = kUserLockTimeout);
