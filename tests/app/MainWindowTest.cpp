// The main window's applications and password policy, against a demo system database.
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/InstallDescription.h"
#include "app/Keyboard.h"
#include "app/MainWindow.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/InputError.h"
#include "maint/Demo.h"

#include "db/Cp1251.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QFile>
#include <QKeySequence>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <optional>

#include <gtest/gtest.h>

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8());
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        CreateDemo(m_tmp.path());
        const QString sys = m_tmp.path(QStringLiteral("sys.fdb"));
        SetShortString(m_rec.ServerName, sys);
        SetShortString(m_rec.Location, sys);
        SetShortString(m_rec.LoginName, QStringLiteral("admnaccount"));
        SetShortString(m_rec.Password, QStringLiteral("admn-demo"));
        m_hooks.selfUpdateCheck = [](TDM&, const QString&) { return true; };
        m_window = std::make_unique<TfrmMain>(m_dm, m_rec, m_hooks);
        ASSERT_TRUE(m_window->ShowStep());
    }
    void TearDown() override
    {
        m_window.reset();
        qunsetenv("GATEKEEP_CONFIG_DIR");
        qunsetenv("GATEKEEP_ZORCFG");
    }

    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }
    QCheckBox* box(const char* name) { return m_window->findChild<QCheckBox*>(QLatin1String(name)); }
    QStringList apps()
    {
        QStringList out;
        for (const auto& a : m_window->applications())
            out << a.name;
        return out;
    }
    void select(const QString& app) { m_window->cbApplications->setCurrentIndex(m_window->cbApplications->findText(app)); }
    // What a registration may write, in one line that a failed one must leave as it was.
    QString registered()
    {
        return QStringLiteral("%1 applications, %2 classes, %3 rights, Mod09 %4")
            .arg(scalar(QStringLiteral("select count(*) from applications")).toInt())
            .arg(scalar(QStringLiteral("select count(*) from class")).toInt())
            .arg(scalar(QStringLiteral("select count(*) from links")).toInt())
            .arg(apps().contains(QStringLiteral("Mod09")) ? QStringLiteral("listed") : QStringLiteral("absent"));
    }
    QString writeIcr(const QString& name, const QByteArray& file)
    {
        const QString path = m_tmp.path(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(file);
        return path;
    }
    static QString lit(const QString& s) { return QLatin1Char('\'') + QString(s).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

    TempDir m_tmp;
    TLogInfoRec m_rec{};
    TDM m_dm;
    MainWindowHooks m_hooks;
    std::unique_ptr<TfrmMain> m_window;
    ScriptedPrompts m_prompts;
};

TEST_F(MainWindowTest, PolicyIsPaddedAndDefaultsFillNulls)
{
    exec(QStringLiteral("insert into alises (als_aplid, als_txt, als_aplnum) values (0, '0110010101', 0)"));
    m_window->LoadPolicy();
    EXPECT_EQ(PasswordPolicyFlags(), QStringLiteral("0110010101") + QString(60, QLatin1Char('0')));
    const std::pair<const char*, bool> expected[] = {
        {"cbUseSmartCards", false}, {"cbUseWindowsLogon", true}, {"CheckBox1", true}, {"CheckBox2", false},
        {"cbSpecSymbols", false},   {"cbPassLen", true},         {"cbPassAge", true}, {"CheckBox3", true},
    };
    for (const auto& [name, checked] : expected)
        EXPECT_EQ(box(name)->isChecked(), checked) << name;
    EXPECT_EQ(m_window->sepasslen->value(), 6);
    EXPECT_EQ(m_window->sepassage->value(), 60);
    EXPECT_TRUE(m_window->sepasslen->isEnabled());
    EXPECT_TRUE(MainWindowText::SpecSymbolsCaption.endsWith(QStringLiteral("' !@#$%^&*()|-_,.<>~")));

    // Saving with every box cleared stores 70 zeros and both numbers all the same.
    for (QCheckBox* b : m_window->policyBoxes())
        b->setChecked(false);
    EXPECT_FALSE(m_window->sepasslen->isEnabled());
    m_window->sepassage->setValue(90);
    m_window->findChild<QPushButton*>(QStringLiteral("sbSavePolicy"))->click();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from alises where als_aplid = 0")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select als_txt from alises where als_aplid = 0")).toString(), QString(70, QLatin1Char('0')));
    EXPECT_EQ(scalar(QStringLiteral("select als_minpasslen from alises where als_aplid = 0")).toInt(), 6);
    EXPECT_EQ(scalar(QStringLiteral("select als_passage from alises where als_aplid = 0")).toInt(), 90);
    EXPECT_EQ(PasswordPolicyFlags(), QString(70, QLatin1Char('0')));

    box("cbPassLen")->setChecked(true);
    m_window->sepasslen->setValue(12);
    m_window->SavePolicy();
    m_window->LoadPolicy();
    EXPECT_EQ(m_window->sepasslen->value(), 12);
    EXPECT_EQ(PasswordPolicyFlags()[5], QLatin1Char('1'));
}

TEST_F(MainWindowTest, DeletingAnApplicationsPasswords)
{
    EXPECT_EQ(m_window->cbApplications->currentIndex(), -1);
    m_window->BitBtn1->click(); // nothing selected: nothing asked
    EXPECT_TRUE(m_prompts.shown.isEmpty());

    select(QStringLiteral("Mod05"));
    const int mod05 = m_window->cbApplications->currentData().toInt();
    const QString classesOfMod05 = QStringLiteral("select count(*) from class where class_aplidx = %1").arg(mod05);
    const QString rightsInMod05 = QStringLiteral("select count(*) from links where lnk_aplid = %1").arg(mod05);
    ASSERT_GT(scalar(classesOfMod05).toInt(), 0);
    m_prompts.answerConfirm(false);
    m_window->BitBtn1->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Наистина ли желаете да изтриете всички пароли за Mod05"));
    // A warning that Enter cannot confirm.
    EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Warning);
    EXPECT_EQ(m_prompts.shown.last().defaultAnswer, Prompts::Answer::No);
    EXPECT_TRUE(apps().contains(QStringLiteral("Mod05")));
    EXPECT_GT(scalar(classesOfMod05).toInt(), 0);

    select(QStringLiteral("Mod05"));
    m_prompts.answerConfirm(true);
    m_window->BitBtn1->click();
    EXPECT_EQ(scalar(classesOfMod05).toInt(), 0);
    EXPECT_EQ(scalar(rightsInMod05).toInt(), 0);
    EXPECT_EQ(apps(), (QStringList{"Gatekeep", "Mod02", "Mod05", "Mod07"})); // the application stays, without classes
    EXPECT_EQ(m_window->cbApplications->currentIndex(), -1);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from links l join class c on c.class_idx = l.lnk_class "
                                    "where c.class_aplidx not in (select apl_id from applications)")).toInt(), 0);
}

// Without this program's classes nobody can log in to it: its passwords are not deleted.
TEST_F(MainWindowTest, TheProgramsOwnPasswordsStay)
{
    const QString own = QStringLiteral("select count(*) from class c join applications a on a.apl_id = c.class_aplidx "
                                       "where a.apl_name = %1").arg(lit(EncodeStoredText(QStringLiteral("Gatekeep"))));
    const QString ownRights = QString(own).replace(QStringLiteral("from class c"), QStringLiteral("from links l join class c on c.class_idx = l.lnk_class"));
    const int classes = scalar(own).toInt();
    const int rights = scalar(ownRights).toInt();
    ASSERT_GT(classes, 0);
    ASSERT_GT(rights, 0);
    select(QStringLiteral("Gatekeep"));
    m_window->BitBtn1->click();
    EXPECT_EQ(m_prompts.messages(), QStringList{MainWindowText::OwnPasswordsStay.arg(QStringLiteral("Gatekeep"))});
    EXPECT_EQ(m_prompts.shown.size(), 1); // nothing asked
    EXPECT_EQ(scalar(own).toInt(), classes);
    EXPECT_EQ(scalar(ownRights).toInt(), rights);
}

// Leaving with an edited policy asks; Cancel keeps the window and the edits.
TEST_F(MainWindowTest, LeavingWithAnEditedPolicyAsks)
{
    struct Case {
        const char* name;
        std::optional<Prompts::Answer> answer; // none: nothing edited, nothing asked
        bool closes;
        bool stored;
    };
    const Case cases[] = {
        {"unchanged", std::nullopt, true, false},
        {"save", Prompts::Answer::Yes, true, true},
        {"discard", Prompts::Answer::No, true, false},
        {"cancel", Prompts::Answer::Cancel, false, false},
    };
    const QString policy = QStringLiteral("select als_txt from alises where als_aplid = 0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        exec(QStringLiteral("delete from alises where als_aplid = 0"));
        m_window->LoadPolicy();
        m_prompts.shown.clear();
        if (c.answer) {
            box("CheckBox1")->setChecked(true);
            m_window->sepassage->setValue(90);
            m_prompts.answerYesNoCancel(*c.answer);
        }
        EXPECT_EQ(m_window->close(), c.closes);
        if (c.answer) {
            ASSERT_EQ(m_prompts.shown.size(), 1);
            EXPECT_EQ(m_prompts.shown.first().kind, QStringLiteral("yesNoCancel"));
            EXPECT_EQ(m_prompts.shown.first().text, MainWindowText::PolicyNotSaved);
            EXPECT_EQ(m_prompts.shown.first().icon, Prompts::Icon::Warning);
        } else {
            EXPECT_TRUE(m_prompts.shown.isEmpty());
        }
        EXPECT_EQ(scalar(policy).toString().startsWith(QStringLiteral("001")), c.stored);
        if (!c.closes) {
            EXPECT_TRUE(box("CheckBox1")->isChecked());
            EXPECT_EQ(m_window->sepassage->value(), 90);
            EXPECT_EQ(m_window->pages->currentIndex(), 1);
        }
    }
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_TRUE(m_prompts.unexpected.isEmpty());

    // Saved, the policy is no longer an edit: leaving asks nothing.
    box("CheckBox2")->setChecked(true);
    m_window->SavePolicy();
    m_prompts.shown.clear();
    EXPECT_TRUE(m_window->close());
    EXPECT_TRUE(m_prompts.shown.isEmpty());
}

TEST_F(MainWindowTest, InstallingFromADescription)
{
    const QString ini = m_tmp.path(QStringLiteral("mod09.ini"));
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("[Application]\nName=Mod09\nAlias=mod09_db\nUser=--\nPassword=secret\nProcedure=ADD_USER\n"
                           "[Classes]\nName1=user1\nPassword1=p1\nName2=Касиер\nPassword2=p2\n").toUtf8());
    f.close();
    const QString icr = m_tmp.path(QStringLiteral("mod09.icr"));
    WriteInstallDescription(ini, icr);
    const InstallDescription d = ReadInstallDescription(icr);
    EXPECT_EQ(d.user, QString());
    ASSERT_EQ(d.classes.size(), 2);
    EXPECT_EQ(d.classes[1].name, QStringLiteral("Касиер"));

    m_prompts.answerFile(icr);
    m_window->BitBtn2->click();
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();
    EXPECT_TRUE(apps().contains(QStringLiteral("Mod09")));
    const QString key = QStringLiteral("(select apl_id from applications where apl_name = '%1')").arg(EncodeStoredText(QStringLiteral("Mod09")).replace('\'', QStringLiteral("''")));
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 2);
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select gdb_alias from applications where apl_id = ") + key).toString()), QStringLiteral("mod09_db"));

    // Again, answering No: nothing changes.
    exec(QStringLiteral("delete from class where class_aplidx = ") + key);
    m_prompts.answerFile(icr).answerConfirm(false);
    m_window->BitBtn2->click();
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Програмата вече е инсталирана, да се направи ли Update ? "));
    EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Error);
    EXPECT_EQ(m_prompts.shown.last().defaultAnswer, Prompts::Answer::No);
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 0);

    // Yes: the missing classes come back.
    m_prompts.answerFile(icr).answerConfirm(true);
    m_window->BitBtn2->click();
    EXPECT_EQ(scalar(QStringLiteral("select count(*) from class where class_aplidx = ") + key).toInt(), 2);

    QFile bad(m_tmp.path(QStringLiteral("bad.icr")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a description");
    bad.close();
    m_window->InstallApplicationFrom(bad.fileName());
    EXPECT_TRUE(m_prompts.messages().last().startsWith(QStringLiteral("Грешка : ")));
}

TEST_F(MainWindowTest, ChildWindowsAndAbout)
{
    m_window->sbUserRights->click(); // no users window handed over: nothing happens
    EXPECT_TRUE(m_prompts.shown.isEmpty());

    MainWindowHooks hooks;
    hooks.openUsers = [](QWidget*) { throw db::Error(QStringLiteral("boom")); };
    hooks.openRefresh = [](QWidget*) { throw db::Error(QStringLiteral("bang")); };
    TfrmMain w(m_dm, m_rec, hooks);
    w.sbUserRights->click();
    w.BitBtn3->click();
    EXPECT_EQ(m_prompts.messages(), (QStringList{"Грешка : boom", "Грешка: bang"}));

    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.3"));
    EXPECT_TRUE(TfrmMain::AboutText().endsWith(QStringLiteral("Версия 1.2.3.0")));
}

// A check box takes a lone "&" for the mark of a shortcut letter and hides it: the caption's
// symbol list must show whole, and no key may be bound by accident.
TEST_F(MainWindowTest, SpecialSymbolsCaptionShowsItsAmpersand)
{
    const QString shown = box("cbSpecSymbols")->text();
    EXPECT_EQ(shown, QString(MainWindowText::SpecSymbolsCaption).replace(QStringLiteral("&"), QStringLiteral("&&")));
    EXPECT_TRUE(QKeySequence::mnemonic(shown).isEmpty()) << QKeySequence::mnemonic(shown).toString().toStdString();
}

TEST_F(MainWindowTest, StartsWithTheFocusOnTheApplicationsAndEnterPressesButtons)
{
    InstallKeyboardConventions(*qApp);
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    EXPECT_EQ(QApplication::focusWidget(), m_window->cbApplications);

    m_window->About_SB->setFocus();
    QTest::keyClick(m_window->About_SB, Qt::Key_Return);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_EQ(m_prompts.messages().first(), TfrmMain::AboutText());
}

// A description is checked whole before anything is written; each of these is refused with an
// error that names the file and the fault, and the database stays as it was.
TEST_F(MainWindowTest, BadDescriptionsAreRefusedBeforeAnythingIsWritten)
{
    const QString head = QStringLiteral("Name=Mod09\nAlias=mod09_db\nUser=SYSDBA\nPassword=masterkey\nProcedure=ADD_USER\n");
    const QString twoClasses = QStringLiteral("Class1=user1\nClassPassword1=p1\nClass2=Касиер\nClassPassword2=p2\n");
    const QString secret = QStringLiteral("ТайнаПаролаНаКласа-0123456789abcdef"); // 35 characters
    const QByteArray valid = cp1251::encode(head + twoClasses + QStringLiteral("Count=3\n"));
    const QByteArray validFile = ScrambleInstallDescription(valid);
    struct Case {
        const char* name;
        QByteArray file;
        QString fault; // part of the message
    };
    const auto icr = [](const QString& lines) { return ScrambleInstallDescription(cp1251::encode(lines)); };
    const Case cases[] = {
        {"countAboveTheClassesListed", icr(head + twoClasses + QStringLiteral("Count=4\n")), QStringLiteral("липсва Class3")},
        {"hugeCount", icr(head + twoClasses + QStringLiteral("Count=2000000000\n")), QStringLiteral("Count")},
        {"countZero", icr(head + QStringLiteral("Count=0\n")), QStringLiteral("Count")},
        {"countNotANumber", icr(head + twoClasses + QStringLiteral("Count=3x\n")), QStringLiteral("Count")},
        {"noCount", icr(head + twoClasses), QStringLiteral("липсва Count")},
        {"classPastCount", icr(head + twoClasses + QStringLiteral("Count=2\n")), QStringLiteral("не е между класовете от 1 до Count - 1 = 1")},
        {"classWithoutPassword", icr(head + QStringLiteral("Class1=user1\nCount=2\n")), QStringLiteral("липсва ClassPassword1")},
        {"emptyClassName", icr(head + QStringLiteral("Class1=\nClassPassword1=p1\nCount=2\n")), QStringLiteral("Class1 е празен")},
        {"nameTooLong", icr(QStringLiteral("Name=") + QString(35, QLatin1Char('N')) + head.mid(head.indexOf(QLatin1Char('\n'))) + QStringLiteral("Count=1\n")),
         QStringLiteral("Name е дълъг 35 знака")},
        {"classPasswordTooLong", icr(head + QStringLiteral("Class1=user1\nClassPassword1=") + secret + QStringLiteral("\nCount=2\n")),
         QStringLiteral("ClassPassword1 е дълъг 35 знака")},
        {"controlCharacter", icr(head + QStringLiteral("Class1=us\ter1\nClassPassword1=p1\nCount=2\n")), QStringLiteral("Class1 съдържа управляващ знак")},
        {"repeatedKey", icr(head + QStringLiteral("Name=Mod10\nCount=1\n")), QStringLiteral("Name се повтаря")},
        {"lineWithoutValue", icr(head + QStringLiteral("Class1\nCount=1\n")), QStringLiteral("ред 6")},
        {"unknownKey", icr(head + QStringLiteral("Colour=red\nCount=1\n")), QStringLiteral("Colour")},
        {"missingUser", icr(QStringLiteral("Name=Mod09\nAlias=mod09_db\nPassword=x\nProcedure=ADD_USER\nCount=1\n")), QStringLiteral("липсва User")},
        {"truncatedFile", validFile.left(validFile.size() / 2), QString()},
        {"truncatedAtALineEnd", icr(head + QStringLiteral("Class1=user1\nClassPassword1=p1\nClass2=Кас")), QStringLiteral("липсва")},
        {"notBase64", QByteArray("GKICR1\n***\n"), QStringLiteral("Base64")},
        {"noHeader", QByteArray("[Application]\nName=Mod09\n"), QStringLiteral("GKICR1")},
        {"emptyFile", QByteArray(), QStringLiteral("GKICR1")},
    };
    const QString before = registered();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = writeIcr(QStringLiteral("%1.icr").arg(QLatin1String(c.name)), c.file);
        try {
            ParseInstallDescription(c.file, path);
            ADD_FAILURE() << "accepted";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(path)) << e.what();
            EXPECT_TRUE(e.message().contains(c.fault)) << e.what();
            EXPECT_FALSE(e.message().contains(secret.left(10))) << e.what();
        }
        m_prompts.shown.clear();
        m_prompts.answerFile(path);
        m_window->BitBtn2->click();
        ASSERT_EQ(m_prompts.shown.size(), 2); // the file dialog, then the error
        EXPECT_EQ(m_prompts.shown[1].icon, Prompts::Icon::Error);
        EXPECT_TRUE(m_prompts.shown[1].text.startsWith(MainWindowText::ErrorPrefix)) << m_prompts.shown[1].text.toStdString();
        EXPECT_FALSE(m_prompts.shown[1].text.contains(secret.left(10)));
        EXPECT_EQ(registered(), before);
    }
    // The same description whole is taken.
    EXPECT_EQ(ParseInstallDescription(validFile, QStringLiteral("valid")).classes.size(), 2);
}

// Descriptions written on Windows end their lines with CR LF: no name may keep the CR.
TEST_F(MainWindowTest, ACrLfDescriptionRegistersCleanNames)
{
    const QString lines = QStringLiteral("Name=Mod09\r\nAlias=mod09_db\r\nUser=SYSDBA\r\nPassword=masterkey\r\nProcedure=ADD_USER\r\n"
                                         "Class1=user1\r\nClassPassword1=p1\r\nClass2=Касиер\r\nClassPassword2=p2\r\nCount=3\r\n");
    const QString path = writeIcr(QStringLiteral("crlf.icr"), QByteArray(ScrambleInstallDescription(cp1251::encode(lines))).replace("\n", "\r\n"));
    m_prompts.answerFile(path);
    m_window->BitBtn2->click();
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join('\n').toStdString();
    ASSERT_TRUE(apps().contains(QStringLiteral("Mod09")));
    const QString key = QStringLiteral("(select apl_id from applications where apl_name = %1)").arg(lit(EncodeStoredText(QStringLiteral("Mod09"))));
    QStringList classes;
    db::Query q(&m_dm.db_Sys);
    q.setParamCheck(false);
    q.setSql(QStringLiteral("select class_nm from class where class_aplidx = %1 order by class_idx").arg(key));
    for (q.open(); !q.eof(); q.next())
        classes << DecodeStoredText(q.field(0).asString()); // stored forms may begin with a space: never trimmed
    EXPECT_EQ(classes, (QStringList{QStringLiteral("user1"), QStringLiteral("Касиер")}));
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select class_pw from class where class_aplidx = %1 order by class_idx").arg(key)).toString()), QStringLiteral("p1"));
    EXPECT_EQ(DecodeStoredText(scalar(QStringLiteral("select gdb_proc from applications where apl_id = ") + key).toString()), QStringLiteral("ADD_USER"));
}

// The application, its alias and its classes are written together: a class the database
// refuses part-way leaves no half application behind.
TEST_F(MainWindowTest, ARegistrationThatFailsPartWayLeavesNothing)
{
    exec(QStringLiteral("create exception class_refused 'class refused'"));
    exec(QStringLiteral("create trigger class_refuse for class before insert as begin "
                        "if (new.class_nm = %1) then exception class_refused; end")
             .arg(lit(EncodeStoredText(QStringLiteral("Касиер")))));
    const QString path = writeIcr(QStringLiteral("mod09.icr"),
                                  ScrambleInstallDescription(cp1251::encode(QStringLiteral(
                                      "Name=Mod09\nAlias=mod09_db\nUser=SYSDBA\nPassword=masterkey\nProcedure=ADD_USER\n"
                                      "Class1=user1\nClassPassword1=p1\nClass2=Касиер\nClassPassword2=p2\nCount=3\n"))));
    const QString before = registered();
    m_prompts.answerFile(path);
    m_window->BitBtn2->click();
    EXPECT_EQ(registered(), before);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().first().contains(QStringLiteral("CLASS_REFUSED"), Qt::CaseInsensitive) ||
                m_prompts.messages().first().contains(QStringLiteral("class refused")))
        << m_prompts.messages().first().toStdString();
    EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Error);
}

// The policy is one row; saving replaces it in one transaction on the server, where another
// administrator's connection can hold the row.
enum class PolicyFault { RowHeldByAnotherConnection, InsertRefusedByTrigger };

class PolicySaveFailureTest : public testing::TestWithParam<PolicyFault> {
protected:
    void SetUp() override
    {
        m_path = serverDatabasePath(QStringLiteral("policy"));
        m_params = firebirdParams(m_path);
        const QString user = m_params.value(QStringLiteral("USER NAME"));
        const QString password = m_params.value(QStringLiteral("PASSWORD"));
        CreateCurrentSystemDatabase(m_path, user, password);
        SetStartupConnection(m_dm.db_Sys, user, password, m_path);
        m_dm.db_Sys.connect();
        m_window = std::make_unique<TfrmMain>(m_dm, m_rec, MainWindowHooks{});
    }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }

    QString m_path;
    db::ParamList m_params;
    TLogInfoRec m_rec{};
    TDM m_dm;
    std::unique_ptr<TfrmMain> m_window;
    ScriptedPrompts m_prompts;
};

TEST_P(PolicySaveFailureTest, TheStoredPolicyStaysAsItWas)
{
    const QString stored = QStringLiteral("0110010101") + QString(60, QLatin1Char('0'));
    execSql(m_dm.db_Sys, QStringLiteral("insert into alises (als_aplid, als_txt, als_aplnum, als_minpasslen, als_passage) values (0, '%1', 0, 8, 90)").arg(stored));
    m_window->LoadPolicy();
    ASSERT_EQ(PasswordPolicyFlags(), stored);

    db::Database other;
    other.setDriverName(QStringLiteral("INTRBASE"));
    other.params() = m_params;
    other.connect();
    std::optional<db::Transaction> held;
    switch (GetParam()) {
    case PolicyFault::RowHeldByAnotherConnection:
        held.emplace(other);
        execSql(other, QStringLiteral("update alises set als_aplnum = 0 where als_aplid = 0"));
        break;
    case PolicyFault::InsertRefusedByTrigger:
        execSql(m_dm.db_Sys, QStringLiteral("create exception policy_refused 'policy refused'"));
        execSql(m_dm.db_Sys, QStringLiteral("create trigger alises_refuse for alises before insert as begin exception policy_refused; end"));
        break;
    }

    for (QCheckBox* b : m_window->policyBoxes())
        b->setChecked(!b->isChecked());
    m_window->sepasslen->setValue(15);
    m_window->findChild<QPushButton*>(QStringLiteral("sbSavePolicy"))->click();
    held.reset();

    EXPECT_EQ(scalar(QStringLiteral("select count(*) from alises where als_aplid = 0")).toInt(), 1);
    EXPECT_EQ(scalar(QStringLiteral("select als_txt from alises where als_aplid = 0")).toString(), stored);
    EXPECT_EQ(scalar(QStringLiteral("select als_minpasslen from alises where als_aplid = 0")).toInt(), 8);
    // The other windows keep following what is stored, and the administrator is told.
    EXPECT_EQ(PasswordPolicyFlags(), stored);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().first().startsWith(MainWindowText::ErrorPrefix));
    EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Error);
}

INSTANTIATE_TEST_SUITE_P(Faults, PolicySaveFailureTest,
                         testing::Values(PolicyFault::RowHeldByAnotherConnection, PolicyFault::InsertRefusedByTrigger),
                         [](const testing::TestParamInfo<PolicyFault>& info) {
                             return info.param == PolicyFault::RowHeldByAnotherConnection ? "RowHeldByAnotherConnection"
                                                                                          : "InsertRefusedByTrigger";
                         });
