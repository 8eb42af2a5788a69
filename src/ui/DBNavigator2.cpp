#include "DBNavigator2.h"

#include "core/Prompts.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionToolButton>
#include <QStylePainter>

#include <bit>

namespace {

constexpr int GlyphSize = 12;

// Glyphs in the manner of the classic data navigator, drawn rather than shipped so that they
// follow the palette and stay sharp at any scale.
void drawGlyph(QPainter& p, TDBNavigator2::Button which, const QColor& color)
{
    using B = TDBNavigator2::Button;
    const auto triangle = [](qreal tipX, qreal baseX) {
        QPainterPath path;
        path.moveTo(tipX, 6);
        path.lineTo(baseX, 1.5);
        path.lineTo(baseX, 10.5);
        path.closeSubpath();
        return path;
    };
    p.setBrush(color);
    p.setPen(Qt::NoPen);
    switch (which) {
    case B::First:
        p.drawRect(QRectF(2, 1.5, 1.5, 9));
        p.drawPath(triangle(4.5, 9.5));
        break;
    case B::Prior:
        p.drawPath(triangle(3.5, 8.5));
        break;
    case B::Next:
        p.drawPath(triangle(8.5, 3.5));
        break;
    case B::Last:
        p.drawPath(triangle(7.5, 2.5));
        p.drawRect(QRectF(8.5, 1.5, 1.5, 9));
        break;
    case B::Insert:
        p.drawRect(QRectF(5, 1.5, 2, 9));
        p.drawRect(QRectF(1.5, 5, 9, 2));
        break;
    case B::Delete:
        p.drawRect(QRectF(1.5, 5, 9, 2));
        break;
    case B::Edit: {
        QPainterPath path;
        path.moveTo(6, 2);
        path.lineTo(10.5, 9);
        path.lineTo(1.5, 9);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case B::Post: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2, 6.5), QPointF(4.75, 9.5), QPointF(10, 2.5)}));
        break;
    }
    case B::Cancel:
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(2.5, 2.5), QPointF(9.5, 9.5));
        p.drawLine(QPointF(9.5, 2.5), QPointF(2.5, 9.5));
        break;
    case B::Refresh: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(QRectF(2, 2, 8, 8), 60 * 16, 300 * 16);
        QPainterPath head;
        head.moveTo(7, 0.5);
        head.lineTo(10.5, 3);
        head.lineTo(6.5, 5);
        head.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPath(head);
        break;
    }
    }
}

QIcon glyphIcon(TDBNavigator2::Button which, const QColor& color)
{
    QIcon icon;
    for (const int scale : {1, 2, 3}) {
        QPixmap pixmap(GlyphSize * scale, GlyphSize * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        drawGlyph(p, which, color);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TNavButton2::TNavButton2(TDBNavigator2* navigator, int index)
    : QToolButton(navigator), m_navigator(navigator), m_index(index)
{
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(GlyphSize, GlyphSize));
}

void TNavButton2::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    if (m_navigator->hasFocus() && m_navigator->m_focused == m_index)
        option.state |= QStyle::State_HasFocus;
    p.drawComplexControl(QStyle::CC_ToolButton, option);
}

void TNavButton2::mousePressEvent(QMouseEvent* event)
{
    m_navigator->setFocusedIndex(m_index);
    if (m_navigator->focusPolicy() & Qt::ClickFocus)
        m_navigator->setFocus(Qt::MouseFocusReason);
    QToolButton::mousePressEvent(event);
}

TDBNavigator2::TDBNavigator2(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::TabFocus);
    for (int i = 0; i < ButtonCount; ++i) {
        auto* b = new TNavButton2(this, i);
        const Button which = buttonAt(i);
        // Holding prior or next down keeps scrolling, as a held arrow key would.
        b->setAutoRepeat(which == Prior || which == Next);
        connect(b, &QToolButton::clicked, this, [this, which] { btnClick(which); });
        m_buttons[static_cast<size_t>(i)] = b;
    }
    applyGlyphs();
    applyCaptions();
    setHints({});
    resize(241, 25);
    updateButtons();
}

int TDBNavigator2::indexOf(Button which) { return std::countr_zero(static_cast<unsigned>(which)); }

TNavButton2* TDBNavigator2::button(Button which) const { return m_buttons[static_cast<size_t>(indexOf(which))]; }

void TDBNavigator2::setDataSet(TMemDataSet* dataSet)
{
    if (m_dataSet == dataSet)
        return;
    if (m_dataSet)
        disconnect(m_dataSet, nullptr, this, nullptr);
    m_dataSet = dataSet;
    if (dataSet) {
        connect(dataSet, &TMemDataSet::currentChanged, this, &TDBNavigator2::updateButtons);
        connect(dataSet, &TMemDataSet::layoutReset, this, &TDBNavigator2::updateButtons);
        // Setting a value starts editing without any other notice.
        connect(dataSet, &TMemDataSet::rowChanged, this, &TDBNavigator2::updateButtons);
        connect(dataSet, &QObject::destroyed, this, &TDBNavigator2::updateButtons);
    }
    updateButtons();
}

QStringList TDBNavigator2::hints() const
{
    QStringList result;
    for (const TNavButton2* b : m_buttons)
        result << b->toolTip();
    return result;
}

void TDBNavigator2::setHints(const QStringList& hints)
{
    for (int i = 0; i < ButtonCount; ++i)
        m_buttons[static_cast<size_t>(i)]->setToolTip(i < hints.size() ? hints[i] : NavigatorText::Hints[i]);
}

void TDBNavigator2::setShowCaptions(bool on)
{
    if (m_showCaptions == on)
        return;
    m_showCaptions = on;
    applyCaptions();
    layoutButtons();
    updateGeometry();
}

void TDBNavigator2::applyCaptions()
{
    for (int i = 0; i < ButtonCount; ++i) {
        TNavButton2* b = m_buttons[static_cast<size_t>(i)];
        b->setText(m_showCaptions ? NavigatorText::Captions[i] : QString());
        b->setToolButtonStyle(m_showCaptions ? Qt::ToolButtonTextUnderIcon : Qt::ToolButtonIconOnly);
    }
}

void TDBNavigator2::applyGlyphs()
{
    const QColor color = palette().color(QPalette::Active, QPalette::ButtonText);
    for (int i = 0; i < ButtonCount; ++i)
        m_buttons[static_cast<size_t>(i)]->setIcon(glyphIcon(buttonAt(i), color));
}

void TDBNavigator2::setVisibleButtons(Buttons buttons)
{
    m_visible = buttons & AllButtons;
    for (int i = 0; i < ButtonCount; ++i)
        m_buttons[static_cast<size_t>(i)]->setVisible(m_visible.testFlag(buttonAt(i)));
    if (!m_visible.testFlag(buttonAt(m_focused))) {
        const int first = m_visible ? indexOf(static_cast<Button>(m_visible.toInt() & -m_visible.toInt())) : 0;
        setFocusedIndex(first);
    }
    layoutButtons();
    updateGeometry();
}

void TDBNavigator2::setFocusedIndex(int index)
{
    if (index == m_focused)
        return;
    const int old = m_focused;
    m_focused = index;
    m_buttons[static_cast<size_t>(old)]->update();
    m_buttons[static_cast<size_t>(index)]->update();
}

void TDBNavigator2::btnClick(Button which)
{
    if (hasActiveDataSet()) {
        emit beforeAction(which);
        if (hasActiveDataSet()) {
            TMemDataSet& ds = *m_dataSet;
            // The dataset leaves a pending edit behind when it moves or reloads; keep it, as
            // leaving a row does everywhere else.
            const auto leaveEditing = [&ds] {
                if (ds.state() != TMemDataSet::State::Browse)
                    ds.post();
            };
            switch (which) {
            case First:
                leaveEditing();
                ds.first();
                break;
            case Prior:
                leaveEditing();
                ds.prior();
                break;
            case Next:
                leaveEditing();
                ds.next();
                break;
            case Last:
                leaveEditing();
                ds.last();
                break;
            case Insert:
                ds.insert();
                break;
            case Delete:
                if (!ds.isEmpty() && (!m_confirmDelete || prompts().confirm(NavigatorText::DeleteQuestion)))
                    ds.deleteCurrent();
                break;
            case Edit:
                ds.edit();
                break;
            case Post:
                ds.post();
                break;
            case Cancel:
                ds.cancel();
                break;
            case Refresh:
                leaveEditing();
                ds.refresh();
                break;
            }
        }
        updateButtons();
    }
    emit clicked(which);
}

void TDBNavigator2::updateButtons()
{
    const TMemDataSet* ds = hasActiveDataSet() ? m_dataSet.data() : nullptr;
    const bool hasRows = ds && !ds->isEmpty();
    const bool editing = ds && ds->state() != TMemDataSet::State::Browse;
    const bool canGoUp = hasRows && !ds->bof() && ds->recNo() > 0;
    const bool canGoDown = hasRows && !ds->eof() && ds->recNo() < ds->recordCount() - 1;
    button(First)->setEnabled(canGoUp);
    button(Prior)->setEnabled(canGoUp);
    button(Next)->setEnabled(canGoDown);
    button(Last)->setEnabled(canGoDown);
    button(Insert)->setEnabled(ds != nullptr);
    button(Delete)->setEnabled(hasRows);
    button(Edit)->setEnabled(hasRows && !editing);
    button(Post)->setEnabled(editing);
    button(Cancel)->setEnabled(editing);
    button(Refresh)->setEnabled(ds != nullptr);
}

void TDBNavigator2::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        const int step = event->key() == Qt::Key_Right ? 1 : -1;
        for (int i = m_focused + step; i >= 0 && i < ButtonCount; i += step)
            if (m_visible.testFlag(buttonAt(i))) {
                setFocusedIndex(i);
                break;
            }
        break;
    }
    case Qt::Key_Space: {
        TNavButton2* b = m_buttons[static_cast<size_t>(m_focused)];
        if (b->isEnabled() && b->isVisibleTo(this))
            b->click();
        break;
    }
    default:
        QWidget::keyPressEvent(event);
    }
}

void TDBNavigator2::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layoutButtons();
}

void TDBNavigator2::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyGlyphs();
}

void TDBNavigator2::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    m_buttons[static_cast<size_t>(m_focused)]->update();
}

void TDBNavigator2::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    m_buttons[static_cast<size_t>(m_focused)]->update();
}

// The visible buttons share the width equally; the pixels left over go to the first ones.
void TDBNavigator2::layoutButtons()
{
    const int count = std::popcount(static_cast<unsigned>(m_visible.toInt()));
    if (count == 0)
        return;
    const int w = width() / count;
    int extra = width() - w * count;
    int x = 0;
    for (int i = 0; i < ButtonCount; ++i) {
        if (!m_visible.testFlag(buttonAt(i)))
            continue;
        const int bw = w + (extra > 0 ? 1 : 0);
        if (extra > 0)
            --extra;
        m_buttons[static_cast<size_t>(i)]->setGeometry(x, 0, bw, height());
        x += bw;
    }
}

QSize TDBNavigator2::sizeHint() const
{
    int count = 0;
    QSize widest;
    for (int i = 0; i < ButtonCount; ++i)
        if (m_visible.testFlag(buttonAt(i))) {
            ++count;
            widest = widest.expandedTo(m_buttons[static_cast<size_t>(i)]->sizeHint());
        }
    return QSize(widest.width() * count, widest.height());
}

QSize TDBNavigator2::minimumSizeHint() const
{
    return QSize(20 * std::popcount(static_cast<unsigned>(m_visible.toInt())), 18);
}
