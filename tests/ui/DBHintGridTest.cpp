#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include "ui/ComboBoxNew.h"
#include "ui/DBHintGrid.h"
#include "ui/HintGridDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QCheckBox>
#include <QRadioButton>

#include <gtest/gtest.h>

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

TEST_F(DBHintGridTest, SearchStartingExactAndRepeated)
{
    m_grid.Searching = true;
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("ko"), 0, false, true));
    EXPECT_EQ(m_ds.text(0), QStringLiteral("Kostov"));
    m_ds.first();
    EXPECT_FALSE(m_grid.SearchColumn(QStringLiteral("rko"), 0, false, true)); // "Marko" does not start with it
    EXPECT_TRUE(m_ds.eof());

    m_ds.first();
    m_grid.Searching = true;
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false));
    EXPECT_EQ(m_ds.recNo(), 4);
    m_grid.Searching = true;
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false)); // the next: "  KOSTOV " trimmed
    EXPECT_EQ(m_ds.recNo(), 5);
    m_grid.Searching = true;
    EXPECT_FALSE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false)); // Kostova is not whole
    m_grid.Searching = true;
    EXPECT_TRUE(m_grid.SearchColumn(QStringLiteral("kostov"), 0, true, false)); // from the top again
    EXPECT_EQ(m_ds.recNo(), 4);
}

TEST_F(DBHintGridTest, SearchWindowSearchesOnEnterAndReportsFailure)
{
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

    dlg.edText->setText(QStringLiteral("Ruse"));
    QTest::keyClick(dlg.edText, Qt::Key_Return);
    EXPECT_EQ(dlg.lStatus->text(), QStringLiteral("неуспех ..."));

    QTest::keyClick(dlg.edText, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(dlg.simpleLayout());
    dlg.cbMatch->setChecked(true);
    EXPECT_FALSE(dlg.rbStarting->isEnabled());
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
