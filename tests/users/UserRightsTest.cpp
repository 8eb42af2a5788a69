// The users window against a real embedded system database at the current schema.
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/Policy.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"
#include "ui/DBHintGrid.h"
#include "users/NewUser.h"
#include "users/UserRights.h"

#include "db/Query.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {
QString lit(const QString& stored) { return QLatin1Char('\'') + QString(stored).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }
} // namespace

class UserRightsTest : public testing::Test {
protected:
    void SetUp() override
    {
        const QString path = m_tmp.path(QStringLiteral("sys.fdb"));
        CreateCurrentSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
        m_dm.db_Sys.connect();
        PasswordPolicyFlags() = QString(70, QLatin1Char('0'));
        TfrmNewUser::RememberedPassword().clear();
    }
    void TearDown() override { TfrmNewUser::Runner() = nullptr; }

    int addUser(const QString& fullName, const QString& login, const QString& password, const QString& flags = QString())
    {
        exec(QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw, user_flags) values (%1, %2, %3, %4)")
                 .arg(lit(EncodeStoredText(fullName)), lit(EncodeStoredText(login)), lit(EncodeStoredText(password)),
                      flags.isNull() ? QStringLiteral("null") : lit(flags)));
        return scalar(QStringLiteral("select max(user_id) from users")).toInt();
    }
    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }
    QString stored(const char* column, int id)
    {
        return DecodeStoredText(scalar(QStringLiteral("select %1 from users where user_id = %2").arg(QLatin1String(column)).arg(id)).toString());
    }
    std::unique_ptr<TfrmUserRights> open()
    {
        auto w = std::make_unique<TfrmUserRights>(m_dm);
        w->show();
        return w;
    }
    // Answers the New User dialog with these fields (login typed after the name, as a person would).
    void fillNewUser(const QString& name, const QString& login, const QString& pw, const QString& check = QString())
    {
        TfrmNewUser::Runner() = [=](TfrmNewUser& d) {
            d.edRealName->setText(name);
            if (!login.isNull())
                d.edUname->setText(login);
            d.edPWD->setText(pw);
            d.edchkPwd->setText(check.isNull() ? pw : check);
            d.Confirm();
            return d.result();
        };
    }
    QString currentName(TfrmUserRights& w) { return w.tblUsers.text(QStringLiteral("USER_RNM")); }

    TempDir m_tmp;
    TDM m_dm;
    ScriptedPrompts m_prompts;
};

TEST_F(UserRightsTest, NewUserDialogChecksInOrder)
{
    struct Case {
        QString name, login, pw, check, message;
        const char* focus;
    };
    const Case cases[] = {
        {QStringLiteral("Iva"), QStringLiteral("ivp"), QStringLiteral("abc"), {}, QStringLiteral("Късо истинско име!"), "edRealName"},
        {QStringLiteral("  Ivan  "), QStringLiteral("iv"), QStringLiteral("abc"), {}, QStringLiteral("Късо потребителско име!"), "edUname"},
        {QStringLiteral("Ivan"), QStringLiteral("ivp"), QStringLiteral(" ab "), {}, QStringLiteral("Къса парола!"), "edPWD"},
        {QStringLiteral("Ivan"), QStringLiteral("ivp"), QStringLiteral("abc"), QStringLiteral("abd"), QStringLiteral("разлика в паролите!"), "edchkPwd"},
        {QStringLiteral("Ivan"), QStringLiteral("ivp"), QStringLiteral("abc"), QStringLiteral(" abc "), QString(), nullptr},
    };
    for (const Case& c : cases) {
        TfrmNewUser d(TfrmNewUser::Mode::NewUser);
        d.edRealName->setText(c.name);
        d.edUname->setText(c.login);
        d.edPWD->setText(c.pw);
        d.edchkPwd->setText(c.check.isNull() ? c.pw : c.check);
        const auto before = m_prompts.messages().size();
        EXPECT_EQ(d.Confirm(), c.message.isEmpty()) << c.name.toStdString();
        if (c.message.isEmpty()) {
            EXPECT_EQ(m_prompts.messages().size(), before);
            EXPECT_EQ(d.Password(), QStringLiteral("abc"));
        } else {
            EXPECT_EQ(m_prompts.messages().last(), c.message);
            EXPECT_EQ(d.focusWidget()->objectName(), QLatin1String(c.focus));
        }
    }
    // The password is remembered for the next new user.
    TfrmNewUser next(TfrmNewUser::Mode::NewUser);
    EXPECT_EQ(next.edPWD->text(), QStringLiteral("abc"));
}

TEST_F(UserRightsTest, ProposedLoginNames)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("  Ivan   Petrov  "), QStringLiteral("IPetrov")},
        {QStringLiteral("Ivan Petrov Ivanov"), QStringLiteral("IPIvanov")},
        {QStringLiteral("иван петров ИВАНОВ"), QStringLiteral("ИПИванов")},
        {QStringLiteral("Мария Анна Петрова Иванова"), QStringLiteral("МАИванова")},
        {QStringLiteral("Ivan"), QStringLiteral("keep")},
    };
    for (const auto& [name, login] : cases)
        EXPECT_EQ(ProposeLoginName(name, QStringLiteral("keep")), login) << name.toStdString();
    EXPECT_EQ(CollapseSpaces(QStringLiteral("  Ivan   Petrov  ")), QStringLiteral("Ivan Petrov"));
}

TEST_F(UserRightsTest, CreatingUsers)
{
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("APetrova"), QStringLiteral("pw1"));
    auto w = open();

    fillNewUser(QStringLiteral("  Ivan   \"Vanko\" Petrov  "), QString(), QStringLiteral("secret"));
    w->sbNewUser->click();
    EXPECT_TRUE(m_prompts.shown.isEmpty()) << m_prompts.shown.first().text.toStdString();
    const int ivan = w->currentUserId();
    EXPECT_EQ(stored("user_rnm", ivan), QStringLiteral("Ivan \"Vanko\" Petrov"));
    EXPECT_EQ(stored("user_fnm", ivan), QStringLiteral("I\"Petrov")); // the quote is the middle initial
    EXPECT_EQ(stored("user_fpw", ivan), QStringLiteral("secret"));
    EXPECT_EQ(currentName(*w), QStringLiteral("Ivan \"Vanko\" Petrov"));
    EXPECT_TRUE(w->modified());

    // The same pair again: refused, and the list still follows row changes.
    fillNewUser(QStringLiteral("Ivan Other"), QStringLiteral("I\"Petrov"), QStringLiteral("secret"));
    m_prompts.answerConfirm(true); // similar login name
    w->sbNewUser->click();
    EXPECT_EQ(m_prompts.messages().last(), QStringLiteral("Вече има въведен потребител с зададеното име и парола !\r Потребителят не е добавен"));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 2);
    w->tblUsers.first();
    EXPECT_EQ(w->gbRights->title(), QStringLiteral("Приложения(права)  - Anna Petrova"));

    // The same login name with another password is another user, once the similarity is accepted.
    fillNewUser(QStringLiteral("Ivan Other"), QStringLiteral("I\"Petrov"), QStringLiteral("other"));
    m_prompts.answerConfirm(true);
    w->sbNewUser->click();
    EXPECT_TRUE(m_prompts.shown.last().text.startsWith(QStringLiteral("Намерен е потребител със сходно потребителско(Login) име  : \"Ivan \"Vanko\" Petrov\"")));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 3);
    EXPECT_EQ(currentName(*w), QStringLiteral("Ivan Other"));

    // A similar full name, answered No: nothing is added and the similar user is shown.
    fillNewUser(QStringLiteral("anna-petrova"), QStringLiteral("newanna"), QStringLiteral("x12"));
    m_prompts.answerConfirm(false);
    w->sbNewUser->click();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 3);
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
    EXPECT_TRUE(m_prompts.allAnswered());
}

TEST_F(UserRightsTest, RenamingRefusesWhatCannotBeStored)
{
    const int id = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("IPetrov"), QStringLiteral("pw1"));
    addUser(QStringLiteral("Petar Ivanov"), QStringLiteral("PIvanov"), QStringLiteral("pw2"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), id));

    const QString tooLong(35, QLatin1Char('x'));
    m_prompts.answerConfirm(true).answerText(tooLong);
    w->sbChangeName->click();
    EXPECT_TRUE(m_prompts.messages().last().contains(QStringLiteral("34"))) << m_prompts.messages().last().toStdString();
    EXPECT_EQ(stored("user_rnm", id), QStringLiteral("Ivan Petrov"));

    m_prompts.answerConfirm(true).answerText(QStringLiteral("Иван \"Ванко\" Петров"));
    w->sbChangeName->click();
    EXPECT_EQ(stored("user_rnm", id), QStringLiteral("Иван \"Ванко\" Петров"));
    EXPECT_EQ(w->currentUserId(), id);

    const std::pair<QString, QString> logins[] = {
        {QStringLiteral(" abc "), QStringLiteral("Късо потребителско име  !")},
        {QStringLiteral("PIvanov"), QStringLiteral("Вече има потребител с посоченото потребителско име   ! [Petar Ivanov]\rПотреб. име  не е променено .")},
        {tooLong, QStringLiteral("34")},
    };
    for (const auto& [login, message] : logins) {
        m_prompts.answerText(login);
        w->sbLogName->click();
        EXPECT_TRUE(m_prompts.messages().last().contains(message)) << login.toStdString();
        EXPECT_EQ(stored("user_fnm", id), QStringLiteral("IPetrov"));
    }
    m_prompts.answerText(QStringLiteral(" abcd "));
    w->sbLogName->click();
    EXPECT_EQ(stored("user_fnm", id), QStringLiteral("abcd"));
}

TEST_F(UserRightsTest, ChangingPasswords)
{
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("old"));
    addUser(QStringLiteral("Ivan Ivanov"), QStringLiteral("ivan"), QStringLiteral("taken"));
    exec(QStringLiteral("update users set user_cert = 'cert' where user_id = %1").arg(ivan));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));

    fillNewUser(QString(), QString(), QStringLiteral("old"));
    TfrmNewUser::Runner() = [](TfrmNewUser& d) {
        EXPECT_FALSE(d.edRealName->isEnabled());
        EXPECT_EQ(d.edUname->text(), QStringLiteral("ivan"));
        d.edPWD->setText(QStringLiteral("old"));
        d.edchkPwd->setText(QStringLiteral("old"));
        d.Confirm();
        return d.result();
    };
    w->sbPwdChange->click(); // unchanged: nothing happens, nothing is shown
    EXPECT_TRUE(m_prompts.shown.isEmpty());
    EXPECT_EQ(scalar(QStringLiteral("select user_cert from users where user_id = %1").arg(ivan)).toString(), QStringLiteral("cert"));

    fillNewUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("taken"));
    w->sbPwdChange->click();
    EXPECT_EQ(m_prompts.messages().last(), QStringLiteral("Вече има потребител с посоченото име и парола  !\rПаролата не е променена ."));
    EXPECT_EQ(stored("user_fpw", ivan), QStringLiteral("old"));

    fillNewUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("new"));
    w->sbPwdChange->click();
    EXPECT_EQ(stored("user_fpw", ivan), QStringLiteral("new"));
    EXPECT_TRUE(scalar(QStringLiteral("select user_cert from users where user_id = %1").arg(ivan)).isNull());
}

TEST_F(UserRightsTest, SearchWrapsAndSkipsRemovedCharacters)
{
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"));
    addUser(QStringLiteral("Petar Ivanov"), QStringLiteral("petar"), QStringLiteral("p"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_RNM"), QStringLiteral("Ivan Petrov")));
    w->edSeek->setText(QStringLiteral("petr"));
    for (const char* expected : {"Anna Petrova", "Ivan Petrov", "Anna Petrova"}) {
        w->Seek_SB->click();
        EXPECT_EQ(currentName(*w), QLatin1String(expected));
    }
    w->edSeek->setText(QStringLiteral("-."));
    w->Seek_SB->click();
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));

    w->rbUserName->setChecked(true);
    w->edSeek->setText(QStringLiteral("PET"));
    w->Seek_SB->click();
    EXPECT_EQ(currentName(*w), QStringLiteral("Petar Ivanov"));

    // Enter in the search field searches once.
    w->rbRealName->setChecked(true);
    w->edSeek->setText(QStringLiteral("petr"));
    QTest::keyClick(w->edSeek, Qt::Key_Return);
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
}

TEST_F(UserRightsTest, RemoteAccess)
{
    const int anna = addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"), QString());
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"), QStringLiteral("T\"x"));
    exec(QStringLiteral("update users set user_flags = null where user_id = %1").arg(anna));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), anna));
    EXPECT_TRUE(w->sbAllowInet->isEnabled());
    EXPECT_FALSE(w->sbDenny->isEnabled());

    w->sbAllowInet->click();
    EXPECT_EQ(scalar(QStringLiteral("select user_flags from users where user_id = %1").arg(anna)).toString(), QStringLiteral("T") + QString(19, QLatin1Char('0')));
    EXPECT_EQ(scalar(QStringLiteral("select user_expdate from users where user_id = %1").arg(anna)).toDateTime().date(), QDate::currentDate().addDays(365));
    EXPECT_FALSE(w->sbAllowInet->isEnabled());
    EXPECT_EQ(w->DTP->date(), QDate::currentDate().addDays(365));

    w->sbDenny->click();
    EXPECT_EQ(scalar(QStringLiteral("select user_flags from users where user_id = %1").arg(anna)).toString(), QStringLiteral("F") + QString(19, QLatin1Char('0')));
    EXPECT_EQ(scalar(QStringLiteral("select user_expdate from users where user_id = %1").arg(anna)).toDateTime().date(), QDate::currentDate());

    // A stored quote survives; the display follows each user's own flags.
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    EXPECT_FALSE(w->sbAllowInet->isEnabled());
    w->sbDenny->click();
    EXPECT_EQ(scalar(QStringLiteral("select user_flags from users where user_id = %1").arg(ivan)).toString(), QStringLiteral("F\"x") + QString(17, QLatin1Char('0')));
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), anna));
    EXPECT_TRUE(w->sbAllowInet->isEnabled());

    w->ForcePasswordChange();
    EXPECT_EQ(scalar(QStringLiteral("select user_pwdmustchange from users where user_id = %1").arg(anna)).toInt(), 23);
}

TEST_F(UserRightsTest, SortShowPasswordAndLeaving)
{
    addUser(QStringLiteral("борис"), QStringLiteral("zeta"), QStringLiteral("pw-b"));
    addUser(QStringLiteral("Анна"), QStringLiteral("alpha"), QStringLiteral("pw-a"));
    auto w = open();
    EXPECT_EQ(currentName(*w), QStringLiteral("Анна"));
    w->grid->setSelectedColumn(2);
    w->miSortZA->trigger();
    w->tblUsers.first();
    EXPECT_EQ(currentName(*w), QStringLiteral("борис"));

    w->ShowPassword();
    EXPECT_EQ(w->pnlTop->toolTip(), QStringLiteral("pw-b"));
    w->tblUsers.next();
    EXPECT_TRUE(w->pnlTop->toolTip().isEmpty());

    w->setModified(true);
    m_prompts.answerConfirm(false);
    w->sbExit->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Въведените или променени данни ще бъдат загубени.Да се запишат ли промените  ?"));
    EXPECT_FALSE(w->isVisible());

    // Esc asks the same, once.
    w->show();
    w->setModified(true);
    m_prompts.answerConfirm(false);
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_TRUE(m_prompts.unexpected.isEmpty());
}

TEST_F(UserRightsTest, NewUserDialogKeys)
{
    TfrmNewUser d(TfrmNewUser::Mode::NewUser);
    d.show();
    QApplication::setActiveWindow(&d);
    d.edRealName->setFocus();
    d.edRealName->setText(QStringLiteral("Ivan Petrov"));
    QTest::keyClick(d.edRealName, Qt::Key_Return); // not all filled: on to the next field
    EXPECT_EQ(QApplication::focusWidget(), d.edUname);
    d.edPWD->setText(QStringLiteral("secret"));
    d.edchkPwd->setText(QStringLiteral("secret"));
    QTest::keyClick(d.edUname, Qt::Key_Return); // all filled: confirms
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.LoginName(), QStringLiteral("IPetrov"));

    TfrmNewUser e(TfrmNewUser::Mode::NewUser);
    e.show();
    QTest::keyClick(e.edPWD, Qt::Key_Escape);
    EXPECT_EQ(e.result(), QDialog::Rejected);
    EXPECT_FALSE(e.isVisible());
}

TEST_F(UserRightsTest, DeletingAUserTakesItsRightsAlong)
{
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"));
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    exec(QStringLiteral("insert into links values (%1, 1, 1)").arg(ivan));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    m_prompts.answerConfirm(false);
    w->DeleteUser();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 2);
    EXPECT_TRUE(m_prompts.shown.last().text.startsWith(QStringLiteral("Сигурни ли сте, че искате да забраните достъпа на  Ivan Petrov до всички програми  ?\r(")));

    m_prompts.answerConfirm(true);
    w->DeleteUser();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links")).toInt(), 0);
    EXPECT_EQ(w->tblUsers.recordCount(), 1);
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
    EXPECT_FALSE(w->sbDelete->isVisible());
}
