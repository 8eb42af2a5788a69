#include "ComboBoxNew.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStyleOptionButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWindow>

namespace {

// The texts of the check list's context menu, in the order of THintCheckListBox::Command.
const QString kCommandTexts[] = {
    QStringLiteral("Маркирай всички"),
    QStringLiteral("Отмаркирай всички"),
    QStringLiteral("Обърни маркери"),
    QStringLiteral("Покажи само маркирани"),
    QStringLiteral("Покажи само немаркирани"),
};
const QString kMarkedHint = QStringLiteral("Избрани : ");

constexpr Qt::WindowFlags kNoActivationWindow =
    Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

// A borderless window around a list. It never takes the activation from the form, so the form
// keeps its active caption and the combo box keeps the keyboard.
class TListPopup : public QWidget {
public:
    explicit TListPopup(THintListBox* list) : QWidget(nullptr, kNoActivationWindow), m_list(list)
    {
        setAttribute(Qt::WA_ShowWithoutActivating);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(1, 1, 1, 1);
        // The combo box decides the size, down to a single row.
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        layout->addWidget(list);
        resize(122, 100);
    }

    THintListBox* List() const { return m_list; }

    void ShowFor(QWidget* owner, const QRect& geometry)
    {
        setGeometry(geometry);
        // Tied to the owner's window so that a modal form does not block it.
        winId();
        if (QWindow* ownerWindow = owner->window()->windowHandle())
            windowHandle()->setTransientParent(ownerWindow);
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setPen(palette().color(QPalette::Shadow));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }

private:
    THintListBox* m_list;
};

TListPopup* s_plainPopup = nullptr;
TListPopup* s_checkPopup = nullptr;
QPointer<TComboBoxNew> s_current;

void FreePopups()
{
    delete s_plainPopup;
    s_plainPopup = nullptr;
    delete s_checkPopup;
    s_checkPopup = nullptr;
}

TListPopup* PopupFor(bool withCheckBoxes)
{
    if (!s_plainPopup) {
        s_plainPopup = new TListPopup(new THintListBox);
        s_checkPopup = new TListPopup(new THintCheckListBox);
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, qApp, &FreePopups);
        qAddPostRoutine(&FreePopups);
    }
    return withCheckBoxes ? s_checkPopup : s_plainPopup;
}

bool IsPrintable(const QKeyEvent* event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event->text();
    return text.size() == 1 && text[0].unicode() > 31 && text[0].unicode() != 127;
}

QList<int> AllBut(const QList<int>& sources, int count)
{
    std::vector<bool> in(static_cast<size_t>(count), false);
    for (int s : sources)
        if (s >= 0 && s < count)
            in[static_cast<size_t>(s)] = true;
    QList<int> out;
    for (int i = 0; i < count; ++i)
        if (!in[static_cast<size_t>(i)])
            out << i;
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TBetterHintWindow

TBetterHintWindow::TBetterHintWindow(QWidget* owner)
    : QWidget(owner, kNoActivationWindow), m_color(QToolTip::palette().color(QPalette::ToolTipBase))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFont(QToolTip::font());
}

void TBetterHintWindow::setHintBkColor(const QColor& color)
{
    m_color = color;
    update();
}

void TBetterHintWindow::ActivateHint(const QPoint& globalTopLeft, int width, const QString& text)
{
    m_text = text;
    const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, width - 4, 1 << 20), Qt::TextWordWrap, text);
    setGeometry(globalTopLeft.x(), globalTopLeft.y(), width, bounds.height() + 4);
    update();
    if (isVisible())
        raise();
    else
        show();
}

void TBetterHintWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), m_color);
    p.setPen(QToolTip::palette().color(QPalette::ToolTipText));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.drawText(rect().adjusted(2, 2, -2, -2), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_text);
}

// ---------------------------------------------------------------------------------------------
// THintListBox

THintListBox::THintListBox(bool checkable, QWidget* parent)
    : QListView(parent), m_model(new THintListModel(checkable, this)), m_engine(new TListBoxFilterEngine(this))
{
    setModel(m_model);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
}

void THintListBox::Fill(const QStringList& items)
{
    HideHint();
    m_typedText.clear();
    m_model->SetItems(items);
    m_engine->Reset();
}

void THintListBox::setTypedText(const QString& text)
{
    m_typedText = text;
    m_engine->ApplyText(m_typedText);
}

void THintListBox::AppendTyped(QChar c)
{
    m_typedText += c;
    m_engine->ApplyText(m_typedText);
}

void THintListBox::DeleteTyped()
{
    m_typedText.chop(1);
    m_engine->ApplyText(m_typedText);
}

void THintListBox::Navigate(int key)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const int current = SelectedRow();
    const int page = qMax(1, viewport()->height() / qMax(1, ItemHeight()) - 1);
    int row = current;
    switch (key) {
    case Qt::Key_Up:
        row = current < 0 ? 0 : current - 1;
        break;
    case Qt::Key_Down:
        row = current + 1;
        break;
    case Qt::Key_PageUp:
        row = current - page;
        break;
    case Qt::Key_PageDown:
        row = qMax(current, 0) + page;
        break;
    case Qt::Key_Home:
        row = 0;
        break;
    case Qt::Key_End:
        row = rows - 1;
        break;
    default:
        return;
    }
    SelectRow(qBound(0, row, rows - 1));
}

int THintListBox::SelectedRow() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void THintListBox::SelectRow(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clear();
        return;
    }
    const QModelIndex index = m_model->index(row);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

int THintListBox::ItemHeight() const
{
    return m_model->rowCount() > 0 ? sizeHintForRow(0) : fontMetrics().height() + 2;
}

void THintListBox::HideHint()
{
    if (m_hint)
        m_hint->hide();
    m_lastHinted = -1;
}

QPoint THintListBox::HintPos(int) const { return mapToGlobal(QPoint(0, height())); }

void THintListBox::ItemReleased(QMouseEvent* event)
{
    QListView::mouseReleaseEvent(event);
    if (TComboBoxNew* combo = TComboBoxNew::Current(); combo && combo->ListBox() == this)
        combo->CloseUp(true);
}

void THintListBox::mouseMoveEvent(QMouseEvent* event)
{
    QListView::mouseMoveEvent(event);
    UpdateHint(event->position().toPoint());
}

void THintListBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        ItemReleased(event);
    else
        QListView::mouseReleaseEvent(event);
}

void THintListBox::leaveEvent(QEvent* event)
{
    HideHint();
    QListView::leaveEvent(event);
}

void THintListBox::hideEvent(QHideEvent* event)
{
    HideHint();
    QListView::hideEvent(event);
}

void THintListBox::scrollContentsBy(int dx, int dy)
{
    HideHint();
    QListView::scrollContentsBy(dx, dy);
}

void THintListBox::UpdateHint(const QPoint& pos)
{
    const int row = indexAt(pos).row();
    if (row == m_lastHinted)
        return;
    HideHint();
    m_lastHinted = row;
    if (row < 0)
        return;
    const QString text = m_model->Text(row);
    const int textWidth = fontMetrics().horizontalAdvance(text);
    if (textWidth <= width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) - 8)
        return;
    if (!m_hint)
        m_hint = std::make_unique<TBetterHintWindow>(this);
    m_hint->ActivateHint(HintPos(row), textWidth + 10, text);
}

// ---------------------------------------------------------------------------------------------
// THintCheckListBox

THintCheckListBox::THintCheckListBox(QWidget* parent) : THintListBox(true, parent), m_menu(new QMenu(this))
{
    for (int i = cmMarkAll; i <= cmShowUnmarked; ++i) {
        m_actions[i] = m_menu->addAction(kCommandTexts[i]);
        connect(m_actions[i], &QAction::triggered, this, [this, i] { RunCommand(static_cast<Command>(i)); });
    }
}

void THintCheckListBox::RunCommand(Command command)
{
    TComboBoxNew* combo = TComboBoxNew::Current();
    if (!combo || !combo->WithCheckBoxes())
        return;
    // Boxes ticked in the open list count as marks: the user acts on what is on the screen.
    QList<int> marked = Model()->CheckedSources();
    const int count = Model()->ItemCount();
    switch (command) {
    case cmMarkAll:
        marked = AllBut({}, count);
        break;
    case cmUnmarkAll:
        marked.clear();
        break;
    case cmInvert:
        marked = AllBut(marked, count);
        break;
    case cmShowMarked:
    case cmShowUnmarked:
        // Showing a part of the list changes no mark: the ticks become marks only when the list
        // closes accepting, and Esc leaves the marks as they were.
        Engine()->ShowOnly(command == cmShowMarked ? marked : AllBut(marked, count));
        return;
    }
    combo->setMarkedList(marked);
    Model()->SetCheckedSources(combo->MarkedList());
}

void THintCheckListBox::ToggleSelected()
{
    const int source = SelectedSource();
    if (source >= 0)
        Model()->SetChecked(source, !Model()->IsChecked(source));
}

void THintCheckListBox::ShowMenu(const QPoint& globalPos)
{
    HideHint();
    m_menu->exec(globalPos);
}

QPoint THintCheckListBox::HintPos(int row) const
{
    const QRect item = visualRect(Model()->index(row));
    return viewport()->mapToGlobal(QPoint(item.left(), item.bottom() + 1 + 5));
}

void THintCheckListBox::ItemReleased(QMouseEvent* event)
{
    const int source = Model()->SourceIndex(indexAt(event->position().toPoint()).row());
    const bool wasChecked = Model()->IsChecked(source);
    QListView::mouseReleaseEvent(event);
    // A click on a check box only toggles it.
    if (source >= 0 && Model()->IsChecked(source) != wasChecked)
        return;
    if (TComboBoxNew* combo = TComboBoxNew::Current(); combo && combo->ListBox() == this)
        combo->CloseUp(true);
}

void THintCheckListBox::contextMenuEvent(QContextMenuEvent* event) { ShowMenu(event->globalPos()); }

// ---------------------------------------------------------------------------------------------
// TComboBoxNew

TComboBoxNew::TComboBoxNew(QWidget* parent)
    : QLineEdit(parent), m_hintBkColor(QToolTip::palette().color(QPalette::ToolTipBase))
{
    setTextMargins(0, 0, style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this), 0);
    setMouseTracking(true);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_quietText)
            emit OnChange();
    });
}

TComboBoxNew::~TComboBoxNew()
{
    if (m_droppedDown) {
        qApp->removeEventFilter(this);
        ListBox()->Engine()->CancelPending();
        PopupWindow()->hide();
    }
}

void TComboBoxNew::setItems(const QStringList& items)
{
    m_items = items;
    m_objects.clear();
    m_objects.resize(static_cast<size_t>(items.size()));
    if (m_idMode == imRecord)
        for (ItemObject& o : m_objects)
            o.record = std::make_unique<TIdRecord>();
    DropOutOfRange();
}

int TComboBoxNew::AddItem(const QString& text, qint32 id)
{
    if (m_idMode == imRecord)
        return AddItem(text, TIdRecord{id, QString()});
    m_items << text;
    m_objects.push_back({id, nullptr});
    return static_cast<int>(m_items.size()) - 1;
}

int TComboBoxNew::AddItem(const QString& text, const TIdRecord& record)
{
    m_items << text;
    m_objects.push_back({record.id, std::make_unique<TIdRecord>(record)});
    return static_cast<int>(m_items.size()) - 1;
}

qint32 TComboBoxNew::ItemId(int index) const
{
    if (index < 0 || index >= m_items.size())
        return -1;
    const ItemObject& o = m_objects[static_cast<size_t>(index)];
    return o.record ? o.record->id : o.id;
}

const TIdRecord* TComboBoxNew::Record(int index) const
{
    return index >= 0 && index < m_items.size() ? m_objects[static_cast<size_t>(index)].record.get() : nullptr;
}

void TComboBoxNew::Clear()
{
    CloseUp(false);
    m_objects.clear(); // frees the records
    m_items.clear();
    m_marked.clear();
    setItemIndex(-1);
    setText({});
}

void TComboBoxNew::DropOutOfRange()
{
    if (m_itemIndex >= m_items.size())
        m_itemIndex = -1;
    m_marked.removeIf([this](int i) { return i >= m_items.size(); });
}

void TComboBoxNew::setItemIndex(int index)
{
    if (index >= 0 && index < m_items.size()) {
        m_itemIndex = index;
        SetTextQuietly(m_items[index]);
        setModified(true);
        emit OnChange();
        setCursorPosition(0);
    } else {
        m_itemIndex = -1;
        if (!m_allowNewValues)
            setText({});
    }
}

qint32 TComboBoxNew::Idx() const { return m_itemIndex < 0 ? -1 : ItemId(m_itemIndex); }

bool TComboBoxNew::SetIdx(qint32 id)
{
    setText({});
    setItemIndex(-1);
    m_marked.clear();
    if (id == -1)
        return false;
    for (int i = 0; i < m_items.size(); ++i) {
        if (ItemId(i) == id) {
            setItemIndex(i);
            return true;
        }
    }
    return false;
}

void TComboBoxNew::setWithCheckBoxes(bool with)
{
    if (with == m_withCheckBoxes)
        return;
    CloseUp(false);
    m_withCheckBoxes = with;
}

void TComboBoxNew::setMarkedList(const QList<int>& marked)
{
    m_marked.clear();
    for (int i : marked)
        SetMarked(i, true);
}

void TComboBoxNew::SetMarked(int index, bool marked)
{
    if (!marked)
        m_marked.removeAll(index);
    else if (index >= 0 && index < m_items.size() && !m_marked.contains(index))
        m_marked << index;
}

THintListBox* TComboBoxNew::ListBox() const { return PopupFor(m_withCheckBoxes)->List(); }

QWidget* TComboBoxNew::PopupWindow() const { return PopupFor(m_withCheckBoxes); }

TComboBoxNew* TComboBoxNew::Current() { return s_current.data(); }

void TComboBoxNew::DropDown()
{
    if (isReadOnly() || m_droppedDown)
        return;
    // The pop-ups are shared: another combo box's list goes away as if it lost the activation.
    if (TComboBoxNew* other = Current(); other && other != this)
        other->CloseUp(other->WithCheckBoxes());
    setFocus(Qt::OtherFocusReason);
    s_current = this;
    emit OnDropdown();
    FreeHint();

    THintListBox* list = ListBox();
    list->Fill(m_items);
    list->SelectRow(list->Model()->RowOfText(text()));
    list->setFilterType(m_filterType);
    if (m_withCheckBoxes)
        list->Model()->SetCheckedSources(m_marked);

    const QSize size(m_dropDownWidth > 0 ? m_dropDownWidth : width(), list->ItemHeight() * m_dropDownCount + 4);
    QPoint pos = mapToGlobal(QPoint(0, height()));
    if (const QScreen* s = screen()) {
        const QRect area = s->geometry();
        if (pos.x() + size.width() > area.x() + area.width())
            pos.setX(area.x() + area.width() - size.width() - 5);
        if (pos.y() + size.height() > area.y() + area.height())
            pos.setY(pos.y() - size.height() - height());
    }
    static_cast<TListPopup*>(PopupWindow())->ShowFor(this, QRect(pos, size));
    m_droppedDown = true;
    qApp->installEventFilter(this);
}

void TComboBoxNew::CloseUp(bool accept)
{
    if (m_closing || isReadOnly() || !m_droppedDown)
        return;
    m_closing = true;
    qApp->removeEventFilter(this);
    THintListBox* list = ListBox();
    list->Engine()->CancelPending();
    PopupWindow()->hide();
    m_droppedDown = false;
    if (s_current == this)
        s_current = nullptr;
    if (accept) {
        const int source = list->SelectedSource();
        setItemIndex(source);
        if (m_withCheckBoxes) {
            list->Model()->SetChecked(source, true);
            m_marked = list->Model()->CheckedSources();
        }
    }
    m_closing = false;
    emit OnClose();
}

QString TComboBoxNew::HintText() const
{
    QString hint;
    if (m_withCheckBoxes) {
        if (!m_marked.isEmpty()) {
            hint = kMarkedHint;
            for (int i : m_marked)
                hint += QLatin1Char('\n') + m_items.value(i);
        }
    } else {
        hint = text();
    }
    if (!toolTip().isEmpty())
        hint = QStringLiteral("[ ") + toolTip() + QStringLiteral(" ]") + QLatin1Char('\n') + hint;
    return hint;
}

void TComboBoxNew::ShowHint()
{
    const QString hint = HintText();
    if (hint.isEmpty())
        return;
    m_hint = std::make_unique<TBetterHintWindow>(this);
    m_hint->setHintBkColor(m_hintBkColor);
    m_hint->ActivateHint(mapToGlobal(QPoint(0, height())), width(), hint);
}

int TComboBoxNew::IndexOfText(const QString& text) const
{
    for (int i = 0; i < m_items.size(); ++i)
        if (m_items[i].compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TComboBoxNew::SetTextQuietly(const QString& text)
{
    m_quietText = true;
    setText(text);
    m_quietText = false;
}

QRect TComboBoxNew::ButtonRect() const
{
    const int w = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return QRect(width() - 2 - w, 2, w, height() - 4);
}

bool TComboBoxNew::event(QEvent* event)
{
    // The control's own hint text is part of the hint window.
    if (event->type() == QEvent::ToolTip)
        return true;
    return QLineEdit::event(event);
}

bool TComboBoxNew::eventFilter(QObject* watched, QEvent* event)
{
    if (!m_droppedDown)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
        // A click anywhere but on the combo box, its list or a menu takes the activation away.
        if (auto* w = qobject_cast<QWidget*>(watched)) {
            const QWidget* win = w->window();
            if (w != this && !isAncestorOf(w) && win != PopupWindow() && win->windowType() != Qt::Popup)
                CloseUp(m_withCheckBoxes);
        }
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Hide:
    case QEvent::WindowDeactivate:
        if (watched == window() || (watched == this && event->type() == QEvent::Hide))
            CloseUp(m_withCheckBoxes);
        break;
    default:
        break;
    }
    return false;
}

void TComboBoxNew::keyPressEvent(QKeyEvent* event)
{
    if (m_droppedDown) {
        ListKey(event);
        return;
    }
    if (isReadOnly()) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const int key = event->key();
    if (key == Qt::Key_Down && (event->modifiers() & Qt::AltModifier)) {
        DropDown();
        return;
    }
    if (key == Qt::Key_Down || key == Qt::Key_Up) {
        if (key == Qt::Key_Down && m_itemIndex < m_items.size() - 1)
            setItemIndex(m_itemIndex + 1);
        else if (key == Qt::Key_Up && m_itemIndex > 0)
            setItemIndex(m_itemIndex - 1);
        return;
    }
    if (IsPrintable(event)) {
        QString typed = text();
        if (hasSelectedText())
            typed.remove(selectionStart(), selectedText().size());
        typed += event->text();
        DropDown();
        if (m_droppedDown)
            ListBox()->setTypedText(typed);
        if (m_filterType != ftFirstLetter)
            QLineEdit::keyPressEvent(event);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TComboBoxNew::ListKey(QKeyEvent* event)
{
    // Keys belong to the list while it is shown; the characters go on into the edit text.
    THintListBox* list = ListBox();
    event->accept();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        CloseUp(true);
        return;
    case Qt::Key_Escape:
        list->ClearTyped();
        CloseUp(false);
        return;
    case Qt::Key_Backspace:
        list->DeleteTyped();
        QLineEdit::keyPressEvent(event);
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        list->Navigate(event->key());
        return;
    case Qt::Key_Menu:
        if (m_withCheckBoxes)
            static_cast<THintCheckListBox*>(list)->ShowMenu(list->mapToGlobal(list->rect().center()));
        return;
    default:
        break;
    }
    if (!IsPrintable(event))
        return;
    // Space ticks the selected item, as in any check list.
    if (m_withCheckBoxes && event->text() == QStringLiteral(" ")) {
        static_cast<THintCheckListBox*>(list)->ToggleSelected();
        return;
    }
    list->AppendTyped(event->text()[0]);
    if (m_filterType != ftFirstLetter)
        QLineEdit::keyPressEvent(event);
}

void TComboBoxNew::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && ButtonRect().contains(event->position().toPoint())) {
        if (m_droppedDown) {
            CloseUp(m_withCheckBoxes);
            return;
        }
        m_buttonCaptured = true;
        m_buttonPressed = true;
        update();
        DropDown();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void TComboBoxNew::mouseMoveEvent(QMouseEvent* event)
{
    const bool over = ButtonRect().contains(event->position().toPoint());
    if (m_buttonCaptured) {
        if (over != m_buttonPressed) {
            m_buttonPressed = over;
            update();
        }
        return;
    }
    if (over != m_buttonHot) {
        m_buttonHot = over;
        setCursor(over ? Qt::ArrowCursor : Qt::IBeamCursor);
        update();
    }
    QLineEdit::mouseMoveEvent(event);
}

void TComboBoxNew::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_buttonCaptured) {
        m_buttonCaptured = false;
        m_buttonPressed = false;
        update();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TComboBoxNew::enterEvent(QEnterEvent* event)
{
    QLineEdit::enterEvent(event);
    if (!m_hint)
        ShowHint();
}

void TComboBoxNew::leaveEvent(QEvent* event)
{
    FreeHint();
    if (m_buttonHot) {
        m_buttonHot = false;
        update();
    }
    // While the list is shown the text is still being typed.
    if (!m_allowNewValues && !m_droppedDown && m_marked.isEmpty() && !text().isEmpty() && IndexOfText(text()) < 0)
        setText({});
    QLineEdit::leaveEvent(event);
}

void TComboBoxNew::focusOutEvent(QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::PopupFocusReason) {
        if (m_droppedDown)
            CloseUp(m_withCheckBoxes);
        FreeHint();
        if (reason != Qt::ActiveWindowFocusReason) {
            const bool same = m_itemIndex >= 0 && m_items[m_itemIndex].compare(text(), Qt::CaseInsensitive) == 0;
            if (!same) {
                const int named = IndexOfText(text());
                if (named != m_itemIndex)
                    setItemIndex(named);
            }
        }
    }
    QLineEdit::focusOutEvent(event);
    if (reason != Qt::PopupFocusReason)
        deselect();
}

void TComboBoxNew::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_droppedDown) {
        QLineEdit::contextMenuEvent(event);
        return;
    }
    if (m_withCheckBoxes)
        static_cast<THintCheckListBox*>(ListBox())->ShowMenu(event->globalPos());
}

void TComboBoxNew::paintEvent(QPaintEvent* event)
{
    QLineEdit::paintEvent(event);
    QPainter p(this);
    QStyleOptionButton button;
    button.initFrom(this);
    button.rect = ButtonRect();
    button.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver | QStyle::State_Sunken);
    button.state |= m_buttonPressed ? QStyle::State_Sunken : QStyle::State_Raised;
    if (m_buttonHot)
        button.state |= QStyle::State_MouseOver;
    style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &button, &p, this);
    QStyleOption arrow = button;
    arrow.rect = button.rect.adjusted(3, 3, -3, -3).translated(m_buttonPressed ? QPoint(1, 1) : QPoint());
    style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrow, &p, this);
}
