// The directory accounts of the users window: the test slapd as the domain, a real system
// database (embedded; on the Firebird server where a second administrator holds a row).
#include "support/ScriptedPrompts.h"
#include "support/Slapd.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/Config.h"
#include "core/DataModule.h"
#include "core/Policy.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"
#include "users/DomainAccounts.h"
#include "users/UserRights.h"

#include "db/Query.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

namespace Text = DomainAccountsText;

namespace {

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

const QByteArray kIvanSid = SidBytes({21, 3000000001, 4000000002, 2147483649u, 1101});
const QString kIvanSidText = QStringLiteral("S-1-5-21-3000000001-4000000002-2147483649-1101");

} // namespace

class DomainAccountsTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_branch.add({
            {QStringLiteral("ivan"), QStringLiteral("Иван Петров"), kIvanSid},
            {QStringLiteral("maria"), QStringLiteral("Мария Иванова"), SidBytes({21, 1, 2, 3, 1102})},
            {QStringLiteral("petar"), QString(), SidBytes({21, 1, 2, 3, 1103})},
            {QStringLiteral("o\"hara"), QStringLiteral("Scarlett \"Katie\" O'Hara"), SidBytes({21, 1, 2, 3, 1104})},
            {QStringLiteral("anna"), QStringLiteral("Anna Ivanovna"), SidBytes({21, 1, 2, 3, 1105})},
            {QStringLiteral("ghost"), QStringLiteral("Disabled Ivan"), SidBytes({21, 1, 2, 3, 1106}), 514},
            {QStringLiteral("jiří"), QStringLiteral("Jiří Novák"), SidBytes({21, 1, 2, 3, 1107})},
        });
        configure(m_branch.settings(m_tmp));
        PasswordPolicyFlags() = QStringLiteral("01").leftJustified(70, QLatin1Char('0'));
    }
    void TearDown() override
    {
        qunsetenv("GATEKEEP_CONFIG_DIR");
        PasswordPolicyFlags().clear();
    }

    void configure(const DirectorySettings& s)
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        IniFile ini(GatekeepIniPath());
        const QString d = QStringLiteral("Directory");
        ini.setValue(d, QStringLiteral("URI"), s.uri);
        ini.setValue(d, QStringLiteral("StartTLS"), s.startTls ? QStringLiteral("1") : QStringLiteral("0"));
        ini.setValue(d, QStringLiteral("CAFile"), s.caFile);
        ini.setValue(d, QStringLiteral("BaseDN"), s.baseDn);
        ini.setValue(d, QStringLiteral("BindDN"), s.bindDn);
        ini.setValue(d, QStringLiteral("PasswordFile"), s.passwordFile);
        ini.setValue(d, QStringLiteral("Domain"), s.domain);
        ini.save();
    }

    void useDatabase(const QString& path, const QString& user, const QString& password)
    {
        CreateCurrentSystemDatabase(path, user, password);
        SetStartupConnection(m_dm.db_Sys, user, password, path);
        m_dm.db_Sys.connect();
    }
    void useEmbedded() { useDatabase(m_tmp.path(QStringLiteral("sys.fdb")), QStringLiteral("SYSCREAT"), QString()); }

    // Users get the ids 1, 2, 3, … in the order they are added.
    int addUser(const QString& fullName, const QString& domainUser = {}, const QString& sid = {})
    {
        exec(QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw, user_domainname, user_domainuser, user_domainsid, user_cert) "
                            "values (%1, %2, %3, %4, %5, %6, 'cert')")
                 .arg(lit(EncodeStoredText(fullName)), lit(EncodeStoredText(fullName.left(8))), lit(EncodeStoredText(QStringLiteral("old"))),
                      lit(sid.isEmpty() ? QString() : QStringLiteral("GKTEST")), lit(domainUser), lit(sid)));
        return scalar(QStringLiteral("select max(user_id) from users")).toInt();
    }
    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }
    QStringList binding(int id)
    {
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select user_domainname, user_domainuser, user_domainsid from users where user_id = :id"));
        q.setParam(QStringLiteral("id"), id);
        q.open();
        return {q.field(0).asString(), q.field(1).asString(), q.field(2).asString()};
    }
    QString password(int id) { return DecodeStoredText(scalar(QStringLiteral("select user_fpw from users where user_id = %1").arg(id)).toString()); }
    bool hasCert(int id) { return !scalar(QStringLiteral("select user_cert from users where user_id = %1").arg(id)).isNull(); }

    std::unique_ptr<TfrmUserRights> open()
    {
        auto w = std::make_unique<TfrmUserRights>(m_dm);
        w->show();
        return w;
    }
    static QStringList listed(TfrmUserRights& w)
    {
        QStringList out;
        for (int i = 0; i < w.domainAccounts->lbDomainUsers->count(); ++i)
            out << w.domainAccounts->lbDomainUsers->item(i)->text();
        return out;
    }
    static const DomainAccount& account(TfrmUserRights& w, const QString& name)
    {
        const TADomainUserInfo& info = *w.domainAccounts->info();
        for (int i = 0; i < info.count(); ++i)
            if (info.account(i).Name == name)
                return info.account(i);
        throw std::runtime_error("no account " + name.toStdString());
    }

    TempDir m_tmp;
    SlapdBranch m_branch;
    TDM m_dm;
    ScriptedPrompts m_prompts;
};

TEST_F(DomainAccountsTest, OpeningListsTheEnabledAccountsSortedAndTheFilterNarrowsThem)
{
    useEmbedded();
    addUser(QStringLiteral("Administrator"));
    auto w = open();
    const QStringList all{QStringLiteral("Anna Ivanovna"), QStringLiteral("Jiří Novák"), QStringLiteral("petar"),
                          QStringLiteral("Scarlett \"Katie\" O'Hara"), QStringLiteral("Иван Петров"), QStringLiteral("Мария Иванова")};
    EXPECT_EQ(listed(*w), all);
    EXPECT_TRUE(w->domainAccounts->N1->isVisible());

    struct Case {
        QString filter;
        QStringList shown;
    };
    const Case cases[] = {
        {QStringLiteral("ivan"), {QStringLiteral("Anna Ivanovna")}},
        {QStringLiteral("иван"), {QStringLiteral("Иван Петров"), QStringLiteral("Мария Иванова")}},
        {QStringLiteral("PETAR"), {QStringLiteral("petar")}},
        {QStringLiteral("\"katie\""), {QStringLiteral("Scarlett \"Katie\" O'Hara")}},
        {QStringLiteral("   "), all},
        {QString(), all},
    };
    QTest::keyClicks(w->domainAccounts->edDomainUsers, QStringLiteral("ivan")); // typed, key by key
    EXPECT_EQ(listed(*w), QStringList{QStringLiteral("Anna Ivanovna")});
    for (const Case& c : cases) {
        w->domainAccounts->edDomainUsers->setText(c.filter);
        EXPECT_EQ(listed(*w), c.shown) << c.filter.toStdString();
    }
}

TEST_F(DomainAccountsTest, WithoutTheDomainPolicyNothingIsRead)
{
    useEmbedded();
    PasswordPolicyFlags() = QString(70, QLatin1Char('0'));
    auto w = open();
    EXPECT_EQ(w->domainAccounts->info(), nullptr);
    EXPECT_EQ(w->domainAccounts->lbDomainUsers->count(), 0);
    EXPECT_FALSE(w->domainAccounts->N1->isVisible());
}

TEST_F(DomainAccountsTest, AnUnreadableDirectoryLeavesTheListEmpty)
{
    useEmbedded();
    DirectorySettings s = m_branch.settings(m_tmp);
    s.passwordFile = SlapdBranch::writeFile(m_tmp, QStringLiteral("wrong.pw"), "wrong", 0600);
    configure(s);
    auto w = open();
    EXPECT_EQ(w->domainAccounts->lbDomainUsers->count(), 0);
    EXPECT_TRUE(w->domainAccounts->info()->error().contains(QStringLiteral("Invalid credentials")));
    EXPECT_TRUE(m_prompts.shown.isEmpty()); // as WMI's failures, said in the log only
}

TEST_F(DomainAccountsTest, BindingOneAccountToOneUserOnly)
{
    useEmbedded();
    const int first = addUser(QStringLiteral("Иван Петров"));
    const int second = addUser(QStringLiteral("Друг Потребител"));
    auto w = open();
    const DomainAccount& ivan = account(*w, QStringLiteral("ivan"));
    const QStringList bound{QStringLiteral("GKTEST"), QStringLiteral("ivan"), kIvanSidText};

    w->domainAccounts->BindDomainAccount(first, ivan);
    EXPECT_EQ(binding(first), bound);
    EXPECT_EQ(w->currentUserId(), first);
    EXPECT_EQ(w->tblUsers.text(QStringLiteral("USER_DOMAINUSER")), QStringLiteral("ivan"));

    // Again to the same account: the check finds the user itself.
    w->domainAccounts->BindDomainAccount(first, ivan);
    EXPECT_EQ(binding(first), bound);
    EXPECT_TRUE(m_prompts.messages().isEmpty());

    // A second user on the bound account: refused, both as they were.
    w->domainAccounts->BindDomainAccount(second, ivan);
    EXPECT_EQ(m_prompts.messages(), QStringList{Text::TwoUsersOneAccount});
    EXPECT_EQ(binding(first), bound);
    EXPECT_EQ(binding(second), (QStringList{QString(), QString(), QString()}));

    // Cleared from the grid's menu, the account is free for the second user.
    w->domainAccounts->N1->trigger(); // the first user is current
    EXPECT_EQ(binding(first), (QStringList{QString(), QString(), QString()}));
    w->domainAccounts->BindDomainAccount(second, ivan);
    EXPECT_EQ(binding(second), bound);
}

TEST_F(DomainAccountsTest, ADoubleClickBindsTheCurrentUserAndNamesAreNeverSqlText)
{
    useEmbedded();
    const int id = addUser(QStringLiteral("Scarlett O'Hara"));
    auto w = open();
    w->domainAccounts->edDomainUsers->setText(QStringLiteral("katie"));
    ASSERT_EQ(w->domainAccounts->lbDomainUsers->count(), 1);
    QListWidget* list = w->domainAccounts->lbDomainUsers;
    emit list->itemDoubleClicked(list->item(0));
    EXPECT_EQ(binding(id), (QStringList{QStringLiteral("GKTEST"), QStringLiteral("o\"hara"), QStringLiteral("S-1-5-21-1-2-3-1104")}));
    EXPECT_TRUE(m_prompts.messages().isEmpty());
}

TEST_F(DomainAccountsTest, AnAccountNameOutsideCp1251IsRefusedByName)
{
    useEmbedded();
    const int id = addUser(QStringLiteral("Jiri Novak"));
    auto w = open();
    w->domainAccounts->BindDomainAccount(id, account(*w, QStringLiteral("jiří")));
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages()[0].startsWith(Text::NotCp1251.arg(QStringLiteral("jiří"), QString())));
    EXPECT_TRUE(m_prompts.messages()[0].contains(QStringLiteral("U+0159")));
    EXPECT_EQ(binding(id), (QStringList{QString(), QString(), QString()}));
}

TEST_F(DomainAccountsTest, FillInBindsByStoredDomainUserName)
{
    useEmbedded();
    // Imported with a domain user name and no SID; one name unknown; one already bound.
    const int a = addUser(QStringLiteral("Anna Ivanovna"), QStringLiteral("ANNA"));
    const int b = addUser(QStringLiteral("Bogdan Unknown"), QStringLiteral("bogdan"));
    const int c = addUser(QStringLiteral("Cveta No Name"));
    const int m = addUser(QStringLiteral("Maria Ivanova"), QStringLiteral("maria"), QStringLiteral("S-1-5-21-1-2-3-1102"));
    const int p = addUser(QStringLiteral("Petar Petrov"), QStringLiteral("Petar"));
    auto w = open();
    w->domainAccounts->SpeedButton2->click();
    EXPECT_EQ(binding(a), (QStringList{QStringLiteral("GKTEST"), QStringLiteral("anna"), QStringLiteral("S-1-5-21-1-2-3-1105")}));
    EXPECT_EQ(binding(b), (QStringList{QString(), QStringLiteral("bogdan"), QString()}));
    EXPECT_EQ(binding(c), (QStringList{QString(), QString(), QString()}));
    EXPECT_EQ(binding(m), (QStringList{QStringLiteral("GKTEST"), QStringLiteral("maria"), QStringLiteral("S-1-5-21-1-2-3-1102")}));
    EXPECT_EQ(binding(p), (QStringList{QStringLiteral("GKTEST"), QStringLiteral("petar"), QStringLiteral("S-1-5-21-1-2-3-1103")}));
    EXPECT_TRUE(m_prompts.messages().isEmpty());
    EXPECT_EQ(w->currentUserId(), p); // the walk ended on the last user it bound
}

TEST_F(DomainAccountsTest, GeneratedPasswordsOnlyForWhomTheTickSays)
{
    struct Case {
        const char* name;
        bool all;
        bool answer;
        QList<bool> changed; // users 1 to 6
    };
    const Case cases[] = {
        {"bound users", false, true, {false, false, true, false, false, false}},
        {"all users", true, true, {false, false, true, true, true, true}},
        {"declined", true, false, {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TempDir dir;
        CreateCurrentSystemDatabase(dir.path(QStringLiteral("sys.fdb")), QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), dir.path(QStringLiteral("sys.fdb")));
        m_dm.db_Sys.connect();
        addUser(QStringLiteral("Admin One"), QStringLiteral("ivan"), kIvanSidText);
        addUser(QStringLiteral("Admin Two"), QStringLiteral("maria"), QStringLiteral("S-1-5-21-1-2-3-1102"));
        addUser(QStringLiteral("Bound User"), QStringLiteral("anna"), QStringLiteral("S-1-5-21-1-2-3-1105"));
        addUser(QStringLiteral("Name Only"), QStringLiteral("petar"));
        addUser(QStringLiteral("Sid Only"), QString(), QStringLiteral("S-1-5-21-1-2-3-1103"));
        addUser(QStringLiteral("Not Bound"));
        {
            auto w = open();
            w->domainAccounts->cbResetPassAll->setChecked(c.all);
            m_prompts.answerConfirm(c.answer);
            w->domainAccounts->sbGeneratePass->click();
            ASSERT_EQ(m_prompts.shown.size(), 1);
            EXPECT_EQ(m_prompts.shown[0].text, c.all ? Text::ConfirmAll : Text::ConfirmBound);
            EXPECT_EQ(m_prompts.shown[0].defaultAnswer, Prompts::Answer::No);
        }
        for (int id = 1; id <= 6; ++id) {
            EXPECT_EQ(password(id) != QStringLiteral("old"), c.changed[id - 1]) << "user " << id;
            EXPECT_EQ(hasCert(id), !c.changed[id - 1]) << "user " << id;
        }
        m_prompts.shown.clear();
        m_dm.db_Sys.disconnect();
    }
}

TEST(GeneratedPasswordTest, TwentyCharactersOfEveryKindUnguessable)
{
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        const QString pw = GeneratedPassword();
        ASSERT_EQ(pw.size(), 20);
        EXPECT_TRUE(std::any_of(pw.begin(), pw.end(), [](QChar c) { return c.isDigit(); })) << pw.toStdString();
        EXPECT_TRUE(std::any_of(pw.begin(), pw.end(), [](QChar c) { return c.isUpper(); })) << pw.toStdString();
        EXPECT_TRUE(std::any_of(pw.begin(), pw.end(), [](QChar c) { return c.isLower(); })) << pw.toStdString();
        EXPECT_TRUE(std::any_of(pw.begin(), pw.end(), [](QChar c) { return QStringLiteral("!@#$%^&*()|-_,.<>~").contains(c); }))
            << pw.toStdString();
        EXPECT_FALSE(pw.contains(QLatin1Char('"')) || pw.contains(QLatin1Char(' ')));
        EXPECT_EQ(DecodeStoredText(EncodeStoredText(pw)), pw);
        seen.insert(pw);
    }
    EXPECT_EQ(seen.size(), 200);
}

TEST_F(DomainAccountsTest, FailedPasswordUpdatesAreCounted)
{
    const QString path = serverDatabasePath(QStringLiteral("domain"));
    const db::ParamList p = firebirdParams(path);
    useDatabase(path, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
    addUser(QStringLiteral("Admin One"));
    addUser(QStringLiteral("Admin Two"));
    const int held = addUser(QStringLiteral("Held User"), QStringLiteral("anna"), QStringLiteral("S-1-5-21-1-2-3-1105"));
    const int free = addUser(QStringLiteral("Free User"), QStringLiteral("petar"), QStringLiteral("S-1-5-21-1-2-3-1103"));
    auto w = open();
    w->domainAccounts->setLockTimeout(0);

    // A second administrator has changed one of them and not yet committed.
    db::Database other;
    other.setDriverName(QStringLiteral("INTRBASE"));
    other.params() = p;
    other.connect();
    db::Transaction t(other);
    execSql(other, QStringLiteral("update users set user_rnm = user_rnm where user_id = %1").arg(held));

    m_prompts.answerConfirm(true);
    w->domainAccounts->sbGeneratePass->click();
    EXPECT_EQ(m_prompts.messages(), QStringList{Text::PasswordsFailed.arg(1).arg(2)});
    t.rollback();
    EXPECT_EQ(password(held), QStringLiteral("old"));
    EXPECT_NE(password(free), QStringLiteral("old"));
    EXPECT_FALSE(hasCert(free));
}
