#include "ui/MemDataSet.h"
#include "ui/RowSearch.h"

#include <gtest/gtest.h>

namespace {

// Visible rows 0 to 7; the search looks at the text as the grid shows it.
const char16_t* const kNames[] = {
    u"Ivanov", u"Petrov", u"Divanova", u"Marko", u"Kostov", u"  KOSTOV ", u"Kostova", u"Иванова",
};

struct FindCase {
    const char* name;
    const char16_t* text;
    int from;
    FindMode mode;
    int expected; // the row found, -1 for none
    int count = -1;
    int field = 0;
};

const FindCase kCases[] = {
    {"ContainingFromTheTop", u"iv", 0, FindMode::Containing, 0},
    {"ContainingFromAMiddleRow", u"iv", 1, FindMode::Containing, 2},
    {"ContainingTrimsTheText", u"  rko ", 0, FindMode::Containing, 3},
    {"ContainingFindsAMatchInsideAWord", u"ko", 0, FindMode::Containing, 3},
    {"StartingSkipsAMatchInsideAWord", u"ko", 0, FindMode::Starting, 4},
    {"StartingIgnoresTheBlanksBeforeTheCell", u"kostov", 5, FindMode::Starting, 5},
    {"ExactTakesTheWholeTrimmedCell", u"kostov", 5, FindMode::Exact, 5},
    {"ExactSkipsALongerCell", u"kostova", 0, FindMode::Exact, 6},
    {"ExactIsNeverAPart", u"kosto", 0, FindMode::Exact, -1},
    {"ExactKeepsTheBlanksTyped", u"kostov ", 0, FindMode::Exact, -1},
    {"CyrillicWithoutRegardToCase", u"иванОВА", 0, FindMode::Exact, 7},
    {"WrapsToTheFirstRow", u"petrov", 5, FindMode::Containing, 1},
    {"FromPastTheLastRowStartsAtTheFirst", u"ivanov", 8, FindMode::Containing, 0},
    {"TheStartRowItselfComesLast", u"divanova", 3, FindMode::Exact, 2},
    {"NoMatch", u"Ruse", 0, FindMode::Containing, -1},
    {"EmptyText", u"", 0, FindMode::Containing, -1},
    {"BlankText", u"   ", 3, FindMode::Starting, -1},
    {"CountStopsBeforeTheMatch", u"kostova", 0, FindMode::Exact, -1, 6},
    {"CountReachesTheMatch", u"kostova", 0, FindMode::Exact, 6, 7},
    {"CountGoesRoundTheEnd", u"ivanov", 6, FindMode::Containing, 0, 3},
    {"FieldThatDoesNotExist", u"ivanov", 0, FindMode::Containing, -1, -1, 2},
    {"NegativeField", u"ivanov", 0, FindMode::Containing, -1, -1, -1},
};

class FindRowTest : public testing::TestWithParam<FindCase> {
protected:
    void SetUp() override
    {
        m_ds.setFields({QStringLiteral("NAME")});
        for (const char16_t* name : kNames)
            m_ds.appendRow({QString::fromUtf16(name)});
        m_ds.open();
        m_ds.setRecNo(3);
    }
    TMemDataSet m_ds;
};

TEST_P(FindRowTest, FindsTheFirstMatchGoingRound)
{
    const FindCase& c = GetParam();
    EXPECT_EQ(FindRow(m_ds, c.field, QString::fromUtf16(c.text), c.from, c.mode, c.count), c.expected);
    EXPECT_EQ(m_ds.recNo(), 3); // looking moves nothing
}

INSTANTIATE_TEST_SUITE_P(Cases, FindRowTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FindCase>& info) { return std::string(info.param.name); });

TEST(FindRow, EmptyListFindsNothing)
{
    TMemDataSet ds;
    ds.setFields({QStringLiteral("NAME")});
    ds.open();
    EXPECT_EQ(FindRow(ds, 0, QStringLiteral("a"), 0, FindMode::Containing), -1);
}

TEST(FindRow, LooksOnlyAtTheRowsTheFilterShows)
{
    TMemDataSet ds;
    ds.setFields({QStringLiteral("NAME")});
    for (const char16_t* name : kNames)
        ds.appendRow({QString::fromUtf16(name)});
    ds.open();
    ds.setOnFilterRecord([](TMemDataSet& d, int row) { return !d.sourceText(row, 0).contains(QLatin1String("Kostov")); });
    ds.setFiltered(true);
    // Visible now: Ivanov, Petrov, Divanova, Marko, "  KOSTOV ", Иванова.
    EXPECT_EQ(FindRow(ds, 0, QStringLiteral("kostov"), 0, FindMode::Starting), 4);
    EXPECT_EQ(FindRow(ds, 0, QStringLiteral("kostova"), 0, FindMode::Exact), -1);
}

} // namespace
