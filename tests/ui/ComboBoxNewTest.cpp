#include "support/QtPrinters.h"

#include "ui/ComboBoxNew.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QScreen>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

namespace {

const QStringList kCities = {QStringLiteral("Sofia"), QStringLiteral("Plovdiv"), QStringLiteral("Sopot")};

void sendKey(QWidget* w, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {})
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(w, &release);
}

void typeText(QWidget* w, const QString& text)
{
    for (const QChar c : text)
        sendKey(w, c.toUpper().unicode(), c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier, QString(c));
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the condition holds; returns the milliseconds it took, or -1.
qint64 waitUntil(const std::function<bool()>& condition, const QElapsedTimer& clock, int timeoutMs = 3000)
{
    while (clock.elapsed() < timeoutMs) {
        if (condition())
            return clock.elapsed();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return condition() ? clock.elapsed() : -1;
}

void clickAt(QWidget* w, const QPoint& pos)
{
    const QPoint global = w->mapToGlobal(pos);
    QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
}

void mouseEnter(QWidget* w)
{
    QEnterEvent enter(QPointF(1, 1), w->mapToGlobal(QPointF(1, 1)), w->mapToGlobal(QPointF(1, 1)));
    QCoreApplication::sendEvent(w, &enter);
}

void mouseLeave(QWidget* w)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(w, &leave);
}

class ComboBoxNewTest : public testing::Test {
protected:
    void SetUp() override
    {
        form = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(form.get());
        combo = new TComboBoxNew(form.get());
        layout->addWidget(combo);
        layout->addStretch();
        form->setGeometry(100, 100, 200, 120);
        form->show();
        combo->setItems(kCities);
    }

    void TearDown() override
    {
        combo->CloseUp(false);
        form.reset();
    }

    QStringList shown() const { return combo->ListBox()->VisibleItems(); }

    std::unique_ptr<QWidget> form;
    TComboBoxNew* combo = nullptr;
};

struct FilterCase {
    TFilterType type;
    const char* typed;
    QStringList expected;
};

} // namespace

TEST_F(ComboBoxNewTest, FilterKeepsItemsThatStartWithOrContainTheTypedText)
{
    const FilterCase cases[] = {
        {ftStarting, "so", {"Sofia", "Sopot"}},
        {ftStarting, "SOP", {"Sopot"}},
        {ftStarting, "ov", {}},
        {ftContaining, "ov", {"Plovdiv"}},
        {ftContaining, "O", {"Plovdiv", "Sofia", "Sopot"}},
        {ftContaining, "fi", {"Sofia"}},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.typed);
        combo->setFilterType(c.type);
        typeText(combo, QString::fromUtf8(c.typed));
        combo->ListBox()->Engine()->RunPendingFilter();
        EXPECT_TRUE(combo->DroppedDown());
        EXPECT_EQ(shown(), c.expected);
        EXPECT_EQ(combo->text(), QString::fromUtf8(c.typed)); // typing goes on in the edit text
        EXPECT_EQ(combo->ListBox()->SelectedRow(), c.expected.isEmpty() ? -1 : 0);
        sendKey(combo, Qt::Key_Escape);
        combo->setText({});
    }
}

TEST_F(ComboBoxNewTest, CyrillicItemsAreSortedAndMatchedWithoutRegardToCase)
{
    combo->setItems({"Ямбол", "якоруда", "Ябланица"});
    combo->setFilterType(ftStarting);
    typeText(combo, "я");
    EXPECT_EQ(shown(), (QStringList{"Ябланица", "якоруда", "Ямбол"}));
    typeText(combo, "М");
    EXPECT_EQ(shown(), QStringList{"Ямбол"});
}

// A list long enough to be sorted by its packed keys: the order is that of a plain stable sort
// of the upper-cased texts (equal keys in the order given, a key before the longer ones it
// begins), with few or many different characters in the keys; the items starting with a text
// are the ones a plain scan finds.
TEST(HintListModel, LongListSortsAsAPlainStableSortAndFindsEveryStart)
{
    const struct {
        const char* name;
        int extraAlphabet; // characters beyond the usual ones, to widen the packed ranks
    } cases[] = {{"small alphabet", 0}, {"wide alphabet", 400}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList stems = {"Ab", "ab", "AB", "abc", "Иван", "ИВАНОВ", "иванова", "Sofia", "sofia 1", "", "1", "10", "a b"};
        QStringList items;
        for (int i = 0; i < 1500; ++i) {
            QString item = stems[i % stems.size()];
            if (i % 3 == 1)
                item += QString::number(i % 17);
            if (i % 5 == 2)
                item += QStringLiteral(" Петров");
            if (c.extraAlphabet > 0 && i % 4 == 0)
                item += QChar(char16_t(0x100 + i % c.extraAlphabet));
            items << item;
        }
        THintListModel model(false);
        model.SetItems(items);

        std::vector<int> order(static_cast<size_t>(items.size()));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return UpperKey(items[a]) < UpperKey(items[b]); });
        ASSERT_EQ(model.rowCount(), items.size());
        for (int row = 0; row < model.rowCount(); ++row)
            ASSERT_EQ(model.SourceIndex(row), order[static_cast<size_t>(row)]) << "row " << row;

        for (const QString& start : {QStringLiteral("AB"), QStringLiteral("ИВАН"), QStringLiteral("SOFIA 1"), QStringLiteral("1"), QStringLiteral("Z")}) {
            SCOPED_TRACE(start.toStdString());
            const auto [first, last] = model.ItemsStartingWith(start);
            std::vector<int> expected;
            for (int row = 0; row < model.rowCount(); ++row)
                if (UpperKey(model.Text(row)).startsWith(start))
                    expected.push_back(row);
            std::vector<int> found(static_cast<size_t>(last - first));
            std::iota(found.begin(), found.end(), first);
            EXPECT_EQ(found, expected);
        }
    }
}

TEST_F(ComboBoxNewTest, StartingFilterNarrowsPerKeyAndBackspaceBringsItemsBack)
{
    combo->setFilterType(ftStarting);
    typeText(combo, QStringLiteral("so"));
    EXPECT_EQ(shown(), (QStringList{"Sofia", "Sopot"}));
    typeText(combo, QStringLiteral("p"));
    EXPECT_EQ(shown(), QStringList{"Sopot"});
    EXPECT_EQ(combo->text(), QStringLiteral("sop"));

    sendKey(combo, Qt::Key_Backspace);
    EXPECT_EQ(shown(), (QStringList{"Sofia", "Sopot"}));
    sendKey(combo, Qt::Key_Backspace);
    sendKey(combo, Qt::Key_Backspace);
    EXPECT_EQ(shown(), (QStringList{"Plovdiv", "Sofia", "Sopot"}));
    EXPECT_EQ(combo->ListBox()->TypedText(), QString());
    EXPECT_EQ(combo->text(), QString());
}

TEST_F(ComboBoxNewTest, ContainingFilterRunsOnce300MsAfterTheLastKey)
{
    combo->setFilterType(ftContaining);
    typeText(combo, QStringLiteral("o"));
    wait(200);
    QElapsedTimer sinceLastKey;
    sinceLastKey.start();
    typeText(combo, QStringLiteral("v"));
    EXPECT_EQ(shown().size(), 3);

    const qint64 took = waitUntil([&] { return shown().size() != 3; }, sinceLastKey);
    EXPECT_GE(took, TListBoxFilterEngine::ContainingDelayMs);
    EXPECT_EQ(shown(), QStringList{"Plovdiv"});
}

TEST_F(ComboBoxNewTest, EnterAcceptsTheSelectedItemAndEscKeepsItemIndex)
{
    int changes = 0, dropdowns = 0, closes = 0;
    QObject::connect(combo, &TComboBoxNew::OnChange, [&] { ++changes; });
    QObject::connect(combo, &TComboBoxNew::OnDropdown, [&] { ++dropdowns; });
    QObject::connect(combo, &TComboBoxNew::OnClose, [&] { ++closes; });
    combo->setFilterType(ftStarting);

    typeText(combo, QStringLiteral("so"));
    sendKey(combo, Qt::Key_Escape);
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(combo->ItemIndex(), -1);
    EXPECT_EQ(combo->text(), QStringLiteral("so"));

    combo->setText({});
    typeText(combo, QStringLiteral("so"));
    sendKey(combo, Qt::Key_Down); // Sofia is selected first
    changes = 0;
    sendKey(combo, Qt::Key_Return);
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(combo->ItemIndex(), 2);
    EXPECT_EQ(combo->text(), QStringLiteral("Sopot"));
    EXPECT_EQ(combo->cursorPosition(), 0);
    EXPECT_TRUE(combo->isModified());
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(dropdowns, 2);
    EXPECT_EQ(closes, 2);
}

TEST_F(ComboBoxNewTest, ShownListSelectsTheItemEqualToTheText)
{
    combo->setItemIndex(1);
    sendKey(combo, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(combo->DroppedDown());
    EXPECT_EQ(combo->ListBox()->SelectedText(), QStringLiteral("Plovdiv"));
    EXPECT_EQ(TComboBoxNew::Current(), combo);
    EXPECT_TRUE(combo->PopupWindow()->isVisible());
}

TEST_F(ComboBoxNewTest, UpAndDownInTheEditStepThroughItemsWithoutPassingTheEnds)
{
    const struct {
        int key;
        int expected;
    } steps[] = {
        {Qt::Key_Up, -1}, {Qt::Key_Down, 0}, {Qt::Key_Down, 1}, {Qt::Key_Down, 2}, {Qt::Key_Down, 2}, {Qt::Key_Up, 1}, {Qt::Key_Up, 0}, {Qt::Key_Up, 0},
    };
    for (const auto& step : steps) {
        sendKey(combo, step.key);
        EXPECT_EQ(combo->ItemIndex(), step.expected);
        EXPECT_FALSE(combo->DroppedDown());
    }
    EXPECT_EQ(combo->text(), QStringLiteral("Sofia"));
}

TEST_F(ComboBoxNewTest, ReadOnlyComboBoxShowsNoList)
{
    combo->setReadOnly(true);
    typeText(combo, QStringLiteral("s"));
    sendKey(combo, Qt::Key_Down, Qt::AltModifier);
    combo->DropDown();
    EXPECT_FALSE(combo->DroppedDown());
}

TEST_F(ComboBoxNewTest, FirstLetterJumpsToTheNextItemWithThatLetterAndNeverHides)
{
    combo->setItems({QStringLiteral("Mara"), QStringLiteral("Koko"), QStringLiteral("Kiro")});
    combo->setFilterType(ftFirstLetter);
    const struct {
        const char* key;
        const char* selected;
    } steps[] = {{"k", "Kiro"}, {"k", "Koko"}, {"k", "Kiro"}, {"m", "Mara"}, {"x", "Mara"}, {"k", "Kiro"}};
    for (const auto& step : steps) {
        typeText(combo, QString::fromUtf8(step.key));
        EXPECT_EQ(combo->ListBox()->SelectedText(), QString::fromUtf8(step.selected)) << step.key;
        EXPECT_EQ(shown().size(), 3);
    }
    EXPECT_EQ(combo->text(), QString()); // the letters are not inserted
    sendKey(combo, Qt::Key_Return);
    EXPECT_EQ(combo->ItemIndex(), 2);
}

TEST_F(ComboBoxNewTest, TextMatchingNoItemIsKeptOnlyWithAllowNewValues)
{
    for (const bool allow : {true, false}) {
        SCOPED_TRACE(allow);
        combo->setAllowNewValues(allow);
        combo->setFilterType(ftContaining);
        combo->setText({});
        typeText(combo, QStringLiteral("xyz"));
        QElapsedTimer clock;
        clock.start();
        waitUntil([&] { return shown().isEmpty() || !combo->DroppedDown(); }, clock);
        wait(20);
        // With new values allowed the list closes by itself and the typed text stays as the value.
        EXPECT_EQ(combo->DroppedDown(), !allow);
        sendKey(combo, Qt::Key_Escape);
        EXPECT_EQ(combo->ItemIndex(), -1);
        EXPECT_EQ(combo->text(), QStringLiteral("xyz"));

        mouseLeave(combo);
        EXPECT_EQ(combo->text(), allow ? QStringLiteral("xyz") : QString());
    }
}

TEST_F(ComboBoxNewTest, LeavingTheComboBoxTakesTheItemTheTextNames)
{
    const struct {
        bool allowNew;
        int itemIndex;
        const char* text;
        int expectedIndex;
        const char* expectedText;
    } cases[] = {
        {false, -1, "plovdiv", 1, "Plovdiv"},
        {false, 0, "Sof", -1, ""},
        {true, 0, "Sof", -1, "Sof"},
        {false, 2, "Sopot", 2, "Sopot"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        combo->setAllowNewValues(c.allowNew);
        combo->setItemIndex(c.itemIndex);
        combo->setText(QString::fromUtf8(c.text));
        combo->selectAll();
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(combo, &focusOut);
        EXPECT_EQ(combo->ItemIndex(), c.expectedIndex);
        EXPECT_EQ(combo->text(), QString::fromUtf8(c.expectedText));
        EXPECT_FALSE(combo->hasSelectedText());
    }
}

TEST_F(ComboBoxNewTest, IdxSelectsByIdInBothIdModes)
{
    for (const TComboBoxNew::TIdMode mode : {TComboBoxNew::imId, TComboBoxNew::imRecord}) {
        SCOPED_TRACE(mode);
        combo->Clear();
        combo->setIdMode(mode);
        combo->AddItem(QStringLiteral("Sofia"), 10);
        combo->AddItem(QStringLiteral("Plovdiv"), TIdRecord{20, QStringLiteral("PDV")});
        combo->AddItem(QStringLiteral("Sopot"), 30);
        EXPECT_EQ(combo->Idx(), -1);

        const struct {
            qint32 id;
            bool found;
            int itemIndex;
            const char* text;
        } writes[] = {{20, true, 1, "Plovdiv"}, {99, false, -1, ""}, {30, true, 2, "Sopot"}, {-1, false, -1, ""}};
        for (const auto& w : writes) {
            combo->setWithCheckBoxes(true);
            combo->SetMarked(0, true);
            EXPECT_EQ(combo->SetIdx(w.id), w.found) << w.id;
            EXPECT_EQ(combo->ItemIndex(), w.itemIndex);
            EXPECT_EQ(combo->text(), QString::fromUtf8(w.text));
            EXPECT_EQ(combo->Idx(), w.found ? w.id : -1);
            EXPECT_TRUE(combo->MarkedList().isEmpty());
        }
        ASSERT_NE(combo->Record(1), nullptr);
        EXPECT_EQ(combo->Record(1)->text, QStringLiteral("PDV"));
        EXPECT_EQ(combo->Record(0) != nullptr, mode == TComboBoxNew::imRecord);
    }
    combo->Clear();
    EXPECT_TRUE(combo->Items().isEmpty());
    EXPECT_EQ(combo->ItemIndex(), -1);
    EXPECT_EQ(combo->text(), QString());
}

TEST_F(ComboBoxNewTest, CheckListCommandsWorkOnTheMarks)
{
    const QStringList items = {"Ruse", "Varna", "Burgas", "Pleven", "Shumen"};
    combo->setItems(items);
    combo->setWithCheckBoxes(true);
    combo->setMarkedList({1, 3});
    combo->DropDown();
    auto* list = static_cast<THintCheckListBox*>(combo->ListBox());

    QStringList menu;
    for (const QAction* a : list->Menu()->actions())
        menu << a->text();
    EXPECT_EQ(menu, (QStringList{"Маркирай всички", "Отмаркирай всички", "Обърни маркери", "Покажи само маркирани", "Покажи само немаркирани"}));
    EXPECT_EQ(list->Model()->CheckedSources(), (QList<int>{3, 1})); // in list order

    list->Action(THintCheckListBox::cmShowMarked)->trigger();
    EXPECT_EQ(shown(), (QStringList{"Pleven", "Varna"}));

    list->Action(THintCheckListBox::cmInvert)->trigger();
    EXPECT_EQ(shown(), (QStringList{"Pleven", "Varna"}));
    for (int i = 0; i < items.size(); ++i)
        EXPECT_EQ(list->IsChecked(i), i != 1 && i != 3) << i;
    QList<int> marked = combo->MarkedList();
    std::sort(marked.begin(), marked.end());
    EXPECT_EQ(marked, (QList<int>{0, 2, 4}));

    list->Action(THintCheckListBox::cmShowUnmarked)->trigger();
    EXPECT_EQ(shown(), (QStringList{"Pleven", "Varna"}));
    list->Action(THintCheckListBox::cmMarkAll)->trigger();
    EXPECT_EQ(combo->MarkedList().size(), 5);
    list->Action(THintCheckListBox::cmUnmarkAll)->trigger();
    EXPECT_TRUE(combo->MarkedList().isEmpty());
    EXPECT_TRUE(list->Model()->CheckedSources().isEmpty());
}

// Showing a part of the check list changes no mark: ticks made in the open list are taken only
// by a close that accepts, and Esc leaves the marks as they were.
TEST_F(ComboBoxNewTest, ShowingOnlyMarkedOrUnmarkedCommitsNothingBeforeTheListCloses)
{
    const QStringList items = {"Ruse", "Varna", "Burgas", "Pleven", "Shumen"};
    const struct {
        const char* name;
        THintCheckListBox::Command command;
        int closeKey;
        QList<int> marksAfter; // sorted
        QStringList shown;
    } cases[] = {
        {"marked, then Esc", THintCheckListBox::cmShowMarked, Qt::Key_Escape, {1}, {"Burgas", "Varna"}},
        {"unmarked, then Esc", THintCheckListBox::cmShowUnmarked, Qt::Key_Escape, {1}, {"Pleven", "Ruse", "Shumen"}},
        {"marked, then Enter", THintCheckListBox::cmShowMarked, Qt::Key_Return, {1, 2}, {"Burgas", "Varna"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        combo->setItems(items);
        combo->setWithCheckBoxes(true);
        combo->setMarkedList({1}); // Varna
        sendKey(combo, Qt::Key_Down, Qt::AltModifier);
        auto* list = static_cast<THintCheckListBox*>(combo->ListBox());
        list->SelectRow(0); // Burgas, first in the sorted list
        sendKey(combo, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        ASSERT_TRUE(list->IsChecked(2));

        list->Action(c.command)->trigger();
        EXPECT_EQ(shown(), c.shown);
        EXPECT_EQ(combo->MarkedList(), QList<int>{1});
        EXPECT_TRUE(list->IsChecked(2)); // the tick is still on the screen

        sendKey(combo, c.closeKey);
        EXPECT_FALSE(combo->DroppedDown());
        QList<int> marked = combo->MarkedList();
        std::sort(marked.begin(), marked.end());
        EXPECT_EQ(marked, c.marksAfter);
    }
}

TEST_F(ComboBoxNewTest, ClosingTheCheckListMarksTheTickedAndTheSelectedItems)
{
    combo->setItems({"Ruse", "Varna", "Burgas"});
    combo->setWithCheckBoxes(true);
    sendKey(combo, Qt::Key_Down, Qt::AltModifier);
    sendKey(combo, Qt::Key_Down); // Burgas
    sendKey(combo, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    sendKey(combo, Qt::Key_Down); // Ruse
    EXPECT_TRUE(combo->DroppedDown());
    EXPECT_TRUE(combo->MarkedList().isEmpty()); // marks change when the list closes
    sendKey(combo, Qt::Key_Return);

    EXPECT_EQ(combo->MarkedList(), (QList<int>{2, 0}));
    EXPECT_EQ(combo->text(), QStringLiteral("Ruse"));
    mouseEnter(combo);
    ASSERT_NE(combo->HintWindow(), nullptr);
    EXPECT_EQ(combo->HintWindow()->Text(), QStringLiteral("Избрани : \nBurgas\nRuse"));

    // A check list that loses the activation still takes its marks.
    sendKey(combo, Qt::Key_Down, Qt::AltModifier);
    sendKey(combo, Qt::Key_End);
    sendKey(combo, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    clickAt(form.get(), QPoint(5, 110));
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_TRUE(combo->IsMarked(1));
}

TEST_F(ComboBoxNewTest, MouseReleaseOnTheListAcceptsButACheckBoxClickOnlyToggles)
{
    combo->DropDown();
    THintListBox* list = combo->ListBox();
    clickAt(list->viewport(), list->visualRect(list->Model()->index(0)).center()); // Plovdiv
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(combo->ItemIndex(), 1);

    combo->setWithCheckBoxes(true);
    combo->DropDown();
    list = combo->ListBox();
    const QModelIndex sopot = list->Model()->index(2);
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = list->visualRect(sopot);
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = sopot.data().toString();
    const QRect box = list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    clickAt(list->viewport(), box.center());
    EXPECT_TRUE(combo->DroppedDown());
    EXPECT_TRUE(static_cast<THintCheckListBox*>(list)->IsChecked(2));
    clickAt(list->viewport(), QPoint(option.rect.right() - 5, option.rect.center().y()));
    EXPECT_FALSE(combo->DroppedDown());
    EXPECT_EQ(combo->MarkedList(), QList<int>{2});
}

TEST_F(ComboBoxNewTest, ComboHintShowsTextOrMarksWithTheOwnHintInFront)
{
    const struct {
        bool checkBoxes;
        QList<int> marked;
        const char* text;
        const char* tip;
        const char* expected; // empty: no hint window
    } cases[] = {
        {false, {}, "Sofia", "", "Sofia"},
        {false, {}, "", "", ""},
        {true, {2, 0}, "Sofia", "", "Избрани : \nSopot\nSofia"},
        {true, {}, "Sofia", "Град", "[ Град ]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        combo->setWithCheckBoxes(c.checkBoxes);
        combo->setMarkedList(c.marked);
        combo->setText(QString::fromUtf8(c.text));
        combo->setToolTip(QString::fromUtf8(c.tip));
        mouseEnter(combo);
        if (*c.expected) {
            ASSERT_NE(combo->HintWindow(), nullptr);
            EXPECT_EQ(combo->HintWindow()->Text(), QString::fromUtf8(c.expected));
            EXPECT_EQ(combo->HintWindow()->geometry().topLeft(), combo->mapToGlobal(QPoint(0, combo->height())));
        } else {
            EXPECT_EQ(combo->HintWindow(), nullptr);
        }
        mouseLeave(combo);
        EXPECT_EQ(combo->HintWindow(), nullptr);
    }
}

TEST_F(ComboBoxNewTest, ListHintShowsTheFullTextOfAnItemThatDoesNotFit)
{
    const QString longText = QStringLiteral("Sofia, the capital, on the slopes of Vitosha mountain");
    combo->setItems({longText, QStringLiteral("Sopot")});
    combo->setDropDownWidth(90);
    combo->DropDown();
    THintListBox* list = combo->ListBox();
    const auto moveTo = [&](int row) {
        const QPoint pos = list->visualRect(list->Model()->index(row)).center();
        QMouseEvent move(QEvent::MouseMove, pos, list->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &move);
    };
    moveTo(1); // "Sopot" fits
    EXPECT_TRUE(list->HintWindow() == nullptr || !list->HintWindow()->isVisible());
    moveTo(0);
    ASSERT_NE(list->HintWindow(), nullptr);
    EXPECT_TRUE(list->HintWindow()->isVisible());
    EXPECT_EQ(list->HintWindow()->Text(), longText);
    moveTo(1);
    EXPECT_FALSE(list->HintWindow()->isVisible());
}

TEST_F(ComboBoxNewTest, ListIsPlacedUnderTheComboBoxOrMovedInsideTheScreen)
{
    const QRect screen = combo->screen()->geometry();
    combo->setDropDownWidth(150);
    combo->setDropDownCount(4);
    const struct {
        const char* name;
        QPoint formPos;
    } cases[] = {
        {"below", {50, 50}},
        {"right edge", {screen.right() - 120, 50}},
        {"bottom edge", {50, screen.bottom() - 60}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        form->move(c.formPos);
        combo->DropDown();
        const QRect popup = combo->PopupWindow()->geometry();
        const QPoint below = combo->mapToGlobal(QPoint(0, combo->height()));
        EXPECT_EQ(popup.width(), 150);
        EXPECT_EQ(popup.height(), combo->ListBox()->ItemHeight() * 4 + 4);
        const bool pastRight = below.x() + 150 > screen.x() + screen.width();
        const bool pastBottom = below.y() + popup.height() > screen.y() + screen.height();
        EXPECT_EQ(popup.left(), pastRight ? screen.x() + screen.width() - 150 - 5 : below.x());
        EXPECT_EQ(popup.top(), pastBottom ? combo->mapToGlobal(QPoint(0, 0)).y() - popup.height() : below.y());
        EXPECT_EQ(pastRight, QByteArray(c.name) == "right edge");
        EXPECT_EQ(pastBottom, QByteArray(c.name) == "bottom edge");
        combo->CloseUp(false);
    }
}
