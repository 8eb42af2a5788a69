#include "ui/BetterGroupBox.h"
#include "ui/DBNavigator2.h"

#include "support/ScriptedPrompts.h"
#include "support/TestEnv.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

// Readable failures for the values these tests compare.
static void PrintTo(const QRect& r, std::ostream* os)
{
    *os << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ")";
}

static void PrintTo(TDBNavigator2::Buttons buttons, std::ostream* os)
{
    static const char* const names[] = {"First", "Prior", "Next", "Last", "Insert", "Delete", "Edit", "Post", "Cancel", "Refresh"};
    *os << '{';
    for (int i = 0; i < TDBNavigator2::ButtonCount; ++i)
        if (buttons.testFlag(TDBNavigator2::buttonAt(i)))
            *os << ' ' << names[i];
    *os << " }";
}

namespace {

using Nav = TDBNavigator2;
using State = TMemDataSet::State;

// Three rows, "a", "b" and "c", the first one current.
void fillAbc(TMemDataSet& ds)
{
    ds.setFields({QStringLiteral("NAME")});
    for (const char* name : {"a", "b", "c"})
        ds.appendRow({QString::fromLatin1(name)});
    ds.open();
}

QString names(const TMemDataSet& ds)
{
    QString result;
    for (int row = 0; row < ds.recordCount(); ++row)
        result += ds.textAt(row, 0);
    return result;
}

Nav::Buttons enabledButtons(const Nav& nav)
{
    Nav::Buttons result;
    for (int i = 0; i < Nav::ButtonCount; ++i)
        if (nav.button(Nav::buttonAt(i))->isEnabled())
            result |= Nav::buttonAt(i);
    return result;
}

void pressKey(QWidget& w, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

void pressMouse(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton)
{
    QMouseEvent event(QEvent::MouseButtonPress, QPointF(pos), w.mapToGlobal(QPointF(pos)), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &event);
}

// ---- Navigator -------------------------------------------------------------------------------

TEST(DBNavigator2, ButtonsCarryTheirCaptionsAndHintsInOrder)
{
    struct Case {
        Nav::Button button;
        const char* hint;
        const char* caption;
    };
    const Case cases[] = {
        {Nav::First, "Първи запис", "Първи"},
        {Nav::Prior, "Предишен запис", "Предишен"},
        {Nav::Next, "Следващ запис", "Следващ"},
        {Nav::Last, "Последен запис", "Последен"},
        {Nav::Insert, "Вмъкване", "Вмъкване"},
        {Nav::Delete, "Изтриване", "Изтриване"},
        {Nav::Edit, "Редактиране", "Редактиране"},
        {Nav::Post, "Запис на редакциите", "Запис"},
        {Nav::Cancel, "Отказ от редакциите", "Отказ"},
        {Nav::Refresh, "Обновяване", "Обновяване"},
    };
    Nav nav;
    EXPECT_EQ(nav.size(), QSize(241, 25));
    ASSERT_EQ(nav.hints().size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.caption);
        TNavButton2* b = nav.button(c.button);
        EXPECT_EQ(b->index(), static_cast<int>(i));
        EXPECT_EQ(nav.hints()[static_cast<qsizetype>(i)], QString::fromUtf8(c.hint));
        EXPECT_EQ(b->toolTip(), QString::fromUtf8(c.hint));
        EXPECT_EQ(b->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(b->icon().isNull());
    }

    nav.setShowCaptions(false);
    for (const Case& c : cases)
        EXPECT_TRUE(nav.button(c.button)->text().isEmpty()) << c.caption;
    nav.setShowCaptions(true);
    EXPECT_EQ(nav.button(Nav::Post)->text(), QStringLiteral("Запис"));
}

TEST(DBNavigator2, HintsReplaceTheDefaultsLineByLine)
{
    Nav nav;
    nav.setHints({QStringLiteral("Към началото"), QStringLiteral("Назад")});
    EXPECT_EQ(nav.button(Nav::First)->toolTip(), QStringLiteral("Към началото"));
    EXPECT_EQ(nav.button(Nav::Prior)->toolTip(), QStringLiteral("Назад"));
    EXPECT_EQ(nav.button(Nav::Next)->toolTip(), QStringLiteral("Следващ запис"));

    nav.setHints({});
    EXPECT_EQ(nav.button(Nav::First)->toolTip(), QStringLiteral("Първи запис"));
}

TEST(DBNavigator2, EachButtonActsOnTheDataSet)
{
    struct Case {
        const char* name;
        std::function<void(TMemDataSet&)> arrange;
        Nav::Button button;
        int recNo;
        QString rows;
        State state;
    };
    const auto atRow = [](int row) { return [row](TMemDataSet& ds) { ds.setRecNo(row); }; };
    const auto editingB = [](TMemDataSet& ds) {
        ds.setRecNo(1);
        ds.edit();
        ds.setValue(0, QStringLiteral("x"));
    };
    const Case cases[] = {
        {"first", atRow(2), Nav::First, 0, "abc", State::Browse},
        {"prior", atRow(2), Nav::Prior, 1, "abc", State::Browse},
        {"next", atRow(0), Nav::Next, 1, "abc", State::Browse},
        {"last", atRow(0), Nav::Last, 2, "abc", State::Browse},
        {"insert", atRow(0), Nav::Insert, 3, "abc", State::Insert},
        {"edit", atRow(1), Nav::Edit, 1, "abc", State::Edit},
        {"post keeps the edit", editingB, Nav::Post, 1, "axc", State::Browse},
        {"cancel drops the edit", editingB, Nav::Cancel, 1, "abc", State::Browse},
        {"cancel drops an inserted row", [](TMemDataSet& ds) { ds.insert(); }, Nav::Cancel, 2, "abc", State::Browse},
        {"moving keeps the edit", editingB, Nav::Next, 2, "axc", State::Browse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemDataSet ds;
        fillAbc(ds);
        Nav nav;
        nav.setDataSet(&ds);
        c.arrange(ds);
        nav.updateButtons();
        nav.button(c.button)->click();
        EXPECT_EQ(ds.recNo(), c.recNo);
        EXPECT_EQ(names(ds), c.rows);
        EXPECT_EQ(ds.state(), c.state);
    }
}

TEST(DBNavigator2, RefreshAsksTheOwnerToReload)
{
    TMemDataSet ds;
    fillAbc(ds);
    int reloads = 0;
    ds.onRefresh = [&reloads](TMemDataSet&) { ++reloads; };
    Nav nav;
    nav.setDataSet(&ds);
    nav.button(Nav::Refresh)->click();
    EXPECT_EQ(reloads, 1);
}

TEST(DBNavigator2, DeleteAsksFirstWhenConfirmDeleteIsOn)
{
    struct Case {
        const char* name;
        bool confirmDelete;
        std::optional<bool> answer; // none: no question expected
        QString rowsAfter;
    };
    const Case cases[] = {
        {"cancelled", true, false, "abc"},
        {"confirmed", true, true, "ac"},
        {"not asked", false, std::nullopt, "ac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemDataSet ds;
        fillAbc(ds);
        ds.setRecNo(1);
        Nav nav;
        nav.setDataSet(&ds);
        nav.setConfirmDelete(c.confirmDelete);
        ScriptedPrompts p;
        if (c.answer)
            p.answerConfirm(*c.answer);

        nav.button(Nav::Delete)->click();

        EXPECT_EQ(names(ds), c.rowsAfter);
        if (c.answer) {
            ASSERT_EQ(p.shown.size(), 1);
            EXPECT_EQ(p.shown[0].kind, QStringLiteral("confirm"));
            EXPECT_EQ(p.shown[0].text, QStringLiteral("Да се изтрие ли записът?"));
        } else {
            EXPECT_TRUE(p.shown.isEmpty());
        }
        EXPECT_TRUE(p.unexpected.isEmpty());
    }
}

TEST(DBNavigator2, BeforeActionComesFirstAndTheClickLast)
{
    TMemDataSet ds;
    fillAbc(ds);
    Nav nav;
    nav.setDataSet(&ds);
    QStringList events;
    QObject::connect(&nav, &Nav::beforeAction, [&](Nav::Button b) {
        events << QStringLiteral("before %1 at %2").arg(Nav::indexOf(b)).arg(ds.recNo());
    });
    QObject::connect(&nav, &Nav::clicked, [&](Nav::Button b) {
        events << QStringLiteral("click %1 at %2").arg(Nav::indexOf(b)).arg(ds.recNo());
    });

    nav.button(Nav::Next)->click();
    EXPECT_EQ(events, QStringList({"before 2 at 0", "click 2 at 1"}));

    // Without an active dataset there is nothing to act on, but the click is still reported.
    events.clear();
    ds.close();
    nav.btnClick(Nav::Last);
    EXPECT_EQ(events, QStringList({"click 3 at -1"}));
}

TEST(DBNavigator2, ButtonsFollowTheDataSetState)
{
    const Nav::Buttons moving = Nav::First | Nav::Prior | Nav::Next | Nav::Last;
    const Nav::Buttons browsing = Nav::Insert | Nav::Delete | Nav::Edit | Nav::Refresh;
    const Nav::Buttons editing = Nav::Insert | Nav::Delete | Nav::Post | Nav::Cancel | Nav::Refresh;
    struct Case {
        const char* name;
        std::function<void(TMemDataSet&, Nav&)> arrange;
        Nav::Buttons enabled;
    };
    const Case cases[] = {
        {"no dataset", [](TMemDataSet&, Nav& nav) { nav.setDataSet(nullptr); }, {}},
        {"closed", [](TMemDataSet& ds, Nav&) { ds.close(); }, {}},
        {"empty", [](TMemDataSet& ds, Nav&) { ds.clearRows(); }, Nav::Insert | Nav::Refresh},
        {"first row", [](TMemDataSet& ds, Nav&) { ds.first(); }, Nav::Next | Nav::Last | browsing},
        {"middle row", [](TMemDataSet& ds, Nav&) { ds.setRecNo(1); }, moving | browsing},
        {"last row", [](TMemDataSet& ds, Nav&) { ds.last(); }, Nav::First | Nav::Prior | browsing},
        {"edit pressed", [](TMemDataSet& ds, Nav& nav) {
             ds.setRecNo(1);
             nav.button(Nav::Edit)->click();
         }, moving | editing},
        {"value set elsewhere", [](TMemDataSet& ds, Nav&) {
             ds.setRecNo(1);
             ds.setValue(0, QStringLiteral("x"));
         }, moving | editing},
        {"insert pressed", [](TMemDataSet&, Nav& nav) { nav.button(Nav::Insert)->click(); },
         Nav::First | Nav::Prior | editing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TMemDataSet ds;
        fillAbc(ds);
        Nav nav;
        nav.setDataSet(&ds);
        c.arrange(ds, nav);
        EXPECT_EQ(enabledButtons(nav), c.enabled);
    }
}

TEST(DBNavigator2, ForgetsADeletedDataSet)
{
    Nav nav;
    {
        TMemDataSet ds;
        fillAbc(ds);
        nav.setDataSet(&ds);
    }
    EXPECT_EQ(nav.dataSet(), nullptr);
    EXPECT_EQ(enabledButtons(nav), Nav::Buttons());
    nav.btnClick(Nav::Next);
}

TEST(DBNavigator2, VisibleButtonsShareTheWidth)
{
    Nav nav;
    nav.setVisibleButtons(Nav::First | Nav::Next | Nav::Delete);
    nav.resize(100, 30);
    nav.show();
    for (int i = 0; i < Nav::ButtonCount; ++i) {
        const Nav::Button b = Nav::buttonAt(i);
        EXPECT_EQ(nav.button(b)->isVisibleTo(&nav), nav.visibleButtons().testFlag(b)) << i;
    }
    EXPECT_EQ(nav.button(Nav::First)->geometry(), QRect(0, 0, 34, 30));
    EXPECT_EQ(nav.button(Nav::Next)->geometry(), QRect(34, 0, 33, 30));
    EXPECT_EQ(nav.button(Nav::Delete)->geometry(), QRect(67, 0, 33, 30));
}

TEST(DBNavigator2, LeftAndRightMoveAmongVisibleButtonsAndSpacePresses)
{
    TMemDataSet ds;
    fillAbc(ds);
    Nav nav;
    nav.setDataSet(&ds);
    nav.setVisibleButtons(Nav::Prior | Nav::Next | Nav::Last | Nav::Delete);
    EXPECT_EQ(nav.focusedButton(), Nav::Prior); // the hidden first button cannot keep it

    pressKey(nav, Qt::Key_Left);
    EXPECT_EQ(nav.focusedButton(), Nav::Prior);
    pressKey(nav, Qt::Key_Right);
    EXPECT_EQ(nav.focusedButton(), Nav::Next);
    pressKey(nav, Qt::Key_Space);
    EXPECT_EQ(ds.recNo(), 1);

    pressKey(nav, Qt::Key_Right);
    pressKey(nav, Qt::Key_Right);
    EXPECT_EQ(nav.focusedButton(), Nav::Delete);
    pressKey(nav, Qt::Key_Right);
    EXPECT_EQ(nav.focusedButton(), Nav::Delete);

    pressKey(nav, Qt::Key_Left);
    EXPECT_EQ(nav.focusedButton(), Nav::Last);
    pressKey(nav, Qt::Key_Space);
    EXPECT_EQ(ds.recNo(), 2);
    // Last is disabled now: Space does nothing.
    ds.setRecNo(0);
    ds.last();
    pressKey(nav, Qt::Key_Space);
    EXPECT_EQ(ds.recNo(), 2);
}

// ---- Group box -------------------------------------------------------------------------------

struct RadioBox {
    TBetterGroupBox box{QStringLiteral("Избор")};
    QRadioButton* rb[3];
    RadioBox()
    {
        auto* layout = new QVBoxLayout(&box);
        for (int i = 0; i < 3; ++i) {
            rb[i] = new QRadioButton(QStringLiteral("r%1").arg(i), &box);
            rb[i]->setProperty("tag", i);
            layout->addWidget(rb[i]);
        }
        box.resize(200, 120);
    }
};

TEST(TBetterGroupBox, RbItemIndexReadsAndSelectsByTag)
{
    RadioBox f;
    EXPECT_EQ(f.box.rbItemIndex(), -1);

    f.rb[1]->setChecked(true);
    EXPECT_EQ(f.box.rbItemIndex(), 1);

    f.box.setRbItemIndex(2);
    EXPECT_TRUE(f.rb[2]->isChecked());
    EXPECT_FALSE(f.rb[1]->isChecked());
    EXPECT_EQ(f.box.rbItemIndex(), 2);

    f.box.setRbItemIndex(7);
    EXPECT_TRUE(f.rb[2]->isChecked());
}

TEST(TBetterGroupBox, RbGetIndexFuncReplacesTheTagUntilCleared)
{
    RadioBox f;
    f.box.setRbGetIndexFunc([](QWidget* w) { return w->property("tag").toInt() * 10; });
    f.box.setRbItemIndex(20);
    EXPECT_TRUE(f.rb[2]->isChecked());
    EXPECT_EQ(f.box.rbItemIndex(), 20);

    f.box.setRbGetIndexFunc({});
    EXPECT_EQ(f.box.rbItemIndex(), 2);
    EXPECT_EQ(TBetterGroupBox::defaultIndexOf(new QLineEdit(&f.box)), -1);
}

TEST(TBetterGroupBox, UntickingTheEnableButtonDisablesEveryChild)
{
    RadioBox f;
    auto* edit = new QLineEdit(&f.box);
    auto* inner = new QWidget(&f.box);
    auto* deep = new QLineEdit(inner);
    QList<bool> reported;
    QObject::connect(&f.box, &TBetterGroupBox::OnCheck, [&](bool on) { reported << on; });
    const QList<QWidget*> children{f.rb[0], f.rb[1], f.rb[2], edit, inner, deep};

    pressMouse(f.box, TBetterGroupBox::enableBtnRect().center());
    EXPECT_FALSE(f.box.isChecked());
    EXPECT_TRUE(f.box.isEnabled());
    for (QWidget* w : children)
        EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();

    pressMouse(f.box, TBetterGroupBox::enableBtnRect().center());
    EXPECT_TRUE(f.box.isChecked());
    for (QWidget* w : children)
        EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();

    f.box.setChecked(false);
    EXPECT_FALSE(edit->isEnabled());
    EXPECT_EQ(reported, QList<bool>({false, true, false}));
}

TEST(TBetterGroupBox, MinimiseButtonFoldsAndUnfoldsToTheFormerHeight)
{
    RadioBox f;
    QList<bool> reported;
    QObject::connect(&f.box, &TBetterGroupBox::OnMinimize, [&](bool folded) { reported << folded; });

    pressMouse(f.box, f.box.minimizeBtnRect().center());
    EXPECT_TRUE(f.box.isFolded());
    EXPECT_EQ(f.box.height(), f.box.foldedHeight());
    // 14 pixels, or the caption's height where the font is larger.
    EXPECT_EQ(f.box.foldedHeight(), std::max(14, f.box.fontMetrics().height()));
    QFont large = f.box.font();
    large.setPixelSize(30);
    f.box.setFont(large);
    EXPECT_EQ(f.box.height(), f.box.fontMetrics().height());
    f.box.setFont(QFont());
    EXPECT_EQ(f.box.height(), f.box.foldedHeight());

    pressMouse(f.box, f.box.minimizeBtnRect().center());
    EXPECT_FALSE(f.box.isFolded());
    EXPECT_EQ(f.box.height(), 120);
    EXPECT_EQ(reported, QList<bool>({true, false}));

    f.box.setFolded(false);
    EXPECT_EQ(reported.size(), 2);
    f.box.setFolded(true);
    EXPECT_EQ(f.box.height(), f.box.foldedHeight());
    f.box.resize(200, 300); // a folded box keeps its fold
    EXPECT_EQ(f.box.height(), f.box.foldedHeight());
    f.box.setFolded(false);
    EXPECT_EQ(f.box.height(), 120);
}

TEST(TBetterGroupBox, FoldsInsideALayoutAndGetsItsRoomBack)
{
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    auto* box = new TBetterGroupBox(QStringLiteral("Права"), &form);
    layout->addWidget(box);
    layout->addWidget(new QLineEdit(&form));
    form.resize(300, 400);
    layout->activate();
    const int unfolded = box->height();
    ASSERT_GT(unfolded, 100);

    box->setFolded(true);
    layout->activate();
    EXPECT_EQ(box->height(), box->foldedHeight());

    box->setFolded(false);
    layout->activate();
    EXPECT_EQ(box->height(), unfolded);
}

TEST(TBetterGroupBox, OnlyLeftPressesInsideShownButtonsAct)
{
    struct Case {
        const char* name;
        bool showEnable;
        bool showMinimize;
        std::function<QPoint(const TBetterGroupBox&)> where;
        Qt::MouseButton button;
        bool checked;
        bool folded;
    };
    const auto enable = [](const TBetterGroupBox&) { return TBetterGroupBox::enableBtnRect().center(); };
    const auto minimize = [](const TBetterGroupBox& b) { return b.minimizeBtnRect().center(); };
    const Case cases[] = {
        {"right button on enable", true, true, enable, Qt::RightButton, true, false},
        {"right button on minimise", true, true, minimize, Qt::RightButton, true, false},
        {"hidden enable button", false, true, enable, Qt::LeftButton, true, false},
        {"hidden minimise button", true, false, minimize, Qt::LeftButton, true, false},
        {"just past the enable button", true, true, [](const TBetterGroupBox&) { return QPoint(14, 8); }, Qt::LeftButton, true, false},
        {"edge of the enable button", true, true, [](const TBetterGroupBox&) { return QPoint(2, 13); }, Qt::LeftButton, false, false},
        {"just past the minimise button", true, true,
         [](const TBetterGroupBox& b) { return QPoint(b.width() - 4, 8); }, Qt::LeftButton, true, false},
        {"inside the frame", true, true, [](const TBetterGroupBox&) { return QPoint(100, 60); }, Qt::LeftButton, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RadioBox f;
        f.box.setShowEnableBtn(c.showEnable);
        f.box.setShowMinimizeBtn(c.showMinimize);
        pressMouse(f.box, c.where(f.box), c.button);
        EXPECT_EQ(f.box.isChecked(), c.checked);
        EXPECT_EQ(f.box.isFolded(), c.folded);
        EXPECT_EQ(f.rb[0]->isEnabled(), c.checked);
    }
}

// A form with a field before and after a box that holds a field, a button and a radio button.
struct FocusForm {
    QWidget form;
    QLineEdit* before = new QLineEdit(&form);
    TBetterGroupBox* box = new TBetterGroupBox(QStringLiteral("Отдалечен достъп"), &form);
    QLineEdit* inner = new QLineEdit(box);
    QPushButton* press = new QPushButton(QStringLiteral("Разрешава"), box);
    QRadioButton* radio = new QRadioButton(QStringLiteral("r"), box);
    QLineEdit* after = new QLineEdit(&form);
    int pressed = 0;

    FocusForm()
    {
        auto* boxLayout = new QHBoxLayout(box);
        boxLayout->addWidget(inner);
        boxLayout->addWidget(press);
        boxLayout->addWidget(radio);
        auto* layout = new QVBoxLayout(&form);
        layout->addWidget(before);
        layout->addWidget(box);
        layout->addWidget(after);
        QObject::connect(press, &QPushButton::clicked, [this] { ++pressed; });
    }
    bool show()
    {
        form.show();
        form.activateWindow();
        return QTest::qWaitForWindowActive(&form);
    }
    // The controls Tab (or Shift+Tab) visits from one field to the other.
    QList<QWidget*> chain(bool forward)
    {
        QWidget* from = forward ? before : after;
        QWidget* to = forward ? after : before;
        from->setFocus();
        QList<QWidget*> visited;
        for (int step = 0; step < 10 && QApplication::focusWidget() != to; ++step) {
            QTest::keyClick(QApplication::focusWidget(), forward ? Qt::Key_Tab : Qt::Key_Backtab, forward ? Qt::NoModifier : Qt::ShiftModifier);
            if (QApplication::focusWidget() != to)
                visited << QApplication::focusWidget();
        }
        return visited;
    }
};

// Folded, the box is one Tab stop: its controls are out of the chain and out of reach of Space;
// unfolded, they are back in their order.
TEST(TBetterGroupBox, FoldedBoxTakesItsControlsOutOfTheTabChain)
{
    FocusForm f;
    ASSERT_TRUE(f.show());
    const QList<QWidget*> open{f.box, f.inner, f.press, f.radio};
    EXPECT_EQ(f.chain(true), open);

    f.box->setFolded(true);
    EXPECT_EQ(f.chain(true), QList<QWidget*>{f.box});
    EXPECT_EQ(f.chain(false), QList<QWidget*>{f.box});

    f.box->setFolded(false);
    EXPECT_EQ(f.chain(true), open);
    EXPECT_TRUE(f.press->isVisible());

    // Folding with the focus on a control inside leaves the focus on the box, where Space
    // unfolds it and presses nothing hidden.
    f.press->setFocus();
    QTest::keyClick(f.press, Qt::Key_F9);
    EXPECT_TRUE(f.box->isFolded());
    EXPECT_EQ(QApplication::focusWidget(), f.box);
    EXPECT_FALSE(f.press->isVisible());
    QTest::keyClick(f.box, Qt::Key_Space);
    EXPECT_EQ(f.pressed, 0);
    EXPECT_FALSE(f.box->isFolded());
    EXPECT_TRUE(f.press->isVisible());
}

// The minimise button says what it does and which key does it; the key can be changed, and a
// box without the button is no Tab stop and takes no key.
TEST(TBetterGroupBox, FoldButtonHasAHintAndAKey)
{
    FocusForm f;
    ASSERT_TRUE(f.show());
    EXPECT_EQ(f.box->minimizeBtnHint(), QStringLiteral("Свиване (F9)"));
    QHelpEvent help(QEvent::ToolTip, f.box->minimizeBtnRect().center(), f.box->mapToGlobal(f.box->minimizeBtnRect().center()));
    QCoreApplication::sendEvent(f.box, &help);
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Свиване (F9)"));

    f.inner->setFocus();
    QTest::keyClick(f.inner, Qt::Key_F9);
    EXPECT_TRUE(f.box->isFolded());
    EXPECT_EQ(f.box->minimizeBtnHint(), QStringLiteral("Разгъване (F9)"));
    QTest::keyClick(f.box, Qt::Key_F9);
    EXPECT_FALSE(f.box->isFolded());

    // The key belongs to the box holding the focus: elsewhere it does nothing.
    f.after->setFocus();
    QTest::keyClick(f.after, Qt::Key_F9);
    EXPECT_FALSE(f.box->isFolded());

    f.box->setFoldKey(QKeySequence(Qt::ALT | Qt::Key_M));
    EXPECT_EQ(f.box->minimizeBtnHint(), QStringLiteral("Свиване (Alt+M)"));
    f.inner->setFocus();
    QTest::keyClick(f.inner, Qt::Key_F9);
    EXPECT_FALSE(f.box->isFolded());
    QTest::keyClick(f.inner, Qt::Key_M, Qt::AltModifier);
    EXPECT_TRUE(f.box->isFolded());
    f.box->setFolded(false);

    f.box->setShowMinimizeBtn(false);
    EXPECT_EQ(f.chain(true), (QList<QWidget*>{f.inner, f.press, f.radio}));
    f.inner->setFocus();
    QTest::keyClick(f.inner, Qt::Key_M, Qt::AltModifier);
    EXPECT_FALSE(f.box->isFolded());
}

// A folded box keeps the width it asked for, so folding does not rearrange its row.
TEST(TBetterGroupBox, FoldedBoxKeepsItsWidth)
{
    FocusForm f;
    const QSize hint = f.box->sizeHint();
    const QSize minimum = f.box->minimumSizeHint();
    f.box->setFolded(true);
    EXPECT_EQ(f.box->sizeHint(), QSize(hint.width(), f.box->foldedHeight()));
    EXPECT_EQ(f.box->minimumSizeHint().width(), minimum.width());
    f.box->setFolded(false);
    EXPECT_EQ(f.box->sizeHint(), hint);
}

TEST(TBetterGroupBox, DrawsTheButtonsStateInTheirRectangles)
{
    RadioBox f;
    f.box.resize(200, 40);
    const auto region = [&f](const QRect& r) { return f.box.grab().toImage().copy(r); };

    const QImage ticked = region(TBetterGroupBox::enableBtnRect());
    f.box.setChecked(false);
    EXPECT_NE(region(TBetterGroupBox::enableBtnRect()), ticked);

    const QRect minimize = f.box.minimizeBtnRect();
    const QImage unfolded = region(minimize);
    f.box.setFolded(true);
    EXPECT_NE(region(minimize), unfolded);

    f.box.setShowEnableBtn(false);
    f.box.setShowMinimizeBtn(false);
    const QImage bare = f.box.grab().toImage();
    EXPECT_NE(bare.copy(minimize), unfolded);
}

} // namespace
