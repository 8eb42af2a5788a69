#include "HintGridDialogs.h"

#include "ComboBoxNew.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QToolButton>

TfrmHGFindDlg::TfrmHGFindDlg(TDBHintGrid* grid)
    : QDialog(grid, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_grid(grid)
{
    setWindowTitle(HintGridText::Search + QStringLiteral(" ..."));
    setFocusPolicy(Qt::NoFocus);
    cbColumns = new QComboBox(this);
    cbColumns->setToolTip(HintGridText::SearchInColumn);
    edText = new QLineEdit(this);
    edText->setToolTip(HintGridText::SearchText);
    edText->installEventFilter(this);
    rbContianing = new QRadioButton(HintGridText::Containing + QStringLiteral(" &1"), this);
    rbStarting = new QRadioButton(HintGridText::Starting + QStringLiteral(" &2"), this);
    rbContianing->setChecked(true);
    rbContianing->installEventFilter(this);
    rbStarting->installEventFilter(this);
    cbMatch = new QCheckBox(HintGridText::ExactMatch, this);
    lStatus = new QLabel(this);
    sbSimpleShow = new QToolButton(this);
    sbSimpleShow->setText(QStringLiteral("…"));
    sbSimpleShow->setToolTip(HintGridText::MoreSettings);
    sbSimpleShow->setFocusPolicy(Qt::NoFocus);

    const QList<TGridColumn>& columns = grid->columns();
    const int selected = grid->selectedColumn();
    for (int i = 0; i < columns.size(); ++i) {
        if (!columns[i].visible || grid->isColumnHidden(i))
            continue;
        // As the header shows it, with the filter of a filtered column.
        cbColumns->addItem(grid->gridModel().headerData(i, Qt::Horizontal, Qt::DisplayRole).toString(), i);
        if (i == selected)
            cbColumns->setCurrentIndex(cbColumns->count() - 1);
    }

    connect(cbMatch, &QCheckBox::toggled, this, [this](bool on) {
        rbContianing->setEnabled(!on);
        rbStarting->setEnabled(!on);
    });
    connect(cbColumns, &QComboBox::activated, this, [this](int i) { m_grid->setSelectedColumn(cbColumns->itemData(i).toInt()); });
    connect(sbSimpleShow, &QToolButton::clicked, this, [this] { setSimpleLayout(!m_simple); });
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &TfrmHGFindDlg::tick);
    setSimpleLayout(true);
}

// Both layouts are measured from the texts, so that no option runs into another; the status
// stays right of the text box in both, where "неуспех" is seen whichever layout is shown.
void TfrmHGFindDlg::setSimpleLayout(bool simple)
{
    m_simple = simple;
    for (QWidget* w : std::initializer_list<QWidget*>{cbColumns, rbContianing, rbStarting, cbMatch})
        w->setVisible(!simple);

    const QFontMetrics fm = fontMetrics();
    constexpr int left = 10;
    constexpr int gap = 2;
    const int optionGap = fm.averageCharWidth() * 2;
    const int h = std::max({edText->sizeHint().height(), cbColumns->sizeHint().height(), rbContianing->sizeHint().height(),
                            cbMatch->sizeHint().height()});
    const int optionsWidth = rbContianing->sizeHint().width() + optionGap + rbStarting->sizeHint().width();
    // Room for twenty characters at least, and for a column title up to forty.
    const int w = std::max({fm.averageCharWidth() * 20, std::min(cbColumns->sizeHint().width(), fm.averageCharWidth() * 40),
                            optionsWidth, cbMatch->sizeHint().width()});
    int statusWidth = fm.horizontalAdvance(HintGridText::Failure + QStringLiteral(" ..."));
    for (const QString& frame : HintGridText::Spinner)
        statusWidth = std::max(statusWidth, fm.horizontalAdvance(HintGridText::Search + frame));
    statusWidth += fm.averageCharWidth();

    const int buttonWidth = std::max(h, sbSimpleShow->sizeHint().width());

    const int textTop = simple ? gap : gap + h + gap;
    cbColumns->setGeometry(left, gap, w, h);
    edText->setGeometry(left, textTop, w, h);
    sbSimpleShow->setGeometry(left + w + gap, textTop, buttonWidth, h);
    lStatus->setGeometry(left + w + gap + buttonWidth + 2 * gap, textTop, statusWidth, h);
    int bottom = textTop + h;
    if (!simple) {
        rbContianing->setGeometry(left, bottom + gap, rbContianing->sizeHint().width(), h);
        rbStarting->setGeometry(left + rbContianing->sizeHint().width() + optionGap, bottom + gap, rbStarting->sizeHint().width(), h);
        cbMatch->setGeometry(left, bottom + 2 * gap + h, cbMatch->sizeHint().width(), h);
        bottom += 2 * (gap + h);
    }
    setFixedSize(lStatus->geometry().right() + 1 + 2 * gap, bottom + gap);
}

void TfrmHGFindDlg::placeAt(const QRect& cell)
{
    const QScreen* s = QGuiApplication::screenAt(cell.center());
    if (!s)
        s = screen();
    const QRect area = s->availableGeometry();
    QPoint pos(cell.x(), cell.y() + cell.height() + 2);
    if (pos.y() + height() > area.y() + area.height())
        pos.setY(cell.y() - height() - 2);
    pos.setX(std::clamp(pos.x(), area.x(), std::max(area.x(), area.x() + area.width() - width())));
    pos.setY(std::max(pos.y(), area.y()));
    move(pos);
}

void TfrmHGFindDlg::showAtCell()
{
    placeAt(m_grid->currentCellScreenRect());
    show();
    raise();
    activateWindow();
    edText->setFocus();
}

void TfrmHGFindDlg::runSearch()
{
    if (m_running)
        return;
    if (!m_simple)
        setSimpleLayout(true);
    m_search = m_grid->BeginSearch(edText->text(), cbColumns->currentData().toInt(), cbMatch->isChecked(), rbStarting->isChecked());
    const TMemDataSet* ds = m_grid->dataSet();
    m_rows = ds ? ds->recordCount() : 0;
    m_looked = 0;
    m_running = true;
    m_grid->Searching = true;
    m_frame = 0;
    m_timer.start();
    searchChunk();
}

void TfrmHGFindDlg::searchChunk()
{
    if (!m_running)
        return;
    const TMemDataSet* ds = m_grid->dataSet();
    // Esc, a lost activation or a list that changed under the search (reloaded, filtered) end it.
    if (!m_grid->Searching || m_search.field < 0 || !ds || ds->recordCount() != m_rows || m_looked >= m_rows) {
        finishSearch(-1);
        return;
    }
    QElapsedTimer slice;
    slice.start();
    int row = -1;
    do {
        const int count = std::min(std::max(RowsPerClockRead, 1), m_rows - m_looked);
        row = FindRow(*ds, m_search.field, m_search.text, (m_search.from + m_looked) % m_rows, m_search.mode, count);
        m_looked += count;
    } while (row < 0 && m_looked < m_rows && slice.elapsed() < SliceMs);
    if (row >= 0 || m_looked >= m_rows) {
        finishSearch(row);
        return;
    }
    QTimer::singleShot(0, this, &TfrmHGFindDlg::searchChunk);
}

void TfrmHGFindDlg::finishSearch(int row)
{
    m_running = false;
    m_timer.stop();
    m_grid->Searching = false;
    m_grid->EndSearch(row);
    lStatus->setText(row >= 0 ? QString() : HintGridText::Failure + QStringLiteral(" ..."));
    if (isVisible())
        placeAt(m_grid->currentCellScreenRect());
    emit searchFinished(row >= 0);
}

void TfrmHGFindDlg::tick()
{
    if (!m_running)
        return;
    lStatus->setText(HintGridText::Search + HintGridText::Spinner[m_frame]);
    m_frame = (m_frame + 1) % 4;
}

bool TfrmHGFindDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == edText || watched == rbContianing || watched == rbStarting)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ControlModifier)
                setSimpleLayout(!m_simple);
            else
                runSearch();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmHGFindDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_running)
            finishSearch(-1);
        else
            done(QDialog::Accepted);
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & Qt::ControlModifier)) {
        setSimpleLayout(!m_simple);
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmHGFindDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    if (isActiveWindow()) {
        m_wasActive = true;
    } else if (m_wasActive && isVisible()) {
        m_grid->Searching = false;
        m_running = false;
        m_timer.stop();
        done(QDialog::Rejected);
    }
}

void TfrmHGFindDlg::mousePressEvent(QMouseEvent* event)
{
    m_dragFrom = event->globalPosition().toPoint() - frameGeometry().topLeft();
    QDialog::mousePressEvent(event);
}

void TfrmHGFindDlg::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        move(event->globalPosition().toPoint() - m_dragFrom);
    QDialog::mouseMoveEvent(event);
}

// Without a caption bar the window needs a line of its own to stand apart from the grid.
void TfrmHGFindDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter p(this);
    p.setPen(palette().color(QPalette::Dark));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

TfrmHintGridExtra::TfrmHintGridExtra(TDBHintGrid* grid)
    : QDialog(grid, Qt::Dialog | Qt::WindowStaysOnTopHint), m_grid(grid)
{
    setWindowTitle(HintGridText::ChooseValue + QStringLiteral("..."));
    ComboBoxNew1 = new TComboBoxNew(this);
    ComboBoxNew1->setFilterType(ftStarting);
    ComboBoxNew1->setAllowNewValues(true);
    ComboBoxNew1->setMinimumWidth(ComboBoxNew1->fontMetrics().averageCharWidth() * 20);
    bChoose = new QPushButton(QStringLiteral("->"), this);
    bChoose->setToolTip(HintGridText::ChooseValue);
    Button2 = new QPushButton(QStringLiteral("x"), this);
    Button2->setToolTip(HintGridText::RemoveColumnFilter);
    Button3 = new QPushButton(QStringLiteral("X"), this);
    Button3->setToolTip(HintGridText::RemoveAllFilters);
    for (QPushButton* b : {bChoose, Button2, Button3}) {
        b->setAutoDefault(false);
        b->setFixedWidth(32);
    }
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(ComboBoxNew1, 1);
    layout->addWidget(bChoose);
    layout->addWidget(Button2);
    layout->addWidget(Button3);
    connect(bChoose, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, [this] {
        m_grid->RemoveColumnFilter(m_grid->selectedColumn());
        LoadValues();
    });
    connect(Button3, &QPushButton::clicked, this, [this] {
        m_grid->RemoveAllFilters();
        LoadValues();
    });
    resize(320, sizeHint().height());
    move(grid->currentCellScreenRect().topLeft());
    LoadValues();
}

void TfrmHintGridExtra::LoadValues()
{
    ComboBoxNew1->Clear();
    TMemDataSet* ds = m_grid->dataSet();
    const int field = m_grid->gridModel().fieldOf(m_grid->selectedColumn());
    if (!ds || field < 0)
        return;
    // Reading goes round the rows as shown, without moving the visible current row.
    QStringList values;
    QSet<QString> seen;
    ds->disableControls();
    for (int row = 0; row < ds->recordCount(); ++row) {
        const QString t = ds->textAt(row, field);
        if (!seen.contains(t)) {
            seen.insert(t);
            values << t;
        }
    }
    ds->enableControls();
    ComboBoxNew1->setItems(values);
}

QStringList TfrmHintGridExtra::values() const { return ComboBoxNew1->Items(); }

void TfrmHintGridExtra::keyPressEvent(QKeyEvent* event)
{
    if (ComboBoxNew1->DroppedDown())
        return;
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        reject();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmHintGridExtra::done(int result)
{
    if (result == QDialog::Accepted)
        m_grid->SetColumnFilter(m_grid->selectedColumn(), ComboBoxNew1->text(), false);
    QDialog::done(result);
}
