#include "DBHintGrid.h"

#include "HintGridDialogs.h"

#include "core/Prompts.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimer>
#include <QToolTip>
#include <QtMath>
#include <QWheelEvent>

#include <utility>

namespace {

// Long words (paths, names without spaces) wrap too rather than run off the window.
QTextOption wrapping()
{
    QTextOption o;
    o.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return o;
}

int wrappedHeight(const QString& text, const QFont& font, int width)
{
    QTextLayout layout(text, font);
    layout.setTextOption(wrapping());
    layout.beginLayout();
    qreal height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return qCeil(height);
}

constexpr int kHintMaxWidth = 500;
constexpr int kHintHidePause = 2500; // ms, the usual hint pause of the desktop
} // namespace

TGridHintWindow::TGridHintWindow(QWidget* owner) : QFrame(owner, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setPalette(QToolTip::palette());
    setAutoFillBackground(true);
    m_hide.setSingleShot(true);
    connect(&m_hide, &QTimer::timeout, this, &QWidget::hide);
}

void TGridHintWindow::showText(const QString& text, const QRect& rect, bool fitHeight)
{
    m_text = text;
    int height = rect.height();
    if (fitHeight) {
        // Measure the wrapped text first and fit the window's height to it.
        height = wrappedHeight(text, font(), rect.width() - 4) + 6;
    }
    setGeometry(rect.x(), rect.y(), rect.width(), height);
    show();
    raise();
    update();
    m_hide.start(kHintHidePause);
}

void TGridHintWindow::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawText(QRectF(rect().adjusted(2, 2, -2, -2)), m_text, wrapping());
}

QVariant THintGridModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::BackgroundRole && index.isValid() && m_grid.hasFilter(index.column()))
        return m_grid.FilterColor;
    return TMemDataSetModel::data(index, role);
}

QVariant THintGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        if (const TFilterEntry* f = m_grid.filterOf(section))
            return QStringLiteral("%1 [%2]").arg(columns()[section].title, f->value);
    return TMemDataSetModel::headerData(section, orientation, role);
}

TDBHintGrid::TDBHintGrid(QWidget* parent) : QTableView(parent), m_model(*this)
{
    setModel(&m_model);
    setMouseTracking(true);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab leaves the grid: walking it cell by cell would change the current row on the way.
    setTabKeyNavigation(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);
    horizontalHeader()->viewport()->setMouseTracking(true);
    horizontalHeader()->viewport()->installEventFilter(this);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit OnWMHScroll(); });
}

TDBHintGrid::~TDBHintGrid()
{
    delete m_findDlg;
    DropFilters();
    releaseDataSet();
}

void TDBHintGrid::setDataSet(TMemDataSet* dataSet)
{
    DropFilters();
    releaseDataSet();
    m_filtersDropped = true;
    m_model.setDataSet(dataSet);
    if (!dataSet)
        return;
    connect(dataSet, &TMemDataSet::currentChanged, this, &TDBHintGrid::followDataSet);
    connect(dataSet, &TMemDataSet::layoutReset, this, [this] { followDataSet(this->dataSet()->recNo()); });
    connect(dataSet, &TMemDataSet::activeChanged, this, [this] {
        DropFilters();
        m_filtersDropped = true;
    });
    followDataSet(dataSet->recNo());
}

void TDBHintGrid::setColumns(const QList<TGridColumn>& columns)
{
    DropFilters();
    m_model.setColumns(columns);
    for (int i = 0; i < columns.size(); ++i) {
        setColumnWidth(i, columns[i].width);
        setColumnHidden(i, !columns[i].visible);
    }
    if (dataSet())
        followDataSet(dataSet()->recNo());
}

int TDBHintGrid::selectedColumn() const { return m_column; }

void TDBHintGrid::setSelectedColumn(int column)
{
    m_column = column;
    const int row = dataSet() ? std::max(0, dataSet()->recNo()) : 0;
    const QModelIndex index = m_model.index(row, column);
    if (index.isValid())
        setCurrentIndex(index);
}

void TDBHintGrid::followDataSet(int row)
{
    if (m_syncing)
        return;
    m_syncing = true;
    if (row < 0) {
        selectionModel()->clearCurrentIndex();
    } else {
        const QModelIndex index = m_model.index(row, m_column);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        scrollTo(index);
    }
    m_syncing = false;
}

void TDBHintGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    // The selected column survives the model resets that filtering and reloading cause.
    if (current.isValid())
        m_column = current.column();
    if (m_syncing || !dataSet() || !current.isValid() || current.row() == previous.row())
        return;
    m_syncing = true;
    dataSet()->setRecNo(current.row());
    m_syncing = false;
    // The dataset's owner may have taken the move back (unsaved edits kept): the grid goes where
    // the dataset stayed, once the click or key that moved it is done with the selection.
    if (dataSet()->recNo() != current.row())
        QTimer::singleShot(0, this, [this] {
            if (dataSet())
                followDataSet(dataSet()->recNo());
        });
}

void TDBHintGrid::keyPressEvent(QKeyEvent* event)
{
    const auto mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    switch (event->key()) {
    case Qt::Key_F3:
        if (SearchEnabled && hasOpenDataSet())
            ShowSearch();
        return;
    case Qt::Key_F4:
        if (mods == Qt::NoModifier)
            SetColumnFilter(selectedColumn(), QString(), true);
        else if (mods == Qt::ControlModifier)
            ShowValueChoice();
        return;
    case Qt::Key_F5:
        if (mods == Qt::ControlModifier) {
            RemoveColumnFilter(selectedColumn());
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

void TDBHintGrid::wheelEvent(QWheelEvent* event)
{
    if (!hasOpenDataSet()) {
        QTableView::wheelEvent(event);
        return;
    }
    // One row per wheel message; the grid does not scroll by itself.
    if (event->angleDelta().y() > 0)
        dataSet()->prior();
    else
        dataSet()->next();
    event->accept();
}

void TDBHintGrid::mouseMoveEvent(QMouseEvent* event)
{
    QTableView::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton)
        hintAt(event->position().toPoint());
}

void TDBHintGrid::leaveEvent(QEvent* event)
{
    QTableView::leaveEvent(event);
    hideHint();
    m_lastHintCell = {-1, -1};
}

void TDBHintGrid::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    hideHint();
}

void TDBHintGrid::hideHint()
{
    if (m_hint)
        m_hint->hide();
}

void TDBHintGrid::hintAt(const QPoint& pos)
{
    if (!hasOpenDataSet())
        return;
    const QModelIndex index = indexAt(pos);
    const QPoint cell = index.isValid() ? QPoint(index.column(), index.row() + 1) : QPoint(-1, -1);
    if (cell == m_lastHintCell)
        return;
    hideHint();
    m_lastHintCell = cell;
    if (!index.isValid())
        return;
    try {
        const QString text = m_model.data(index, Qt::DisplayRole).toString();
        const int width = fontMetrics().horizontalAdvance(text);
        if (width <= columnWidth(index.column()) - 2)
            return;
        const QRect r = visualRect(index);
        const QPoint topLeft = viewport()->mapToGlobal(QPoint(r.left(), r.bottom() + 10));
        if (!m_hint)
            m_hint = new TGridHintWindow(this);
        m_hint->showText(text, QRect(topLeft, QSize(std::min(width + 15, kHintMaxWidth), fontMetrics().height())), true);
    } catch (...) {
        hideHint();
    }
}

bool TDBHintGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseMove && hasOpenDataSet()) {
            const auto* me = static_cast<QMouseEvent*>(event);
            const int section = horizontalHeader()->logicalIndexAt(me->position().toPoint());
            const QPoint cell(section, 0);
            if (me->buttons() == Qt::NoButton && cell != m_lastHintCell) {
                hideHint();
                m_lastHintCell = cell;
                if (section >= 0) {
                    const QString text = m_model.headerData(section, Qt::Horizontal, Qt::DisplayRole).toString();
                    const int width = fontMetrics().horizontalAdvance(text);
                    if (width > columnWidth(section) - 2) {
                        const int x = horizontalHeader()->sectionViewportPosition(section);
                        const QPoint topLeft = horizontalHeader()->viewport()->mapToGlobal(QPoint(x, horizontalHeader()->height() + 10));
                        if (!m_hint)
                            m_hint = new TGridHintWindow(this);
                        m_hint->showText(text, QRect(topLeft, QSize(width + 15, horizontalHeader()->height())), false);
                    }
                }
            }
        } else if (event->type() == QEvent::Leave) {
            hideHint();
            m_lastHintCell = {-1, -1};
        }
    }
    return QTableView::eventFilter(watched, event);
}

QRect TDBHintGrid::currentCellScreenRect() const
{
    QModelIndex index = currentIndex();
    if (!index.isValid())
        index = m_model.index(0, 0);
    const QRect r = index.isValid() ? visualRect(index) : QRect(0, 0, 100, 20);
    return QRect(viewport()->mapToGlobal(r.topLeft()), r.size());
}

bool TDBHintGrid::SearchColumn(const QString& text, int column, bool exact, bool starting)
{
    const TGridSearch search = BeginSearch(text, column, exact, starting);
    const int row = search.field < 0 ? -1 : FindRow(*dataSet(), search.field, search.text, search.from, search.mode);
    EndSearch(row);
    return row >= 0;
}

TGridSearch TDBHintGrid::BeginSearch(const QString& text, int column, bool exact, bool starting)
{
    TGridSearch search;
    TMemDataSet* ds = dataSet();
    const int field = m_model.fieldOf(column);
    if (!ds || field < 0 || text.trimmed().isEmpty())
        return search;
    search.field = field;
    search.text = text;
    search.mode = exact ? FindMode::Exact : starting ? FindMode::Starting : FindMode::Containing;
    const QString wanted = exact ? text : text.trimmed().toUpper();
    const int current = std::max(ds->recNo(), 0);
    if (column != m_lastSearchColumn || wanted.compare(m_lastSearchText, Qt::CaseInsensitive) != 0) {
        m_lastSearchColumn = column;
        m_lastSearchText = wanted;
        search.from = current;
    } else {
        search.from = current + 1; // past the last row the search goes round to the first
    }
    return search;
}

void TDBHintGrid::EndSearch(int foundRow)
{
    // Only a found row moves the dataset, so its after-scroll runs once and only for a new row.
    if (foundRow >= 0 && dataSet())
        dataSet()->setRecNo(foundRow);
}

int TDBHintGrid::entryOf(int column) const
{
    for (int i = 0; i < m_filters.size(); ++i)
        if (m_filters[i].column == column)
            return i;
    return -1;
}

const TFilterEntry* TDBHintGrid::filterOf(int column) const
{
    const int e = entryOf(column);
    return e < 0 ? nullptr : &m_filters[e];
}

QString TDBHintGrid::filterValue(int column) const
{
    const TFilterEntry* f = filterOf(column);
    return f ? f->upper : QString();
}

// The grid's filters reach the dataset as its grid filter, next to the dataset's own
// callback, so nothing of the owner's filter is taken over or has to be given back.
void TDBHintGrid::applyFilters()
{
    TMemDataSet* ds = dataSet();
    if (!ds)
        return;
    if (m_filters.isEmpty()) {
        if (ds->gridFilter())
            ds->setGridFilter(nullptr);
    } else if (ds->gridFilter()) {
        ds->refilter();
    } else {
        ds->setGridFilter([this](int row) { return FilterRecord(*dataSet(), row); });
    }
}

void TDBHintGrid::releaseDataSet()
{
    TMemDataSet* ds = dataSet();
    if (!ds)
        return;
    disconnect(ds, nullptr, this, nullptr);
    if (ds->gridFilter())
        ds->setGridFilter(nullptr);
}

void TDBHintGrid::SetColumnFilter(int column, const QString& value, bool ask)
{
    TMemDataSet* ds = dataSet();
    if (!ds || column < 0 || column >= m_model.columns().size())
        return;
    m_filtersDropped = false;
    const QString caption = m_model.columns()[column].title;
    const int e = entryOf(column);
    QString v = value;
    if (ask) {
        v = e < 0 ? QString() : m_filters[e].value;
        if (!prompts().inputText(HintGridText::Filtering + QLatin1Char(' ') + caption, HintGridText::Value + QLatin1Char(':'), v))
            return;
    }
    if (e < 0) {
        if (v.isEmpty())
            return;
        m_filters << TFilterEntry{column, v, v.toUpper()};
    } else if (v.isEmpty()) {
        RemoveColumnFilter(column);
        return;
    } else {
        m_filters[e].value = v;
        m_filters[e].upper = v.toUpper();
    }
    m_model.columnChanged(column);
    applyFilters();
}

bool TDBHintGrid::FilterRecord(TMemDataSet& dataSet, int sourceRow)
{
    // Entries dropped by a reload pass every row until the next filter is set.
    if (m_filters.isEmpty())
        return true;
    // The dataset's own callback holds while the grid filters, even with its switch off.
    if (!dataSet.filtered() && dataSet.onFilterRecord() && !dataSet.onFilterRecord()(dataSet, sourceRow))
        return false;
    // Compared without regard to case as it stands, rather than upper-casing a copy of every cell.
    for (const TFilterEntry& f : m_filters)
        if (!dataSet.sourceText(sourceRow, m_model.fieldOf(f.column)).contains(f.upper, Qt::CaseInsensitive))
            return false;
    return true;
}

void TDBHintGrid::RemoveColumnFilter(int column)
{
    const int e = entryOf(column);
    if (e < 0)
        return;
    m_filters.removeAt(e);
    m_model.columnChanged(column);
    applyFilters();
}

void TDBHintGrid::RemoveAllFilters()
{
    DropFilters();
    applyFilters();
}

void TDBHintGrid::DropFilters()
{
    const QList<TFilterEntry> dropped = std::exchange(m_filters, {});
    for (auto it = dropped.crbegin(); it != dropped.crend(); ++it)
        if (it->column < m_model.columns().size())
            m_model.columnChanged(it->column);
}

void TDBHintGrid::ShowSearch()
{
    if (!m_findDlg) {
        m_findDlg = new TfrmHGFindDlg(this);
        m_findDlg->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_findDlg->showAtCell();
}

TfrmHGFindDlg* TDBHintGrid::searchWindow() const { return m_findDlg.data(); }

void TDBHintGrid::ShowValueChoice()
{
    if (!hasOpenDataSet())
        return;
    TfrmHintGridExtra dlg(this);
    dlg.exec();
}
