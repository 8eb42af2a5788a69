#pragma once

#include "ListBoxFilterEngine.h"

#include <QColor>
#include <QLineEdit>
#include <QListView>
#include <QPointer>

#include <memory>
#include <vector>

class QAction;
class QMenu;

// A borderless hint that never takes activation: background colour, hint text colour, the text
// word-wrapped 2 pixels in from the corner, its height fitted to the text.
class TBetterHintWindow : public QWidget {
    Q_OBJECT
public:
    explicit TBetterHintWindow(QWidget* owner);

    void setHintBkColor(const QColor& color);
    void ActivateHint(const QPoint& globalTopLeft, int width, const QString& text);
    const QString& Text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_color;
};

// The sorted list of a shared pop-up. It never takes the keyboard focus: the combo box keeps it
// and hands the list its keys while the list is shown. Each item carries its source index, the
// item's position in the combo box's Items.
class THintListBox : public QListView {
    Q_OBJECT
public:
    explicit THintListBox(QWidget* parent = nullptr) : THintListBox(false, parent) {}

    THintListModel* Model() const { return m_model; }
    TListBoxFilterEngine* Engine() const { return m_engine; }
    TFilterType FilterType() const { return m_engine->FilterType(); }
    void setFilterType(TFilterType type) { m_engine->setFilterType(type); }

    // New items: every one shown, typed text cleared.
    void Fill(const QStringList& items);
    const QString& TypedText() const { return m_typedText; }
    void setTypedText(const QString& text); // applied through the engine
    void AppendTyped(QChar c);
    void DeleteTyped();
    void ClearTyped() { m_typedText.clear(); }
    void Navigate(int key); // Up, Down, PageUp, PageDown, Home, End

    int SelectedRow() const;
    int SelectedSource() const { return m_model->SourceIndex(SelectedRow()); }
    QString SelectedText() const { return m_model->Text(SelectedRow()); }
    void SelectRow(int row); // -1 selects nothing
    QStringList VisibleItems() const { return m_model->VisibleTexts(); }
    int ItemHeight() const;

    TBetterHintWindow* HintWindow() const { return m_hint.get(); }
    void HideHint();

protected:
    THintListBox(bool checkable, QWidget* parent);
    // Where the full-text hint of a row goes, in global coordinates.
    virtual QPoint HintPos(int row) const;
    // Called on a left-button release over the list; the plain list closes accepting.
    virtual void ItemReleased(QMouseEvent* event);

    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateHint(const QPoint& pos);

    THintListModel* m_model;
    TListBoxFilterEngine* m_engine;
    QString m_typedText;
    int m_lastHinted = -1;
    std::unique_ptr<TBetterHintWindow> m_hint;
};

// The same list with check boxes and a context menu over the current combo box's marks.
class THintCheckListBox : public THintListBox {
    Q_OBJECT
public:
    enum Command { cmMarkAll, cmUnmarkAll, cmInvert, cmShowMarked, cmShowUnmarked };

    explicit THintCheckListBox(QWidget* parent = nullptr);

    QMenu* Menu() const { return m_menu; }
    QAction* Action(Command command) const { return m_actions[command]; }
    void RunCommand(Command command);
    void ToggleSelected();
    bool IsChecked(int source) const { return Model()->IsChecked(source); }
    void ShowMenu(const QPoint& globalPos);

protected:
    QPoint HintPos(int row) const override;
    void ItemReleased(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QMenu* m_menu;
    QAction* m_actions[5];
};

// An item's object in record mode.
struct TIdRecord {
    qint32 id = 0;
    QString text;
};

// An editable combo box whose drop-down narrows while the user types. Its list lives in one of
// two pop-ups shared by every such combo box; one of them is shown at a time, for Current().
class TComboBoxNew : public QLineEdit {
    Q_OBJECT
public:
    enum TIdMode { imId, imRecord };

    explicit TComboBoxNew(QWidget* parent = nullptr);
    ~TComboBoxNew() override;

    // Items; an item's object is its id (imId) or an owned record (imRecord).
    const QStringList& Items() const { return m_items; }
    void setItems(const QStringList& items); // every id 0, no records
    int AddItem(const QString& text, qint32 id = 0);
    int AddItem(const QString& text, const TIdRecord& record);
    qint32 ItemId(int index) const;
    const TIdRecord* Record(int index) const;
    TIdMode IdMode() const { return m_idMode; }
    void setIdMode(TIdMode mode) { m_idMode = mode; }
    void Clear();

    int ItemIndex() const { return m_itemIndex; }
    void setItemIndex(int index);
    qint32 Idx() const;
    bool SetIdx(qint32 id);

    TFilterType FilterType() const { return m_filterType; }
    void setFilterType(TFilterType type) { m_filterType = type; }
    int DropDownCount() const { return m_dropDownCount; }
    void setDropDownCount(int count) { m_dropDownCount = count; }
    int DropDownWidth() const { return m_dropDownWidth; }
    void setDropDownWidth(int width) { m_dropDownWidth = width; }
    bool AllowNewValues() const { return m_allowNewValues; }
    void setAllowNewValues(bool allow) { m_allowNewValues = allow; }
    bool WithCheckBoxes() const { return m_withCheckBoxes; }
    void setWithCheckBoxes(bool with);
    QColor HintBkColor() const { return m_hintBkColor; }
    void setHintBkColor(const QColor& color) { m_hintBkColor = color; }

    // Marks (check-box mode): source indices.
    const QList<int>& MarkedList() const { return m_marked; }
    void setMarkedList(const QList<int>& marked);
    bool IsMarked(int index) const { return m_marked.contains(index); }
    void SetMarked(int index, bool marked);

    bool DroppedDown() const { return m_droppedDown; }
    void DropDown();
    void CloseUp(bool accept);

    // The list of this combo box's kind, in its shared pop-up.
    THintListBox* ListBox() const;
    QWidget* PopupWindow() const;
    static TComboBoxNew* Current();

    TBetterHintWindow* HintWindow() const { return m_hint.get(); }
    QString HintText() const;

signals:
    void OnChange();
    void OnDropdown();
    void OnClose();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct ItemObject {
        qint32 id = 0;
        std::unique_ptr<TIdRecord> record;
    };

    QRect ButtonRect() const;
    void ListKey(QKeyEvent* event);
    void ShowHint();
    void FreeHint() { m_hint.reset(); }
    int IndexOfText(const QString& text) const; // case ignored; -1 when no item
    void SetTextQuietly(const QString& text);
    void DropOutOfRange();

    QStringList m_items;
    std::vector<ItemObject> m_objects;
    TIdMode m_idMode = imId;
    int m_itemIndex = -1;
    TFilterType m_filterType = ftContaining;
    int m_dropDownCount = 8;
    int m_dropDownWidth = 0;
    bool m_allowNewValues = false;
    bool m_withCheckBoxes = false;
    QColor m_hintBkColor;
    QList<int> m_marked;
    bool m_droppedDown = false;
    bool m_buttonPressed = false;
    bool m_buttonCaptured = false;
    bool m_buttonHot = false;
    bool m_closing = false;
    bool m_quietText = false;
    std::unique_ptr<TBetterHintWindow> m_hint;
};
