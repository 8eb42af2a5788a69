#include "SelectDBPaths.h"

#include "DBLists.h"
#include "SelectDBPathsText.h"

#include "core/Config.h"
#include "core/Prompts.h"

#include "db/Error.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace Text = SelectDBPathsText;

std::function<int(TfrmSelectDBPaths&)>& TfrmSelectDBPaths::Runner()
{
    static std::function<int(TfrmSelectDBPaths&)> runner;
    return runner;
}

TfrmSelectDBPaths::TfrmSelectDBPaths(QWidget* parent) : QDialog(parent)
{
    lbPrompt = new QLabel(this);
    lbPrompt->setObjectName(QStringLiteral("lbPrompt"));
    lbPrompt->setWordWrap(true);

    lvAppl = new QTreeWidget(this);
    lvAppl->setObjectName(QStringLiteral("lvAppl"));
    lvAppl->setColumnCount(ColumnCount);
    lvAppl->setHeaderLabels(Text::Columns);
    lvAppl->setRootIsDecorated(false);
    lvAppl->setUniformRowHeights(true);
    lvAppl->setAllColumnsShowFocus(true);
    lvAppl->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvAppl->setSelectionMode(QAbstractItemView::SingleSelection);
    lvAppl->header()->setSectionsMovable(false);

    sbOK = new QPushButton(Text::OK, this);
    sbOK->setObjectName(QStringLiteral("sbOK"));
    sbCancel = new QPushButton(Text::Cancel, this);
    sbCancel->setObjectName(QStringLiteral("sbCancel"));
    // Enter anywhere in the list means OK; Space stays with the list, where it ticks the row.
    sbOK->setDefault(true);
    sbCancel->setAutoDefault(false);
    connect(sbOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(sbCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(sbOK);
    buttons->addWidget(sbCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lbPrompt);
    layout->addWidget(lvAppl, 1);
    layout->addLayout(buttons);
    lvAppl->setFocus();

    connect(lvAppl, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* row, int column) {
        if (m_single && column == colDBN)
            Choose(row); // ticked: chosen; unticked: it was the chosen one, which stays
    });
    connect(lvAppl, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = lvAppl->selectedItems();
        if (m_single && !selected.isEmpty())
            Choose(selected.first());
    });
}

void TfrmSelectDBPaths::setSingleChoice(bool on)
{
    m_single = on;
    if (on)
        Choose(lvAppl->currentItem() ? lvAppl->currentItem() : lvAppl->topLevelItem(0));
}

void TfrmSelectDBPaths::Choose(QTreeWidgetItem* row)
{
    if (!row || m_choosing)
        return;
    const QScopedValueRollback guard(m_choosing, true);
    for (int r = 0; r < lvAppl->topLevelItemCount(); ++r) {
        QTreeWidgetItem* item = lvAppl->topLevelItem(r);
        item->setCheckState(colDBN, item == row ? Qt::Checked : Qt::Unchecked);
    }
    lvAppl->setCurrentItem(row);
    row->setSelected(true);
}

QTreeWidgetItem* TfrmSelectDBPaths::chosenRow() const
{
    for (int r = 0; r < lvAppl->topLevelItemCount(); ++r)
        if (lvAppl->topLevelItem(r)->checkState(colDBN) == Qt::Checked)
            return lvAppl->topLevelItem(r);
    return lvAppl->topLevelItem(0);
}

void TfrmSelectDBPaths::FitToContents()
{
    // A little air between columns, so that a path does not run into the next one.
    const int gap = 2 * lvAppl->fontMetrics().averageCharWidth();
    for (int c = 0; c < ColumnCount; ++c) {
        lvAppl->resizeColumnToContents(c);
        lvAppl->setColumnWidth(c, lvAppl->columnWidth(c) + gap);
    }
    const QHeaderView* header = lvAppl->header();
    const int frame = 2 * lvAppl->frameWidth();
    int width = frame + lvAppl->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < ColumnCount; ++c)
        width += header->sectionSize(c);
    constexpr int kMaxVisibleRows = 15;
    const int rows = std::clamp(lvAppl->topLevelItemCount(), 3, kMaxVisibleRows);
    const int rowHeight = std::max(lvAppl->sizeHintForRow(0), lvAppl->fontMetrics().height());
    const int height = frame + header->sizeHint().height() + rows * rowHeight;

    // Long paths may not fit on the screen; the list scrolls then.
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() * 9 / 10 : QSize(1024, 700);
    lvAppl->setMinimumSize(std::min(width, room.width() - 40), std::min(height, room.height() / 2));
    lbPrompt->setMaximumWidth(lvAppl->minimumWidth());
    adjustSize();
    // Let the administrator make the window smaller again.
    lvAppl->setMinimumSize(0, 0);
    lbPrompt->setMaximumWidth(QWIDGETSIZE_MAX);
}

bool LoadLvFromIni(const QString& iniPath, QTreeWidget* list, const QString& section)
{
    list->clear();
    try {
        const IniFile ini(iniPath);
        for (int i : EntryNumbers(ini, section)) {
            const TDBEntry e = ReadDBEntryFields(ini, section, i);
            // ServIP may be blank: the database is then a path on this machine.
            if (e.DBN.isEmpty() || e.Caption.trimmed().isEmpty() || e.BaseName.trimmed().isEmpty() ||
                e.sysBaseName.trimmed().isEmpty())
                continue;
            auto* row = new QTreeWidgetItem(list, QStringList{e.DBN, e.Caption, e.ServIP, e.BaseName, e.sysBaseName});
            row->setCheckState(TfrmSelectDBPaths::colDBN, Qt::Checked);
        }
    } catch (const std::exception& e) {
        list->clear();
        prompts().message(Text::LoadLvFromIniError + db::errorMessage(e), Prompts::Icon::Error);
        return false;
    }
    return list->topLevelItemCount() > 0;
}

namespace {
QString rowValue(const QTreeWidgetItem* row, bool returnDBN)
{
    using F = TfrmSelectDBPaths;
    return returnDBN ? row->text(F::colDBN) : ServerPath(row->text(F::colServIP), row->text(F::colBaseName));
}
} // namespace

int SelectDBPaths(const QString& caption, const QString& prompt, const QString& section, bool returnDBN, bool single,
                  const QString& filter, QStringList& values, bool* cancelled)
{
    values.clear();
    if (cancelled)
        *cancelled = false;
    const QString iniPath = ConfigIniPath();
    if (!QFileInfo::exists(iniPath)) {
        const QString server = AliasServerName(SectionAlias(section)).trimmed();
        if (server.isEmpty())
            return 2;
        values << server;
        return 1;
    }

    try {
        TfrmSelectDBPaths w(QApplication::activeWindow());
        QTreeWidget* lv = w.lvAppl;
        LoadLvFromIni(iniPath, lv, section);
        const QString wanted = filter.trimmed().toUpper();
        if (!wanted.isEmpty())
            for (int r = lv->topLevelItemCount() - 1; r >= 0; --r)
                if (!lv->topLevelItem(r)->text(TfrmSelectDBPaths::colSysBaseName).toUpper().contains(wanted))
                    delete lv->takeTopLevelItem(r);
        const int rows = lv->topLevelItemCount();
        if (rows == 0)
            return 2;
        if (rows > 1) {
            w.setWindowTitle(caption);
            w.lbPrompt->setText(prompt);
            lv->setCurrentItem(lv->topLevelItem(0));
            w.setSingleChoice(single);
            w.FitToContents();
            if (w.run() != QDialog::Accepted) {
                if (cancelled)
                    *cancelled = true;
                return 2;
            }
        }

        if (!single) {
            for (int r = 0; r < rows; ++r)
                if (lv->topLevelItem(r)->checkState(TfrmSelectDBPaths::colDBN) == Qt::Checked)
                    values << rowValue(lv->topLevelItem(r), returnDBN);
        } else {
            values << rowValue(w.chosenRow(), returnDBN);
        }
    } catch (const std::exception& e) {
        values.clear();
        prompts().message(Text::Error + db::errorMessage(e), Prompts::Icon::Error);
        return 2;
    }
    return values.isEmpty() ? 2 : 1;
}
