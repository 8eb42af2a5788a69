// The two user export files, from a real system database at the current schema (embedded), with
// the resolver data of an application database of its own; the files are compared byte for byte
// with the expected ones in data/.
#include "support/FullDisk.h"
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/DataModule.h"
#include "core/Policy.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "maint/Demo.h"
#include "users/ExportText.h"
#include "users/ExportUsers.h"
#include "users/UserExport.h"
#include "users/UserRights.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

namespace Text = ExportText;

QString lit(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\''); }

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return "<missing: " + path.toUtf8() + ">";
    return f.readAll();
}

QByteArray expected(const char* name) { return readFile(QStringLiteral(GK_EXPORT_DATA_DIR "/") + QLatin1String(name)); }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Sets an environment variable for the life of a test.
class EnvSetting {
public:
    EnvSetting(const char* name, const QString& value) : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value.toUtf8());
    }
    ~EnvSetting()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

TEST(ExportValues, ClassLevel)
{
    const struct {
        const char* name;
        int level; // -1: refused
    } cases[] = {
        {"User1", 1}, {"user9", 9}, {"USER0", 0}, {"User4 отчети", 4}, {"admnSupervisor", 1}, {"ADMN", 1},
        {"admin", -1}, {"User", -1}, {"Userx", -1}, {"", -1}, {"Оператор", -1}, {" User1", -1},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromUtf8(c.name);
        if (c.level < 0) {
            try {
                ClassLevel(name);
                ADD_FAILURE() << c.name << " was taken";
            } catch (const ExportError& e) {
                EXPECT_EQ(e.message(), QStringLiteral("Грешен клас на потребител!!!")) << c.name;
            }
        } else {
            EXPECT_EQ(ClassLevel(name), c.level) << c.name;
        }
    }
}

TEST(ExportValues, MapClassForExport)
{
    const struct {
        const char* apl;
        const char* cls;
        bool forHub;
        const char* value;
    } cases[] = {
        {"Mod03", "User2", false, "User2"},       {"Mod03", "User2", true, "zoroperator"},  {"Mod03", "admnX", true, "zoradmin"},
        {"Mod05", "User3", true, "zoradmin"},     {"Mod05", "User4", true, "zoroperator"},  {"Mod05", "User1", true, "zorviewer"},
        {"Mod05", "admnX", true, "zorviewer"},    {"Mod08", "User1", true, "zoradmin"},     {"Mod08", "User4", true, "zorviewer"},
        {"Mod08", "User2", true, "zoroperator"},  {"Mod11", "User6", true, "zoradmin"},     {"Mod11", "User1", true, "zoroperator"},
        {"Mod09", "admnX", true, "zoroperator"},  {"Mod12", "User1", true, "zoroperator"},  {"Mod14", "User1", true, "zoroperator"},
        {"Gatekeep", "User5", true, "zoradmin"},  {"mod01", "User5", true, "zoradmin"},     {"Mod20", "User9", true, "zoradmin"},
        {"Mod40", "User1", true, "zoradmin"},     {"Mod40", "User2", true, "zoroperator"},  {"MOD19", "User7", true, "zoroperator"},
        {"Mod05", "User4", false, "User4"},       {"Gatekeep", "admnРъководител", false, "admnРъководител"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapClassForExport(EncodeStoredText(QString::fromUtf8(c.apl)), EncodeStoredText(QString::fromUtf8(c.cls)), c.forHub),
                  QString::fromUtf8(c.value))
            << c.apl << " " << c.cls << " " << c.forHub;
    // A class the levels do not know is refused in both modes.
    for (bool forHub : {false, true})
        EXPECT_THROW(MapClassForExport(EncodeStoredText(QStringLiteral("Mod02")), EncodeStoredText(QStringLiteral("admin")), forHub),
                     ExportError);
}

TEST(ExportValues, ExportAttribute)
{
    const struct {
        const char* apl;
        const char* attribute;
    } cases[] = {{"Gatekeep", "AHUB"}, {"MOD01", "AHUB"},   {"Mod03", "AMod03"}, {"Mod11", "AMod22"}, {"Mod40", "AMod23"},
                 {"Mod20", "AMod20"},  {"Mod04", ""},       {"Mod50", ""},       {"Mod21", ""},       {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(ExportAttribute(QLatin1String(c.apl)), QLatin1String(c.attribute)) << c.apl;
}

TEST(ExportValues, EncodeBase64)
{
    const struct {
        QByteArray bytes;
        const char* base64;
    } cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {QByteArray("\xfb\xff\xfe", 3), "+//+"},
        {cp1251::encode(QStringLiteral("Ива")), "yOLg"}, // the cp1251 bytes, not UTF-8
        {QByteArray(60, 'x'), "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4"}, // no line breaks
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeBase64(c.bytes), QLatin1String(c.base64)) << c.bytes.toHex().constData();
}

// A system database with applications, classes, users (ids 0 and below too) and rights that
// exercise every rule of the two files; an application database with resolver data; ZorCfg.ini
// and an alias file that offer that database.
class ExportUsersTest : public testing::Test {
protected:
    void SetUp() override
    {
        const QString sys = m_tmp.path(QStringLiteral("sys.fdb"));
        CreateCurrentSystemDatabase(sys, QStringLiteral("SYSCREAT"), QString());
        SetStartupConnection(m_dm.db_Sys, QStringLiteral("SYSCREAT"), QString(), sys);
        m_dm.db_Sys.connect();
        PasswordPolicyFlags() = QString(70, QLatin1Char('0'));
        InstallAliasResolver();
        fillSystemDatabase();
        m_resolverDb = m_tmp.path(QStringLiteral("app.fdb"));
        createResolverDatabase(m_resolverDb);
        writeFile(m_tmp.path(QStringLiteral("ZorCfg.ini")),
                  QStringLiteral("[Mod02]\r\nNumber=2\r\nDBN1=deloDB\r\nCaption1=Деловодство\r\nServIP1=\r\nBaseName1=%1\r\n"
                                 "sysBaseName1=sys\r\nDBN2=missing\r\nCaption2=Липсваща\r\nServIP2=\r\nBaseName2=%2\r\nsysBaseName2=sys\r\n"
                                 "[Mod03]\r\nNumber=1\r\nDBN1=plati\r\nCaption1=Заплати\r\nServIP1=\r\nBaseName1=%3\r\nsysBaseName1=sys\r\n")
                      .arg(m_resolverDb, m_tmp.path(QStringLiteral("none.fdb")), sys)
                      .toUtf8());
        writeFile(m_tmp.path(QStringLiteral("aliases.ini")),
                  QStringLiteral("[delo_db]\nDRIVER=INTRBASE\nSERVER NAME=%1\n[pg_db]\nDRIVER=POSTGRESQL\nSERVER NAME=x\n"
                                 "[fb_db]\nDRIVER=FIREBIRD\nSERVER NAME=%1\n[Mod07_db]\nDRIVER=INTERBASE\nSERVER NAME=x\n")
                      .arg(m_resolverDb)
                      .toUtf8());
    }

    void exec(const QString& sql) { execSql(m_dm.db_Sys, sql); }
    void addApplication(int id, const QString& name)
    {
        exec(QStringLiteral("insert into applications (apl_id, apl_name, apl_state) values (%1, %2, 'Active')").arg(id).arg(lit(EncodeStoredText(name))));
    }
    void addClass(int idx, int apl, const QString& name)
    {
        exec(QStringLiteral("insert into class (class_idx, class_aplidx, class_nm) values (%1, %2, %3)").arg(idx).arg(apl).arg(lit(EncodeStoredText(name))));
    }
    void addUser(int id, const QString& fullName, const QString& login, const QString& password, const QString& extraColumns = {},
                 const QString& extraValues = {})
    {
        exec(QStringLiteral("insert into users (user_id, user_rnm, user_fnm, user_fpw%1) values (%2, %3, %4, %5%6)")
                 .arg(extraColumns)
                 .arg(id)
                 .arg(lit(EncodeStoredText(fullName)), lit(EncodeStoredText(login)), lit(EncodeStoredText(password)), extraValues));
    }
    void addRights(int user, std::initializer_list<std::pair<int, int>> rights)
    {
        for (const auto& [apl, cls] : rights)
            exec(QStringLiteral("insert into links (lnk_usr, lnk_aplid, lnk_class) values (%1, %2, %3)").arg(user).arg(apl).arg(cls));
    }

    void fillSystemDatabase()
    {
        addApplication(1, QStringLiteral("Gatekeep"));
        addApplication(2, QStringLiteral("Mod02"));
        addApplication(3, QStringLiteral("Mod03"));
        addApplication(5, QStringLiteral("Mod05"));
        addApplication(11, QStringLiteral("Mod11"));
        addApplication(40, QStringLiteral("Mod40"));
        addApplication(50, QStringLiteral("Mod50"));  // of the suite, but the XML document has no attribute for it
        addApplication(99, QStringLiteral("Чуждо"));  // not of the suite
        addClass(10, 1, QStringLiteral("admnSupervisor"));
        addClass(20, 2, QStringLiteral("User1"));
        addClass(21, 2, QStringLiteral("User2"));
        addClass(22, 2, QStringLiteral("User1-Деловодител-Главен")); // longer than the 20 the rights list shows
        addClass(30, 3, QStringLiteral("User2"));
        addClass(50, 5, QStringLiteral("User1"));
        addClass(51, 5, QStringLiteral("User3"));
        addClass(52, 5, QStringLiteral("User4"));
        addClass(110, 11, QStringLiteral("User6"));
        addClass(400, 40, QStringLiteral("User3"));
        addClass(500, 50, QStringLiteral("User1"));
        addClass(990, 99, QStringLiteral("admin")); // refused only where it is exported

        addUser(0, QStringLiteral("Системен"), QStringLiteral("system"), QStringLiteral("sys"));
        addRights(0, {{1, 10}});
        // Rights in the order the document follows: Mod05 before Gatekeep; a second right in
        // Mod02 replaces the first in place; the two outside the document leave no trace.
        addUser(1, QStringLiteral("Мария Петрова Иванова"), QStringLiteral("MPIvanova"), QStringLiteral("Ива"));
        addRights(1, {{5, 51}, {1, 10}, {3, 30}, {2, 20}, {99, 990}, {50, 500}, {2, 21}});
        addUser(2, QStringLiteral("Иван Петров"), QStringLiteral("IPetrov"), QStringLiteral("abc"),
                QStringLiteral(", user_domainuser, user_domainname, user_domainsid, user_cert"),
                QStringLiteral(", 'ipetrov', 'CORP', 'S-1-5-21-3623811015-3361044348-30300820-1104', 'MIIB\r\nQUJD'"));
        addRights(2, {{5, 52}, {11, 110}, {40, 400}});
        // A right whose class is gone: shown ticked without a class, so it gives no line.
        addUser(3, QStringLiteral("Стоян"), QStringLiteral("stoyan"), QStringLiteral("p\"w&<"));
        addRights(3, {{5, 50}, {50, 501}});
        addUser(4, QStringLiteral(" Анна Мария  Костова Тодорова "), QStringLiteral("ATodorova"), QStringLiteral("1234"));
        addRights(4, {{2, 22}});
        addUser(5, QStringLiteral("<Петър> \"Пешо\" & 'Ко'"), QStringLiteral("a&b"), QStringLiteral("x"));
        addUser(6, QStringLiteral("без права"), QStringLiteral("nobody"), QStringLiteral("none"));
        addUser(-1, QStringLiteral("Служебен Потребител"), QStringLiteral("service"), QStringLiteral("svc"));
        addRights(-1, {{3, 30}});
    }

    static void createResolverDatabase(const QString& path)
    {
        db::Database::createFirebirdDatabase(path, BuiltInUser(), BuiltInPassword());
        db::Database app;
        app.setDriverName(QStringLiteral("INTRBASE"));
        app.params() = {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), BuiltInUser()}};
        app.connect();
        for (const char* sql : {
                 "create table resolutors_nom (res_id integer, res_post varchar(60), res_group integer, res_subd integer)",
                 "create table destination_nom (dest_id integer, dest_txt varchar(60))",
                 "create table subdev (sd_id integer, sd_text varchar(60))",
             })
            execSql(app, QString::fromUtf8(sql));
        for (const char* sql : {
                 "insert into destination_nom values (7, 'Правен отдел')",
                 "insert into subdev values (3, 'Дирекция АО')",
                 "insert into resolutors_nom values (1, 'Директор', 7, 3)",
                 "insert into resolutors_nom values (1, 'Заместник', 7, 3)", // the first row of an id counts
                 "insert into resolutors_nom values (2, 'Началник', null, 3)", // no destination: empty
                 "insert into resolutors_nom values (777, 'Никой', 7, 3)",
             })
            execSql(app, QString::fromUtf8(sql));
    }

    std::unique_ptr<TfrmUserRights> openWindow()
    {
        auto w = std::make_unique<TfrmUserRights>(m_dm);
        w->show();
        return w;
    }
    static TUserExport& exportOf(TfrmUserRights& w) { return *w.findChild<TUserExport*>(); }
    static void choose(TUserExport& e, const QString& item)
    {
        const int i = e.cbAliases->findText(item);
        ASSERT_GE(i, 0) << item.toStdString();
        e.cbAliases->setCurrentIndex(i);
    }

    TempDir m_tmp;
    EnvSetting m_zorCfg{"GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini"))};
    EnvSetting m_aliases{"GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini"))};
    TDM m_dm;
    ScriptedPrompts m_prompts;
    QString m_resolverDb;
};

TEST_F(ExportUsersTest, XmlDocumentAsExpected)
{
    const struct {
        bool forHub;
        const char* file;
    } cases[] = {{false, "users.xml"}, {true, "users_hub.xml"}};
    for (const auto& c : cases) {
        const QString path = m_tmp.path(QLatin1String(c.file));
        auto w = openWindow();
        m_prompts.answerFile(path).answerConfirm(c.forHub);
        exportOf(*w).miExport->trigger();
        EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(readFile(path), expected(c.file)) << c.file;
        ASSERT_GE(m_prompts.shown.size(), 2);
        const auto& question = m_prompts.shown.last();
        EXPECT_EQ(question.text, Text::ForHub);
        EXPECT_EQ(question.icon, Prompts::Icon::Question);
    }
}

// A class the levels refuse ends the export; neither a new file nor a changed old one is left.
TEST_F(ExportUsersTest, RefusedClassWritesNoFile)
{
    addClass(23, 2, QStringLiteral("admin"));
    addRights(6, {{2, 23}});
    const struct {
        const char* name;
        QByteArray before; // empty: no file
    } cases[] = {{"new.xml", {}}, {"old.xml", "<old/>\r\n"}};
    for (bool forHub : {false, true})
        for (const auto& c : cases) {
            const QString path = m_tmp.path(QLatin1String(c.name));
            QFile::remove(path);
            if (!c.before.isEmpty())
                writeFile(path, c.before);
            auto w = openWindow();
            m_prompts.answerFile(path).answerConfirm(forHub);
            exportOf(*w).miExport->trigger();
            ASSERT_FALSE(m_prompts.messages().isEmpty());
            EXPECT_EQ(m_prompts.messages().last(), QStringLiteral("Грешка : Грешен клас на потребител!!!"));
            EXPECT_EQ(QFile::exists(path), !c.before.isEmpty()) << c.name;
            if (!c.before.isEmpty()) {
                EXPECT_EQ(readFile(path), c.before);
            }
            EXPECT_EQ(QDir(m_tmp.path()).entryList({QStringLiteral("*.xml*")}, QDir::Files),
                      c.before.isEmpty() ? QStringList() : QStringList{QLatin1String(c.name)});
            m_prompts.shown.clear();
            QFile::remove(path);
        }
}

// On a full disk both exports say why and leave the file they would replace as it was.
TEST_F(ExportUsersTest, FullDiskKeepsTheOldFileAndSaysWhy)
{
    FullDisk disk;
    const QByteArray before = "<an earlier export/>\r\n";
    const struct {
        const char* name;
        bool xml;
    } cases[] = {{"users.xml", true}, {"users.txt", false}};
    for (const auto& c : cases)
        FullDisk::write(disk.path(QLatin1String(c.name)), before);
    const QStringList entries = disk.entries();
    disk.fill();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = disk.path(QLatin1String(c.name));
        auto w = openWindow();
        m_prompts.shown.clear();
        m_prompts.answerFile(path);
        if (c.xml) {
            m_prompts.answerConfirm(false);
            exportOf(*w).miExport->trigger();
        } else {
            exportOf(*w).sbExport->click();
        }
        EXPECT_TRUE(m_prompts.allAnswered());
        const QStringList messages = m_prompts.messages();
        ASSERT_EQ(messages.size(), 1) << messages.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(messages[0].startsWith(Text::ErrorPrefix)) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(path)) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << messages[0].toStdString();
        EXPECT_EQ(m_prompts.shown.last().icon, Prompts::Icon::Error);
        EXPECT_EQ(readFile(path), before);
    }
    EXPECT_EQ(disk.entries(), entries);
}

TEST_F(ExportUsersTest, XmlNeedsUsersAndAFile)
{
    auto w = openWindow();
    m_prompts.answerFile(QString()); // cancelled
    exportOf(*w).miExport->trigger();
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_EQ(m_prompts.shown.size(), 1); // no HUB question after a cancelled dialog
    EXPECT_TRUE(QDir(m_tmp.path()).entryList({QStringLiteral("*.xml")}, QDir::Files).isEmpty());

    exec(QStringLiteral("delete from links"));
    exec(QStringLiteral("delete from users where user_id > 0"));
    auto empty = openWindow();
    m_prompts.shown.clear();
    exportOf(*empty).miExport->trigger(); // users with ids 0 and below are not listed: nothing happens
    EXPECT_TRUE(m_prompts.shown.isEmpty());
}

TEST_F(ExportUsersTest, DatabaseListOffersFirebirdAliasesAndConfiguredDatabases)
{
    auto w = openWindow();
    QStringList items;
    for (int i = 0; i < exportOf(*w).cbAliases->count(); ++i)
        items << exportOf(*w).cbAliases->itemText(i);
    EXPECT_EQ(items, (QStringList{QString(), QStringLiteral("[BDE] delo_db"), QStringLiteral("[BDE] fb_db"), QStringLiteral("[BDE] Mod07_db"),
                                  QStringLiteral("Деловодство (deloDB)"),
                                  QStringLiteral("Заплати (plati)"), QStringLiteral("Липсваща (missing)")}));
    EXPECT_EQ(exportOf(*w).cbAliases->currentIndex(), 0);
    EXPECT_EQ(exportOf(*w).sbExport->toolTip(), Text::ButtonHint);
    EXPECT_TRUE(m_prompts.messages().isEmpty());
}

TEST_F(ExportUsersTest, TextAsExpected)
{
    const struct {
        const char* item; // chosen in the database list
        const char* file;
        QStringList messages;
    } cases[] = {
        {"", "users.txt", {}},
        {"Деловодство (deloDB)", "users_resolvers.txt", {}},
        {"[BDE] delo_db", "users_resolvers.txt", {}},
        // The system database has no resolver data: the question, answered Yes.
        {"Заплати (plati)", "users.txt", {}},
        {"Липсваща (missing)", "users.txt", {Text::ConnectFailed}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        const QString path = m_tmp.path(QStringLiteral("users.txt"));
        QFile::remove(path);
        auto w = openWindow();
        TUserExport& e = exportOf(*w);
        choose(e, QString::fromUtf8(c.item));
        const bool asks = QByteArray(c.item).startsWith("Заплати");
        if (asks)
            m_prompts.answerConfirm(true);
        m_prompts.answerFile(path);
        m_prompts.shown.clear();
        e.sbExport->click();
        EXPECT_TRUE(m_prompts.allAnswered());
        const QStringList messages = m_prompts.messages();
        ASSERT_EQ(messages.size(), c.messages.size()) << messages.join(QLatin1Char('\n')).toStdString();
        for (qsizetype i = 0; i < messages.size(); ++i)
            EXPECT_TRUE(messages[i].startsWith(c.messages[i])) << messages[i].toStdString();
        if (asks) {
            EXPECT_EQ(m_prompts.shown.first().text, Text::NoResolverData);
        }
        EXPECT_EQ(readFile(path), expected(c.file));
        EXPECT_FALSE(e.exportDb.connected());
        EXPECT_EQ(w->tblUsers.recNo(), w->tblUsers.recordCount() - 1); // the last user is current
    }
}

TEST_F(ExportUsersTest, TextEndsWhenResolverDataIsRefused)
{
    auto w = openWindow();
    TUserExport& e = exportOf(*w);
    choose(e, QStringLiteral("Заплати (plati)"));
    m_prompts.answerConfirm(false);
    e.sbExport->click();
    EXPECT_TRUE(m_prompts.allAnswered());
    ASSERT_EQ(m_prompts.shown.size(), 1); // no file dialog
    EXPECT_EQ(m_prompts.shown[0].text, Text::NoResolverData);
    EXPECT_FALSE(e.exportDb.connected());
}

// A resolver gets one line whatever rights the user holds; the line carries the class of the
// user's first right, the one the database gives first.
TEST_F(ExportUsersTest, ResolverGetsOneLine)
{
    db::Database app;
    app.setDriverName(QStringLiteral("INTRBASE"));
    app.params() = {{QStringLiteral("SERVER NAME"), m_resolverDb}, {QStringLiteral("USER NAME"), BuiltInUser()}};
    app.connect();
    const ResolverData data = ReadResolverData(app);
    const QByteArray text = UsersTextDocument(m_dm.db_Sys, {{1, QStringLiteral("MPIvanova"), QStringLiteral("Мария Петрова Иванова")}}, &data);
    EXPECT_EQ(text, cp1251::encode(QStringLiteral("MPIvanova@Мария Петрова Иванова@5093@Дирекция АО@@Правен отдел@Директор@User3\r\n")));
    const QByteArray rights = UsersTextDocument(m_dm.db_Sys, {{1, QStringLiteral("MPIvanova"), QStringLiteral("Мария Петрова Иванова")}}, nullptr);
    EXPECT_EQ(rights.count("\r\n"), 5); // Gatekeep, Mod02, Mod03, Mod05, Mod50
}
