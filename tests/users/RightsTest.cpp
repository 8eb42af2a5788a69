// The rights list of the users window against a real system database, with application
// databases (local files, and on the Firebird and PostgreSQL servers where provisioning is what
// is tested), the database selection answered through its runner and the test user libraries.
#include "support/AppDatabases.h"
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/Policy.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "maint/Demo.h"
#include "ui/DBHintGrid.h"
#include "update/SelectDBPaths.h"
#include "users/UserLibrary.h"
#include "users/UserRights.h"
#include "users/UserRightsText.h"

#include "db/Cp1251.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace Text = UserRightsText;

namespace {

const QString kSysLocation = QStringLiteral("srv:/db/sys.fdb");

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

struct Link {
    int user, apl, cls;
    bool operator==(const Link&) const = default;
};

void PrintTo(const Link& l, std::ostream* os) { *os << "(" << l.user << "," << l.apl << "," << l.cls << ")"; }

// A database entry of ZorCfg.ini: its connection text and the system database it belongs to.
struct DbEntry {
    QString connText;
    QString sysBase = kSysLocation;
};

} // namespace

class RightsTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini")).toUtf8());
        QDir().mkpath(libDir());
        for (const char* lib : {"Mod02_US.so", "Mod05_US.so"})
            QFile::copy(QStringLiteral(GK_USERLIB_DIR "/") + QLatin1String(lib), libDir() + QLatin1Char('/') + QLatin1String(lib));
        qputenv("GATEKEEP_LIBRARY_DIR", libDir().toUtf8());
        qputenv("GATEKEEP_TEST_USERLIB_LOG", m_tmp.path(QStringLiteral("userlib.log")).toUtf8());
        std::memset(&LogInfo(), 0, sizeof(TLogInfoRec));
        SetShortString(LogInfo().Location, kSysLocation);
        SetShortString(LogInfo().Credential1, QStringLiteral("cred-one"));
        SetShortString(LogInfo().Credential2, QStringLiteral("cred-two"));

        const QString path = m_tmp.path(QStringLiteral("sys.fdb"));
        CreateCurrentSystemDatabase(path, QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), path);
        m_dm.db_Sys.connect();
        PasswordPolicyFlags() = QString(70, QLatin1Char('0'));
        // After the system database is made: its self-update works with the maintenance account of the day.
        m_accounts = std::make_unique<ProvisionAccounts>();
        TfrmSelectDBPaths::Runner() = [this](TfrmSelectDBPaths& w) {
            ++m_selections;
            return m_selectAct ? m_selectAct(w) : int(QDialog::Accepted);
        };
    }
    void TearDown() override
    {
        TfrmSelectDBPaths::Runner() = nullptr;
        for (const char* name : {"GATEKEEP_ZORCFG", "GATEKEEP_ALIASES", "GATEKEEP_LIBRARY_DIR", "GATEKEEP_TEST_USERLIB_LOG"})
            qunsetenv(name);
        std::memset(&LogInfo(), 0, sizeof(TLogInfoRec));
    }

    QString libDir() const { return m_tmp.path(QStringLiteral("lib")); }
    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    QVariant scalar(const QString& sql) { return scalarOf(m_dm.db_Sys, sql); }

    int addApp(const QString& name)
    {
        exec(QStringLiteral("insert into applications (apl_name, apl_state) values (%1, 'Active')").arg(lit(EncodeStoredText(name))));
        return scalar(QStringLiteral("select apl_id from applications where apl_name = %1").arg(lit(EncodeStoredText(name)))).toInt();
    }
    int addClass(int aplId, const QString& name)
    {
        const int idx = ++m_lastClass;
        exec(QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (%1, %2, %3, '')")
                 .arg(idx)
                 .arg(aplId)
                 .arg(lit(EncodeStoredText(name))));
        return idx;
    }
    int addUser(const QString& fullName, const QString& login = QStringLiteral("login"), const QString& password = QStringLiteral("pw"))
    {
        exec(QStringLiteral("insert into users (user_rnm, user_fnm, user_fpw) values (%1, %2, %3)")
                 .arg(lit(EncodeStoredText(fullName)), lit(EncodeStoredText(login)), lit(EncodeStoredText(password))));
        return scalar(QStringLiteral("select max(user_id) from users")).toInt();
    }
    void link(int user, int apl, int cls) { exec(QStringLiteral("insert into links values (%1, %2, %3)").arg(user).arg(apl).arg(cls)); }
    QList<Link> links()
    {
        QList<Link> out;
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select lnk_usr, lnk_aplid, lnk_class from links order by 1, 2, 3"));
        for (q.open(); !q.eof(); q.next())
            out.append({q.field(0).asInteger(), q.field(1).asInteger(), q.field(2).asInteger()});
        return out;
    }

    // The section's databases in ZorCfg.ini (the file is written anew with every section so far).
    void configure(const QString& section, const QList<DbEntry>& entries)
    {
        m_sections[section] = entries;
        QByteArray ini;
        for (auto it = m_sections.cbegin(); it != m_sections.cend(); ++it) {
            ini += "[" + it.key().toUtf8() + "]\nNumber=" + QByteArray::number(it.value().size()) + "\n";
            for (int i = 0; i < it.value().size(); ++i) {
                const QString n = QString::number(i + 1);
                const QString text = it.value()[i].connText;
                const qsizetype colon = text.indexOf(QLatin1Char(':'));
                const QString server = colon < 0 ? QString() : text.left(colon);
                const QString base = colon < 0 ? text : text.mid(colon + 1);
                ini += QStringLiteral("DBN%1=db%1\nCaption%1=База %1\nServIP%1=%2\nBaseName%1=%3\nsysBaseName%1=%4\n")
                           .arg(n, server, base, it.value()[i].sysBase)
                           .toUtf8();
            }
        }
        QFile f(m_tmp.path(QStringLiteral("ZorCfg.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ini);
    }
    // A local application database that records its calls, configured as the section's one database.
    FbAppDatabase& localAppDatabase(const QString& section)
    {
        m_appDbs.push_back(std::make_unique<FbAppDatabase>(AppProcedure::Recording, false,
                                                           m_tmp.path(section.toLower() + QStringLiteral(".fdb"))));
        configure(section, {{m_appDbs.back()->serverName()}});
        return *m_appDbs.back();
    }

    std::unique_ptr<TfrmUserRights> open(int userId = 0)
    {
        auto w = std::make_unique<TfrmUserRights>(m_dm);
        w->show();
        if (userId)
            EXPECT_TRUE(w->tblUsers.locate(QStringLiteral("USER_ID"), userId));
        return w;
    }
    static QTreeWidgetItem* row(TfrmUserRights& w, int aplId) { return w.lv->topLevelItem(w.rowOfApplication(aplId)); }
    static bool isTicked(TfrmUserRights& w, int aplId) { return row(w, aplId)->checkState(0) == Qt::Checked; }
    static QVariant classOf(TfrmUserRights& w, int aplId) { return row(w, aplId)->data(1, Qt::UserRole); }
    static void select(TfrmUserRights& w, int aplId) { w.lv->setCurrentItem(row(w, aplId)); }
    static void tick(TfrmUserRights& w, int aplId, bool on = true) { row(w, aplId)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked); }
    static void choose(TfrmUserRights& w, int classIdx)
    {
        const int i = w.cbClass->findData(classIdx);
        ASSERT_GE(i, 0);
        w.cbClass->setCurrentIndex(i);
        emit w.cbClass->activated(i);
    }
    // Ticks the application and chooses the class, as the administrator does with the mouse.
    static void grant(TfrmUserRights& w, int aplId, int classIdx)
    {
        select(w, aplId);
        tick(w, aplId);
        choose(w, classIdx);
    }
    QStringList libraryCalls()
    {
        QFile f(m_tmp.path(QStringLiteral("userlib.log")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return cp1251::decode(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    std::unique_ptr<ProvisionAccounts> m_accounts;
    TempDir m_tmp;
    TDM m_dm;
    ScriptedPrompts m_prompts;
    int m_lastClass = 100;
    int m_selections = 0;
    std::function<int(TfrmSelectDBPaths&)> m_selectAct;
    QMap<QString, QList<DbEntry>> m_sections;
    std::vector<std::unique_ptr<FbAppDatabase>> m_appDbs;
};

// Rights the list cannot show (an application outside the suite, a class past the eleventh)
// survive Save and refresh all; unticking the application removes the surplus-class right.
TEST_F(RightsTest, RightsTheListCannotShowSurvive)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    QList<int> classes;
    for (int i = 1; i <= 12; ++i)
        classes << addClass(mod02, QStringLiteral("Клас %1").arg(i));
    const int foreign = addApp(QStringLiteral("Чуждо приложение"));
    const int foreignClass = addClass(foreign, QStringLiteral("Чужд клас"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    const int anna = addUser(QStringLiteral("Anna Petrova"));
    link(ivan, foreign, foreignClass);
    link(ivan, mod02, classes[11]);
    link(anna, mod02, classes[0]);
    FbAppDatabase& app = localAppDatabase(QStringLiteral("Mod02"));
    const QList<Link> before = links();

    const std::pair<const char*, std::function<void(TfrmUserRights&)>> actions[] = {
        {"Save", [](TfrmUserRights& w) { w.sbSave->click(); }},
        {"RefreshAll", [](TfrmUserRights& w) { w.sbUserRefresh->click(); }},
    };
    for (const auto& [name, act] : actions) {
        auto w = open(ivan);
        EXPECT_EQ(w->lv->topLevelItemCount(), 1) << name;
        EXPECT_TRUE(isTicked(*w, mod02)) << name;
        EXPECT_FALSE(classOf(*w, mod02).isValid()) << name;
        act(*w);
        EXPECT_EQ(links(), before) << name;
    }
    // Only Anna holds a class the list shows: she alone was provisioned, by refresh all.
    EXPECT_EQ(app.calls(), (QList<RecordedCall>{{anna, QStringLiteral("Anna Petrova"), ProvisionAccounts::maintenanceUser()}}));
    // The application has more classes than the list offers: said once at every opening.
    EXPECT_EQ(m_prompts.messages().size(), 2);
    EXPECT_TRUE(m_prompts.messages().first().startsWith(Text::TooManyClasses));

    auto w = open(ivan);
    tick(*w, mod02, false);
    w->sbSave->click();
    EXPECT_EQ(links(), (QList<Link>{{ivan, foreign, foreignClass}, {anna, mod02, classes[0]}}));
}

// A right is never stored without a class: not for a class that is gone, not for an application
// ticked without a choice, not for an application that has no class at all.
TEST_F(RightsTest, NoRightWithoutAClass)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    addClass(mod02, QStringLiteral("Оператор"));
    const int mod03 = addApp(QStringLiteral("Mod03"));
    addClass(mod03, QStringLiteral("Счетоводител"));
    const int mod05 = addApp(QStringLiteral("Mod05")); // no classes
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    link(ivan, mod02, 999); // its class was deleted
    auto w = open(ivan);
    EXPECT_TRUE(isTicked(*w, mod02));
    EXPECT_TRUE(row(*w, mod02)->text(1).isEmpty());

    select(*w, mod03);
    tick(*w, mod03);
    EXPECT_TRUE(w->cbClass->isVisible());
    EXPECT_EQ(w->cbClass->currentIndex(), -1);
    select(*w, mod05);
    tick(*w, mod05);
    EXPECT_EQ(w->cbClass->count(), 0);
    EXPECT_TRUE(w->modified());
    w->sbSave->click();
    EXPECT_EQ(links(), QList<Link>());
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(m_selections, 0);
    EXPECT_FALSE(w->modified());
}

// Eleven classes are offered, names cut to twenty characters; the chooser finds the row's class
// by its index, so of two names alike in their first twenty characters the chosen one is kept.
TEST_F(RightsTest, ElevenClassesAndTwinsAlikeInTwentyCharacters)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    QList<int> classes;
    for (int i = 1; i <= 9; ++i)
        classes << addClass(mod02, QStringLiteral("Клас %1").arg(i));
    const int twin1 = addClass(mod02, QStringLiteral("Главен счетоводител - отдел 1"));
    const int twin2 = addClass(mod02, QStringLiteral("Главен счетоводител - отдел 2"));
    const int mod03 = addApp(QStringLiteral("Mod03"));
    addClass(mod03, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    localAppDatabase(QStringLiteral("Mod02"));

    auto w = open(ivan);
    grant(*w, mod02, twin2);
    EXPECT_EQ(w->cbClass->count(), 11);
    EXPECT_EQ(w->cbClass->itemText(10), QStringLiteral("Главен счетоводител "));
    EXPECT_EQ(w->cbClass->itemText(9), w->cbClass->itemText(10));
    select(*w, mod03);
    EXPECT_EQ(classOf(*w, mod02).toInt(), twin2);
    select(*w, mod02); // coming back does not switch to the first of the twins
    EXPECT_EQ(w->cbClass->currentData().toInt(), twin2);
    select(*w, mod03);
    EXPECT_EQ(classOf(*w, mod02).toInt(), twin2);
    EXPECT_EQ(row(*w, mod02)->text(1), QStringLiteral("Главен счетоводител "));
    w->sbSave->click();
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, twin2}}));

    auto again = open(ivan);
    EXPECT_EQ(classOf(*again, mod02).toInt(), twin2);
    EXPECT_NE(twin1, twin2);
}

// The class chosen while the chooser is still open is the one saved.
TEST_F(RightsTest, SaveWithTheChooserOpen)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int b = addClass(mod02, QStringLiteral("Ръководител"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    link(ivan, mod02, a);
    FbAppDatabase& app = localAppDatabase(QStringLiteral("Mod02"));
    auto w = open(ivan);
    EXPECT_FALSE(w->modified());
    select(*w, mod02);
    ASSERT_TRUE(w->cbClass->isVisible());
    EXPECT_EQ(w->cbClass->currentData().toInt(), a);
    choose(*w, b);
    EXPECT_TRUE(w->modified());
    w->sbSave->click();
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, b}}));
    EXPECT_FALSE(w->cbClass->isVisible());
    EXPECT_FALSE(w->modified());
    EXPECT_EQ(app.calls().size(), 1);
}

// A Save the database refuses halfway writes nothing: the old rights stay, the edits stay on the
// screen and flagged, nothing is provisioned, and the administrator is told; leaving then asks,
// and a Save that fails again keeps the window open.
TEST_F(RightsTest, FailedSaveChangesNothing)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int b = addClass(mod02, QStringLiteral("Ръководител"));
    const int mod03 = addApp(QStringLiteral("Mod03"));
    const int x = addClass(mod03, QStringLiteral("Счетоводител"));
    const int y = addClass(mod03, QStringLiteral("Касиер"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    link(ivan, mod02, a);
    link(ivan, mod03, x);
    exec(QStringLiteral("create exception E_NO_RIGHTS 'Правата са заключени'"));
    exec(QStringLiteral("create trigger LINKS_REFUSE for LINKS before insert as begin if (new.lnk_aplid = %1) then exception E_NO_RIGHTS; end")
             .arg(mod03));
    FbAppDatabase& app2 = localAppDatabase(QStringLiteral("Mod02"));
    FbAppDatabase& app3 = localAppDatabase(QStringLiteral("Mod03"));
    const QList<Link> before = links();

    auto w = open(ivan);
    grant(*w, mod02, b);
    grant(*w, mod03, y);
    w->sbSave->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().last().startsWith(QStringLiteral("Грешка : "))) << m_prompts.messages().last().toStdString();
    EXPECT_TRUE(m_prompts.messages().last().contains(QStringLiteral("Правата са заключени"))) << m_prompts.messages().last().toStdString();
    EXPECT_EQ(links(), before);
    EXPECT_EQ(classOf(*w, mod02).toInt(), b);
    EXPECT_EQ(classOf(*w, mod03).toInt(), y);
    EXPECT_TRUE(w->modified());
    EXPECT_EQ(m_selections, 0);
    EXPECT_TRUE(app2.calls().isEmpty());
    EXPECT_TRUE(app3.calls().isEmpty());

    m_prompts.answerYesNoCancel(Prompts::Answer::Yes);
    w->sbExit->click();
    EXPECT_EQ(m_prompts.shown.at(m_prompts.shown.size() - 2).text, Text::LoseChanges);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(links(), before);

    exec(QStringLiteral("drop trigger LINKS_REFUSE"));
    m_prompts.answerYesNoCancel(Prompts::Answer::Yes);
    w->sbExit->click();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, b}, {ivan, mod03, y}}));
    EXPECT_EQ(app2.calls().size(), 1);
    EXPECT_EQ(app3.calls().size(), 1);
}

// Provisioning after Save: every database of the application that belongs to this system
// database, through the Firebird and PostgreSQL servers; one database's failure is shown and the
// next is still provisioned; a database of another system database is not offered.
TEST_F(RightsTest, ProvisioningGoesOnPastAFailedDatabase)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Иван Петров"));
    FbAppDatabase failing(AppProcedure::Raising);
    FbAppDatabase recording(AppProcedure::Recording);
    PgAppDatabase pg(AppProcedure::Recording);
    FbAppDatabase otherSystem(AppProcedure::Recording);
    configure(QStringLiteral("Mod02"), {{failing.serverName()},
                                        {recording.serverName()},
                                        {otherSystem.serverName(), QStringLiteral("srv:/db/other-sys.fdb")},
                                        {pg.connText()}});
    int offered = 0;
    m_selectAct = [&](TfrmSelectDBPaths& s) {
        offered = s.lvAppl->topLevelItemCount();
        return int(QDialog::Accepted);
    };

    auto w = open(ivan);
    grant(*w, mod02, a);
    w->sbSave->click();
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, a}}));
    EXPECT_EQ(m_selections, 1);
    EXPECT_EQ(offered, 3);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().first().startsWith(Text::ProvisionFailed));
    EXPECT_TRUE(m_prompts.messages().first().contains(QStringLiteral("Приложението отказа потребителя")));
    const QString name = QStringLiteral("Иван Петров");
    EXPECT_EQ(recording.calls(), (QList<RecordedCall>{{ivan, name, ProvisionAccounts::maintenanceUser()}}));
    ASSERT_EQ(pg.calls().size(), 1);
    EXPECT_EQ(pg.calls().first().id, ivan);
    EXPECT_EQ(pg.calls().first().name, name);
    EXPECT_TRUE(otherSystem.calls().isEmpty());
    EXPECT_FALSE(w->modified());
}

// Applications without databases for this system database are named; this program's own entry
// (Mod01) is never provisioned.
TEST_F(RightsTest, MissingSettingsAndThisProgramsOwnEntry)
{
    const int own = addApp(QStringLiteral("Gatekeep"));
    const int ownClass = addClass(own, QStringLiteral("Администратор"));
    const int mod05 = addApp(QStringLiteral("Mod05")); // no section in ZorCfg.ini
    const int c5 = addClass(mod05, QStringLiteral("Оператор"));
    const int mod06 = addApp(QStringLiteral("Mod06")); // only another system database's
    const int c6 = addClass(mod06, QStringLiteral("Оператор"));
    configure(QStringLiteral("Mod06"), {{QStringLiteral("srv:/db/mod06.fdb"), QStringLiteral("srv:/db/other-sys.fdb")}});
    configure(QStringLiteral("Mod01"), {{QStringLiteral("srv:/db/sys.fdb")}});
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));

    auto w = open(ivan);
    grant(*w, own, ownClass);
    grant(*w, mod05, c5);
    grant(*w, mod06, c6);
    w->sbSave->click();
    EXPECT_EQ(links().size(), 3);
    EXPECT_EQ(m_prompts.messages(), (QStringList{Text::MissingSettings + QStringLiteral("Заплати"), Text::MissingSettings + QStringLiteral("Личен състав")}));
    EXPECT_EQ(m_selections, 0);
}

// Reloads that keep the same user current keep his unsaved rights.
TEST_F(RightsTest, UnsavedRightsSurviveReloadsOfTheSameUser)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"));
    addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"));
    addUser(QStringLiteral("Petar Ivanov"), QStringLiteral("petar"));
    FbAppDatabase& app = localAppDatabase(QStringLiteral("Mod02"));

    const std::pair<const char*, std::function<void(ScriptedPrompts&, TfrmUserRights&)>> reloads[] = {
        {"Sort",
         [](ScriptedPrompts&, TfrmUserRights& w) {
             w.grid->setSelectedColumn(1);
             w.miSortZA->trigger();
         }},
        {"SearchLandingOnHim",
         [](ScriptedPrompts&, TfrmUserRights& w) {
             w.edSeek->setText(QStringLiteral("ivan petrov"));
             w.Seek_SB->click();
         }},
        {"AllowRemoteAccess", [](ScriptedPrompts&, TfrmUserRights& w) { w.sbAllowInet->click(); }},
        {"Rename",
         [](ScriptedPrompts& p, TfrmUserRights& w) {
             p.answerConfirm(true).answerText(QStringLiteral("Ivan Petrov Jr"));
             w.sbChangeName->click();
         }},
    };
    for (const auto& [name, reload] : reloads) {
        auto w = open(ivan);
        grant(*w, mod02, a);
        reload(m_prompts, *w);
        EXPECT_EQ(w->currentUserId(), ivan) << name;
        EXPECT_TRUE(w->modified()) << name;
        EXPECT_TRUE(isTicked(*w, mod02)) << name;
        EXPECT_EQ(classOf(*w, mod02).toInt(), a) << name;
        EXPECT_TRUE(links().isEmpty()) << name;
    }
    // The rename told the ticked application's database the new name.
    EXPECT_EQ(app.calls(), (QList<RecordedCall>{{ivan, QStringLiteral("Ivan Petrov Jr"), ProvisionAccounts::maintenanceUser()}}));
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
}

// Moving to another user with unsaved rights asks: Yes saves them and moves on, No drops them and
// moves on, Cancel stays on the edited user (in the grid and the list) with the ticks as edited.
TEST_F(RightsTest, MovingToAnotherUserAsksAboutUnsavedRights)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivan"));
    const int anna = addUser(QStringLiteral("Anna Petrova"), QStringLiteral("anna"));
    FbAppDatabase& app = localAppDatabase(QStringLiteral("Mod02"));

    const std::pair<const char*, std::function<void(TfrmUserRights&)>> moves[] = {
        {"gridClick",
         [](TfrmUserRights& w) {
             const QRect cell = w.grid->visualRect(w.grid->model()->index(0, 1)); // Anna sorts first
             QTest::mouseClick(w.grid->viewport(), Qt::LeftButton, {}, cell.center());
         }},
        {"navigator", [](TfrmUserRights& w) { w.tblUsers.first(); }},
        {"search",
         [](TfrmUserRights& w) {
             w.edSeek->setText(QStringLiteral("anna"));
             w.Seek_SB->click();
         }},
    };
    const struct {
        const char* name;
        Prompts::Answer answer;
        int current;
        QList<Link> stored;
    } answers[] = {
        {"save", Prompts::Answer::Yes, anna, {{ivan, mod02, a}}},
        {"discard", Prompts::Answer::No, anna, {}},
        {"cancel", Prompts::Answer::Cancel, ivan, {}},
    };
    for (const auto& [move, act] : moves) {
        for (const auto& c : answers) {
            SCOPED_TRACE(std::string(move) + " " + c.name);
            exec(QStringLiteral("delete from links"));
            auto w = open(ivan);
            grant(*w, mod02, a);
            m_prompts.answerYesNoCancel(c.answer);
            act(*w);
            QCoreApplication::processEvents(); // the grid follows a move taken back once the click is done
            ASSERT_FALSE(m_prompts.shown.isEmpty());
            EXPECT_EQ(m_prompts.shown.last().kind, QStringLiteral("yesNoCancel"));
            EXPECT_EQ(m_prompts.shown.last().text, Text::LoseChanges);
            EXPECT_EQ(links(), c.stored);
            EXPECT_EQ(w->currentUserId(), c.current);
            EXPECT_EQ(w->grid->currentIndex().row(), w->tblUsers.recNo());
            const QModelIndexList selected = w->grid->selectionModel()->selectedIndexes();
            EXPECT_FALSE(selected.isEmpty());
            for (const QModelIndex& i : selected)
                EXPECT_EQ(i.row(), w->tblUsers.recNo());
            const bool kept = c.answer == Prompts::Answer::Cancel;
            EXPECT_EQ(w->modified(), kept);
            EXPECT_EQ(isTicked(*w, mod02), kept);
            EXPECT_EQ(classOf(*w, mod02), kept ? QVariant(a) : QVariant());
            EXPECT_EQ(w->gbRights->title(), Text::RightsBox + (kept ? QStringLiteral("Ivan Petrov") : QStringLiteral("Anna Petrova")));
        }
    }
    EXPECT_EQ(app.calls().size(), 3); // one save per way of moving

    // Refresh all starts by settling the edits too; Cancel starts nothing.
    exec(QStringLiteral("delete from links"));
    auto w = open(ivan);
    grant(*w, mod02, a);
    m_prompts.answerYesNoCancel(Prompts::Answer::Cancel);
    w->sbUserRefresh->click();
    EXPECT_EQ(w->currentUserId(), ivan);
    EXPECT_TRUE(isTicked(*w, mod02));
    EXPECT_TRUE(links().isEmpty());
    EXPECT_EQ(app.calls().size(), 3);
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_TRUE(m_prompts.unexpected.isEmpty()) << m_prompts.unexpected.join(QLatin1Char('|')).toStdString();
}

// Refresh all writes every user's rights back as they were and provisions each granted
// application again; a user whose rights cannot be written is named and the run goes on.
TEST_F(RightsTest, RefreshAllProvisionsEveryUserAndGoesOnPastAFailure)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int mod03 = addApp(QStringLiteral("Mod03"));
    const int x = addClass(mod03, QStringLiteral("Счетоводител"));
    const int anna = addUser(QStringLiteral("Anna Petrova"));
    const int boris = addUser(QStringLiteral("Boris Ivanov"));
    const int vera = addUser(QStringLiteral("Vera Koleva"));
    for (int u : {anna, boris, vera}) {
        link(u, mod02, a);
        link(u, mod03, x);
    }
    FbAppDatabase& app2 = localAppDatabase(QStringLiteral("Mod02"));
    FbAppDatabase& app3 = localAppDatabase(QStringLiteral("Mod03"));
    const QList<Link> before = links();

    auto w = open();
    w->sbUserRefresh->click();
    EXPECT_EQ(links(), before);
    EXPECT_EQ(app2.calls().size() + app3.calls().size(), 6);
    EXPECT_EQ(app3.calls().last().id, vera);
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();

    // Another administrator deletes Boris while the list still shows him.
    exec(QStringLiteral("delete from users where user_id = %1").arg(boris));
    w->sbUserRefresh->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().first().startsWith(Text::RightsNotSavedFor + QStringLiteral("Boris Ivanov\r")));
    EXPECT_EQ(links(), before);
    QList<int> provisioned;
    for (const RecordedCall& c : app2.calls())
        provisioned << c.id;
    EXPECT_EQ(provisioned, (QList<int>{anna, boris, vera, anna, vera}));
}

// The per-application user libraries, by the double click on the rights list.
struct LibraryCase {
    const char* name;
    const char* application; // APL_NAME
    QString className;
    QString database;        // as configured for the application
    QStringList calls;       // recorded by the library; %ID is the user's id
    QString message;         // shown to the administrator (%LIB: the library folder)
};

void PrintTo(const LibraryCase& c, std::ostream* os) { *os << c.name; }

class UserLibraryTest : public RightsTest, public testing::WithParamInterface<LibraryCase> {};

TEST_P(UserLibraryTest, DoubleClick)
{
    const LibraryCase& c = GetParam();
    const int own = addApp(QStringLiteral("Gatekeep"));
    addClass(own, QStringLiteral("Администратор"));
    const int apl = addApp(QLatin1String(c.application));
    const int cls = c.className.isEmpty() ? 0 : addClass(apl, c.className);
    const int ivan = addUser(QStringLiteral("Ivan Petrov"), QStringLiteral("ivanp"), QStringLiteral("тайна"));
    if (cls)
        link(ivan, apl, cls);
    configure(QLatin1String(c.application), {{c.database}});
    QFile::copy(QStringLiteral(GK_PLUGIN_DIR "/libTestLoginFull.so"), libDir() + QStringLiteral("/Mod09_US.so"));
    QFile garbage(libDir() + QStringLiteral("/Mod08_US.so"));
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write("not a library");
    garbage.close();

    auto w = open(ivan);
    select(*w, apl);
    w->RunSelectedUserLibrary();

    QStringList calls;
    for (QString line : c.calls)
        calls << line.replace(QStringLiteral("%ID"), QString::number(ivan));
    EXPECT_EQ(libraryCalls(), calls);
    QString message = c.message;
    message.replace(QStringLiteral("%LIB"), libDir()).replace(QStringLiteral("%APP"), QCoreApplication::applicationDirPath());
    if (message.isEmpty())
        EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
    else {
        ASSERT_EQ(m_prompts.messages().size(), 1);
        EXPECT_TRUE(m_prompts.messages().first().startsWith(message)) << m_prompts.messages().first().toStdString();
    }
    EXPECT_EQ(libraryCalls().filter(QStringLiteral("тайна")).isEmpty(), !QString::fromLatin1(c.name).startsWith(QLatin1String("Details")));
}

const QString kInit = QStringLiteral("InitDLL window=set db=%1 c1=cred-one c2=cred-two");

INSTANTIATE_TEST_SUITE_P(
    Libraries, UserLibraryTest,
    testing::Values(
        LibraryCase{"BothExportsCallSetNewUserOnly", "Mod02", QStringLiteral("Главен счетоводител - отдел 2"), QStringLiteral("srv:/db/mod02.fdb"),
                    {QStringLiteral("both ") + kInit.arg(QStringLiteral("srv:/db/mod02.fdb")),
                     QStringLiteral("both SetNewUser %ID Главен счетоводител - отдел 2"), QStringLiteral("both FreeDLL")},
                    {}},
        LibraryCase{"DetailsGetLoginAndPassword", "Mod05", QStringLiteral("Оператор"), QStringLiteral("srv:/db/mod05.fdb"),
                    {QStringLiteral("details ") + kInit.arg(QStringLiteral("srv:/db/mod05.fdb")),
                     QStringLiteral("details UpdateUserDetails %ID ivanp тайна"), QStringLiteral("details FreeDLL")},
                    {}},
        LibraryCase{"InitReturnsFalseNoFreeDLL", "Mod02", QStringLiteral("Оператор"), QStringLiteral("srv:/db/refuse.fdb"),
                    {QStringLiteral("both ") + kInit.arg(QStringLiteral("srv:/db/refuse.fdb"))},
                    {}},
        LibraryCase{"InitThrowsNoFreeDLL", "Mod02", QStringLiteral("Оператор"), QStringLiteral("srv:/db/init-throws.fdb"),
                    {QStringLiteral("both ") + kInit.arg(QStringLiteral("srv:/db/init-throws.fdb"))},
                    QStringLiteral("Грешка при инициализация на %LIB/Mod02_US.so\rthe library could not start")},
        LibraryCase{"UserCallThrowsFreeDLLStillCalled", "Mod02", QStringLiteral("throws"), QStringLiteral("srv:/db/mod02.fdb"),
                    {QStringLiteral("both ") + kInit.arg(QStringLiteral("srv:/db/mod02.fdb")), QStringLiteral("both SetNewUser %ID throws"),
                     QStringLiteral("both FreeDLL")},
                    QStringLiteral("Грешка при настройване на права \rno such class here")},
        LibraryCase{"MissingLibrary", "Mod07", QStringLiteral("Оператор"), QStringLiteral("srv:/db/mod07.fdb"), {},
                    QStringLiteral("Грешка : Missing %APP/Mod07_US.so")},
        LibraryCase{"NotALibraryShowsTheLoadersReason", "Mod08", QStringLiteral("Оператор"), QStringLiteral("srv:/db/mod08.fdb"), {},
                    QStringLiteral("Грешка при зареждане на %LIB/Mod08_US.so\r")},
        LibraryCase{"LibraryWithoutTheFunctions", "Mod09", QStringLiteral("Оператор"), QStringLiteral("srv:/db/mod09.fdb"), {},
                    QStringLiteral("Липсват функции от %LIB/Mod09_US.so")},
        LibraryCase{"RowWithoutAClass", "Mod02", QString(), QStringLiteral("srv:/db/mod02.fdb"), {},
                    QStringLiteral("Не е избран клас за  Деловодство")},
        LibraryCase{"NoDatabaseForThisSystem", "Mod02", QStringLiteral("Оператор"), QString(), {},
                    QStringLiteral("Липсват настройки за  Деловодство")}),
    [](const testing::TestParamInfo<LibraryCase>& info) { return std::string(info.param.name); });

// The first row of the list does nothing on a double click, whatever application it is.
TEST_F(RightsTest, FirstRowDoubleClickDoesNothing)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    link(ivan, mod02, a);
    configure(QStringLiteral("Mod02"), {{QStringLiteral("srv:/db/mod02.fdb")}});
    auto w = open(ivan);
    ASSERT_EQ(w->rowOfApplication(mod02), 0);
    select(*w, mod02);
    emit w->lv->itemDoubleClicked(row(*w, mod02), 0);
    EXPECT_TRUE(libraryCalls().isEmpty());
    EXPECT_TRUE(m_prompts.shown.isEmpty());
    EXPECT_EQ(m_selections, 0);
}

// A library beside the program is found before the library folder's.
TEST_F(RightsTest, UserLibraryBesideTheProgramComesFirst)
{
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/Mod20_US.so");
    QFile::remove(beside);
    ASSERT_TRUE(QFile::copy(libDir() + QStringLiteral("/Mod05_US.so"), beside));
    ASSERT_TRUE(QFile::copy(libDir() + QStringLiteral("/Mod02_US.so"), libDir() + QStringLiteral("/Mod20_US.so")));
    const bool handed = RunUserLibrary(QStringLiteral("Mod20"), QStringLiteral("srv:/db/a.fdb"), QStringLiteral("c1"), QStringLiteral("c2"), 7,
                                       QStringLiteral("Оператор"), QStringLiteral("ivanp"), QStringLiteral("pw"));
    QFile::remove(beside);
    EXPECT_TRUE(handed);
    EXPECT_EQ(libraryCalls().value(1), QStringLiteral("details UpdateUserDetails 7 ivanp pw"));
    // An application that is not of the suite has no library.
    EXPECT_FALSE(RunUserLibrary(QStringLiteral("Чуждо"), QStringLiteral("x"), {}, {}, 7, {}, {}, {}));
}

// More applications than the list holds, and more classes than an entry holds: the surplus is
// left out and said, nothing is overrun.
TEST_F(RightsTest, SurplusApplicationsAreRefusedCleanly)
{
    // The suite's names, then the same names in capitals: FindSuiteApplication matches both.
    QStringList names;
    for (const SuiteApplication& app : SuiteApplicationTable)
        if (!names.contains(app.aplName.toString()))
            names << app.aplName.toString();
    ASSERT_LT(names.size(), 28);
    QList<int> apps;
    for (int i = 0; i < 28; ++i)
        apps << addApp(i < names.size() ? names[i] : names[i - names.size()].toUpper());
    for (int i = 0; i < 13; ++i)
        addClass(apps.first(), QStringLiteral("Клас %1").arg(i));
    auto w = open();
    EXPECT_EQ(w->lv->topLevelItemCount(), 27);
    EXPECT_EQ(w->applicationTable().count, 27);
    EXPECT_EQ(w->applicationTable().entries[0].ClassCount, 11);
    EXPECT_EQ(w->applicationTable().entries[0].SurplusClasses.size(), 2);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_EQ(m_prompts.messages().first(), Text::TooManyApplications + SuiteApplicationTable[FindSuiteApplication(names[4])].caption.toString() +
                                                QLatin1Char('\r') + Text::TooManyClasses + QStringLiteral("Пароли"));
}

// The import and automatic-rights commands are there, not yet usable.
TEST_F(RightsTest, ImportAndAutomaticRightsAreDisabled)
{
    auto w = open();
    EXPECT_EQ(w->SpeedButton1->text(), QStringLiteral("Въвеждане"));
    EXPECT_EQ(w->Button1->text(), QStringLiteral("Авт. права"));
    EXPECT_FALSE(w->SpeedButton1->isEnabled());
    EXPECT_FALSE(w->Button1->isEnabled());
}

// The rights list with a second administrator on the Firebird server.
class RightsServerTest : public RightsTest {
protected:
    void SetUp() override
    {
        RightsTest::SetUp();
        m_dm.db_Sys.disconnect();
        const QString path = serverDatabasePath(QStringLiteral("rights"));
        const db::ParamList p = firebirdParams(path);
        // Made with the server's own account, as the maintenance account of the day is not its owner.
        m_accounts.reset();
        CreateCurrentSystemDatabase(path, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")));
        m_accounts = std::make_unique<ProvisionAccounts>();
        SetStartupConnection(m_dm.db_Sys, p.value(QStringLiteral("USER NAME")), p.value(QStringLiteral("PASSWORD")), path);
        m_dm.db_Sys.connect();
        m_other.setDriverName(QStringLiteral("INTRBASE"));
        m_other.params() = p;
        m_other.connect();
    }
    void otherExec(const QString& sql) { execSql(m_other, sql); }

    db::Database m_other{QStringLiteral("other administrator")};
};

// Two windows show one user. Each save writes what its window changed: the first
// administrator's right survives the second one's save; a right both changed is refused to the
// second one, naming the application, with his edit still shown and unsaved, and written once he
// saves again.
TEST_F(RightsServerTest, TwoAdministratorsEachWriteOnlyTheirChanges)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int b = addClass(mod02, QStringLiteral("Ръководител"));
    const int mod05 = addApp(QStringLiteral("Mod05"));
    const int x = addClass(mod05, QStringLiteral("Счетоводител"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    localAppDatabase(QStringLiteral("Mod02"));
    localAppDatabase(QStringLiteral("Mod05"));

    auto first = open(ivan);
    auto second = open(ivan);
    grant(*first, mod02, a);
    first->sbSave->click();
    grant(*second, mod05, x);
    second->sbSave->click();
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, a}, {ivan, mod05, x}}));

    // Both change Mod02 from what they loaded.
    auto third = open(ivan);
    grant(*first, mod02, b);
    first->sbSave->click();
    tick(*third, mod02, false);
    third->sbSave->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    const QString refusal = m_prompts.messages().last();
    EXPECT_EQ(refusal, Text::RightsChangedMeanwhile.arg(QStringLiteral("Ivan Petrov"), row(*third, mod02)->text(0)));
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, b}, {ivan, mod05, x}}));
    EXPECT_FALSE(isTicked(*third, mod02));
    EXPECT_TRUE(isTicked(*third, mod05));
    EXPECT_TRUE(third->modified());
    third->sbSave->click();
    EXPECT_EQ(m_prompts.messages().size(), 1);
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod05, x}}));
}

// A class added and granted after the window was opened: the window shows the application ticked
// without a class, and neither Save nor refresh all takes the right away.
TEST_F(RightsServerTest, ARightInAClassTheWindowDoesNotKnowSurvives)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int mod05 = addApp(QStringLiteral("Mod05"));
    const int x = addClass(mod05, QStringLiteral("Счетоводител"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    link(ivan, mod02, a);
    localAppDatabase(QStringLiteral("Mod02"));
    localAppDatabase(QStringLiteral("Mod05"));
    auto w = open(ivan);

    const int added = ++m_lastClass;
    otherExec(QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (%1, %2, 'new', '')").arg(added).arg(mod02));
    otherExec(QStringLiteral("update links set lnk_class = %1 where lnk_usr = %2 and lnk_aplid = %3").arg(added).arg(ivan).arg(mod02));
    grant(*w, mod05, x);
    w->sbSave->click();
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, added}, {ivan, mod05, x}}));
    w->sbUserRefresh->click();
    EXPECT_TRUE(isTicked(*w, mod02));
    EXPECT_FALSE(classOf(*w, mod02).isValid());
    EXPECT_EQ(links(), (QList<Link>{{ivan, mod02, added}, {ivan, mod05, x}}));
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
}

// A user another administrator deletes: while his delete is open the save waits and fails with
// nothing written; once it is committed the save is refused with a message, no right is written
// and nothing is provisioned. Refresh all names him and goes on with the others.
TEST_F(RightsServerTest, SavingAUserAnotherAdministratorDeletedWritesNothing)
{
    const int mod02 = addApp(QStringLiteral("Mod02"));
    const int a = addClass(mod02, QStringLiteral("Оператор"));
    const int ivan = addUser(QStringLiteral("Ivan Petrov"));
    const int anna = addUser(QStringLiteral("Anna Petrova"));
    link(anna, mod02, a);
    FbAppDatabase& app = localAppDatabase(QStringLiteral("Mod02"));
    auto w = open(ivan);
    w->setLockTimeout(1);
    grant(*w, mod02, a);

    {
        db::Transaction deleting(m_other);
        otherExec(QStringLiteral("delete from users where user_id = %1").arg(ivan));
        w->sbSave->click();
        ASSERT_EQ(m_prompts.messages().size(), 1);
        EXPECT_EQ(links(), (QList<Link>{{anna, mod02, a}}));
        deleting.commit();
    }
    w->sbSave->click();
    ASSERT_EQ(m_prompts.messages().size(), 2);
    EXPECT_TRUE(m_prompts.messages().last().contains(QString::number(ivan))) << m_prompts.messages().last().toStdString();
    EXPECT_EQ(links(), (QList<Link>{{anna, mod02, a}}));
    EXPECT_TRUE(app.calls().isEmpty());
    EXPECT_TRUE(w->modified());

    // Refresh all over a list that still shows him.
    w->setModified(false);
    w->sbUserRefresh->click();
    ASSERT_EQ(m_prompts.messages().size(), 3);
    EXPECT_TRUE(m_prompts.messages().last().startsWith(Text::RightsNotSavedFor + QStringLiteral("Ivan Petrov")))
        << m_prompts.messages().last().toStdString();
    EXPECT_EQ(links(), (QList<Link>{{anna, mod02, a}}));
    EXPECT_EQ(app.calls().size(), 1);
    EXPECT_EQ(app.calls().first().id, anna);
}
