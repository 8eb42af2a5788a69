// The users window against a real system database at the current schema: embedded, and on the
// Firebird server where a second administrator's connection holds rows or tables.
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/Policy.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/TextOps.h"
#include "maint/Demo.h"
#include "ui/DBHintGrid.h"
#include "users/NewUser.h"
#include "users/UserRights.h"
#include "users/UserRightsText.h"

#include "db/Query.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QScreen>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

namespace {
QString lit(const QString& stored) { return QLatin1Char('\'') + QString(stored).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }
} // namespace

namespace Text = UserRightsText;

class UserRightsTest : public testing::Test {
protected:
    void SetUp() override { useDatabase(m_tmp.path(QStringLiteral("sys.fdb")), QStringLiteral("SYSCREAT"), QString()); }
    void TearDown() override { TfrmNewUser::Runner() = nullptr; }

    void useDatabase(const QString& path, const QString& user, const QString& password)
    {
        CreateCurrentSystemDatabase(path, user, password);
        SetStartupConnection(m_dm.db_Sys, user, password, path);
        m_dm.db_Sys.connect();
        PasswordPolicyFlags() = QString(70, QLatin1Char('0'));
        TfrmNewUser::RememberedPassword().clear();
    }

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
    EXPECT_FALSE(w->modified()); // a new user has no rights yet: moving on loses nothing

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
    m_prompts.answerYesNoCancel(Prompts::Answer::No);
    w->sbExit->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Въведените или променени данни ще бъдат загубени.Да се запишат ли промените  ?"));
    EXPECT_FALSE(w->isVisible());

    // Esc asks the same, once; Cancel stays with the edits, Discard leaves.
    w->show();
    w->setModified(true);
    m_prompts.answerYesNoCancel(Prompts::Answer::Cancel);
    QTest::keyClick(w.get(), Qt::Key_Escape);
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->modified());
    m_prompts.answerYesNoCancel(Prompts::Answer::No);
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
    EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Warning);
    EXPECT_EQ(m_prompts.shown.last().defaultAnswer, Prompts::Answer::No); // Enter does not delete

    m_prompts.answerConfirm(true);
    w->DeleteUser();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links")).toInt(), 0);
    EXPECT_EQ(w->tblUsers.recordCount(), 1);
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
    EXPECT_FALSE(w->sbDelete->isVisible());
}

// Sorting or filtering the list keeps the same user current: his unsaved rights stay.
TEST_F(UserRightsTest, SortingAndFilteringKeepTheUnsavedRights)
{
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"));
    addUser(QStringLiteral("Petar Ivanov"), QStringLiteral("petar"), QStringLiteral("p"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    w->setModified(true);

    w->grid->setSelectedColumn(1);
    w->miSortZA->trigger();
    EXPECT_EQ(w->tblUsers.textAt(0, w->tblUsers.fieldIndex(QStringLiteral("USER_RNM"))), QStringLiteral("Petar Ivanov"));
    w->miSortAZ->trigger();
    w->grid->SetColumnFilter(1, QStringLiteral("iv"), false); // Ivan Petrov and Petar Ivanov stay
    EXPECT_EQ(w->tblUsers.recordCount(), 2);
    w->grid->RemoveAllFilters();
    EXPECT_EQ(w->currentUserId(), ivan);
    EXPECT_TRUE(w->modified());

    // A filter that hides him makes another user current, which drops the flag.
    w->grid->SetColumnFilter(1, QStringLiteral("anna"), false);
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
    EXPECT_FALSE(w->modified());
    EXPECT_EQ(w->gbRights->title(), Text::RightsBox + QStringLiteral("Anna Petrova"));
}

// "Дата" writes the date and the list keeps it: back on the user, the picker shows what was written.
TEST_F(UserRightsTest, ChangedRemoteDateStaysWithTheUser)
{
    const int anna = addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"), QStringLiteral("T0000000000000000000"));
    exec(QStringLiteral("update users set user_expdate = '01.02.2030' where user_id = %1").arg(ivan));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    EXPECT_EQ(w->DTP->text(), QStringLiteral("01.02.2030"));

    const QDate chosen(2031, 3, 5);
    w->DTP->setDate(chosen);
    w->sbInetChangeDate->click();
    EXPECT_EQ(scalar(QStringLiteral("select user_expdate from users where user_id = %1").arg(ivan)).toDateTime().date(), chosen);
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), anna));
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    EXPECT_EQ(w->DTP->date(), chosen);
    EXPECT_EQ(w->DTP->text(), QStringLiteral("05.03.2031"));
}

// An existing name is never cut or scrolled in the password dialog; new names keep their limit.
TEST_F(UserRightsTest, PasswordDialogShowsTheWholeNameFromItsStart)
{
    const QString name = QStringLiteral("Мария-Магдалена Христова-Пенчева"); // 32 characters
    const QString login = QStringLiteral("МММагдалена-Христова-Пенчева");
    const int id = addUser(name, login, QStringLiteral("old"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), id));
    QStringList seen;
    int cursor = -1;
    TfrmNewUser::Runner() = [&](TfrmNewUser& d) {
        seen << d.edRealName->text() << d.edUname->text();
        cursor = d.edRealName->cursorPosition() + d.edUname->cursorPosition();
        d.edPWD->setText(QStringLiteral("new"));
        d.edchkPwd->setText(QStringLiteral("new"));
        d.Confirm();
        return d.result();
    };
    w->sbPwdChange->click();
    EXPECT_EQ(seen, (QStringList{name, login}));
    EXPECT_EQ(cursor, 0);
    EXPECT_EQ(stored("user_fpw", id), QStringLiteral("new"));

    TfrmNewUser fresh(TfrmNewUser::Mode::NewUser);
    fresh.edRealName->setText(name);
    EXPECT_EQ(fresh.edRealName->text(), name.left(25));
}

// The window fits the offscreen platform's 800x600 screen, at its full and its smallest size.
TEST_F(UserRightsTest, WindowFitsASmallScreen)
{
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    auto w = open();
    const QRect screen = w->screen()->availableGeometry();
    ASSERT_LE(screen.width(), 800);
    EXPECT_TRUE(w->grid->verticalHeader()->isHidden());
    const int searchWidth = w->edSeek->fontMetrics().averageCharWidth() * 12;
    for (const QSize size : {w->size(), w->minimumSize()}) {
        w->resize(size);
        QApplication::processEvents();
        EXPECT_TRUE(screen.contains(w->frameGeometry())) << size.width() << "x" << size.height();
        EXPECT_GE(w->edSeek->width(), searchWidth);
        for (QPushButton* b : {w->sbNewUser, w->sbPwdChange, w->sbExit, w->Seek_SB})
            EXPECT_TRUE(w->rect().contains(QRect(b->mapTo(w.get(), QPoint(0, 0)), b->size()))) << b->text().toStdString();
    }
    EXPECT_GE(w->minimumWidth(), 640);
}

// Each question says what kind it is, and those that destroy do not default to "Да".
TEST_F(UserRightsTest, QuestionsCarryTheirKind)
{
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    struct Case {
        const char* name;
        std::function<void()> act;
        QString startsWith;
        Prompts::Icon icon;
        Prompts::Answer defaultAnswer;
        bool threeWay = false;
    };
    const Case cases[] = {
        {"similar name", [&] { fillNewUser(QStringLiteral("Ivan Petrov"), QStringLiteral("other"), QStringLiteral("pw9")); w->sbNewUser->click(); },
         Text::SimilarName, Prompts::Icon::Question, Prompts::Answer::Yes},
        {"similar login", [&] { fillNewUser(QStringLiteral("Boris Borisov"), QStringLiteral("ivan"), QStringLiteral("pw9")); w->sbNewUser->click(); },
         Text::SimilarLogin, Prompts::Icon::Question, Prompts::Answer::Yes},
        {"rename", [&] { w->sbChangeName->click(); }, Text::RenameWarning, Prompts::Icon::Warning, Prompts::Answer::Yes},
        {"delete", [&] { w->DeleteUser(); }, Text::DeleteQuestion1, Prompts::Icon::Warning, Prompts::Answer::No},
        {"leave", [&] { w->setModified(true); w->Leave(); }, Text::LoseChanges, Prompts::Icon::Warning, Prompts::Answer::Yes, true},
    };
    for (const Case& c : cases) {
        if (c.threeWay)
            m_prompts.answerYesNoCancel(Prompts::Answer::Cancel);
        else
            m_prompts.answerConfirm(false);
        c.act();
        ASSERT_FALSE(m_prompts.shown.isEmpty()) << c.name;
        const auto& q = m_prompts.shown.last();
        EXPECT_EQ(q.kind, c.threeWay ? QStringLiteral("yesNoCancel") : QStringLiteral("confirm")) << c.name;
        EXPECT_TRUE(q.text.startsWith(c.startsWith)) << c.name;
        EXPECT_EQ(q.icon, c.icon) << c.name;
        EXPECT_EQ(q.defaultAnswer, c.defaultAnswer) << c.name;
    }
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
}

namespace {
// Everything the program logs while alive.
class LogCapture {
public:
    LogCapture() { m_previous = qInstallMessageHandler(&LogCapture::handler); instance() = this; }
    ~LogCapture() { qInstallMessageHandler(m_previous); instance() = nullptr; }
    QStringList lines;

private:
    static LogCapture*& instance() { static LogCapture* c = nullptr; return c; }
    static void handler(QtMsgType, const QMessageLogContext&, const QString& text)
    {
        if (instance())
            instance()->lines << text;
    }
    QtMessageHandler m_previous = nullptr;
};
} // namespace

// A failed write that carried a password says what failed and the database's reason, but neither
// the message nor the log holds the password, plain or stored.
TEST_F(UserRightsTest, FailuresNeverShowThePassword)
{
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("old"));
    exec(QStringLiteral("create exception users_closed 'users are closed'"));
    exec(QStringLiteral("create trigger users_closed_bi for users before insert as begin exception users_closed; end"));
    exec(QStringLiteral("create trigger users_closed_bu for users before update as begin exception users_closed; end"));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));
    const QString password = QStringLiteral("Тайна\"Парола");

    struct Case {
        const char* name;
        QPushButton* button;
        QString message;
    };
    const Case cases[] = {
        {"create", w->sbNewUser, Text::AddFailed + QLatin1Char('\r')},
        {"password", w->sbPwdChange, Text::PasswordChangeFailed},
    };
    for (const Case& c : cases) {
        LogCapture log;
        fillNewUser(QStringLiteral("Boris Borisov"), QStringLiteral("boris"), password);
        c.button->click();
        ASSERT_FALSE(m_prompts.messages().isEmpty()) << c.name;
        const QString shown = m_prompts.messages().last();
        EXPECT_TRUE(shown.startsWith(c.message)) << c.name << ": " << shown.toStdString();
        for (const QString& text : QStringList{shown, log.lines.join(QLatin1Char('\n')), LastSqlError()})
            for (const QString& secret : {password, EncodeStoredText(password), EscapeDoubleQuotes(EncodeStoredText(password))})
                EXPECT_FALSE(text.contains(secret)) << c.name << ": " << text.toStdString();
    }
    EXPECT_TRUE(m_prompts.messages().first().contains(QStringLiteral("users are closed"))) << m_prompts.messages().first().toStdString();
    EXPECT_EQ(stored("user_fpw", ivan), QStringLiteral("old"));
}

// The same window with a second administrator on the Firebird server.
class UserRightsServerTest : public UserRightsTest {
protected:
    void SetUp() override
    {
        const QString path = serverDatabasePath(QStringLiteral("users"));
        const db::ParamList p = firebirdParams(path);
        useDatabase(path, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
        m_other.setDriverName(QStringLiteral("INTRBASE"));
        m_other.params() = p;
        m_other.connect();
    }
    void otherExec(const QString& sql) { execSql(m_other, sql); }

    db::Database m_other{QStringLiteral("other administrator")};
};

// A user whose row another connection holds is not deleted in part: his rights, his row and his
// place in the list stay, and the administrator is told.
TEST_F(UserRightsServerTest, DeletingALockedUserChangesNothing)
{
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("p"));
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("p"));
    exec(QStringLiteral("insert into links values (%1, 1, 1)").arg(ivan));
    exec(QStringLiteral("insert into links values (%1, 2, 1)").arg(ivan));
    auto w = open();
    ASSERT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), ivan));

    db::Transaction held(m_other);
    otherExec(QStringLiteral("update users set user_flags = user_flags where user_id = %1").arg(ivan));
    m_prompts.answerConfirm(true);
    w->DeleteUser();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().last().startsWith(Text::DeleteFailed + QLatin1Char('\r'))) << m_prompts.messages().last().toStdString();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links where lnk_usr = %1").arg(ivan)).toInt(), 2);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users where user_id = %1").arg(ivan)).toInt(), 1);
    EXPECT_EQ(w->tblUsers.recordCount(), 2);
    EXPECT_EQ(w->currentUserId(), ivan);

    // Once the other administrator is done, the delete goes through whole.
    held.rollback();
    m_prompts.answerConfirm(true);
    w->DeleteUser();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links")).toInt(), 0);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users where user_id = %1").arg(ivan)).toInt(), 0);
    EXPECT_EQ(w->tblUsers.recordCount(), 1);
    EXPECT_EQ(m_prompts.messages().size(), 1);
}

// Two administrators creating the same pair: the second waits for the first, and once the first
// has committed he is refused; while the first never ends he gets a clear error and adds nothing.
TEST_F(UserRightsServerTest, CreatingThePairAnotherAdministratorIsAdding)
{
    auto w = open();
    w->setLockTimeout(1);
    db::Transaction held(m_other);
    otherExec(QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw) values (%1, %2, %3)")
                  .arg(lit(EncodeStoredText(QStringLiteral("Ivan Petrov"))), lit(EncodeStoredText(QStringLiteral("ivan"))),
                       lit(EncodeStoredText(QStringLiteral("secret")))));

    fillNewUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("secret"));
    w->sbNewUser->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    const QString error = m_prompts.messages().last();
    EXPECT_TRUE(error.startsWith(Text::AddFailed + QLatin1Char('\r'))) << error.toStdString();
    EXPECT_TRUE(error.contains(QStringLiteral("lock"), Qt::CaseInsensitive)) << error.toStdString();
    EXPECT_FALSE(error.contains(EncodeStoredText(QStringLiteral("secret"))));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 0);

    held.commit();
    fillNewUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"), QStringLiteral("secret"));
    w->sbNewUser->click();
    EXPECT_EQ(m_prompts.messages().last(), Text::DuplicatePair);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from users")).toInt(), 1);
}

// A hand-assigned key above the generator: the list goes to the user just created, not to the
// holder of the highest key.
TEST_F(UserRightsServerTest, NewUserIsTheOneShown)
{
    exec(QStringLiteral("insert into users (user_id, user_rnm, user_fnm, user_fpw) values (1000, %1, %2, %3)")
             .arg(lit(EncodeStoredText(QStringLiteral("Zara Handmade"))), lit(EncodeStoredText(QStringLiteral("zara"))),
                  lit(EncodeStoredText(QStringLiteral("pw")))));
    auto w = open();
    fillNewUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"), QStringLiteral("secret"));
    w->sbNewUser->click();
    EXPECT_TRUE(m_prompts.shown.isEmpty()) << m_prompts.shown.first().text.toStdString();
    EXPECT_EQ(currentName(*w), QStringLiteral("Anna Petrova"));
    EXPECT_NE(w->currentUserId(), 1000);
    EXPECT_EQ(stored("user_fnm", w->currentUserId()), QStringLiteral("anna"));
}
