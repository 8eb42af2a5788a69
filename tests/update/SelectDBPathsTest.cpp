// The database selection window, driven offscreen.
#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include "core/Aliases.h"
#include "update/SelectDBPaths.h"
#include "update/SelectDBPathsText.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>

namespace Text = SelectDBPathsText;

namespace {
// After a key that should have closed w: closes it when it did not, so the test ends.
void expectClosed(TfrmSelectDBPaths* w, const char* key)
{
    QTimer::singleShot(0, [p = QPointer<TfrmSelectDBPaths>(w), key] {
        if (p && p->isVisible()) {
            ADD_FAILURE() << key << " left the window open";
            p->done(-1);
        }
    });
}

// Three databases of Mod02: two on the system database "srv:/db/sys.fdb", one on another.
const QByteArray kThree = "[Mod02]\nNumber=3\n"
                          "DBN1=pay\nCaption1=Заплати\nServIP1=db1\nBaseName1=/db/pay.fdb\nsysBaseName1=srv:/db/SYS.fdb\n"
                          "DBN2=arch\nCaption2=Архив\nServIP2=\nBaseName2=/db/arch.fdb\nsysBaseName2=x@srv:/db/sys.fdb\n"
                          "DBN3=other\nCaption3=Друга\nServIP3=db3\nBaseName3=/db/other.fdb\nsysBaseName3=srv:/db/other-sys.fdb\n";
} // namespace

class SelectDBPathsTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini")).toUtf8());
        WriteAlias(QStringLiteral("data_db"), QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), QStringLiteral("srv:/db/data.fdb")}});
        // Every window shown is counted and, unless a test says otherwise, left with OK.
        TfrmSelectDBPaths::Runner() = [this](TfrmSelectDBPaths& w) {
            ++m_shown;
            return m_act ? m_act(w) : int(QDialog::Accepted);
        };
    }
    void TearDown() override
    {
        TfrmSelectDBPaths::Runner() = nullptr;
        qunsetenv("GATEKEEP_ZORCFG");
        qunsetenv("GATEKEEP_ALIASES");
    }

    void writeZor(const QByteArray& text)
    {
        QFile f(m_tmp.path(QStringLiteral("ZorCfg.ini")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    int select(QStringList& values, bool returnDBN = false, bool single = false, const QString& filter = {})
    {
        return SelectDBPaths(QStringLiteral("Добавяне на потребители"), QStringLiteral("Изберете базите"), QStringLiteral("Mod02"),
                             returnDBN, single, filter, values);
    }

    TempDir m_tmp;
    ScriptedPrompts m_prompts;
    int m_shown = 0;
    std::function<int(TfrmSelectDBPaths&)> m_act;
};

// Only a missing file falls back to the alias; a file that does not list the application has
// nothing to offer.
TEST_F(SelectDBPathsTest, AliasOnlyWhenTheFileIsMissing)
{
    QStringList values{QStringLiteral("left over")};
    EXPECT_EQ(select(values), 1);
    EXPECT_EQ(values, QStringList{QStringLiteral("srv:/db/data.fdb")});

    EXPECT_EQ(SelectDBPaths({}, {}, QStringLiteral("Mod13"), false, false, {}, values), 2);
    EXPECT_TRUE(values.isEmpty());

    writeZor("[Mod03]\nNumber=1\nDBN1=x\nCaption1=X\nBaseName1=/db/x.fdb\nsysBaseName1=/db/sys.fdb\n");
    values = QStringList{QStringLiteral("left over")};
    EXPECT_EQ(select(values), 2);
    EXPECT_TRUE(values.isEmpty());
    EXPECT_EQ(m_shown, 0);
    EXPECT_TRUE(m_prompts.shown.isEmpty());
}

TEST_F(SelectDBPathsTest, FilterLeavingOneDatabaseAsksNobody)
{
    writeZor(kThree);
    const struct {
        const char* name;
        const char* filter;
        bool returnDBN;
        QString value;
    } cases[] = {
        {"serverPath", " srv:/db/other ", false, QStringLiteral("db3:/db/other.fdb")},
        {"DBN", "OTHER-SYS", true, QStringLiteral("other")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList values;
        EXPECT_EQ(select(values, c.returnDBN, false, QString::fromUtf8(c.filter)), 1);
        EXPECT_EQ(values, QStringList{c.value});
    }
    QStringList values;
    EXPECT_EQ(select(values, false, false, QStringLiteral("/elsewhere/")), 2);
    EXPECT_TRUE(values.isEmpty());
    EXPECT_EQ(m_shown, 0);
}

TEST_F(SelectDBPathsTest, OffersTheFilteredRowsAndReturnsTheTickedOnes)
{
    writeZor(kThree);
    m_act = [](TfrmSelectDBPaths& w) {
        EXPECT_EQ(w.windowTitle(), QStringLiteral("Добавяне на потребители"));
        EXPECT_EQ(w.lbPrompt->text(), QStringLiteral("Изберете базите"));
        EXPECT_EQ(w.lvAppl->topLevelItemCount(), 2); // filtered on "srv:/db/sys", in upper case
        for (int r = 0; r < w.lvAppl->topLevelItemCount(); ++r)
            EXPECT_EQ(w.lvAppl->topLevelItem(r)->checkState(0), Qt::Checked);
        w.lvAppl->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
        return int(QDialog::Accepted);
    };
    QStringList values;
    EXPECT_EQ(select(values, false, false, QStringLiteral("srv:/db/sys")), 1);
    EXPECT_EQ(values, QStringList{QStringLiteral("/db/arch.fdb")});
    EXPECT_EQ(m_shown, 1);

    m_act = [](TfrmSelectDBPaths& w) {
        for (int r = 0; r < w.lvAppl->topLevelItemCount(); ++r)
            w.lvAppl->topLevelItem(r)->setCheckState(0, Qt::Unchecked);
        return int(QDialog::Accepted);
    };
    EXPECT_EQ(select(values), 2);
    EXPECT_TRUE(values.isEmpty());
}

TEST_F(SelectDBPathsTest, SingleReturnsTheSelectedRow)
{
    writeZor(kThree);
    const struct {
        const char* name;
        int selectRow; // -1: no row selected
        bool returnDBN;
        QString value;
    } cases[] = {
        {"selectedServerPath", 2, false, QStringLiteral("db3:/db/other.fdb")},
        {"selectedDBN", 1, true, QStringLiteral("arch")},
        {"noneSelectedGivesTheFirst", -1, false, QStringLiteral("db1:/db/pay.fdb")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_act = [&](TfrmSelectDBPaths& w) {
            w.lvAppl->clearSelection();
            if (c.selectRow >= 0)
                w.lvAppl->topLevelItem(c.selectRow)->setSelected(true);
            return int(QDialog::Accepted);
        };
        QStringList values;
        EXPECT_EQ(select(values, c.returnDBN, true), 1);
        EXPECT_EQ(values, QStringList{c.value});
    }
}

// In single choice one row is chosen: the highlighted one, the only one ticked, the one returned.
TEST_F(SelectDBPathsTest, SingleChoiceTicksExactlyTheChosenRow)
{
    writeZor(kThree);
    const struct {
        const char* name;
        std::function<void(QTreeWidget*)> act;
        int chosen;
        QString value;
    } cases[] = {
        {"asOffered", [](QTreeWidget*) {}, 0, QStringLiteral("db1:/db/pay.fdb")},
        {"tickAnother", [](QTreeWidget* lv) { lv->topLevelItem(1)->setCheckState(0, Qt::Checked); }, 1, QStringLiteral("/db/arch.fdb")},
        {"untickTheChosen", [](QTreeWidget* lv) { lv->topLevelItem(0)->setCheckState(0, Qt::Unchecked); }, 0,
         QStringLiteral("db1:/db/pay.fdb")},
        {"highlightAnother", [](QTreeWidget* lv) { lv->setCurrentItem(lv->topLevelItem(1)); }, 1, QStringLiteral("/db/arch.fdb")},
        {"tickThenHighlightBack",
         [](QTreeWidget* lv) {
             lv->topLevelItem(1)->setCheckState(0, Qt::Checked);
             lv->setCurrentItem(lv->topLevelItem(0));
         },
         0, QStringLiteral("db1:/db/pay.fdb")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_act = [&](TfrmSelectDBPaths& w) {
            QTreeWidget* lv = w.lvAppl;
            c.act(lv);
            for (int r = 0; r < lv->topLevelItemCount(); ++r)
                EXPECT_EQ(lv->topLevelItem(r)->checkState(0) == Qt::Checked, r == c.chosen) << "row " << r;
            EXPECT_EQ(lv->currentItem(), lv->topLevelItem(c.chosen));
            EXPECT_EQ(lv->selectedItems(), QList<QTreeWidgetItem*>{lv->topLevelItem(c.chosen)});
            return int(QDialog::Accepted);
        };
        QStringList values;
        EXPECT_EQ(select(values, false, true, QStringLiteral("srv:/db/sys")), 1);
        EXPECT_EQ(values, QStringList{c.value});
    }
}

TEST_F(SelectDBPathsTest, CancelReturnsNothing)
{
    writeZor(kThree);
    m_act = [](TfrmSelectDBPaths&) { return int(QDialog::Rejected); };
    for (bool single : {false, true}) {
        QStringList values;
        EXPECT_EQ(select(values, false, single), 2);
        EXPECT_TRUE(values.isEmpty());
    }
    EXPECT_EQ(m_shown, 2);
}

// Rows need a DBN, a Caption, a BaseName and an access database; the server may be blank.
TEST_F(SelectDBPathsTest, LoadLvFromIniDropsIncompleteRows)
{
    writeZor("[mod02]\nNUMBER=7\n"
             "DBN1=a\nCaption1=A\nServIP1=\nBaseName1=/db/a.fdb\nSYSBaseName1=/db/sys.fdb\n"
             "DBN2=b\nCaption2=\nBaseName2=/db/b.fdb\nsysBaseName2=/db/sys.fdb\n"
             "Caption3=C\nBaseName3=/db/c.fdb\nsysBaseName3=/db/sys.fdb\n"
             "DBN4=d\nCaption4=D\nServIP4=db4\nsysBaseName4=/db/sys.fdb\n"
             "DBN5=e\nCaption5=E\nServIP5=db5\nBaseName5=/db/e.fdb\n"
             "dbn6=f\ncaption6=F\nservip6=db6\nbasename6=/db/f.fdb\nsysbasename6=x@/db/sys.fdb\n");
    QTreeWidget list;
    EXPECT_TRUE(LoadLvFromIni(m_tmp.path(QStringLiteral("ZorCfg.ini")), &list, QStringLiteral("Mod02")));
    ASSERT_EQ(list.topLevelItemCount(), 2);
    const QStringList rows[] = {
        {QStringLiteral("a"), QStringLiteral("A"), QString(), QStringLiteral("/db/a.fdb"), QStringLiteral("/db/sys.fdb")},
        {QStringLiteral("f"), QStringLiteral("F"), QStringLiteral("db6"), QStringLiteral("/db/f.fdb"), QStringLiteral("x@/db/sys.fdb")},
    };
    for (int r = 0; r < 2; ++r) {
        QStringList texts;
        for (int c = 0; c < TfrmSelectDBPaths::ColumnCount; ++c)
            texts << list.topLevelItem(r)->text(c);
        EXPECT_EQ(texts, rows[r]);
        EXPECT_EQ(list.topLevelItem(r)->checkState(0), Qt::Checked);
    }
    EXPECT_FALSE(LoadLvFromIni(m_tmp.path(QStringLiteral("ZorCfg.ini")), &list, QStringLiteral("Mod03")));
    EXPECT_EQ(list.topLevelItemCount(), 0);
    EXPECT_TRUE(m_prompts.shown.isEmpty());
}

TEST_F(SelectDBPathsTest, UnreadableFileIsShownOnce)
{
    writeZor(kThree + '\0');
    QStringList values;
    EXPECT_EQ(select(values), 2);
    EXPECT_TRUE(values.isEmpty());
    EXPECT_EQ(m_shown, 0);
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages()[0].startsWith(Text::LoadLvFromIniError)) << m_prompts.messages()[0].toStdString();
    EXPECT_TRUE(m_prompts.messages()[0].contains(QStringLiteral("ZorCfg.ini")));
    EXPECT_EQ(m_prompts.shown[0].icon, Prompts::Icon::Error);
}

TEST_F(SelectDBPathsTest, WindowLayoutAndKeys)
{
    writeZor(kThree);
    TfrmSelectDBPaths::Runner() = nullptr; // the real modal loop
    // Space unticks the current row, Enter closes with OK.
    QTimer::singleShot(0, [] {
        QWidget* modal = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }));
        auto* w = qobject_cast<TfrmSelectDBPaths*>(modal);
        ASSERT_TRUE(w);
        QTreeWidget* lv = w->lvAppl;
        QStringList titles;
        for (int c = 0; c < lv->columnCount(); ++c)
            titles << lv->headerItem()->text(c);
        EXPECT_EQ(titles, Text::Columns);
        EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(w->sbOK->text(), QStringLiteral("OK"));
        EXPECT_EQ(w->sbCancel->text(), QStringLiteral("Отказ"));
        // Every column shows its whole text.
        for (int c = 0; c < lv->columnCount() - 1; ++c)
            EXPECT_GE(lv->columnWidth(c), lv->fontMetrics().horizontalAdvance(lv->topLevelItem(0)->text(c))) << c;

        lv->setFocus();
        lv->setCurrentItem(lv->topLevelItem(1));
        QTest::keyClick(lv, Qt::Key_Space);
        EXPECT_EQ(lv->topLevelItem(1)->checkState(0), Qt::Unchecked);
        QTest::keyClick(lv, Qt::Key_Return);
        expectClosed(w, "Enter");
    });
    QStringList values;
    EXPECT_EQ(select(values), 1);
    EXPECT_EQ(values, (QStringList{QStringLiteral("db1:/db/pay.fdb"), QStringLiteral("db3:/db/other.fdb")}));

    // Esc is Отказ.
    QTimer::singleShot(0, [] {
        QWidget* modal = nullptr;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (modal = QApplication::activeModalWidget()) != nullptr; }));
        auto* w = qobject_cast<TfrmSelectDBPaths*>(modal);
        ASSERT_TRUE(w);
        QTest::keyClick(w->lvAppl, Qt::Key_Escape);
        expectClosed(w, "Esc");
    });
    EXPECT_EQ(select(values), 2);
    EXPECT_TRUE(values.isEmpty());
}
