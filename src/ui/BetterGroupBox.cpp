#include "BetterGroupBox.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QShortcut>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QToolTip>

namespace {

// An outline covering exactly the pixels of r, as a one-pixel frame.
void frameRect(QPainter& p, const QRect& r, const QColor& color)
{
    p.setPen(color);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

QList<QRadioButton*> radioButtons(const QWidget* box)
{
    return box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
}

} // namespace

TBetterGroupBox::TBetterGroupBox(QWidget* parent)
    : QWidget(parent), m_indexFunc(&TBetterGroupBox::defaultIndexOf),
      m_foldShortcut(new QShortcut(m_foldKey, this, [this] { setFolded(!m_folded); }, Qt::WidgetWithChildrenShortcut))
{
    updateMargins();
    updateFocusPolicy();
}

TBetterGroupBox::TBetterGroupBox(const QString& title, QWidget* parent) : TBetterGroupBox(parent)
{
    m_title = title;
}

void TBetterGroupBox::setTitle(const QString& title)
{
    m_title = title;
    update();
}

void TBetterGroupBox::setChecked(bool checked)
{
    m_checked = checked;
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!child->isWindow())
            child->setEnabled(checked);
    update();
    emit OnCheck(checked);
}

void TBetterGroupBox::setCaptionCenter(bool on)
{
    m_captionCenter = on;
    update();
}

void TBetterGroupBox::setShowEnableBtn(bool on)
{
    m_showEnableBtn = on;
    update();
}

void TBetterGroupBox::setShowMinimizeBtn(bool on)
{
    m_showMinimizeBtn = on;
    updateFocusPolicy();
    update();
}

// The minimise button is the box's only keyboard control: without it the box is no Tab stop.
void TBetterGroupBox::updateFocusPolicy()
{
    setFocusPolicy(m_showMinimizeBtn ? Qt::TabFocus : Qt::NoFocus);
    m_foldShortcut->setEnabled(m_showMinimizeBtn);
}

void TBetterGroupBox::setFoldKey(const QKeySequence& key)
{
    m_foldKey = key;
    m_foldShortcut->setKey(key);
}

QString TBetterGroupBox::minimizeBtnHint() const
{
    const QString hint = m_folded ? GroupBoxText::Unfold : GroupBoxText::Fold;
    if (m_foldKey.isEmpty())
        return hint;
    return hint + QStringLiteral(" (") + m_foldKey.toString(QKeySequence::NativeText) + QLatin1Char(')');
}

void TBetterGroupBox::setLook3D(bool on)
{
    m_look3D = on;
    updateMargins();
    update();
}

int TBetterGroupBox::defaultIndexOf(QWidget* control)
{
    return qobject_cast<QRadioButton*>(control) ? control->property("tag").toInt() : -1;
}

void TBetterGroupBox::setRbGetIndexFunc(IndexFunc func)
{
    m_indexFunc = func ? std::move(func) : IndexFunc(&TBetterGroupBox::defaultIndexOf);
}

int TBetterGroupBox::rbItemIndex() const
{
    for (QRadioButton* rb : radioButtons(this))
        if (rb->isChecked())
            return m_indexFunc(rb);
    return -1;
}

void TBetterGroupBox::setRbItemIndex(int index)
{
    for (QRadioButton* rb : radioButtons(this))
        if (m_indexFunc(rb) == index) {
            rb->setChecked(true);
            return;
        }
}

// A fixed height is what holds the fold inside a parent layout; the constraints the box had
// come back with its height. The controls inside are hidden while folded: out of sight they
// must be out of reach of Tab, Space and their own keys too.
void TBetterGroupBox::setFolded(bool folded)
{
    if (folded == m_folded)
        return;
    if (folded) {
        m_hintBeforeFold = sizeHint();
        m_minHintBeforeFold = minimumSizeHint();
        m_heightBeforeFold = height();
        m_minHeightBeforeFold = minimumHeight();
        m_maxHeightBeforeFold = maximumHeight();
        m_folded = true;
        // The focus stays with the box rather than wandering off to the next control.
        const QWidget* focus = QApplication::focusWidget();
        if (focus && isAncestorOf(focus) && focusPolicy() != Qt::NoFocus)
            setFocus(Qt::OtherFocusReason);
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!child->isWindow() && child->isVisibleTo(this)) {
                m_hiddenByFold << child;
                child->hide();
            }
        setFixedHeight(foldedHeight());
    } else {
        m_folded = false;
        setMaximumHeight(m_maxHeightBeforeFold);
        setMinimumHeight(m_minHeightBeforeFold);
        for (const QPointer<QWidget>& child : std::as_const(m_hiddenByFold))
            if (child && child->parentWidget() == this)
                child->show();
        m_hiddenByFold.clear();
        resize(width(), m_heightBeforeFold);
    }
    updateGeometry();
    update();
    emit OnMinimize(folded);
}

int TBetterGroupBox::foldedHeight() const { return std::max(FoldedHeight, fontMetrics().height()); }

QSize TBetterGroupBox::sizeHint() const
{
    return m_folded ? QSize(m_hintBeforeFold.width(), foldedHeight()) : QWidget::sizeHint();
}

QSize TBetterGroupBox::minimumSizeHint() const
{
    return m_folded ? QSize(m_minHintBeforeFold.width(), foldedHeight()) : QWidget::minimumSizeHint();
}

void TBetterGroupBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->position().toPoint();
        if (m_showMinimizeBtn && minimizeBtnRect().contains(pos)) {
            setFolded(!m_folded);
            return;
        }
        if (m_showEnableBtn && enableBtnRect().contains(pos)) {
            setChecked(!m_checked);
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void TBetterGroupBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier && m_showMinimizeBtn) {
        setFolded(!m_folded);
        return;
    }
    QWidget::keyPressEvent(event);
}

bool TBetterGroupBox::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && m_showMinimizeBtn) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (minimizeBtnRect().contains(help->pos())) {
            QToolTip::showText(help->globalPos(), minimizeBtnHint(), this, minimizeBtnRect());
            return true;
        }
    }
    return QWidget::event(event);
}

void TBetterGroupBox::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateMargins();
        if (m_folded)
            setFixedHeight(foldedHeight());
    }
}

// Children keep clear of the caption line and the frame.
void TBetterGroupBox::updateMargins()
{
    const int inset = m_look3D ? 2 : 1;
    setContentsMargins(inset, fontMetrics().height() + inset, inset, inset);
}

void TBetterGroupBox::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int textHeight = fontMetrics().height();
    const QRect frame(0, textHeight / 2, width(), height() - textHeight / 2);
    if (m_look3D) {
        frameRect(p, frame.adjusted(1, 1, 0, 0), palette().color(QPalette::Light));
        frameRect(p, frame.adjusted(0, 0, -1, -1), palette().color(QPalette::Dark));
    } else {
        frameRect(p, frame, palette().color(QPalette::WindowText));
    }

    if (!m_title.isEmpty()) {
        const int textWidth = fontMetrics().horizontalAdvance(m_title);
        int x;
        if (m_captionCenter)
            x = (width() - textWidth) / 2;
        else if (layoutDirection() == Qt::RightToLeft)
            x = width() - textWidth - 8;
        else
            x = (m_showEnableBtn ? enableBtnRect().width() : 0) + 8;
        const QRect caption(x, 0, textWidth, textHeight);
        p.fillRect(caption, palette().window());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_title);
    }

    if (m_showEnableBtn) {
        QStyleOptionButton check;
        check.initFrom(this);
        check.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        check.state |= m_checked ? QStyle::State_On : QStyle::State_Off;
        check.rect = enableBtnRect();
        style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &check, &p, this);
    }

    if (m_showMinimizeBtn) {
        QStyleOptionButton bevel;
        bevel.initFrom(this);
        bevel.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
        bevel.state |= QStyle::State_Raised;
        bevel.rect = minimizeBtnRect();
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &bevel, &p, this);
        if (hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = bevel.rect.adjusted(-1, -1, 1, 1);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
        }

        // The window-caption symbols: a bar for minimise, a window for maximise.
        const QRect r = bevel.rect;
        const QColor ink = palette().color(QPalette::ButtonText);
        if (m_folded) {
            const QRect window(r.left() + 3, r.top() + 3, r.width() - 6, r.height() - 6);
            frameRect(p, window, ink);
            p.fillRect(QRect(window.left(), window.top(), window.width(), 2), ink);
        } else {
            p.fillRect(QRect(r.left() + 3, r.bottom() - 4, r.width() - 7, 2), ink);
        }
    }
}
