// The real Qt prompts, offscreen: which button Enter presses, and input boxes that fit.
#include "app/QtPrompts.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs check on the modal box that the next call opens, once it is shown and active.
void onModal(std::function<void(QWidget*)> check)
{
    QTimer::singleShot(0, [check] {
        QWidget* box = nullptr;
        EXPECT_TRUE(QTest::qWaitFor([&] { return (box = QApplication::activeModalWidget()) != nullptr; }));
        if (!box)
            return;
        EXPECT_TRUE(QTest::qWaitForWindowActive(box));
        check(box);
    });
}

} // namespace

// Enter answers with the button that has the focus, and that must be the default answer.
TEST(QtPrompts, EnterGivesTheDefaultAnswer)
{
    struct Case {
        const char* name;
        Prompts::Icon icon;
        Prompts::Answer defaultAnswer;
        bool expected;
        QMessageBox::Icon boxIcon;
    };
    const Case cases[] = {
        {"destructiveWarning", Prompts::Icon::Warning, Prompts::Answer::No, false, QMessageBox::Warning},
        {"errorStyleQuestion", Prompts::Icon::Error, Prompts::Answer::No, false, QMessageBox::Critical},
        {"plainQuestion", Prompts::Icon::Question, Prompts::Answer::Yes, true, QMessageBox::Question},
    };
    QtPrompts prompts;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString focused;
        onModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->icon(), c.boxIcon);
            QWidget* focus = QApplication::focusWidget();
            ASSERT_TRUE(focus);
            if (auto* b = qobject_cast<QPushButton*>(focus))
                focused = b->text();
            QTest::keyClick(focus, Qt::Key_Return);
        });
        EXPECT_EQ(prompts.confirm(QStringLiteral("Наистина ли?"), c.icon, c.defaultAnswer), c.expected);
        EXPECT_EQ(focused, c.expected ? QtPromptsText::Yes : QtPromptsText::No);
    }
}

// The question about edits that would be lost: Esc keeps them (Cancel), Enter saves.
TEST(QtPrompts, SaveDiscardCancelQuestion)
{
    const struct {
        const char* name;
        Qt::Key key;
        Prompts::Answer expected;
    } cases[] = {
        {"escapeCancels", Qt::Key_Escape, Prompts::Answer::Cancel},
        {"enterSaves", Qt::Key_Return, Prompts::Answer::Yes},
    };
    QtPrompts prompts;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList buttons;
        onModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            QTest::keyClick(QApplication::focusWidget(), c.key);
        });
        EXPECT_EQ(prompts.askYesNoCancel(QStringLiteral("Да се запишат ли промените?"), Prompts::Icon::Warning), c.expected);
        buttons.sort();
        QStringList wanted{QtPromptsText::Yes, QtPromptsText::No, QtPromptsText::Cancel};
        wanted.sort();
        EXPECT_EQ(buttons, wanted);
    }
}

TEST(QtPrompts, InputBoxShowsItsWholeCaptionWithinTheScreen)
{
    QtPrompts prompts;
    const QString caption = QStringLiteral("Филтриране на потребителите - Gatekeep");
    int width = 0;
    int fits = 0;
    QStringList buttons;
    onModal([&](QWidget* w) {
        auto* dlg = qobject_cast<QInputDialog*>(w);
        ASSERT_TRUE(dlg);
        width = dlg->width();
        fits = dlg->fontMetrics().horizontalAdvance(caption);
        for (QPushButton* b : dlg->findChildren<QPushButton*>())
            buttons << b->text();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Iv"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    QString value = QStringLiteral("Петров ");
    ASSERT_TRUE(prompts.inputText(caption, QStringLiteral("Име:"), value));
    EXPECT_EQ(value, QStringLiteral("Петров Iv"));
    EXPECT_GE(width, fits + 100); // room for the title bar's own buttons
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QtPromptsText::Accept, QtPromptsText::Cancel}));

    // A caption wider than the screen gets the screen, not more.
    const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    onModal([&](QWidget* w) {
        width = w->width();
        QTest::keyClick(w, Qt::Key_Escape);
    });
    value.clear();
    EXPECT_FALSE(prompts.inputText(QString(400, QLatin1Char('W')), QStringLiteral("Име:"), value));
    EXPECT_LE(width, screenWidth);
    EXPECT_GT(width, screenWidth / 2);
}
