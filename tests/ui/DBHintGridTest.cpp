#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include "ui/ComboBoxNew.h"
#include "ui/DBHintGrid.h"
#include "ui/HintGridDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

class DBHintGridTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_ds.setFields({QStringLiteral("NAME"), QStringLiteral("CITY")});
        const char16_t* rows[][2] = {
            {u"Ivanov", u"Sofia"}, {u"Petrov", u"Plovdiv"}, {u"Divanova", u"Sopot"}, {u"Marko", u"Sofia"},
            {u"Kostov", u"Varna"}, {u"  KOSTOV ", u"Sofia"}, {u"Kostova", u"Burgas"},
        };
        for (const auto& r : rows)
            m_ds.appendRow({QString::fromUtf16(r[0]), QString::fromUtf16(r[1])});
        m_ds.open();
        m_grid.setDataSet(&m_ds);
        m_grid.setColumns({{QStringLiteral("NAME"), QStringLiteral("Име"), {}, 120, true}, {QStringLiteral("CITY"), QStringLiteral("Град"), {}, 120, true}});
        m_grid.resize(400, 300);
    }

    QStringList names()
    {
        QStringList out;
        for (int r = 0; r < m_ds.recordCount(); ++r)
            out << m_ds.textAt(r, 0).trimmed();
        return out;
    }
    QString title(int column) { return m_grid.gridModel().headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(); }

    TMemDataSet m_ds;
    TDBHintGrid m_grid;
    ScriptedPrompts m_prompts;
};

TEST_F(DBHintGridTest, ColumnFiltersCombineAndComeOffAgain)
{
    // The dataset's own filter (no Petrov) runs first and comes back when the grid's filters go.
    m_ds.setOnFilterRecord([](TMemDataSet& d, int row) { return d.sourceText(row, 0) != QLatin1String("Petrov"); });
    m_ds.setFiltered(true);

    m_prompts.answerText(QStringLiteral("iv"));
    m_grid.setSelectedColumn(0);
    QTest::keyClick(&m_grid, Qt::Key_F4);
    EXPECT_EQ(m_prompts.shown.last().text, QStringLiteral("Филтриране на Име|Стойност:"));
    EXPECT_EQ(names(), (QStringList{"Ivanov", "Divanova"}));
    EXPECT_EQ(title(0), QStringLiteral("Име [iv]"));
    EXPECT_EQ(m_grid.gridModel().data(m_grid.gridModel().index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(217, 255, 255));

    m_grid.SetColumnFilter(1, QStringLiteral("sof"), false);
    EXPECT_EQ(names(), (QStringList{"Ivanov"}));

    // F4 on a filtered column, value cleared: that filter goes.
    m_grid.setSelectedColumn(0);
    m_prompts.answerText(QString());
    QTest::keyClick(&m_grid, Qt::Key_F4);
    EXPECT_EQ(title(0), QStringLiteral("Име"));
    EXPECT_EQ(names(), (QStringList{"Ivanov", "Marko", "KOSTOV"}));

    m_grid.setSelectedColumn(1);
    QTest::keyClick(&m_grid, Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(title(1), QStringLiteral("Град"));
    EXPECT_TRUE(m_ds.filtered());
    EXPECT_EQ(m_ds.recordCount(), 6); // only the dataset's own filter is left
    EXPECT_FALSE(m_grid.gridModel().data(m_grid.gridModel().index(0, 1), Qt::BackgroundRole).isValid());
}

TEST_F(DBHintGridTest, ReloadingDropsFiltersButKeepsTheDataSetsOwnFilter)
{
    m_ds.setOnFilterRecord([](TMemDataSet& d, int row) { return d.sourceText(row, 1) != QLatin1String("Varna"); });
    m_grid.SetColumnFilter(0, QStringLiteral("kost"), false);
    EXPECT_EQ(names(), (QStringList{"KOSTOV", "Kostova"}));

    m_ds.close();
    m_ds.setFields({QStringLiteral("NAME"), QStringLiteral("CITY")});
    m_ds.appendRow({QStringLiteral("Kostov"), QStringLiteral("Varna")});
    m_ds.appendRow({QStringLiteral("Ivanov"), QStringLiteral("Sofia")});
    m_ds.open();
    EXPECT_TRUE(m_grid.filtersDropped());
    EXPECT_EQ(title(0), QStringLiteral("Име"));

    m_grid.SetColumnFilter(0, QStringLiteral("ov"), false);
    EXPECT_EQ(names(), (QStringList{"Ivanov"}));
}

// Each change of the grid's filters rebuilds the shown rows once, also when the dataset has a
// filter of its own (switching it off first would show every row for a moment).
TEST_F(DBHintGridTest, EachFilterChangeRebuildsTheShownRowsOnce)
{
    m_ds.setOnFilterRecord([](TMemDataSet& d, int row) { return d.sourceText(row, 0) != QLatin1String("Petrov"); });
    m_ds.setFiltered(true);
    int rebuilds = 0;
    QObject::connect(&m_ds, &TMemDataSet::layoutReset, [&rebuilds] { ++rebuilds; });

    const struct {
        const char* name;
        std::function<void()> act;
        QStringList shown;
    } steps[] = {
        {"first filter", [&] { m_grid.SetColumnFilter(0, QStringLiteral("ov"), false); }, {"Ivanov", "Divanova", "Kostov", "KOSTOV", "Kostova"}},
        {"value changed", [&] { m_grid.SetColumnFilter(0, QStringLiteral("kost"), false); }, {"Kostov", "KOSTOV", "Kostova"}},
        {"second column", [&] { m_grid.SetColumnFilter(1, QStringLiteral("a"), false); }, {"Kostov", "KOSTOV", "Kostova"}},
        {"second value changed", [&] { m_grid.SetColumnFilter(1, QStringLiteral("sof"), false); }, {"KOSTOV"}},
        {"one removed", [&] { m_grid.RemoveColumnFilter(0); }, {"Ivanov", "Marko", "KOSTOV"}},
        {"last removed", [&] { m_grid.RemoveColumnFilter(1); }, {"Ivanov", "Divanova", "Marko", "Kostov", "KOSTOV", "Kostova"}},
        {"again, all removed at once", [&] {
             m_grid.SetColumnFilter(0, QStringLiteral("iv"), false);
             rebuilds = 0;
             m_grid.RemoveAllFilters();
         }, {"Ivanov", "Divanova", "Marko", "Kostov", "KOSTOV", "Kostova"}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        rebuilds = 0;
        step.act();
        EXPECT_EQ(rebuilds, 1);
        EXPECT_EQ(names(), step.shown);
    }
    EXPECT_TRUE(m_ds.filtered());
}

// The header computes a filtered column's title and colour from the filter; the column itself
// stays as it was given, and a filter value matches without regard to case, Cyrillic included.
TEST_F(DBHintGridTest, FilterShowsInTheHeaderWithoutChangingTheColumn)
{
    m_ds.appendRow({QStringLiteral("ИВАНОВА"), QStringLiteral("Русе")});
    m_grid.SetColumnFilter(0, QStringLiteral("Иван"), false);
    EXPECT_EQ(names(), QStringList{"ИВАНОВА"});
    EXPECT_EQ(title(0), QStringLiteral("Име [Иван]"));
    EXPECT_EQ(m_grid.columns()[0].title, QStringLiteral("Име"));
    EXPECT_FALSE(m_grid.columns()[0].color.isValid());
    EXPECT_EQ(m_grid.filterValue(0), QStringLiteral("ИВАН"));

    // The search window lists the columns as the header shows them.
    TfrmHGFindDlg dlg(&m_grid);
    EXPECT_EQ(dlg.cbColumns->itemText(0), QStringLiteral("Име [Иван]"));

    m_grid.FilterColor = QColor(Qt::yellow);
    EXPECT_EQ(m_grid.gridModel().data(m_grid.gridModel().index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
    m_grid.RemoveAllFilters();
    EXPECT_EQ(title(0), QStringLiteral("Име"));
    EXPECT_FALSE(m_grid.gridModel().data(m_grid.gridModel().index(0, 0), Qt::BackgroundRole).isValid());
}

TEST_F(DBHintGridTest, SearchStartingExactAndRepeated)
{
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("ko"), 0, false, true));
    EXPECT_EQ(m_ds.text(0), QStringLiteral("Kostov")); // not Marko

    m_ds.first();
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false));
    EXPECT_EQ(m_ds.recNo(), 4);
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false)); // the next: "  KOSTOV " trimmed
    EXPECT_EQ(m_ds.recNo(), 5);
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false)); // Kostova is not whole: round to the first
    EXPECT_EQ(m_ds.recNo(), 4);

    // Another text is a new search: it starts at the current row itself.
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kost"), 0, false, false));
    EXPECT_EQ(m_ds.recNo(), 4);
}

// A failed search leaves the current row alone: an action after it must not fall on the last row.
TEST_F(DBHintGridTest, FailedSearchKeepsTheRowItStartedFrom)
{
    const struct {
        const char* name;
        const char* text;
        int column;
        bool exact;
        bool starting;
    } cases[] = {
        {"no such text", "Ruse", 0, false, false},
        {"only inside a word", "rko", 0, false, true},
        {"not the whole text", "kost", 0, true, false},
        {"blank", "  ", 0, false, false},
        {"column without a field", "Ivanov", 5, false, false},
    };
    int scrolls = 0;
    m_ds.afterScroll = [&scrolls](TMemDataSet&) { ++scrolls; };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_ds.setRecNo(2);
        scrolls = 0;
        EXPECT_FALSE(m_grid.SearchColumn(QString::fromUtf8(c.text), c.column, c.exact, c.starting));
        EXPECT_EQ(m_ds.recNo(), 2);
        EXPECT_FALSE(m_ds.eof());
        EXPECT_EQ(m_grid.currentIndex().row(), 2);
        EXPECT_EQ(scrolls, 0); // nothing moved, so the row change does not run
    }
    // A found row runs it once.
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("sopot"), 1, true, false));
    EXPECT_EQ(m_ds.recNo(), 2);
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("Varna"), 1, false, false));
    EXPECT_EQ(m_ds.recNo(), 4);
    EXPECT_EQ(scrolls, 1);
}

TEST_F(DBHintGridTest, SearchWindowSearchesOnEnterAndReportsFailureInBothLayouts)
{
    m_grid.show();
    TfrmHGFindDlg dlg(&m_grid);
    EXPECT_TRUE(dlg.simpleLayout());
    EXPECT_EQ(dlg.cbColumns->count(), 2);
    dlg.show();
    dlg.cbColumns->setCurrentIndex(1);
    dlg.edText->setText(QStringLiteral("so"));
    dlg.rbStarting->setChecked(true);
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    EXPECT_EQ(m_ds.recNo(), 0);
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    EXPECT_EQ(m_ds.text(1), QStringLiteral("Sopot"));
    EXPECT_TRUE(dlg.lStatus->text().isEmpty());
    EXPECT_FALSE(m_grid.Searching);

    const auto failureShown = [&dlg] {
        return dlg.lStatus->text() == QStringLiteral("неуспех ...") && dlg.lStatus->isVisible() && dlg.rect().contains(dlg.lStatus->geometry());
    };
    dlg.edText->setText(QStringLiteral("Ruse"));
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    EXPECT_TRUE(failureShown());
    EXPECT_EQ(m_ds.recNo(), 2);

    QTest::keyClick(dlg.edText, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(dlg.simpleLayout());
    EXPECT_TRUE(failureShown());
    dlg.edText->setText(QStringLiteral("Ruse "));
    QTest::keyClick(dlg.edText, Qt::Key_Return); // back to the simple layout, as it searches
    EXPECT_TRUE(dlg.simpleLayout());
    EXPECT_TRUE(failureShown());
    EXPECT_EQ(m_ds.recNo(), 2);

    dlg.setSimpleLayout(false);
    dlg.cbMatch->setChecked(true);
    EXPECT_FALSE(dlg.rbStarting->isEnabled());
}

// No control of the search window covers another, and each is as wide as its text needs.
TEST_F(DBHintGridTest, SearchWindowControlsDoNotOverlap)
{
    m_grid.setColumns({{QStringLiteral("NAME"), QStringLiteral("Потребител - Пълно Име"), {}, 120, true},
                       {QStringLiteral("CITY"), QStringLiteral("Град"), {}, 120, true}});
    TfrmHGFindDlg dlg(&m_grid);
    dlg.show();
    for (const bool simple : {true, false}) {
        SCOPED_TRACE(simple ? "simple" : "with options");
        dlg.setSimpleLayout(simple);
        dlg.lStatus->setText(QStringLiteral("неуспех ..."));
        QList<QWidget*> shown;
        for (QWidget* w : std::initializer_list<QWidget*>{dlg.cbColumns, dlg.edText, dlg.rbContianing, dlg.rbStarting, dlg.cbMatch, dlg.lStatus, dlg.sbSimpleShow})
            if (w->isVisible())
                shown << w;
        EXPECT_EQ(shown.size(), simple ? 3 : 7);
        for (QWidget* w : shown) {
            SCOPED_TRACE(w->metaObject()->className());
            EXPECT_TRUE(dlg.rect().contains(w->geometry()));
            EXPECT_GE(w->width(), std::min(w->sizeHint().width(), 40 * dlg.fontMetrics().averageCharWidth()));
            for (QWidget* other : shown) {
                if (other != w) {
                    EXPECT_FALSE(w->geometry().intersects(other->geometry())) << other->metaObject()->className();
                }
            }
        }
        EXPECT_GE(dlg.edText->width(), 20 * dlg.fontMetrics().averageCharWidth());
        EXPECT_GE(dlg.lStatus->width(), dlg.fontMetrics().horizontalAdvance(dlg.lStatus->text()));
    }
}

// The window opens below the current cell, where it hides neither the cell nor its row, and
// follows the row a search finds.
TEST_F(DBHintGridTest, SearchWindowOpensBelowTheCurrentCell)
{
    m_grid.move(20, 20);
    m_grid.show();
    m_ds.setRecNo(1);
    QTest::keyClick(&m_grid, Qt::Key_F3); // returns at once: the window does not block
    TfrmHGFindDlg* dlg = m_grid.searchWindow();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    QRect cell = m_grid.currentCellScreenRect();
    EXPECT_EQ(dlg->geometry().left(), cell.left());
    EXPECT_GT(dlg->geometry().top(), cell.bottom());

    dlg->edText->setText(QStringLiteral("kostova"));
    QTest::keyClick(dlg->edText, Qt::Key_Return);
    EXPECT_EQ(m_ds.recNo(), 6);
    cell = m_grid.currentCellScreenRect();
    EXPECT_GT(dlg->geometry().top(), cell.bottom());

    // With no room below the cell, above it.
    const QRect screen = dlg->screen()->availableGeometry();
    const QRect low(screen.left() + 30, screen.bottom() - 20, 100, 20);
    dlg->placeAt(low);
    EXPECT_LT(dlg->geometry().bottom(), low.top());

    // F3 again brings back the same window; Esc closes and frees it.
    QTest::keyClick(&m_grid, Qt::Key_F3);
    EXPECT_EQ(m_grid.searchWindow(), dlg);
    QTest::keyClick(dlg->edText, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(m_grid.searchWindow(), nullptr);
}

// A long list is searched a slice at a time from the event loop; Esc stops the search between
// two slices and the row stays where it was.
TEST_F(DBHintGridTest, SearchWindowSearchesInChunksAndEscStopsIt)
{
    TfrmHGFindDlg dlg(&m_grid);
    // Slices as short as they get: two rows each.
    dlg.SliceMs = 0;
    dlg.RowsPerClockRead = 2;
    dlg.show();
    QList<bool> finished;
    QObject::connect(&dlg, &TfrmHGFindDlg::searchFinished, [&finished](bool found) { finished << found; });

    dlg.cbMatch->setChecked(true);
    dlg.edText->setText(QStringLiteral("kostova"));
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    EXPECT_TRUE(dlg.searchRunning());
    EXPECT_TRUE(m_grid.Searching);
    EXPECT_EQ(m_ds.recNo(), 0);
    for (int turn = 0; turn < 10 && dlg.searchRunning(); ++turn)
        QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.searchRunning());
    EXPECT_EQ(m_ds.recNo(), 6);
    EXPECT_EQ(finished, QList<bool>{true});

    m_ds.setRecNo(3);
    dlg.edText->setText(QStringLiteral("Ruse"));
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    ASSERT_TRUE(dlg.searchRunning());
    QTest::keyClick(dlg.edText, Qt::Key_Escape);
    EXPECT_FALSE(dlg.searchRunning());
    EXPECT_FALSE(m_grid.Searching);
    EXPECT_TRUE(dlg.isVisible()); // Esc stopped the search, not the window
    QCoreApplication::processEvents();
    EXPECT_EQ(m_ds.recNo(), 3);
    EXPECT_EQ(dlg.lStatus->text(), QStringLiteral("неуспех ..."));
    EXPECT_EQ(finished, (QList<bool>{true, false}));
}

// Tab and Shift+Tab leave the grid for the next and previous control; the row stays.
TEST_F(DBHintGridTest, TabLeavesTheGrid)
{
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* before = new QLineEdit(&form);
    auto* grid = new TDBHintGrid(&form);
    auto* after = new QLineEdit(&form);
    layout->addWidget(before);
    layout->addWidget(grid);
    layout->addWidget(after);
    grid->setDataSet(&m_ds);
    grid->setColumns({{QStringLiteral("NAME"), QStringLiteral("Име"), {}, 120, true}, {QStringLiteral("CITY"), QStringLiteral("Град"), {}, 120, true}});
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    const struct {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QWidget* expected;
    } cases[] = {
        {"Tab", Qt::Key_Tab, Qt::NoModifier, after},
        {"Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier, before},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_ds.setRecNo(2);
        grid->setSelectedColumn(c.key == Qt::Key_Tab ? 1 : 0); // the last cell of a row going forward, the first going back
        grid->setFocus();
        ASSERT_TRUE(grid->hasFocus());
        QTest::keyClick(grid, c.key, c.modifiers);
        EXPECT_EQ(QApplication::focusWidget(), c.expected);
        EXPECT_EQ(m_ds.recNo(), 2);
    }
}

TEST_F(DBHintGridTest, HintsOnlyForTextThatDoesNotFit)
{
    m_ds.appendRow({QString(400, QLatin1Char('W')), QStringLiteral("x")});
    m_grid.show();
    m_grid.hintAt(m_grid.visualRect(m_grid.gridModel().index(0, 0)).center());
    EXPECT_TRUE(!m_grid.hintWindow() || !m_grid.hintWindow()->isVisible());
    const QModelIndex wide = m_grid.gridModel().index(m_ds.recordCount() - 1, 0);
    m_grid.scrollTo(wide);
    m_grid.hintAt(m_grid.visualRect(wide).center());
    ASSERT_TRUE(m_grid.hintWindow());
    EXPECT_TRUE(m_grid.hintWindow()->isVisible());
    EXPECT_EQ(m_grid.hintWindow()->width(), 500);
    EXPECT_GT(m_grid.hintWindow()->height(), 2 * m_grid.fontMetrics().height()); // wrapped
}

TEST_F(DBHintGridTest, WheelMovesTheCurrentRow)
{
    m_ds.setRecNo(2);
    QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_grid.viewport(), &down);
    EXPECT_EQ(m_ds.recNo(), 3);
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(m_grid.viewport(), &up);
    QCoreApplication::sendEvent(m_grid.viewport(), &up);
    EXPECT_EQ(m_ds.recNo(), 1);
    EXPECT_EQ(m_grid.currentIndex().row(), 1);
}

TEST_F(DBHintGridTest, ValueWindowListsTheShownValuesAndSetsTheFilter)
{
    m_grid.SetColumnFilter(0, QStringLiteral("ov"), false);
    m_grid.setSelectedColumn(1);
    TfrmHintGridExtra dlg(&m_grid);
    // Distinct texts of the rows shown, in their first order.
    EXPECT_EQ(dlg.values(), (QStringList{"Sofia", "Plovdiv", "Sopot", "Varna", "Burgas"}));
    dlg.ComboBoxNew1->setText(QStringLiteral("Sof"));
    dlg.accept();
    EXPECT_EQ(title(1), QStringLiteral("Град [Sof]"));
    EXPECT_EQ(names(), (QStringList{"Ivanov", "KOSTOV"}));

    TfrmHintGridExtra again(&m_grid);
    again.Button3->click(); // every filter goes, and the list follows
    EXPECT_EQ(m_ds.recordCount(), 7);
    EXPECT_EQ(again.values().size(), 5);
}
