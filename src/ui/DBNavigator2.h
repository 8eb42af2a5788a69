#pragma once

#include "MemDataSet.h"

#include <QPointer>
#include <QStringList>
#include <QToolButton>
#include <QWidget>

#include <array>

class TDBNavigator2;

// The navigator's own texts, in button order.
namespace NavigatorText {
inline const QStringList Hints = {
    QStringLiteral("Първи запис"), QStringLiteral("Предишен запис"), QStringLiteral("Следващ запис"),
    QStringLiteral("Последен запис"), QStringLiteral("Вмъкване"), QStringLiteral("Изтриване"),
    QStringLiteral("Редактиране"), QStringLiteral("Запис на редакциите"), QStringLiteral("Отказ от редакциите"),
    QStringLiteral("Обновяване")};
inline const QStringList Captions = {
    QStringLiteral("Първи"), QStringLiteral("Предишен"), QStringLiteral("Следващ"), QStringLiteral("Последен"),
    QStringLiteral("Вмъкване"), QStringLiteral("Изтриване"), QStringLiteral("Редактиране"), QStringLiteral("Запис"),
    QStringLiteral("Отказ"), QStringLiteral("Обновяване")};
inline const QString DeleteQuestion = QStringLiteral("Да се изтрие ли записът?");
} // namespace NavigatorText

// One button of the navigator. The navigator, not the button, holds the keyboard focus, so
// the button draws the focus frame when it is the navigator's focused one.
class TNavButton2 : public QToolButton {
    Q_OBJECT
public:
    TNavButton2(TDBNavigator2* navigator, int index);
    int index() const { return m_index; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TDBNavigator2* m_navigator;
    int m_index;
};

// A row of buttons that move through and edit a dataset, with Bulgarian captions under the
// glyphs and Bulgarian hints.
class TDBNavigator2 : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QStringList Hints READ hints WRITE setHints)
    Q_PROPERTY(bool ShowCaptions READ showCaptions WRITE setShowCaptions)
    Q_PROPERTY(bool ConfirmDelete READ confirmDelete WRITE setConfirmDelete)
    Q_PROPERTY(Buttons VisibleButtons READ visibleButtons WRITE setVisibleButtons)
public:
    enum Button {
        First = 1 << 0,
        Prior = 1 << 1,
        Next = 1 << 2,
        Last = 1 << 3,
        Insert = 1 << 4,
        Delete = 1 << 5,
        Edit = 1 << 6,
        Post = 1 << 7,
        Cancel = 1 << 8,
        Refresh = 1 << 9,
    };
    Q_DECLARE_FLAGS(Buttons, Button)
    Q_FLAG(Buttons)
    static constexpr int ButtonCount = 10;
    static constexpr Buttons AllButtons = Buttons::fromInt((1 << ButtonCount) - 1);

    explicit TDBNavigator2(QWidget* parent = nullptr);

    void setDataSet(TMemDataSet* dataSet);
    TMemDataSet* dataSet() const { return m_dataSet; }

    // One hint per button in button order; missing lines keep the default hint.
    QStringList hints() const;
    void setHints(const QStringList& hints);

    bool showCaptions() const { return m_showCaptions; }
    void setShowCaptions(bool on);
    bool confirmDelete() const { return m_confirmDelete; }
    void setConfirmDelete(bool on) { m_confirmDelete = on; }
    Buttons visibleButtons() const { return m_visible; }
    void setVisibleButtons(Buttons buttons);

    TNavButton2* button(Button which) const;
    // The button that Space presses; moves with Left and Right.
    Button focusedButton() const { return buttonAt(m_focused); }

    // What a click on the button does, whether or not the button is enabled.
    void btnClick(Button which);
    // The dataset does not announce edit-state changes made by others; call this after them.
    void updateButtons();

    static int indexOf(Button which);
    static Button buttonAt(int index) { return static_cast<Button>(1 << index); }

signals:
    void beforeAction(TDBNavigator2::Button button);
    void clicked(TDBNavigator2::Button button);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    friend class TNavButton2;
    void layoutButtons();
    void setFocusedIndex(int index);
    void applyCaptions();
    void applyGlyphs();
    bool hasActiveDataSet() const { return m_dataSet && m_dataSet->active(); }

    std::array<TNavButton2*, ButtonCount> m_buttons{};
    QPointer<TMemDataSet> m_dataSet;
    Buttons m_visible = AllButtons;
    bool m_showCaptions = true;
    bool m_confirmDelete = true;
    int m_focused = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TDBNavigator2::Buttons)
