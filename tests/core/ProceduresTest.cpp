// The system database's procedures at the current schema, called as the program calls them.
#include "support/SystemDbFixture.h"

#include "core/StoredText.h"
#include "maint/SelfUpdate.h"

namespace {
QString enc(const QString& s) { return EncodeStoredText(s); }
} // namespace

class ProceduresTest : public SystemDbFixture {
protected:
    void SetUp() override
    {
        SystemDbFixture::SetUp();
        m_prompts.answerConfirm(true);
        ASSERT_TRUE(SelfUpdateCheck(m_dm, m_path));
    }

    int call(db::StoredProc& proc, std::initializer_list<std::pair<const char*, QVariant>> params, const char* result = "RES")
    {
        proc.clearParams();
        for (const auto& [name, value] : params)
            proc.setParam(QLatin1String(name), value);
        EXPECT_TRUE(m_dm.ExecSysProc(proc));
        return proc.param(QLatin1String(result)).toInt();
    }
    int addAppl(const QString& name) { return call(m_dm.SQLAdd_apl, {{"ANM", enc(name)}, {"G_ALIAS", enc(QStringLiteral("alias"))}}); }
    int addClass(const QString& app, const QString& cls)
    {
        return call(m_dm.SQLAdd_class, {{"ANM", enc(app)}, {"CLNM", enc(cls)}, {"CLPW", enc(cls + QStringLiteral("-pw"))}});
    }
    int addUser(const QString& app, const QString& cls, const QString& login, const QString& pw)
    {
        return call(m_dm.SQLADD_usr, {{"ANM", enc(app)}, {"CLNM", enc(cls)}, {"UNM", enc(login)}, {"UPW", enc(pw)}, {"URNM", enc(login + QStringLiteral(" Full"))}});
    }
    int changePassword(const QString& login, const QString& old, const QString& pw)
    {
        db::StoredProc p(&m_dm.db_Sys, QStringLiteral("CHNG_PW"));
        return call(p, {{"UNM", enc(login)}, {"OPW", enc(old)}, {"NPW", enc(pw)}});
    }
    int logRows() { return scalar(QStringLiteral("select count(*) from LOGS")).toInt(); }
};

TEST_F(ProceduresTest, ApplicationsClassesAndUsers)
{
    const int app = addAppl(QStringLiteral("Mod05"));
    EXPECT_GE(app, 1);
    EXPECT_LT(app, 1001);
    EXPECT_EQ(addAppl(QStringLiteral("Mod05")), app + 1000); // exists: key + 1000, nothing changes
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from APPLICATIONS")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select APL_STATE from APPLICATIONS")).toString(), QStringLiteral("Active"));

    EXPECT_EQ(addClass(QStringLiteral("Mod05"), QStringLiteral("user3")), 0);
    EXPECT_EQ(addClass(QStringLiteral("Mod05"), QStringLiteral("user3")), 2);
    EXPECT_EQ(addClass(QStringLiteral("Nope"), QStringLiteral("user3")), 1);

    EXPECT_EQ(addUser(QStringLiteral("Nope"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("a")), 1);
    EXPECT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user9"), QStringLiteral("ivan"), QStringLiteral("a")), 2);
    EXPECT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("a")), 0);
    const int ivan = m_dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt();
    EXPECT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("a")), 3);
    // The same login name with another password is another user.
    EXPECT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("b")), 0);
    EXPECT_EQ(m_dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt(), ivan + 1);
    EXPECT_EQ(column(QStringLiteral("select LNK_USR || ':' || LNK_APLID from LINKS order by 1")),
              (QStringList{QStringLiteral("%1:%2").arg(ivan).arg(app), QStringLiteral("%1:%2").arg(ivan + 1).arg(app)}));
    EXPECT_EQ(scalar(QStringLiteral("select USER_FLAGS from USERS where USER_ID = %1").arg(ivan)).toString(), QString(20, QLatin1Char('0')));

    // A key taken by hand does not make the generator collide.
    exec(QStringLiteral("insert into APPLICATIONS (APL_ID, APL_NAME) values (%1, 'x')").arg(app + 1));
    EXPECT_EQ(addAppl(QStringLiteral("Mod07")), app + 2);
}

// Deleting all passwords of an application takes its classes and the rights in them; the
// application itself stays with its database alias and account, and the users stay.
TEST_F(ProceduresTest, DeletingAnApplicationsPasswordsKeepsTheApplication)
{
    const int app = addAppl(QStringLiteral("Mod05"));
    const int other = addAppl(QStringLiteral("Mod07"));
    for (const QString& a : {QStringLiteral("Mod05"), QStringLiteral("Mod07")}) {
        addClass(a, QStringLiteral("user3"));
        addUser(a, QStringLiteral("user3"), QStringLiteral("ivan-") + a, QStringLiteral("pw"));
    }
    const QString apps = QStringLiteral("select APL_ID || ':' || APL_NAME || ':' || GDB_ALIAS from APPLICATIONS order by 1");
    const QStringList before = column(apps);

    EXPECT_EQ(call(m_dm.SQL_DELAPPL, {{"AIDX", app}}), 0);
    EXPECT_EQ(column(apps), before);
    EXPECT_EQ(column(QStringLiteral("select CLASS_APLIDX from CLASS")), QStringList{QString::number(other)});
    EXPECT_EQ(column(QStringLiteral("select LNK_APLID from LINKS")), QStringList{QString::number(other)});
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from USERS")).toInt(), 2);

    EXPECT_EQ(call(m_dm.SQL_DELAPPL, {{"AIDX", 999}}), 1);
}

// A new key is the insert's own, also when another writer takes the next value of the
// generator before the procedure ends (a trigger of the test plays that writer).
TEST_F(ProceduresTest, NewKeysAreTheInsertsOwn)
{
    addAppl(QStringLiteral("Mod05"));
    addClass(QStringLiteral("Mod05"), QStringLiteral("user3"));
    exec(QStringLiteral("create trigger OTHER_USER for USERS after insert as declare variable k integer; "
                        "begin k = gen_id(USERS_ID_GEN, 1); end"));
    exec(QStringLiteral("create trigger OTHER_APPL for APPLICATIONS after insert as declare variable k integer; "
                        "begin k = gen_id(Apl_ID_GEN, 1); end"));

    ASSERT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("pw")), 0);
    const int ivan = m_dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt();
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select USER_FNM from USERS where USER_ID = %1").arg(ivan)).toString()), QStringLiteral("ivan"));
    EXPECT_EQ(column(QStringLiteral("select LNK_USR from LINKS")), QStringList{QString::number(ivan)});

    const int app = addAppl(QStringLiteral("Mod07"));
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select APL_NAME from APPLICATIONS where APL_ID = %1").arg(app)).toString()), QStringLiteral("Mod07"));
}

TEST_F(ProceduresTest, ChangePassword)
{
    addAppl(QStringLiteral("Mod05"));
    addClass(QStringLiteral("Mod05"), QStringLiteral("user3"));
    addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("old"));
    addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("taken"));
    exec(QStringLiteral("update USERS set USER_PWDMUSTCHANGE = 23, USER_DTPWDCHANGE = '01.01.2000'"));

    EXPECT_EQ(changePassword(QStringLiteral("ivan"), QStringLiteral("wrong"), QStringLiteral("new")), 2);
    EXPECT_EQ(changePassword(QStringLiteral("ivan"), QStringLiteral("old"), QStringLiteral("old")), 5);
    EXPECT_EQ(changePassword(QStringLiteral("ivan"), QStringLiteral("old"), QStringLiteral("taken")), 3);
    EXPECT_EQ(changePassword(QStringLiteral("ivan"), QStringLiteral("old"), QStringLiteral("new")), 0);
    EXPECT_EQ(scalar(QStringLiteral("select USER_PWDMUSTCHANGE from USERS where USER_FPW = '%1'").arg(enc(QStringLiteral("new")).replace('\'', QStringLiteral("''")))).toInt(), 0);
    // The update trigger stamped the row.
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from USERS where USER_DTPWDCHANGE > '01.01.2020'")).toInt(), 2);
}

TEST_F(ProceduresTest, LoginLookupLogsOnlyUsersWithAClass)
{
    addAppl(QStringLiteral("Gatekeep"));
    addAppl(QStringLiteral("Mod05"));
    addClass(QStringLiteral("Gatekeep"), QStringLiteral("admnaccount"));
    addClass(QStringLiteral("Mod05"), QStringLiteral("user3"));
    addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("pw"));
    const int ivan = m_dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt();

    db::StoredProc get(&m_dm.db_Sys, QStringLiteral("GET_LUNPW"));
    auto lookup = [&](const QString& app, const QString& pw) {
        get.clearParams();
        get.setParam(QStringLiteral("FUNM"), enc(QStringLiteral("ivan")));
        get.setParam(QStringLiteral("FPW"), enc(pw));
        get.setParam(QStringLiteral("APPL_NM"), enc(app));
        get.setParam(QStringLiteral("CDESCR"), QStringLiteral("тест"));
        EXPECT_TRUE(m_dm.ExecSysProc(get));
        return DecodeStoredText(get.param(QStringLiteral("LUN")).toString());
    };
    EXPECT_EQ(lookup(QStringLiteral("Gatekeep"), QStringLiteral("pw")), QString()); // no class there
    EXPECT_EQ(lookup(QStringLiteral("Mod05"), QStringLiteral("bad")), QString());
    EXPECT_EQ(lookup(QStringLiteral("Mod99"), QStringLiteral("pw")), QString());
    EXPECT_EQ(logRows(), 0);

    EXPECT_EQ(lookup(QStringLiteral("Mod05"), QStringLiteral("pw")), QStringLiteral("user3"));
    EXPECT_EQ(DecodeStoredText(get.param(QStringLiteral("LPW")).toString()), QStringLiteral("user3-pw"));
    EXPECT_EQ(DecodeStoredText(get.param(QStringLiteral("FURNM")).toString()), QStringLiteral("ivan Full"));
    EXPECT_EQ(get.param(QStringLiteral("USRID")).toInt(), ivan);
    EXPECT_EQ(logRows(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select LOGS_UID || '/' || LOGS_COMMENT from LOGS")).toString(), QStringLiteral("%1/тест").arg(ivan));
    EXPECT_FALSE(scalar(QStringLiteral("select LOGS_DATE from LOGS")).isNull());
}

// On the server, where two administrators work at once: another connection's uncommitted
// insert through the generator does not make a procedure return that connection's key.
class ServerProceduresTest : public ProceduresTest {
protected:
    void SetUp() override
    {
        m_path = OpenServerSystemDatabase(QStringLiteral("procedures"), m_dm, m_other);
        m_prompts.answerConfirm(true);
        ASSERT_TRUE(SelfUpdateCheck(m_dm, m_path));
    }
    db::Database m_other;
};

TEST_F(ServerProceduresTest, AnotherWritersUncommittedInsertKeepsItsKey)
{
    addAppl(QStringLiteral("Mod05"));
    addClass(QStringLiteral("Mod05"), QStringLiteral("user3"));

    db::Transaction other(m_other);
    execSql(m_other, QStringLiteral("insert into USERS (USER_FNM, USER_FPW) values ('other', 'other')"));
    execSql(m_other, QStringLiteral("insert into APPLICATIONS (APL_NAME) values ('other')"));
    const int otherUser = scalarOf(m_other, QStringLiteral("select USER_ID from USERS where USER_FNM = 'other'")).toInt();
    const int otherApp = scalarOf(m_other, QStringLiteral("select APL_ID from APPLICATIONS where APL_NAME = 'other'")).toInt();

    ASSERT_EQ(addUser(QStringLiteral("Mod05"), QStringLiteral("user3"), QStringLiteral("ivan"), QStringLiteral("pw")), 0);
    const int ivan = m_dm.SQLADD_usr.param(QStringLiteral("USERID")).toInt();
    const int app = addAppl(QStringLiteral("Mod07"));
    other.commit();

    EXPECT_NE(ivan, otherUser);
    EXPECT_NE(app, otherApp);
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select USER_FNM from USERS where USER_ID = %1").arg(ivan)).toString()), QStringLiteral("ivan"));
    EXPECT_EQ(column(QStringLiteral("select LNK_USR from LINKS")), QStringList{QString::number(ivan)});
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select APL_NAME from APPLICATIONS where APL_ID = %1").arg(app)).toString()), QStringLiteral("Mod07"));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from USERS")).toInt(), 2);
}
