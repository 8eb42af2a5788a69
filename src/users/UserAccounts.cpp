#include "UserAccounts.h"

#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "core/TextOps.h"

#include "db/Database.h"
#include "db/Query.h"

namespace {

QString decoded(const db::Query& q, int column) { return q.field(column).isNull() ? QString() : DecodeStoredText(q.field(column).asString()); }

// One statement with named parameters; returns the rows it changed.
qint64 run(db::Database& sys, const QString& sql, std::initializer_list<std::pair<const char*, QVariant>> params)
{
    db::Query q(&sys);
    q.setSql(sql);
    for (const auto& [name, value] : params)
        q.setParam(QString::fromLatin1(name), value);
    q.execSql();
    return q.rowsAffected();
}

// A write of one user's row: in a transaction of its own, the row must be there.
void writeUser(db::Database& sys, int userId, const QString& sql, std::initializer_list<std::pair<const char*, QVariant>> params,
               int lockTimeout)
{
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    if (run(sys, sql, params) != 1)
        throw UserGone(userId);
    t.commit();
}

} // namespace

UserGone::UserGone(int userId)
    : db::Error(QStringLiteral("Потребителят (%1) вече не съществува: изтрит е от друг администратор").arg(userId)), m_userId(userId)
{
}

RightsChanged::RightsChanged(QList<int> aplIds)
    : db::Error(QStringLiteral("Правата са променени от друг администратор")), m_aplIds(std::move(aplIds))
{
}

db::TransactionOptions UserWriteOptions(int lockTimeout)
{
    return db::TransactionOptions{.protectedWrite = {QStringLiteral("USERS"), QStringLiteral("LINKS")}, .lockTimeout = lockTimeout};
}

QList<StoredApplication> ReadApplications(db::Database& sys)
{
    QList<StoredApplication> apps;
    db::Query q(&sys);
    // Ordered, so that the rows of one application come together.
    q.setSql(QStringLiteral("select apl_id, apl_name, gdb_alias, gdb_uname, gdb_pasw, gdb_proc, class_idx, class_nm "
                            "from applications left join class on class_aplidx = apl_id order by apl_id, class_idx"));
    for (q.open(); !q.eof(); q.next()) {
        const int aplId = q.field(0).asInteger();
        if (apps.isEmpty() || apps.last().aplId != aplId)
            apps.append({aplId, decoded(q, 1), decoded(q, 2), decoded(q, 3), decoded(q, 4), decoded(q, 5), {}});
        if (!q.field(6).isNull())
            apps.last().classes.append({q.field(6).asInteger(), decoded(q, 7)});
    }
    return apps;
}

ApplicationTable BuildApplicationTable(db::Database& sys)
{
    ApplicationTable table;
    for (const StoredApplication& a : ReadApplications(sys)) {
        const int suite = FindSuiteApplication(a.name);
        if (suite < 0)
            continue;
        if (table.count == kMaxApplications) {
            table.refusedApplications << SuiteApplicationTable[suite].caption.toString();
            continue;
        }
        ApplicationEntry& entry = table.entries[table.count++];
        entry.AplId = a.aplId;
        entry.AliasName = a.alias;
        entry.AliasUser = a.aliasUser;
        entry.AliasPassword = a.aliasPassword;
        entry.AliasProc = a.aliasProc;
        entry.SuiteIndex = suite;
        // No class at all gives no entry: a right is never stored without one.
        for (const StoredClass& c : a.classes) {
            if (entry.ClassCount == kMaxClasses) {
                if (entry.SurplusClasses.isEmpty())
                    table.appsWithSurplusClasses << entry.caption();
                entry.SurplusClasses << c.classIdx;
                continue;
            }
            ClassEntry& ce = entry.Classes[entry.ClassCount++];
            ce.FullName = c.name;
            ce.ClassName = c.name.left(kClassNameLength);
            ce.ClassIdx = c.classIdx;
        }
    }
    return table;
}

UserRightsMap LoadUserRights(db::Database& sys, int userId)
{
    UserRightsMap rights;
    db::Query q(&sys);
    q.setSql(QStringLiteral("select lnk_aplid, lnk_class from links where lnk_usr = :usr order by lnk_aplid, lnk_class"));
    q.setParam(QStringLiteral("usr"), userId);
    // Two classes in one application (written by a program that does not reserve LINKS): the
    // lower one is shown, and a save replaces both.
    for (q.open(); !q.eof(); q.next())
        if (!rights.contains(q.field(0).asInteger()))
            rights.insert(q.field(0).asInteger(), q.field(1).asInteger());
    return rights;
}

QList<RightChange> RightsChanges(const UserRightsMap& loaded, const QList<RightChoice>& choices)
{
    QList<RightChange> changes;
    for (const RightChoice& c : choices) {
        const std::optional<int> before = loaded.contains(c.aplId) ? std::optional<int>(loaded.value(c.aplId)) : std::nullopt;
        std::optional<int> after;
        if (c.ticked)
            after = c.classIdx ? c.classIdx : before;
        if (after != before)
            changes.append({c.aplId, before, after});
    }
    return changes;
}

void LockUser(db::Database& sys, int userId)
{
    // A delete or change by another transaction that has not ended makes this wait; one that
    // has ended leaves no row.
    db::Query q(&sys);
    q.setSql(QStringLiteral("select user_id from users where user_id = :id with lock"));
    q.setParam(QStringLiteral("id"), userId);
    q.open();
    if (q.eof())
        throw UserGone(userId);
}

std::optional<int> HeldClass(db::Database& sys, int userId, int aplId)
{
    db::Query q(&sys);
    q.setSql(QStringLiteral("select lnk_class from links where lnk_usr = :usr and lnk_aplid = :apl order by lnk_class"));
    q.setParam(QStringLiteral("usr"), userId);
    q.setParam(QStringLiteral("apl"), aplId);
    q.open();
    return q.eof() ? std::nullopt : std::optional<int>(q.field(0).asInteger());
}

void GrantRight(db::Database& sys, int userId, int aplId, int classIdx)
{
    // One class per application: any other class the user holds there goes.
    run(sys, QStringLiteral("delete from links where lnk_usr = :usr and lnk_aplid = :apl and lnk_class <> :cls"),
        {{"usr", userId}, {"apl", aplId}, {"cls", classIdx}});
    run(sys, QStringLiteral("update or insert into links (lnk_usr, lnk_aplid, lnk_class) values (:usr, :apl, :cls) "
                            "matching (lnk_usr, lnk_aplid, lnk_class)"),
        {{"usr", userId}, {"apl", aplId}, {"cls", classIdx}});
}

void SaveUserRights(db::Database& sys, int userId, const QList<RightChange>& changes, int lockTimeout, const QList<int>& listed)
{
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    LockUser(sys, userId);
    // LINKS is reserved: what is read now stays until the commit.
    const UserRightsMap now = LoadUserRights(sys, userId);
    QList<int> changed;
    for (const RightChange& c : changes) {
        const std::optional<int> current = now.contains(c.aplId) ? std::optional<int>(now.value(c.aplId)) : std::nullopt;
        if (current != c.before)
            changed << c.aplId;
    }
    if (!changed.isEmpty())
        throw RightsChanged(changed);
    for (const RightChange& c : changes) {
        if (c.after)
            GrantRight(sys, userId, c.aplId, *c.after);
        else
            run(sys, QStringLiteral("delete from links where lnk_usr = :usr and lnk_aplid = :apl"), {{"usr", userId}, {"apl", c.aplId}});
    }
    // A right whose class is gone from the application is no right at all.
    for (int aplId : listed)
        run(sys, QStringLiteral("delete from links where lnk_usr = :usr and lnk_aplid = :apl and not exists "
                                "(select 1 from class where class_idx = lnk_class and class_aplidx = lnk_aplid)"),
            {{"usr", userId}, {"apl", aplId}});
    t.commit();
}

qint32 InsertUser(db::Database& sys, const NewUserRow& user)
{
    db::Query q(&sys);
    // The id comes from the insert: the highest id may be another writer's, or lie above the
    // generator in a restored database.
    // The directory account only when there is one: older schemas have no column for it.
    q.setSql(user.domainUser.isEmpty()
                 ? QStringLiteral("insert into users (user_fnm, user_fpw, user_rnm) values (:fnm, :fpw, :rnm) returning user_id")
                 : QStringLiteral("insert into users (user_fnm, user_fpw, user_rnm, user_domainuser) values (:fnm, :fpw, :rnm, :dom) "
                                  "returning user_id"));
    q.setParam(QStringLiteral("fnm"), user.login);
    q.setParam(QStringLiteral("fpw"), user.password);
    q.setParam(QStringLiteral("rnm"), user.fullName);
    if (!user.domainUser.isEmpty())
        q.setParam(QStringLiteral("dom"), user.domainUser);
    q.open();
    if (q.eof())
        throw db::Error(QStringLiteral("Новият потребител не получи номер"));
    return qint32(q.field(0).asInt64());
}

qint32 CreateUser(db::Database& sys, const NewUserRow& user, int lockTimeout)
{
    // USERS reserved for the check and the insert: a second administrator creating the same pair
    // waits here until the first one ends, and then finds his row.
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    db::Query q(&sys);
    q.setSql(QStringLiteral("select user_id from users where user_fnm = :fnm and user_fpw = :fpw"));
    q.setParam(QStringLiteral("fnm"), user.login);
    q.setParam(QStringLiteral("fpw"), user.password);
    q.open();
    if (!q.eof())
        return 0;
    q.close();
    const qint32 id = InsertUser(sys, user);
    t.commit();
    return id;
}

qint64 UserIdMark(db::Database& sys)
{
    db::Query q(&sys);
    q.setSql(QStringLiteral("select gen_id(users_id_gen, 0) from rdb$database"));
    q.open();
    return q.field(0).asInt64();
}

QList<UserRowRead> UsersAddedSince(db::Database& sys, qint64& mark)
{
    QList<UserRowRead> users;
    db::Query q(&sys);
    // The generator's value and the rows it gave out since the mark, in one statement. Writers of
    // this program reserve USERS, so ids are taken in the order their rows are committed.
    q.setSql(QStringLiteral("select g.v, u.user_id, u.user_fnm, u.user_rnm, u.user_domainuser "
                            "from (select gen_id(users_id_gen, 0) as v from rdb$database) g "
                            "left join users u on u.user_id > :mark and u.user_id <= g.v order by u.user_id"));
    q.setParam(QStringLiteral("mark"), mark);
    for (q.open(); !q.eof(); q.next()) {
        mark = std::max(mark, q.field(0).asInt64());
        if (!q.field(1).isNull())
            users.append({qint32(q.field(1).asInt64()), decoded(q, 2), decoded(q, 3), q.field(4).asString()});
    }
    return users;
}

void WriteUserNames(db::Database& sys, int userId, const std::optional<QString>& storedLogin, const QString& storedName)
{
    const qint64 rows = storedLogin ? run(sys, QStringLiteral("update users set user_fnm = :fnm, user_rnm = :rnm where user_id = :id"),
                                          {{"fnm", *storedLogin}, {"rnm", storedName}, {"id", userId}})
                                    : run(sys, QStringLiteral("update users set user_rnm = :rnm where user_id = :id"),
                                          {{"rnm", storedName}, {"id", userId}});
    if (rows != 1)
        throw UserGone(userId);
}

void SetUserFullName(db::Database& sys, int userId, const QString& storedName, int lockTimeout)
{
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    WriteUserNames(sys, userId, std::nullopt, storedName);
    t.commit();
}

QString SetUserLogin(db::Database& sys, int userId, const QString& storedLogin, int lockTimeout)
{
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    db::Query q(&sys);
    q.setSql(QStringLiteral("select user_rnm from users where user_fnm = :fnm and user_id <> :id"));
    q.setParam(QStringLiteral("fnm"), storedLogin);
    q.setParam(QStringLiteral("id"), userId);
    q.open();
    if (!q.eof())
        return DecodeStoredText(q.field(0).asString());
    q.close();
    if (run(sys, QStringLiteral("update users set user_fnm = :fnm where user_id = :id"), {{"fnm", storedLogin}, {"id", userId}}) != 1)
        throw UserGone(userId);
    t.commit();
    return {};
}

bool SetUserPassword(db::Database& sys, int userId, const QString& storedLogin, const QString& storedPassword, int lockTimeout)
{
    // As at creation, the pair is checked and written under one reservation of USERS.
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    db::Query q(&sys);
    q.setSql(QStringLiteral("select user_id from users where user_fnm = :fnm and user_fpw = :fpw"));
    q.setParam(QStringLiteral("fnm"), storedLogin);
    q.setParam(QStringLiteral("fpw"), storedPassword);
    q.open();
    if (!q.eof())
        return q.field(0).asInteger() == userId; // his own password again: nothing to write
    q.close();
    if (!WriteUserPassword(sys, userId, storedPassword))
        throw UserGone(userId);
    t.commit();
    return true;
}

bool WriteUserPassword(db::Database& sys, int userId, const QString& storedPassword)
{
    // The certificate goes with the old password.
    return run(sys, QStringLiteral("update users set user_fpw = :fpw, user_cert = null where user_id = :id"),
               {{"fpw", storedPassword}, {"id", userId}}) == 1;
}

bool BindDomainAccount(db::Database& sys, int userId, const QString& domain, const QString& name, const QString& sid, int lockTimeout)
{
    // The check and the write under one reservation of USERS: two administrators binding two
    // users to one account at once cannot both pass the check.
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    if (!sid.isEmpty()) {
        db::Query q(&sys);
        q.setSql(QStringLiteral("select user_id from users where user_domainsid = :sid and user_id <> :id"));
        q.setParam(QStringLiteral("sid"), sid);
        q.setParam(QStringLiteral("id"), userId);
        q.open();
        if (!q.eof())
            return false;
    }
    if (run(sys, QStringLiteral("update users set user_domainname = :domain, user_domainuser = :name, user_domainsid = :sid "
                                "where user_id = :id"),
            {{"domain", domain}, {"name", name}, {"sid", sid}, {"id", userId}}) != 1)
        throw UserGone(userId);
    t.commit();
    return true;
}

void SetUserRemoteAccess(db::Database& sys, int userId, const std::optional<QString>& flags, const QDate& expires, int lockTimeout)
{
    if (flags)
        writeUser(sys, userId, QStringLiteral("update users set user_flags = :flags, user_expdate = :exp where user_id = :id"),
                  {{"flags", *flags}, {"exp", FormatDateDMY(expires)}, {"id", userId}}, lockTimeout);
    else
        writeUser(sys, userId, QStringLiteral("update users set user_expdate = :exp where user_id = :id"),
                  {{"exp", FormatDateDMY(expires)}, {"id", userId}}, lockTimeout);
}

void ForceUserPasswordChange(db::Database& sys, int userId, int lockTimeout)
{
    writeUser(sys, userId, QStringLiteral("update users set user_pwdmustchange = 23 where user_id = :id"), {{"id", userId}}, lockTimeout);
}

void DeleteUserAccount(db::Database& sys, int userId, int lockTimeout)
{
    // The rights and the user go together or not at all.
    db::Transaction t(sys, UserWriteOptions(lockTimeout));
    run(sys, QStringLiteral("delete from links where lnk_usr = :id"), {{"id", userId}});
    if (run(sys, QStringLiteral("delete from users where user_id = :id"), {{"id", userId}}) != 1)
        throw UserGone(userId);
    t.commit();
}
