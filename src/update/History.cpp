#include "History.h"

#include "UpdateText.h"

#include "core/BuiltIn.h"
#include "core/Prompts.h"
#include "ui/DBHintGrid.h"
#include "ui/MemDataSet.h"

#include "db/Error.h"
#include "db/Query.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

namespace Text = UpdateText;

namespace {
constexpr int kEntryRole = Qt::UserRole + 1;
// The table the summary reads.
const QString kHistoryTable = QStringLiteral("SQL_UPDATES");
} // namespace

QString ScriptFileName(const QString& path)
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

std::function<void(TfrmHistory&)>& HistoryRunner()
{
    static std::function<void(TfrmHistory&)> runner;
    return runner;
}

TfrmHistory::TfrmHistory(QWidget* parent) : QDialog(parent), dbConn(Text::HistoryDbName)
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(Text::HistoryCaption);

    auto* bases = new QGroupBox(Text::Application, this);
    sgBases = new QTableWidget(1, 2, bases);
    sgBases->setObjectName(QStringLiteral("sgBases"));
    sgBases->horizontalHeader()->hide();
    sgBases->verticalHeader()->hide();
    sgBases->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sgBases->setSelectionBehavior(QAbstractItemView::SelectRows);
    sgBases->setSelectionMode(QAbstractItemView::SingleSelection);
    sgBases->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    sgBases->horizontalHeader()->setStretchLastSection(true);
    (new QVBoxLayout(bases))->addWidget(sgBases);

    auto* updates = new QGroupBox(Text::Updates, this);
    rxUpdates = new TMemDataSet(this);
    grid = new TDBHintGrid(updates);
    grid->setObjectName(QStringLiteral("grid"));
    grid->SearchEnabled = false;
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setColumns({{QStringLiteral("SU_FILENAME"), Text::HistoryFile, {}, 130, true},
                      {QStringLiteral("SU_DATE"), Text::HistoryDate, {}, 140, true},
                      {QStringLiteral("maxsuno"), Text::HistoryStep, {}, 70, true}});
    grid->setDataSet(rxUpdates);
    labUpdates = new QLabel(Text::HistoryChoose, updates);
    labUpdates->setObjectName(QStringLiteral("labUpdates"));
    labUpdates->setWordWrap(true);
    auto* updatesLayout = new QVBoxLayout(updates);
    updatesLayout->addWidget(labUpdates);
    updatesLayout->addWidget(grid, 1);

    btnQuit = new QPushButton(Text::Exit, this);
    btnQuit->setObjectName(QStringLiteral("btnQuit"));
    btnQuit->setAutoDefault(false);
    connect(btnQuit, &QPushButton::clicked, this, &QDialog::close);

    auto* lists = new QHBoxLayout;
    lists->addWidget(bases, 1);
    lists->addWidget(updates, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnQuit);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);
    resize(760, 440);

    try {
        LoadAllDBEntries(m_entries);
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
    dbConn.disconnect();
    for (int i = 0; i < m_entries.size(); ++i) {
        const QString dbn = m_entries[i].DBN;
        if (dbn.trimmed().isEmpty() || dbn.compare(QLatin1String("sys_db"), Qt::CaseInsensitive) == 0)
            continue;
        AddRow(i);
    }
    // The empty last row cannot be chosen, so it never looks chosen.
    for (int c = 0; c < sgBases->columnCount(); ++c) {
        auto* empty = new QTableWidgetItem;
        empty->setFlags(Qt::NoItemFlags);
        sgBases->setItem(sgBases->rowCount() - 1, c, empty);
    }
    // Nothing is chosen until the administrator chooses: the focus would make the first row
    // current, and connect to its database, as the window opens.
    sgBases->setCurrentItem(nullptr);
    btnQuit->setFocus();
    connect(sgBases, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
        if (row != previous)
            SelectRow(row);
    });
}

TfrmHistory::~TfrmHistory()
{
    grid->setDataSet(nullptr);
    try {
        dbConn.disconnect();
    } catch (const std::exception&) {
    }
}

void TfrmHistory::AddRow(int entry)
{
    const int row = sgBases->rowCount() - 1;
    auto* caption = new QTableWidgetItem(m_entries[entry].Caption);
    caption->setData(kEntryRole, entry);
    sgBases->setItem(row, 0, caption);
    sgBases->setItem(row, 1, new QTableWidgetItem(m_entries[entry].DBN));
    sgBases->setRowCount(row + 2);
}

int TfrmHistory::EntryOfRow(int row) const
{
    const QTableWidgetItem* item = sgBases->item(row, 0);
    return item && item->data(kEntryRole).isValid() ? item->data(kEntryRole).toInt() : -1;
}

void TfrmHistory::SelectRow(int row)
{
    const int entry = EntryOfRow(row);
    if (entry < 0)
        return;
    const TDBEntry& e = m_entries[entry];
    {
        const QSignalBlocker quiet(sgBases); // choosing the row here is no second choice
        sgBases->selectRow(row);
    }
    const QString name = e.Caption.trimmed().isEmpty() ? e.DBN : e.Caption.trimmed();
    labUpdates->setText(QStringLiteral("%1 (%2)").arg(name, e.DBN));
    try {
        dbConn.disconnect();
        dbConn.setDatabaseName(Text::HistoryDbName);
        dbConn.setDriverName(QStringLiteral("IntrBase"));
        dbConn.params().clear();
        AddBuiltInCredentials(dbConn.params());
        // The server path as the database lists form it: a local database has no "host:".
        dbConn.params().setValue(QStringLiteral("Server Name"), ServerPath(e.ServIP, e.BaseName));
        dbConn.connect();
        bool hasHistory = false;
        for (const QString& t : dbConn.tableNames())
            hasHistory = hasHistory || t.trimmed().compare(kHistoryTable, Qt::CaseInsensitive) == 0;
        if (!hasHistory) {
            rxUpdates->close();
            prompts().message(Text::NoHistoryTable.arg(name, e.DBN, kHistoryTable), Prompts::Icon::Warning);
            return;
        }
        LoadSummary();
    } catch (const std::exception& ex) {
        rxUpdates->close();
        prompts().message(Text::HistoryUnreadable.arg(name, e.DBN) + db::errorMessage(ex), Prompts::Icon::Error);
    }
}

void TfrmHistory::LoadSummary()
{
    db::Query q(&dbConn);
    q.setParamCheck(false);
    q.setSql(Text::SummaryQuery);
    q.open();
    struct Suspended {
        TMemDataSet* ds;
        explicit Suspended(TMemDataSet* d) : ds(d) { ds->disableControls(); }
        ~Suspended() { ds->enableControls(); }
    } suspended(rxUpdates);
    rxUpdates->loadFromQuery(q);
    const int file = rxUpdates->fieldIndex(QStringLiteral("SU_FILENAME"));
    if (file >= 0)
        rxUpdates->mapField(file, [](const QVariant& v) { return QVariant(ScriptFileName(v.toString().trimmed())); });
    rxUpdates->open();
    rxUpdates->last();
}
