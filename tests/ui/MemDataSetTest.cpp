#include "support/QtPrinters.h"

#include "ui/MemDataSet.h"

#include <gtest/gtest.h>

#include <functional>

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

// Sorting and filtering move the current record but do not make another one current: the
// after-scroll of its owner runs only when the record itself changes; the views always follow.
TEST(MemDataSet, AfterScrollOnlyWhenTheCurrentRecordChanges)
{
    const auto keepsI = [](TMemDataSet& d, int row) { return d.sourceText(row, 1).contains(QStringLiteral("И"), Qt::CaseInsensitive); };
    const auto dropsI = [](TMemDataSet& d, int row) { return !d.sourceText(row, 1).startsWith(QStringLiteral("И")); };
    struct Case {
        const char* name;
        std::function<void(TMemDataSet&)> act;
        int afterScrolls;
        QString current;
    };
    const Case cases[] = {
        {"sort ascending", [](TMemDataSet& d) { d.sortBy(1, true); }, 0, QStringLiteral("Иван")},
        {"sort descending", [](TMemDataSet& d) { d.sortBy(1, false); }, 0, QStringLiteral("Иван")},
        {"sort by id", [](TMemDataSet& d) { d.sortBy(0, false); }, 0, QStringLiteral("Иван")},
        {"filter keeping it", [&](TMemDataSet& d) { d.setOnFilterRecord(keepsI); d.setFiltered(true); }, 0, QStringLiteral("Иван")},
        {"refilter keeping it", [&](TMemDataSet& d) { d.setOnFilterRecord(keepsI); d.setFiltered(true); d.refilter(); d.setFiltered(false); }, 0,
         QStringLiteral("Иван")},
        {"filter hiding it", [&](TMemDataSet& d) { d.setOnFilterRecord(dropsI); d.setFiltered(true); }, 1, QStringLiteral("Анна")},
        {"reload", [](TMemDataSet& d) { d.setFields({QStringLiteral("ID"), QStringLiteral("NAME")}); d.appendRow({9, QStringLiteral("Иван")}); }, 2,
         QStringLiteral("Иван")},
    };
    for (const Case& c : cases) {
        TMemDataSet ds;
        fill(ds, {QStringLiteral("Анна"), QStringLiteral("Иван"), QStringLiteral("Петър"), QStringLiteral("Ина")});
        ds.setRecNo(1);
        int scrolls = 0;
        int viewRow = -2;
        ds.afterScroll = [&](TMemDataSet&) { ++scrolls; };
        QObject::connect(&ds, &TMemDataSet::currentChanged, [&](int row) { viewRow = row; });
        c.act(ds);
        EXPECT_EQ(scrolls, c.afterScrolls) << c.name;
        EXPECT_EQ(ds.text(1), c.current) << c.name;
        EXPECT_EQ(viewRow, ds.recNo()) << c.name;
    }
}

// The grid's filter slot is ANDed with the owner's filter, applies with the filtered switch off,
// and neither replaces nor is replaced by the owner's callback.
TEST(MemDataSet, GridFilterAndsWithTheOwnersFilter)
{
    TMemDataSet ds;
    fill(ds, {QStringLiteral("Анна"), QStringLiteral("Иван"), QStringLiteral("Ина"), QStringLiteral("Петър")});
    ds.setRecNo(2);
    int scrolls = 0;
    ds.afterScroll = [&](TMemDataSet&) { ++scrolls; };
    QString needle = QStringLiteral("н");
    ds.setGridFilter([&](int row) { return ds.sourceText(row, 1).contains(needle, Qt::CaseInsensitive); });
    EXPECT_EQ(visibleNames(ds), (QStringList{"Анна", "Иван", "Ина"}));
    EXPECT_EQ(ds.text(1), QStringLiteral("Ина"));
    EXPECT_EQ(scrolls, 0);

    ds.setOnFilterRecord([](TMemDataSet& d, int row) { return d.sourceText(row, 1).startsWith(QStringLiteral("И")); });
    ds.setFiltered(true);
    EXPECT_EQ(visibleNames(ds), (QStringList{"Иван", "Ина"}));

    needle = QStringLiteral("в");
    ds.refilter();
    EXPECT_EQ(visibleNames(ds), (QStringList{"Иван"}));
    EXPECT_EQ(scrolls, 1);

    ds.setFiltered(false);
    EXPECT_EQ(visibleNames(ds), (QStringList{"Иван"}));
    ds.setGridFilter(nullptr);
    EXPECT_EQ(ds.recordCount(), 4);
    EXPECT_EQ(ds.text(1), QStringLiteral("Иван"));
    EXPECT_TRUE(static_cast<bool>(ds.onFilterRecord()));
}
