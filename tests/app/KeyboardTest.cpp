// Enter on a focused button, as the suite's other programs have it, offscreen.
#include "app/Keyboard.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

struct Counted {
    int clicks = 0;
    int returns = 0;
};

// A window with a button, a line edit and a check box, each counting what reaches it.
template <class Window>
struct Form {
    Form(Counted& c)
    {
        auto* central = new QWidget;
        auto* layout = new QVBoxLayout(central);
        button = new QPushButton(QStringLiteral("Търсене"), central);
        edit = new QLineEdit(central);
        check = new QCheckBox(QStringLiteral("Само маркирани"), central);
        layout->addWidget(edit);
        layout->addWidget(button);
        layout->addWidget(check);
        QObject::connect(button, &QPushButton::clicked, [&c] { ++c.clicks; });
        QObject::connect(edit, &QLineEdit::returnPressed, [&c] { ++c.returns; });
        if constexpr (std::is_same_v<Window, QMainWindow>) {
            window.setCentralWidget(central);
        } else {
            auto* outer = new QVBoxLayout(&window);
            outer->addWidget(central);
        }
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    Window window;
    QPushButton* button;
    QLineEdit* edit;
    QCheckBox* check;
};

template <class Window>
void checkEnter()
{
    InstallKeyboardConventions(*qApp);
    InstallKeyboardConventions(*qApp); // a second call adds nothing: one press is one click
    Counted c;
    Form<Window> f(c);

    f.button->setFocus();
    QTest::keyClick(f.button, Qt::Key_Return);
    EXPECT_EQ(c.clicks, 1);
    QTest::keyClick(f.button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(c.clicks, 2);
    QTest::keyClick(f.button, Qt::Key_Space);
    EXPECT_EQ(c.clicks, 3);

    // A dialog's Enter outside a button is the dialog's own (its default button).
    if constexpr (std::is_same_v<Window, QMainWindow>) {
        QTest::keyClick(f.button, Qt::Key_Return, Qt::ControlModifier);
        EXPECT_EQ(c.clicks, 3);

        // Enter in a line edit is the line edit's: it does not press a button.
        f.edit->setFocus();
        QTest::keyClick(f.edit, Qt::Key_Return);
        EXPECT_EQ(c.returns, 1);
        EXPECT_EQ(c.clicks, 3);

        // Nor does it tick a check box.
        f.check->setFocus();
        QTest::keyClick(f.check, Qt::Key_Return);
        EXPECT_FALSE(f.check->isChecked());
        EXPECT_EQ(c.clicks, 3);
    }
}

} // namespace

TEST(Keyboard, EnterPressesTheFocusedButtonOfAMainWindow) { checkEnter<QMainWindow>(); }

// Qt's dialogs press their own buttons on Enter; the convention must not make it twice.
TEST(Keyboard, EnterPressesTheFocusedButtonOfADialogOnce) { checkEnter<QDialog>(); }
