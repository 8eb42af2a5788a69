#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/Config.h"
#include "core/InputError.h"
#include "core/InstallDescription.h"
#include "core/SuiteApplications.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Error.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

class ConfigTest : public testing::Test {
protected:
    void SetUp() override { qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path().toUtf8()); }
    void TearDown() override { qunsetenv("GATEKEEP_CONFIG_DIR"); }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile f(m_tmp.path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read(const QString& name)
    {
        QFile f(m_tmp.path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TempDir m_tmp;
};

TEST_F(ConfigTest, IniFilesKeepTheirEncodingAndIgnoreCase)
{
    write(QStringLiteral("a.ini"), cp1251::encode(QStringLiteral("[Mod05]\nNumber=1\nCaption1=Заплати\nSYSBaseName1=x@srv:/db/sys.fdb\n")));
    {
        IniFile ini(m_tmp.path(QStringLiteral("a.ini")));
        EXPECT_EQ(ini.value(QStringLiteral("MOD05"), QStringLiteral("caption1")), QStringLiteral("Заплати"));
        EXPECT_EQ(ini.value(QStringLiteral("mod05"), QStringLiteral("sysbasename1")), QStringLiteral("x@srv:/db/sys.fdb"));
        EXPECT_EQ(ini.intValue(QStringLiteral("Mod05"), QStringLiteral("Number"), 0), 1);
        EXPECT_EQ(ini.intValue(QStringLiteral("Mod05"), QStringLiteral("Missing"), 7), 7);
        ini.setValue(QStringLiteral("Mod05"), QStringLiteral("Caption2"), QStringLiteral("Каса"));
        ini.save();
    }
    EXPECT_TRUE(read(QStringLiteral("a.ini")).contains(cp1251::encode(QStringLiteral("Caption2 = Каса"))));

    write(QStringLiteral("b.ini"), QStringLiteral("[Раздел]\nКлюч=Стойност\n").toUtf8());
    IniFile utf(m_tmp.path(QStringLiteral("b.ini")));
    EXPECT_EQ(utf.value(QStringLiteral("Раздел"), QStringLiteral("Ключ")), QStringLiteral("Стойност"));
    utf.save();
    EXPECT_TRUE(read(QStringLiteral("b.ini")).contains(QStringLiteral("Стойност").toUtf8()));

    IniFile missing(m_tmp.path(QStringLiteral("none.ini")));
    EXPECT_FALSE(missing.exists());
    EXPECT_TRUE(missing.sections().isEmpty());
}

// The parser would stop at the NUL and the next save would write back only the part before it.
TEST_F(ConfigTest, AFileWithANulIsRefusedAndNeverWrittenBack)
{
    const QByteArray original = QByteArray("[GBAK Location]\nPath=/usr/bin/gbak\n[Notes]\nA=1") + '\0' +
                                QByteArray("\n[Maintenance Account]\nUser=GKFVHPFRTRJWKQ\n[sys_db]\nDRIVER=INTRBASE\n");
    write(QStringLiteral("Gatekeep.ini"), original);
    try {
        IniFile ini(GatekeepIniPath());
        ADD_FAILURE() << "read as " << ini.sections().join(',').toStdString();
    } catch (const InputError& e) {
        EXPECT_TRUE(e.message().contains(GatekeepIniPath())) << e.what();
        EXPECT_TRUE(e.message().contains(QStringLiteral("позиция 46"))) << e.what();
    }
    EXPECT_THROW(ReadGbakPath(), InputError);
    EXPECT_THROW(WriteGbakPath(QStringLiteral("/opt/gbak")), InputError);
    EXPECT_EQ(read(QStringLiteral("Gatekeep.ini")), original);

    qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("Gatekeep.ini")).toUtf8());
    EXPECT_THROW(WriteAlias(QStringLiteral("other"), QStringLiteral("INTRBASE"), {}), InputError);
    qunsetenv("GATEKEEP_ALIASES");
    EXPECT_EQ(read(QStringLiteral("Gatekeep.ini")), original);
}

// Files the fuzzer turned up: each must read as written and read the same after a save.
TEST_F(ConfigTest, OddFilesReadTheSameBeforeAndAfterASave)
{
    // A cp1251 letter as the very last byte is not the start of a UTF-8 character.
    write(QStringLiteral("a.ini"), QByteArray("[Mod05]\nNumber=1\nCaption1=Vending \xC2"));
    // A byte-order mark at the start of a later line is no part of the key.
    write(QStringLiteral("b.ini"), QByteArray("x\r\xEF\xBB\xBF" "d=m\n"));
    for (int pass = 0; pass < 2; ++pass) {
        IniFile a(m_tmp.path(QStringLiteral("a.ini")));
        EXPECT_EQ(a.value(QStringLiteral("Mod05"), QStringLiteral("Caption1")), QStringLiteral("Vending В")) << pass;
        IniFile b(m_tmp.path(QStringLiteral("b.ini")));
        const QStringList keys = b.keys(QString());
        EXPECT_EQ(keys, QStringList{QStringLiteral("d")}) << pass;
        EXPECT_EQ(b.value(QString(), QStringLiteral("d")), QStringLiteral("m")) << pass;
        a.save();
        b.save();
    }

    // A section line without its ']' would grow into the next line with every save; the
    // parser ends a line at CR too.
    const QByteArray lf("[GBAK Location\nPath=/usr/bin/gbak\n");
    write(QStringLiteral("d.ini"), QByteArray("[A\rB]\nKey=1\n"));
    EXPECT_THROW(IniFile(m_tmp.path(QStringLiteral("d.ini"))), InputError);
    write(QStringLiteral("e.ini"), QByteArray("\xEF\xBB\xBF[A\r\nKey=1\r\n"));
    EXPECT_THROW(IniFile(m_tmp.path(QStringLiteral("e.ini"))), InputError);
    const QByteArray open = lf;
    write(QStringLiteral("c.ini"), open);
    try {
        IniFile c(m_tmp.path(QStringLiteral("c.ini")));
        ADD_FAILURE() << "read as " << c.sections().join(',').toStdString();
    } catch (const InputError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("ред 1"))) << e.what();
    }
    EXPECT_EQ(read(QStringLiteral("c.ini")), open);
}

// A file that is there but cannot be read is not an empty file: saving over it would lose it.
TEST_F(ConfigTest, AFileThatCannotBeReadIsNotTakenForEmpty)
{
    QDir(m_tmp.path()).mkdir(QStringLiteral("aliases.ini"));
    EXPECT_THROW(IniFile(m_tmp.path(QStringLiteral("aliases.ini"))), InputError);
    EXPECT_THROW(WriteAlias(QStringLiteral("x"), QStringLiteral("INTRBASE"), {}), InputError);
}

// The vendor's INI is checked as the program will check the .icr: a description the program
// would refuse is never written.
TEST_F(ConfigTest, InstallDescriptionIsWrittenOnlyWhenWhole)
{
    const QString secret = QStringLiteral("ОченьДългаТайнаПарола-0123456789abc"); // 35 characters
    const QString app = QStringLiteral("[Application]\nName=Mod09\nAlias=mod09_db\nUser=SYSDBA\nPassword=masterkey\nProcedure=ADD_USER\n");
    struct Case {
        const char* name;
        QString ini;
        QString fault;
    };
    const Case cases[] = {
        {"gapInTheClasses", app + QStringLiteral("[Classes]\nName1=a\nPassword1=p\nName3=c\nPassword3=p\n"), QStringLiteral("Name3")},
        {"classPasswordTooLong", app + QStringLiteral("[Classes]\nName1=a\nPassword1=") + secret + QLatin1Char('\n'),
         QStringLiteral("ClassPassword1 е дълъг 35 знака")},
        {"emptyClassPassword", app + QStringLiteral("[Classes]\nName1=a\nPassword1=\n"), QStringLiteral("ClassPassword1 е празен")},
        {"noName", QStringLiteral("[Application]\nAlias=x\n"), QStringLiteral("Name")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write(QStringLiteral("app.ini"), c.ini.toUtf8());
        const QString icr = m_tmp.path(QStringLiteral("app.icr"));
        try {
            WriteInstallDescription(m_tmp.path(QStringLiteral("app.ini")), icr);
            ADD_FAILURE() << "written";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(c.fault)) << e.what();
            EXPECT_FALSE(e.message().contains(secret.left(8))) << e.what();
        }
        EXPECT_FALSE(QFile::exists(icr));
    }

    write(QStringLiteral("app.ini"), (app + QStringLiteral("[Classes]\nName1=Касиер\nPassword1=Парола1\n")).toUtf8());
    WriteInstallDescription(m_tmp.path(QStringLiteral("app.ini")), m_tmp.path(QStringLiteral("app.icr")));
    const InstallDescription d = ReadInstallDescription(m_tmp.path(QStringLiteral("app.icr")));
    ASSERT_EQ(d.classes.size(), 1);
    EXPECT_EQ(d.classes[0].name, QStringLiteral("Касиер"));
    EXPECT_EQ(d.classes[0].password, QStringLiteral("Парола1"));
    EXPECT_EQ(d.alias, QStringLiteral("mod09_db"));
}

TEST_F(ConfigTest, GbakLocationIsTheOneSettingOfGatekeepIni)
{
    EXPECT_EQ(ReadGbakPath(), QString());
    WriteGbakPath(QStringLiteral("/usr/bin/gbak"));
    EXPECT_EQ(ReadGbakPath(), QStringLiteral("/usr/bin/gbak"));
    EXPECT_TRUE(read(QStringLiteral("Gatekeep.ini")).contains("[GBAK Location]"));
}

TEST_F(ConfigTest, AliasesAreListedLookedUpAndConnected)
{
    const QString path = m_tmp.path(QStringLiteral("app.fdb"));
    db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
    WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"),
               {{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")},
                {QStringLiteral("LANGDRIVER"), QStringLiteral("ancyrr")}});
    WriteAlias(QStringLiteral("pg_app"), QStringLiteral("POSTGRESQL"), {{QStringLiteral("SERVER NAME"), QStringLiteral("h/5432:app")}});

    EXPECT_EQ(AliasNames(), (QStringList{QStringLiteral("sys_db"), QStringLiteral("pg_app")}));
    EXPECT_TRUE(AliasExists(QStringLiteral("SYS_DB")));
    EXPECT_FALSE(AliasExists(QStringLiteral("other")));
    EXPECT_EQ(AliasDriver(QStringLiteral("Sys_DB")), QStringLiteral("INTRBASE"));
    EXPECT_EQ(AliasParams(QStringLiteral("sys_db")).value(QStringLiteral("server name")), path);
    EXPECT_FALSE(AliasParams(QStringLiteral("sys_db")).contains(QStringLiteral("DRIVER")));

    InstallAliasResolver();
    db::Database d(QStringLiteral("SYSDBase"));
    d.setAliasName(QStringLiteral("Sys_DB"));
    d.connect();
    EXPECT_TRUE(d.connected());
    d.setAliasName(QStringLiteral("nowhere"));
    EXPECT_THROW(d.connect(), db::Error);
}

TEST(BuiltInText, DecodesTheScrambledForm)
{
    struct Case {
        QString key, scrambled, plain;
    };
    const Case cases[] = {
        {QString(), QStringLiteral("GKFVHPFR"), QString()},
        {QStringLiteral("k7Wq2Zr"), QString(), QString()},
        {QStringLiteral("k7Wq2Zr"), QStringLiteral("GKFVHPFRTRJWKQ"), QStringLiteral("SYSDBA")},
        {QStringLiteral("k7Wq2Zr"), QStringLiteral("ZZ"), QString()},
        // The two leading characters carry nothing.
        {QStringLiteral("k7Wq2Zr"), QStringLiteral("ABFVHPFRTRJWKQ"), QStringLiteral("SYSDBA")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeBuiltInText(c.key, c.scrambled), c.plain) << c.scrambled.toStdString();

    for (const QString& plain : {QStringLiteral("syscreat"), QStringLiteral("p@ss w0rd!~"), QString()}) {
        const QString s = EncodeBuiltInText(BuiltInKey(), plain);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z]*$")).match(s).hasMatch()) << s.toStdString();
        EXPECT_EQ(DecodeBuiltInText(BuiltInKey(), s), plain);
    }
    EXPECT_THROW(EncodeBuiltInText(BuiltInKey(), QStringLiteral("Я")), db::Error);
}

TEST(SuiteApplications, LookupAndTableShape)
{
    EXPECT_EQ(FindSuiteApplication(QStringLiteral("gatekeep")), 0);
    EXPECT_EQ(FindSuiteApplication(QStringLiteral("GATEKEEP")), 0);
    EXPECT_EQ(FindSuiteApplication(QStringLiteral("Mod99")), -1);
    EXPECT_EQ(FindSuiteApplication(QString()), -1);

    const SuiteApplication& self = SuiteApplicationTable[0];
    EXPECT_EQ(self.key, u"Gatekeep");
    EXPECT_EQ(self.caption, u"Пароли");
    EXPECT_EQ(self.section, u"Mod01");

    // Every application name the program maps elsewhere has a row, and so has the key Mod04.
    QStringList names = {QStringLiteral("Mod01"), QStringLiteral("Mod40"), QStringLiteral("Mod50"), QStringLiteral("Mod51")};
    for (int i = 2; i <= 20; ++i)
        if (i != 4)
            names << QStringLiteral("Mod%1").arg(i, 2, 10, QLatin1Char('0'));
    for (const QString& n : names) {
        const int row = FindSuiteApplication(n);
        ASSERT_GE(row, 0) << n.toStdString();
        EXPECT_EQ(SuiteApplicationTable[row].section.toString().compare(n, Qt::CaseInsensitive) == 0 || n == QLatin1String("Mod01"), true) << n.toStdString();
    }
    bool mod04 = false;
    for (const SuiteApplication& a : SuiteApplicationTable)
        mod04 = mod04 || (a.key == u"Mod04" && a.aplName == u"Mod03");
    EXPECT_TRUE(mod04);
}
