#include "HintGridDialogs.h"

#include "ComboBoxNew.h"
#include "DBHintGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
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
        cbColumns->addItem(columns[i].title, i);
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

void TfrmHGFindDlg::setSimpleLayout(bool simple)
{
    m_simple = simple;
    const int h = edText->sizeHint().height();
    const int w = 180;
    for (QWidget* wdg : {static_cast<QWidget*>(cbColumns), static_cast<QWidget*>(rbContianing), static_cast<QWidget*>(rbStarting),
                         static_cast<QWidget*>(cbMatch), static_cast<QWidget*>(lStatus)})
        wdg->setVisible(!simple);
    if (simple) {
        edText->setGeometry(10, 2, w, h);
        sbSimpleShow->setGeometry(10 + w + 2, 2, h, h);
        setFixedSize(10 + w + 2 + h + 4, h + 4);
        return;
    }
    cbColumns->setGeometry(10, 2, w, h);
    edText->setGeometry(10, 4 + h, w, h);
    sbSimpleShow->setGeometry(10 + w + 2, 4 + h, h, h);
    const int optionsTop = 6 + 2 * h;
    rbContianing->setGeometry(10, optionsTop, w / 2, h);
    rbStarting->setGeometry(10 + w / 2, optionsTop, w / 2, h);
    cbMatch->setGeometry(10, optionsTop + h, w, h);
    lStatus->setGeometry(10, optionsTop + 2 * h, w, h);
    setFixedSize(10 + w + 2 + h + 4, optionsTop + 3 * h + 4);
}

int TfrmHGFindDlg::runNonModal()
{
    move(m_grid->currentCellScreenRect().topLeft());
    show();
    activateWindow();
    edText->setFocus();
    QEventLoop loop;
    while (m_result < 0 && isVisible())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    m_grid->Searching = false;
    return m_result < 0 ? QDialog::Rejected : m_result;
}

void TfrmHGFindDlg::runSearch()
{
    if (!m_simple)
        setSimpleLayout(true);
    m_grid->Searching = true;
    m_frame = 0;
    m_timer.start();
    const bool found = m_grid->SearchColumn(edText->text(), cbColumns->currentData().toInt(), cbMatch->isChecked(), rbStarting->isChecked());
    lStatus->setText(found ? QString() : HintGridText::Failure + QStringLiteral(" ..."));
    m_timer.stop();
    m_grid->Searching = false;
    if (isVisible())
        move(m_grid->currentCellScreenRect().topLeft());
}

void TfrmHGFindDlg::tick()
{
    if (!m_grid->Searching)
        return;
    lStatus->setText(HintGridText::Search + HintGridText::Spinner[m_frame]);
    m_frame = (m_frame + 1) % 4;
}

void TfrmHGFindDlg::finish(int result)
{
    m_result = result;
    hide();
    setResult(result);
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
        if (m_grid->Searching)
            m_grid->Searching = false;
        else
            finish(QDialog::Accepted);
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
    } else if (m_wasActive && m_result < 0) {
        m_grid->Searching = false;
        finish(QDialog::Rejected);
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

TfrmHintGridExtra::TfrmHintGridExtra(TDBHintGrid* grid)
    : QDialog(grid, Qt::Dialog | Qt::WindowStaysOnTopHint), m_grid(grid)
{
    setWindowTitle(HintGridText::ChooseValue + QStringLiteral("..."));
    ComboBoxNew1 = new TComboBoxNew(this);
    ComboBoxNew1->setFilterType(ftStarting);
    ComboBoxNew1->setAllowNewValues(true);
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
