#include "support/QtPrinters.h"
#include "support/TestEnv.h"

#include "ui/MemDataSet.h"

#include "core/StoredText.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Query.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

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

namespace {

// The order the list has always had: case-folded texts compared code unit by code unit, equal
// ones in the order they came.
std::vector<int> foldedOrder(const QVariantList& values, bool ascending)
{
    std::vector<int> order(static_cast<size_t>(values.size()));
    for (int i = 0; i < values.size(); ++i)
        order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = QString::compare(values[a].toString().toCaseFolded(), values[b].toString().toCaseFolded());
        return ascending ? c < 0 : c > 0;
    });
    return order;
}

// Rows are appended with their position as ID, so the IDs after a sort give the order.
std::vector<int> sortedIds(const QVariantList& values, bool ascending)
{
    TMemDataSet ds;
    ds.setFields({QStringLiteral("ID"), QStringLiteral("NAME")});
    for (int i = 0; i < values.size(); ++i)
        ds.appendRow({i, values[i]});
    ds.open();
    ds.sortBy(1, ascending);
    std::vector<int> ids;
    for (int r = 0; r < ds.recordCount(); ++r)
        ids.push_back(ds.valueAt(r, 0).toInt());
    return ids;
}

// Every windows-1251 character in names of 1 to 12 characters, many of them alike in their first
// eight (the part the sort compares as one integer) and differing only in case or after it.
QVariantList cp1251Names()
{
    QVariantList out;
    unsigned seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
    for (int b = 0; b < 256; ++b)
        out << QString(cp1251::charOf(static_cast<unsigned char>(b)));
    const QString stems[] = {QStringLiteral("Иван Пет"), QStringLiteral("иВАН ПЕТ"), QStringLiteral("ёлка"), QStringLiteral("Ёлка"), QStringLiteral("abcdefgh")};
    for (int i = 0; i < 600; ++i) {
        QString s = stems[next() % 5];
        s.truncate(static_cast<qsizetype>(next() % 9));
        const int extra = static_cast<int>(next() % 5);
        for (int k = 0; k < extra; ++k)
            s += cp1251::charOf(static_cast<unsigned char>(next() % 256));
        out << s;
    }
    return out;
}

} // namespace

// The integer keys and the comparison on ties give exactly the case-folded order, and equal
// names keep the order they came in, both ways.
TEST(MemDataSet, TextSortIsTheCaseFoldedOrderWithTiesInArrivalOrder)
{
    struct Case {
        const char* name;
        QVariantList values;
    };
    const Case cases[] = {
        {"every windows-1251 character, shared prefixes, case pairs", cp1251Names()},
        {"texts without a windows-1251 form among others",
         {QStringLiteral("Zoë 中"), QStringLiteral("zoë 中"), QStringLiteral("Ölçü"), QStringLiteral("Иван"), QStringLiteral("𐐀x"),
          QStringLiteral("𐐨x"), QStringLiteral("иван"), QString(), QStringLiteral("ΣΑΣ"), QStringLiteral("σας")}},
        {"nulls, empty texts and duplicates",
         {QStringLiteral("б"), QVariant(), QStringLiteral(""), QStringLiteral("Б"), QVariant(), QStringLiteral("а"), QStringLiteral(""),
          QStringLiteral("б")}},
    };
    for (const Case& c : cases)
        for (const bool ascending : {true, false})
            EXPECT_EQ(sortedIds(c.values, ascending), foldedOrder(c.values, ascending)) << c.name << (ascending ? " ascending" : " descending");
}

// A null is not an empty text, and a field keeps the type of what was put in it, also when one
// value does not fit the type the others gave the field.
TEST(MemDataSet, NullsEmptyTextsAndTypesStayAsPut)
{
    const QDateTime utc(QDate(2024, 2, 29), QTime(13, 5, 7, 250), Qt::UTC);
    const QDateTime local(QDate(2024, 3, 1), QTime(0, 0), Qt::LocalTime);
    struct Case {
        const char* name;
        QVariantList values;
        QStringList texts;
    };
    const Case cases[] = {
        {"text", {QStringLiteral("Иван"), QVariant(), QStringLiteral(""), QStringLiteral("中")}, {"Иван", "", "", "中"}},
        {"int", {7, QVariant(), 0, -1}, {"7", "", "0", "-1"}},
        {"int64", {qint64(1) << 40, QVariant(), qint64(0)}, {"1099511627776", "", "0"}},
        {"double", {2.5, QVariant(), 0.1}, {"2.5", "", "0.1"}},
        {"bool", {true, QVariant(), false}, {"true", "", "false"}},
        {"timestamp", {utc, QVariant(), QDateTime(QDate(2024, 1, 2), QTime(0, 0), Qt::UTC)}, {"29.02.2024 13:05:07", "", "02.01.2024"}},
        {"date", {QDate(1900, 1, 1), QVariant()}, {"01.01.1900", ""}},
        {"types mixed", {1, QStringLiteral("один"), QVariant(), 2.5, utc, local, QByteArray("\x01\x02", 2)},
         {"1", "один", "", "2.5", "29.02.2024 13:05:07", "01.03.2024", QString::fromLatin1("\x01\x02", 2)}},
    };
    for (const Case& c : cases) {
        TMemDataSet ds;
        ds.setFields({QStringLiteral("V")});
        for (const QVariant& v : c.values)
            ds.appendRow({v});
        ds.open();
        QString reused = QStringLiteral("something long left from before");
        for (int r = 0; r < c.values.size(); ++r) {
            const QVariant& want = c.values[r];
            EXPECT_EQ(ds.isNull(r, 0), !want.isValid()) << c.name << " row " << r;
            EXPECT_EQ(ds.sourceValue(r, 0).typeId(), want.typeId()) << c.name << " row " << r;
            EXPECT_EQ(ds.sourceValue(r, 0), want) << c.name << " row " << r;
            EXPECT_EQ(ds.sourceText(r, 0), c.texts[r]) << c.name << " row " << r;
            ds.sourceTextInto(r, 0, reused);
            EXPECT_EQ(reused, c.texts[r]) << c.name << " row " << r;
        }
    }
}

// Numbers and dates sort by value, nulls before every value, equal values in arrival order.
TEST(MemDataSet, TypedSortPutsNullsFirstAndKeepsTies)
{
    TMemDataSet ds;
    ds.setFields({QStringLiteral("ID"), QStringLiteral("N")});
    const QVariantList values = {5, QVariant(), -3, 5, QVariant(), 0, -3};
    for (int i = 0; i < values.size(); ++i)
        ds.appendRow({i, values[i]});
    ds.open();
    const auto ids = [&] {
        QList<int> out;
        for (int r = 0; r < ds.recordCount(); ++r)
            out << ds.valueAt(r, 0).toInt();
        return out;
    };
    ds.sortBy(1, true);
    EXPECT_EQ(ids(), (QList<int>{1, 4, 2, 6, 5, 0, 3}));
    ds.sortBy(0, true);
    ds.sortBy(1, false);
    EXPECT_EQ(ids(), (QList<int>{0, 3, 5, 2, 6, 1, 4}));
}

// Edits, deletions (across the 64-row words of the null bitmap), inserts and sorts against a
// plain table of the same values: every cell stays what was put there.
TEST(MemDataSet, EditsDeletesAndSortsKeepEveryOtherValue)
{
    TMemDataSet ds;
    ds.setFields({QStringLiteral("ID"), QStringLiteral("NAME"), QStringLiteral("N")});
    std::vector<QVariantList> model;
    for (int i = 0; i < 200; ++i) {
        const QVariantList row = {i, i % 5 == 0 ? QVariant() : QVariant(QStringLiteral("име %1").arg(i)), i % 3 == 0 ? QVariant() : QVariant(i * 10)};
        ds.appendRow(row);
        model.push_back(row);
    }
    ds.open();
    const auto same = [&](const char* step) {
        ASSERT_EQ(ds.sourceRowCount(), static_cast<int>(model.size())) << step;
        for (int r = 0; r < ds.sourceRowCount(); ++r)
            for (int f = 0; f < 3; ++f) {
                ASSERT_EQ(ds.sourceValue(r, f), model[static_cast<size_t>(r)][f]) << step << " row " << r << " field " << f;
                ASSERT_EQ(ds.isNull(r, f), !model[static_cast<size_t>(r)][f].isValid()) << step << " row " << r << " field " << f;
            }
    };
    const auto set = [&](int row, int field, const QVariant& v) {
        ds.setSourceValue(row, field, v);
        model[static_cast<size_t>(row)][field] = v;
    };
    // Longer and shorter texts, many times over (the old texts pile up until they are dropped).
    for (int round = 0; round < 40; ++round)
        for (int r = 0; r < 200; r += 7)
            set(r, 1, QString(round % 2 ? 3 : 40, QChar(u'а' + (r + round) % 32)));
    set(10, 1, QVariant());
    set(11, 1, QString());
    set(12, 2, QVariant());
    same("after edits");
    for (const int row : {199, 64, 63, 0, 100}) {
        ds.setRecNo(ds.recordCount() - 1);
        ds.setRecNo(row > ds.recordCount() - 1 ? 0 : row);
        model.erase(model.begin() + ds.currentSourceRow());
        ds.deleteCurrent();
        same("after a deletion");
    }
    set(5, 1, QStringLiteral("中文"));     // the field's text no longer fits windows-1251
    set(6, 2, QStringLiteral("десет"));   // the number field now holds a text too
    same("after values of other kinds");
    ds.insert();
    model.push_back({QVariant(), QVariant(), QVariant()});
    ds.setValue(1, QStringLiteral("нов"));
    model.back()[1] = QStringLiteral("нов");
    ds.post();
    same("after an insert");
    ds.sortBy(1, true);
    QVariantList names;
    for (const QVariantList& row : model)
        names << row[1];
    const std::vector<int> expected = foldedOrder(names, true);
    std::vector<QVariantList> sorted;
    for (const int i : expected)
        sorted.push_back(model[static_cast<size_t>(i)]);
    model = sorted;
    same("after sorting");
}

// Loading from a real result: text decoded on the way in (from the fetched bytes where the
// connection gives them, else from the value), a deferred field read only when asked for, nulls
// and empty texts apart.
class MemDataSetLoad : public testing::TestWithParam<bool> { // Firebird (embedded), else PostgreSQL
protected:
    void SetUp() override
    {
        if (GetParam()) {
            const QString path = m_tmp.path(QStringLiteral("load.fdb"));
            db::Database::createFirebirdDatabase(path, QStringLiteral("SYSDBA"), QString());
            m_db.setDriverName(QStringLiteral("INTRBASE"));
            m_db.params() = db::ParamList{{QStringLiteral("SERVER NAME"), path}, {QStringLiteral("USER NAME"), QStringLiteral("SYSDBA")}};
        } else {
            m_pg = std::make_unique<PgTestDatabase>();
            m_db.setDriverName(QStringLiteral("POSTGRESQL"));
            m_db.params().setValue(QStringLiteral("SERVER NAME"), m_pg->conninfo());
        }
        m_db.connect();
    }

    TempDir m_tmp;
    std::unique_ptr<PgTestDatabase> m_pg;
    db::Database m_db;
};

TEST_P(MemDataSetLoad, DecodesOnTheWayInAndReadsDeferredFieldsWhenAsked)
{
    db::Query q(&m_db);
    q.setSql(GetParam() ? QStringLiteral("create table t (id integer, name varchar(80), note varchar(20), data blob)")
                        : QStringLiteral("create table t (id integer, name varchar(80), note varchar(20), data bytea)"));
    q.execSql();
    struct Row {
        int id;
        QVariant name, note, data;
    };
    const Row rows[] = {
        {1, EncodeStoredText(QStringLiteral("Иван Петров")), QVariant(), QByteArray("сертификат")},
        {2, EncodeStoredText(QStringLiteral("анна")), QStringLiteral(""), QVariant()},
        {3, QVariant(), QStringLiteral("Ж"), QByteArray(1500, 'x')},
    };
    for (const Row& r : rows) {
        q.setSql(QStringLiteral("insert into t values (:id, :name, :note, :data)"));
        q.setParam(QStringLiteral("id"), r.id);
        q.setParam(QStringLiteral("name"), r.name);
        q.setParam(QStringLiteral("note"), r.note);
        q.setParam(QStringLiteral("data"), r.data);
        q.execSql();
    }

    int reads = 0;
    const auto decode = [](const char* data, qsizetype size, char* out) { return DecodeStoredBytes(data, size, out); };
    const auto read = [&](const TMemDataSet& ds, int row) {
        ++reads;
        db::Query one(&m_db);
        one.setSql(QStringLiteral("select data from t where id = :id"));
        one.setParam(QStringLiteral("id"), ds.sourceValue(row, 0));
        one.open();
        return one.field(0).value();
    };
    TMemDataSet ds;
    q.setSql(QStringLiteral("select id, name, note, data from t order by id"));
    q.open();
    ds.loadFromQuery(q, {{QStringLiteral("NAME"), decode, {}}, {QStringLiteral("data"), {}, read}});
    q.close();

    ASSERT_EQ(ds.sourceRowCount(), 3);
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(ds.sourceValue(0, 1), QVariant(QStringLiteral("Иван Петров")));
    EXPECT_EQ(ds.sourceValue(1, 1), QVariant(QStringLiteral("анна")));
    EXPECT_TRUE(ds.isNull(2, 1));
    EXPECT_TRUE(ds.isNull(0, 2));
    EXPECT_FALSE(ds.isNull(1, 2));
    EXPECT_EQ(ds.sourceText(1, 2), QString());
    EXPECT_EQ(ds.sourceText(2, 2), QStringLiteral("Ж"));
    EXPECT_TRUE(ds.isNull(1, 3));
    EXPECT_FALSE(ds.isNull(2, 3));
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(ds.sourceValue(1, 3), QVariant());
    EXPECT_EQ(reads, 0); // a null needs no reading
    EXPECT_EQ(ds.sourceValue(2, 3).toByteArray(), QByteArray(1500, 'x'));
    EXPECT_EQ(reads, 1);

    // The deferred field follows its rows through a sort.
    ds.sortBy(1, true);
    EXPECT_EQ(ds.sourceValue(0, 0).toInt(), 3);
    EXPECT_EQ(ds.sourceValue(2, 0).toInt(), 1);
    EXPECT_EQ(ds.sourceValue(2, 3).toByteArray(), QByteArray("сертификат"));
    EXPECT_EQ(reads, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, MemDataSetLoad, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "FirebirdEmbedded" : "PostgreSQL"; });
