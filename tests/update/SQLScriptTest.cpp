// Splitting scripts into directives and steps: what each step holds, and the scripts refused at
// load with the place of the fault.
#include "update/SQLScript.h"

#include "core/InputError.h"
#include "support/TestEnv.h"
#include "db/Cp1251.h"

#include <QDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

QStringList linesOf(const char* text) { return ScriptLines(QByteArray(text), QStringLiteral("t.sql")); }

struct ParseCase {
    const char* name;
    const char* script;
    std::function<void(const TSQLScript&)> check; // when it loads
    const char* error = nullptr;                  // what the refusal says, when it does not
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

template <typename T>
const T& step(const TSQLScript& s, size_t i)
{
    const auto* p = dynamic_cast<const T*>(s.Steps.at(i).get());
    if (!p)
        throw std::runtime_error("step of another kind");
    return *p;
}

const ParseCase kCases[] = {
    {"ThreeLineScript", "/*sqlstart>3*/\nupdate t set a = 1\n/*sqlstop*/\n",
     [](const TSQLScript& s) {
         ASSERT_EQ(s.Steps.size(), 1u);
         const auto& n = step<TNormalSQLStep>(s, 0);
         EXPECT_EQ(n.StepNo(), 3);
         EXPECT_EQ(n.Lines(), QStringList({"/*sqlstart>3*/", "update t set a = 1", "/*sqlstop*/"}));
         EXPECT_EQ(s.HistoryTableName, "SQL_UPDATES");
         EXPECT_EQ(s.Alias, "");
     }},
    {"SpaceBeforeClosing", "\n/*sqlstart>3 */\nupdate t set a = 1\n/*sqlstop*/\n", nullptr, "ред 2: \"3 \" не е цяло число"},
    {"SqlAfterStartMarker", "/*sqlstart>3*/ update t\n/*sqlstop*/\n", nullptr, "не е цяло число"},
    {"TextOutsideStepsIsIgnored", "select 1;\n/*sqlstart>1*/\nupdate a set b = 1\n/*sqlstop*/\nstray\n/*sqlstop*/\n",
     [](const TSQLScript& s) {
         ASSERT_EQ(s.Steps.size(), 1u);
         EXPECT_EQ(s.Steps[0]->StepNo(), 1);
     }},
    {"NoStepsAtAll", "-- nothing here\n/*alias>a*/\n", [](const TSQLScript& s) { EXPECT_TRUE(s.Steps.empty()); }},
    {"EmptyFile", "", [](const TSQLScript& s) { EXPECT_TRUE(s.Steps.empty()); }},
    // A step left open would be lost without a word.
    {"MissingStopIsRefusedAtItsStart", "select 1;\n/*sqlstart>1*/\nupdate a set b = 1\n/*sqlstop*/\nstray\n/*sqlstart>2*/\nupdate a set b = 2\n",
     nullptr, "ред 6: стъпката няма ред за край /*sqlstop*/ до края на файла"},
    // Taken into the open step, the next step would run under the first one's number.
    {"StartInsideAStepIsRefused", "/*sqlstart>1*/\nupdate a set b = 1\n\n/*sqlstart>2*/\nupdate a set b = 2\n/*sqlstop*/\n", nullptr,
     "ред 4: начало на стъпка преди реда за край /*sqlstop*/ на стъпката от ред 1"},
    {"StartOfAnotherKindInsideAStepIsRefused", "/*sqlstart>12*/\n/*manystart>99*/\nupdate t set a = 1;\n/*sqlstop*/\n/*manystop*/\n", nullptr,
     "ред 2: начало на стъпка преди реда за край /*sqlstop*/ на стъпката от ред 1"},
    // The history knows a step by its number: the second one would never run.
    {"RepeatedNumberIsRefusedAtTheLaterStep",
     "/*sqlstart>5*/\nx\n/*sqlstop*/\n/*manystart>6*/\na;\n/*manystop*/\n/*specstart>5*/\nDTbl=D\nSFields=A\nDFields=B\n/*specstop*/\n", nullptr,
     "ред 7: стъпка 5 е вече на ред 1"},
    {"StepZeroMayRepeat", "/*sqlstart>0*/\nx\n/*sqlstop*/\n/*manystart>0*/\na;\n/*manystop*/\n/*sqlstart>-1*/\nx\n/*sqlstop*/\n",
     [](const TSQLScript& s) { EXPECT_EQ(s.Steps.size(), 3u); }},
    {"FirstAliasLastHistoryLowerCase", "/*alias>Data_DB*/\n/*ALIAS>other*/\n/*hist_tbl>First*/\n/*hist_tbl>Upd_Log*/\n",
     [](const TSQLScript& s) {
         EXPECT_EQ(s.Alias, "data_db");
         EXPECT_EQ(s.HistoryTableName, "upd_log");
         EXPECT_TRUE(s.Steps.empty());
     }},
    {"DirectiveInsideStepIsConsumedSecondAliasIsText",
     "/*alias>a1*/\n/*sqlstart>4*/\nupdate t set a = 1\n/*hist_tbl>h2*/\n/*alias>a2*/\n/*sqlstop*/\n",
     [](const TSQLScript& s) {
         ASSERT_EQ(s.Steps.size(), 1u);
         EXPECT_EQ(s.HistoryTableName, "h2");
         EXPECT_EQ(s.Alias, "a1");
         EXPECT_EQ(s.Steps[0]->Lines(), QStringList({"/*sqlstart>4*/", "update t set a = 1", "/*alias>a2*/", "/*sqlstop*/"}));
     }},
    {"RangeSetupBeforeItsStep", "/*stepname>docs|10|doc_id*//*12*/\n/*sqlstart>12*/\nupdate docs set n = n + 1 where\n/*sqlstop*/\n",
     [](const TSQLScript& s) {
         ASSERT_EQ(s.Setups.size(), 1u);
         const auto& n = step<TNormalSQLStep>(s, 0);
         EXPECT_EQ(n.SetupIndex, 0);
         EXPECT_EQ(n.RangeTable, "docs");
         EXPECT_EQ(n.RangeKey, "doc_id");
         EXPECT_EQ(n.RangeSize, 10);
         EXPECT_EQ(n.Lines(), QStringList({"/*sqlstart>12*/", "update docs set n = n + 1 where"}));
     }},
    {"RangeSetupAfterItsStepHasNoEffect", "/*sqlstart>12*/\nupdate docs set n = 1\n/*sqlstop*/\n/*stepname>docs|10|doc_id*//*12*/\n",
     [](const TSQLScript& s) {
         const auto& n = step<TNormalSQLStep>(s, 0);
         EXPECT_EQ(n.SetupIndex, -1);
         EXPECT_EQ(n.Lines().size(), 3);
     }},
    {"RangeSizeZeroOrNoKeyIsNoEntry", "/*stepname>docs|0|doc_id*//*12*/\n/*stepname>docs|5|*//*12*/\n/*sqlstart>12*/\nx\n/*sqlstop*/\n",
     [](const TSQLScript& s) {
         EXPECT_TRUE(s.Setups.empty());
         EXPECT_EQ(step<TNormalSQLStep>(s, 0).Lines().size(), 3);
     }},
    {"RangeSizeNotANumber", "/*stepname>docs|ten|doc_id*//*12*/\n", nullptr, "ред 1: \"ten\" не е цяло число"},
    {"SetTermProcedureAndBack",
     "/*manystart>5*/\nset term ^ ;\ncreate procedure p as\nbegin\n  exit;\nend^\nset term ; ^\n\nupdate t set a = 'x;y'; -- done\n/*manystop*/\n",
     [](const TSQLScript& s) {
         const auto& m = step<TManySQLStep>(s, 0);
         ASSERT_EQ(m.Statements.size(), 2);
         EXPECT_EQ(m.Statements[0], "create procedure p as\r\nbegin\r\n  exit;\r\nend");
         EXPECT_EQ(m.Statements[1], "update t set a = 'x;y' -- done");
     }},
    // "set term" is a command only where a statement starts; elsewhere it is SQL to run.
    {"SetTermWordsInsideStatementsAreSql",
     "/*manystart>5*/\nupdate contract set term_months = 24;\n-- reset terminal numbers next\nupdate t set a = 'set term ^ ;';\n"
     "insert into t values ('x\nset term ^ ;\ny');\nupdate contract\n  set term = 3;\n/*manystop*/\n",
     [](const TSQLScript& s) {
         EXPECT_EQ(step<TManySQLStep>(s, 0).Statements,
                   QStringList({"update contract set term_months = 24", "-- reset terminal numbers next\r\nupdate t set a = 'set term ^ ;'",
                                "insert into t values ('x\r\nset term ^ ;\r\ny')", "update contract\r\n  set term = 3"}));
     }},
    {"SetTermAfterBlanksAndComments",
     "/*manystart>5*/\nupdate t set a = 1;\n-- a procedure\n  /* switch */ Set  Term ^ ;\ncreate procedure p as begin exit; end^\n\tSET TERM ; ^\n"
     "update t set b = 2;\n/*manystop*/\n",
     [](const TSQLScript& s) {
         EXPECT_EQ(step<TManySQLStep>(s, 0).Statements,
                   QStringList({"update t set a = 1", "-- a procedure\r\ncreate procedure p as begin exit; end", "update t set b = 2"}));
     }},
    {"TerminatorInCommentIsNoTerminator", "/*manystart>5*/\ninsert into t values (1) /* a; b */ ;\n/*manystop*/\n",
     [](const TSQLScript& s) {
         EXPECT_EQ(step<TManySQLStep>(s, 0).Statements, QStringList({"insert into t values (1) /* a; b */ "}));
     }},
    {"OnlyCommentsAfterLastTerminator", "/*manystart>5*/\nupdate t set a = 1;\n-- nothing more\n/* really */\n\n/*manystop*/\n",
     [](const TSQLScript& s) { EXPECT_EQ(step<TManySQLStep>(s, 0).Statements.size(), 1); }},
    {"TextAfterLastTerminatorIsRefused", "\n/*manystart>5*/\nupdate t set a = 1;\nupdate t set b = 2\n/*manystop*/\n", nullptr,
     "стъпка 5, ред 4: текст след последния разделител \";\""},
    {"NoTerminatorAtAllIsRefused", "/*manystart>6*/\nupdate t set a = 1\n/*manystop*/\n", nullptr, "стъпка 6, ред 2"},
    {"SpecialStepCopyMode",
     "/*specstart>7*/\nSDB= src_db \nSTbl=Src\nDTbl= Dst\nClearDest=yes\nSKeyFields=K1;K2\nDKeyFields=D1;D2;\nSFields=A\nDFields=B\n"
     "SFilter= A > 0 \n/*specstop*/\n",
     [](const TSQLScript& s) {
         const auto& p = step<TSpecialSQLStep>(s, 0);
         EXPECT_EQ(p.SourceAlias, "src_db");
         EXPECT_EQ(p.SourceTableName, "Src");
         EXPECT_EQ(p.DestTableName, "Dst");
         EXPECT_FALSE(p.InPlace);
         EXPECT_FALSE(p.ClearDest);
         EXPECT_EQ(p.KeyPairs, QStringList({"K1@D1", "K2@D2"}));
         EXPECT_EQ(p.FieldPairs, QStringList({"A@B"}));
         EXPECT_EQ(p.SourceFilter, "A > 0");
     }},
    {"SpecialStepClearDestOneInPlace", "/*specstart>8*/\nDTbl=Dst\nClearDest=1\nSFields=A\nDFields=B\n/*specstop*/\n",
     [](const TSQLScript& s) {
         const auto& p = step<TSpecialSQLStep>(s, 0);
         EXPECT_TRUE(p.InPlace);
         EXPECT_TRUE(p.ClearDest);
     }},
    {"SpecialStepMoreDestinationNames", "/*specstart>8*/\nDTbl=Dst\nSFields=A\nDFields=B;C\n/*specstop*/\n", nullptr,
     "стъпка 8, ред 4: SFields и DFields имат различен брой имена (1 и 2)"},
    {"SpecialStepFewerDestinationNames", "/*specstart>8*/\nDTbl=Dst\nSTbl=S\nSKeyFields=K;L\nDKeyFields=K\nSFields=A\nDFields=B\n/*specstop*/\n",
     nullptr, "SKeyFields и DKeyFields имат различен брой имена"},
    {"LibraryStep", "/*dllstart>9*/\nDLLName=libsteps.so\nDLLProc= InsertRow \n/*dllstop*/\n",
     [](const TSQLScript& s) {
         const auto& d = step<TDLLUpdStep>(s, 0);
         EXPECT_EQ(d.LibraryName, "libsteps.so");
         EXPECT_EQ(d.ProcName, "InsertRow");
     }},
};

class ParseScriptTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseScriptTest, LoadsOrNamesTheFault)
{
    const ParseCase& c = GetParam();
    TSQLScript s;
    if (c.error) {
        try {
            ParseScript(linesOf(c.script), s, nullptr, QStringLiteral("t.sql"));
            FAIL() << "loaded";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.error))) << e.message().toStdString();
            EXPECT_TRUE(e.message().startsWith("Скрипт \"t.sql\"")) << e.message().toStdString();
        }
        return;
    }
    ParseScript(linesOf(c.script), s, nullptr, QStringLiteral("t.sql"));
    c.check(s);
}

INSTANTIATE_TEST_SUITE_P(Scripts, ParseScriptTest, testing::ValuesIn(kCases), [](const auto& info) { return std::string(info.param.name); });

TEST(ScriptLines, ReadsWindows1251AndUtf8AndEveryLineEnd)
{
    const QString text = QStringLiteral("/*alias>база*/");
    QStringList breaks;
    EXPECT_EQ(ScriptLines(cp1251::encode(text) + "\r\nb\rc\nd", "x", &breaks), QStringList({text, "b", "c", "d"}));
    EXPECT_EQ(breaks, QStringList({"\r\n", "\r", "\n", ""}));
    EXPECT_EQ(ScriptLines(text.toUtf8() + "\n\n", "x", &breaks), QStringList({text, ""}));
    EXPECT_EQ(breaks, QStringList({"\n", "\n"}));
}

TEST(ScriptLines, RefusesTextOutsideWindows1251NamingTheLine)
{
    const struct {
        QByteArray bytes;
        const char* says;
    } cases[] = {
        {QStringLiteral("a\nb\nc 中\n").toUtf8(), "ред 3: знакът U+4E2D"},
        {QByteArray("a\n\x98\n"), "ред 2: байтът 0x98"},
        {QByteArray("a\nb\0c", 5), "ред 2: нулев байт"},
    };
    for (const auto& c : cases) {
        try {
            ScriptLines(c.bytes, "x.sql");
            ADD_FAILURE() << c.says;
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.says))) << e.message().toStdString();
        }
    }
}

TEST(FindLibrary, TakesTheNameAsWrittenThenWithPrefixAndSuffix)
{
    TempDir dir;
    dir.write(QStringLiteral("libsteps.so"), "x");
    dir.write(QStringLiteral("plain"), "x");
    QDir(dir.path()).mkdir(QStringLiteral("libfolder.so"));
    const struct {
        const char* name;
        const char* found; // nullptr: none
    } cases[] = {
        {"libsteps.so", "libsteps.so"}, {"steps", "libsteps.so"}, {"libsteps", "libsteps.so"}, {"steps.so", "libsteps.so"},
        {"plain", "plain"},             {"none.so", nullptr},     {"folder", nullptr},         {" ", nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TDLLUpdStep::FindLibrary(dir.path(), QString::fromUtf8(c.name)), c.found ? dir.path(QString::fromUtf8(c.found)) : QString())
            << c.name;
}

TEST(RangeCondition, ConsecutiveRangesMeetWithoutOverlap)
{
    EXPECT_EQ(TNormalSQLStep::RangeCondition("doc_id", 1, 10), "( doc_id between 1 AND 10 )");
    EXPECT_EQ(TNormalSQLStep::RangeCondition("doc_id", 11, 10), "( doc_id between 11 AND 20 )");
    EXPECT_EQ(TNormalSQLStep::RangeCondition("k", 2147483641, 10), "( k between 2147483641 AND 2147483650 )");
}

} // namespace
