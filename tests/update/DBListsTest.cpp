// The configured database lists of ZorCfg.ini, with the alias file behind them.
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "core/Config.h"
#include "core/InputError.h"
#include "update/DBLists.h"

#include <QFile>

#include <gtest/gtest.h>

class DBListsFixture {
protected:
    DBListsFixture()
    {
        qputenv("GATEKEEP_ZORCFG", zorPath().toUtf8());
        qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini")).toUtf8());
        WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), QStringLiteral("srv:/db/sys.fdb")}});
        WriteAlias(QStringLiteral("data_db"), QStringLiteral("INTRBASE"),
                   {{QStringLiteral("Server Name"), QStringLiteral("srv:/db/data.fdb")}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}});
    }
    ~DBListsFixture()
    {
        qunsetenv("GATEKEEP_ZORCFG");
        qunsetenv("GATEKEEP_ALIASES");
    }

    QString zorPath() const { return m_tmp.path(QStringLiteral("ZorCfg.ini")); }
    void writeZor(const QByteArray& text) const
    {
        QFile f(zorPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    TempDir m_tmp;
};

namespace {
// The fall-back of section Mod02 when the file lists no usable database for it.
const QStringList kDataAliasItem = {QStringLiteral("data_db : srv:/db/data.fdb")};
const QStringList kSysAliasServer = {QStringLiteral("srv:/db/sys.fdb")};

const QByteArray kEntry1 = "DBN1=pay\nCaption1=Заплати\nServIP1=\nBaseName1=/db/pay.fdb\nsysBaseName1=srv:/db/sys.fdb\n";
const QByteArray kEntry2 = "DBN2=arch\nCaption2=Архив\nServIP2=db2\nBaseName2=/db/arch.fdb\nsysBaseName2=srv:/db/sys.fdb\n";
} // namespace

struct EntryCase {
    const char* name;
    QByteArray ini;
    QStringList items;
    QStringList sysBaseNames;
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class ListAppDatabasesEntries : public DBListsFixture, public testing::TestWithParam<EntryCase> {};

TEST_P(ListAppDatabasesEntries, ListsTheUsableEntries)
{
    const EntryCase& c = GetParam();
    writeZor(c.ini);
    QStringList items{QStringLiteral("left over")};
    SysBaseNames() = QStringList{QStringLiteral("left over")};
    EXPECT_EQ(ListAppDatabases(QStringLiteral("Mod02"), items), 0);
    EXPECT_EQ(items, c.items);
    EXPECT_EQ(SysBaseNames(), c.sysBaseNames);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListAppDatabasesEntries,
    testing::Values(
        EntryCase{"EmptyServIPGivesTheBarePath", "[Mod02]\nNumber=1\n" + kEntry1, {QStringLiteral("Заплати : /db/pay.fdb")}, kSysAliasServer},
        EntryCase{"ServIPAndBaseNameJoined", "[Mod02]\nNumber=2\n" + kEntry1 + kEntry2,
                  {QStringLiteral("Заплати : /db/pay.fdb"), QStringLiteral("Архив : db2:/db/arch.fdb")},
                  {QStringLiteral("srv:/db/sys.fdb"), QStringLiteral("srv:/db/sys.fdb")}},
        EntryCase{"AccessDatabaseIsWhatFollowsTheAt",
                  "[Mod02]\nNumber=1\nDBN1=pay\nCaption1=Заплати\nBaseName1=c:\\db\\pay.gdb\nsysBaseName1=x@srv:c:\\db\\sys.gdb\n",
                  {QStringLiteral("Заплати : c:\\db\\pay.gdb")}, {QStringLiteral("srv:c:\\db\\sys.gdb")}},
        EntryCase{"AccessDatabaseAfterTheAtKeeps99Characters",
                  "[Mod02]\nNumber=1\nDBN1=pay\nCaption1=Заплати\nBaseName1=/db/pay.fdb\nsysBaseName1=u@a@" + QByteArray(120, 'x') + "\n",
                  {QStringLiteral("Заплати : /db/pay.fdb")}, {QStringLiteral("a@") + QString(97, QLatin1Char('x'))}},
        EntryCase{"KeyAndSectionNamesIgnoreCase",
                  "[MOD02]\nNUMBER=1\ndbn1=pay\nCAPTION1=Заплати\nservip1=db1\nbasename1=/db/pay.fdb\nSYSBaseName1=srv:/db/sys.fdb\n",
                  {QStringLiteral("Заплати : db1:/db/pay.fdb")}, kSysAliasServer},
        EntryCase{"EmptyCaptionIsStillUsable",
                  "[Mod02]\nNumber=1\nDBN1=pay\nCaption1=\nBaseName1=/db/pay.fdb\nsysBaseName1=srv:/db/sys.fdb\n",
                  {QStringLiteral(" : /db/pay.fdb")}, kSysAliasServer},
        EntryCase{"EntryWithoutAccessDatabaseIsSkipped",
                  "[Mod02]\nNumber=2\nDBN1=pay\nCaption1=Заплати\nBaseName1=/db/pay.fdb\n" + kEntry2,
                  {QStringLiteral("Архив : db2:/db/arch.fdb")}, kSysAliasServer},
        EntryCase{"NumberBoundsTheEntries", "[Mod02]\nNumber=1\n" + kEntry1 + kEntry2, {QStringLiteral("Заплати : /db/pay.fdb")}, kSysAliasServer},
        EntryCase{"HugeNumberListsTheEntriesThatExist", "[Mod02]\nNumber=2000000000\n" + kEntry2 + kEntry1,
                  {QStringLiteral("Заплати : /db/pay.fdb"), QStringLiteral("Архив : db2:/db/arch.fdb")},
                  {QStringLiteral("srv:/db/sys.fdb"), QStringLiteral("srv:/db/sys.fdb")}},
        // No entries: the section's alias stands in.
        EntryCase{"NumberZero", "[Mod02]\nNumber=0\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"NumberMissing", "[Mod02]\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"NumberNotANumber", "[Mod02]\nNumber=two\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"NumberNegative", "[Mod02]\nNumber=-1\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"NumberBeyondAnInteger", "[Mod02]\nNumber=99999999999\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"NoEntryUsable", "[Mod02]\nNumber=1\nDBN1=pay\nCaption1=Заплати\nServIP1=db1\nBaseName1=/db/pay.fdb\n",
                  kDataAliasItem, kSysAliasServer},
        EntryCase{"SectionMissing", "[Mod03]\nNumber=1\n" + kEntry1, kDataAliasItem, kSysAliasServer},
        EntryCase{"FileUnreadable", "[Mod02]\nNumber=1\n" + kEntry1 + '\0', kDataAliasItem, kSysAliasServer}),
    [](const testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.name); });

class DBListsTest : public DBListsFixture, public testing::Test {};

TEST_F(DBListsTest, AliasFallBackNeedsAnAliasWithAServer)
{
    // Mod01's alias is the system database itself; Mod13's alias is not in the alias file.
    QStringList items;
    EXPECT_EQ(ListAppDatabases(QStringLiteral("mod01"), items, {}, m_tmp.path(QStringLiteral("none.ini"))), 0);
    EXPECT_EQ(items, QStringList{QStringLiteral("sys_db : srv:/db/sys.fdb")});
    EXPECT_EQ(SysBaseNames(), kSysAliasServer);

    EXPECT_EQ(ListAppDatabases(QStringLiteral("Mod13"), items, {}, m_tmp.path(QStringLiteral("none.ini"))), -1);
    EXPECT_TRUE(items.isEmpty());
    EXPECT_TRUE(SysBaseNames().isEmpty());
    EXPECT_EQ(ListAppDatabases(QStringLiteral("NotInTheTable"), items), -1);
    EXPECT_TRUE(items.isEmpty());
}

TEST_F(DBListsTest, ReturnsTheItemOfTheLastMatchingDBN)
{
    // Entry 2 is not usable, so the items are entries 1, 3 and 4.
    writeZor("[Mod02]\nNumber=4\n"
             "DBN1=main\nCaption1=Първа\nBaseName1=/db/1.fdb\nsysBaseName1=/db/sys.fdb\n"
             "DBN2=arch\nCaption2=Втора\nBaseName2=/db/2.fdb\n"
             "DBN3=ARCH\nCaption3=Трета\nBaseName3=/db/3.fdb\nsysBaseName3=/db/sys.fdb\n"
             "DBN4=Main\nCaption4=Четвърта\nBaseName4=/db/4.fdb\nsysBaseName4=/db/sys.fdb\n");
    const struct {
        const char* wanted;
        int index;
    } cases[] = {{"main", 2}, {"Arch", 1}, {"none", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        QStringList items;
        EXPECT_EQ(ListAppDatabases(QStringLiteral("Mod02"), items, QString::fromUtf8(c.wanted)), c.index);
        EXPECT_EQ(items.size(), 3);
    }
}

TEST_F(DBListsTest, AliasServerNameAndSectionAlias)
{
    EXPECT_EQ(AliasServerName(QStringLiteral(" data_db ")), QStringLiteral("srv:/db/data.fdb"));
    EXPECT_EQ(AliasServerName(QStringLiteral("  ")), QString());
    EXPECT_EQ(AliasServerName(QStringLiteral("unknown")), QString());

    EXPECT_EQ(SectionAlias(QStringLiteral("MOD01")), QStringLiteral("sys_db"));
    EXPECT_EQ(SectionAlias(QStringLiteral("mod50")), QStringLiteral("sys_db"));
    EXPECT_EQ(SectionAlias(QStringLiteral("Mod51")), QStringLiteral("Mod51"));
    EXPECT_EQ(SectionAlias(QStringLiteral("Mod19")), QStringLiteral("mod19_db"));
    EXPECT_EQ(SectionAlias(QStringLiteral("Mod05")), QString());

    // An alias file that cannot be read answers nothing instead of failing.
    QFile f(m_tmp.path(QStringLiteral("aliases.ini")));
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray("[x]\nA=") + '\0');
    f.close();
    EXPECT_EQ(AliasServerName(QStringLiteral("data_db")), QString());
}

TEST_F(DBListsTest, LoadAllDBEntriesReadsTheTableSectionsInTableOrder)
{
    writeZor("[Mod02]\nNumber=2\n" + kEntry1 +
             "DBN2=\nCaption2=Без име\n"
             "[Mod77]\nNumber=1\n" + kEntry1 +
             "[Mod03]\nNumber=abc\n" + kEntry1 +
             "[mod01]\nNumber=5000000\nDBN1=sys\nCaption1=Система\nServIP1=srv\nBaseName1=/db/sys.fdb\nSYSBASENAME1=x@srv:/db/sys.fdb\n");
    TDBEntry old;
    old.Section = QStringLiteral("Old");
    TDBEntryList list{old};
    EXPECT_EQ(LoadAllDBEntries(list), 4);
    const TDBEntryList expected{
        old,
        {QStringLiteral("Mod01"), QStringLiteral("sys"), QStringLiteral("Система"), QStringLiteral("srv"), QStringLiteral("/db/sys.fdb"),
         QStringLiteral("x@srv:/db/sys.fdb")},
        {QStringLiteral("Mod02"), QStringLiteral("pay"), QStringLiteral("Заплати"), QString(), QStringLiteral("/db/pay.fdb"),
         QStringLiteral("srv:/db/sys.fdb")},
        {QStringLiteral("Mod02"), QString(), QStringLiteral("Без име"), QString(), QString(), QString()},
    };
    EXPECT_EQ(list, expected);

    ClearDBEntries(list);
    EXPECT_TRUE(list.isEmpty());
    EXPECT_EQ(LoadAllDBEntries(list, m_tmp.path(QStringLiteral("none.ini"))), 0);

    writeZor(QByteArray("[Mod02]\nNumber=1\n") + '\0');
    EXPECT_THROW(LoadAllDBEntries(list), InputError);
    EXPECT_TRUE(list.isEmpty());
}

TEST(AppAliasTable, FifteenPairsOfShortNames)
{
    EXPECT_EQ(AppAliasTable.size(), 15u);
    for (const AppAliasPair& p : AppAliasTable) {
        EXPECT_LE(p.section.size(), 20);
        EXPECT_LE(p.alias.size(), 20);
    }
    EXPECT_EQ(AppAliasTable[0].section, u"Mod01");
    EXPECT_EQ(AppAliasTable[14].alias, u"mod19_db");
}
