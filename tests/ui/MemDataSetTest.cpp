#include "support/QtPrinters.h"

#include "ui/MemDataSet.h"

#include <gtest/gtest.h>

namespace {

void fill(TMemDataSet& ds, const QStringList& names)
{
    ds.setFields({QStringLiteral("ID"), QStringLiteral("NAME")});
    for (int i = 0; i < names.size(); ++i)
        ds.appendRow({i + 1, names[i]});
    ds.open();
}

QStringList visibleNames(const TMemDataSet& ds)
{
    QStringList out;
    for (int r = 0; r < ds.recordCount(); ++r)
        out << ds.textAt(r, 1);
    return out;
}

} // namespace

TEST(MemDataSet, NavigationFilterAndAfterScroll)
{
    TMemDataSet ds;
    fill(ds, {QStringLiteral("Иван"), QStringLiteral("Анна"), QStringLiteral("Петър"), QStringLiteral("Ина")});
    int scrolls = 0;
    ds.afterScroll = [&](TMemDataSet&) { ++scrolls; };

    EXPECT_EQ(ds.recNo(), 0);
    ds.next();
    ds.next();
    EXPECT_EQ(ds.text(QStringLiteral("name")), QStringLiteral("Петър"));
    EXPECT_EQ(scrolls, 2);
    ds.last();
    ds.next();
    EXPECT_TRUE(ds.eof());
    EXPECT_EQ(ds.recNo(), 3);
    ds.first();
    ds.prior();
    EXPECT_TRUE(ds.bof());

    // A filter keeps the current row when it stays visible.
    ds.setRecNo(3);
    ds.setOnFilterRecord([](TMemDataSet& d, int row) { return d.sourceText(row, 1).contains(QStringLiteral("н")); });
    ds.setFiltered(true);
    EXPECT_EQ(visibleNames(ds), (QStringList{"Иван", "Анна", "Ина"}));
    EXPECT_EQ(ds.text(1), QStringLiteral("Ина"));

    // Suspended display defers the notification to the end.
    ds.disableControls();
    ds.first();
    ds.next();
    const int during = scrolls;
    ds.enableControls();
    EXPECT_EQ(during, scrolls);

    ds.setFiltered(false);
    EXPECT_EQ(ds.recordCount(), 4);
    EXPECT_TRUE(ds.locate(QStringLiteral("NAME"), QStringLiteral("петър")));
    EXPECT_EQ(ds.value(QStringLiteral("ID")).toInt(), 3);
}

TEST(MemDataSet, SortEditInsertDelete)
{
    TMemDataSet ds;
    fill(ds, {QStringLiteral("борис"), QStringLiteral("Анна"), QStringLiteral("Борислав"), QStringLiteral("ана")});
    ds.setRecNo(2);
    ds.sortBy(1, true);
    EXPECT_EQ(visibleNames(ds), (QStringList{"ана", "Анна", "борис", "Борислав"}));
    EXPECT_EQ(ds.text(1), QStringLiteral("Борислав")); // the current row followed the sort
    ds.sortBy(1, false);
    EXPECT_EQ(visibleNames(ds).first(), QStringLiteral("Борислав"));

    ds.first();
    ds.edit();
    ds.setValue(1, QStringLiteral("Changed"));
    ds.cancel();
    EXPECT_EQ(ds.text(1), QStringLiteral("Борислав"));

    ds.insert();
    EXPECT_EQ(ds.state(), TMemDataSet::State::Insert);
    EXPECT_EQ(ds.recordCount(), 5);
    ds.cancel();
    EXPECT_EQ(ds.recordCount(), 4);

    ds.setRecNo(1);
    ds.deleteCurrent();
    EXPECT_EQ(visibleNames(ds), (QStringList{"Борислав", "Анна", "ана"}));
    EXPECT_EQ(ds.recNo(), 1);
}
