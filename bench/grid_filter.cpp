// The hint grid's column filter and its search window over a users-like dataset, each against a
// bare scan of the same column done in the same run, with the results checked against the scan.
//
//   bench_grid_filter [rows ...]     (default 100000; for example: bench_grid_filter 100000 1000000)
//
// Bare scans: the filter's is one pass over the rows asking the dataset for the column's display
// text and testing it case-insensitively, collecting the rows kept; the search's is one pass over
// the shown rows comparing each trimmed display text with the wanted one, stopping at the first
// match. The grid pays for its record filter, the rebuild of the shown rows and the view's
// reset; the search window for going back to the event loop every few milliseconds.
#include "ui/DBHintGrid.h"
#include "ui/HintGridDialogs.h"

#include "Report.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRuns = 7;

double Ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "wrong result: %s\n", what);
    std::exit(1);
}

void Fill(TMemDataSet& ds, int rows)
{
    const QStringList first = {QStringLiteral("Иван"), QStringLiteral("Петър"), QStringLiteral("Мария"), QStringLiteral("Анна"),
                               QStringLiteral("Георги"), QStringLiteral("Елена")};
    const QStringList last = {QStringLiteral("Петров"), QStringLiteral("Иванова"), QStringLiteral("Георгиев"), QStringLiteral("Костова"),
                              QStringLiteral("Димитров"), QStringLiteral("Николова"), QStringLiteral("Стоянов")};
    ds.setFields({QStringLiteral("USER_ID"), QStringLiteral("USER_FNM"), QStringLiteral("USER_RNM")});
    ds.disableControls();
    for (int i = 0; i < rows; ++i)
        ds.appendRow({i + 1, QStringLiteral("user%1").arg(i + 1),
                      first[i % first.size()] + QLatin1Char(' ') + last[(i / 7) % last.size()] + QStringLiteral(" %1").arg(i)});
    ds.enableControls();
    ds.open();
}

std::vector<int> BareFilterScan(const TMemDataSet& ds, int field, const QString& value)
{
    std::vector<int> kept;
    for (int row = 0, n = ds.sourceRowCount(); row < n; ++row)
        if (ds.sourceText(row, field).contains(value, Qt::CaseInsensitive))
            kept.push_back(row);
    return kept;
}

int BareSearchScan(const TMemDataSet& ds, int field, const QString& wanted)
{
    for (int row = 0, n = ds.recordCount(); row < n; ++row)
        if (ds.textAt(row, field).trimmed().contains(wanted, Qt::CaseInsensitive))
            return row;
    return -1;
}

bool ShowsExactly(const TMemDataSet& ds, const std::vector<int>& kept)
{
    if (ds.recordCount() != static_cast<int>(kept.size()))
        return false;
    for (int i = 0; i < ds.recordCount(); ++i)
        if (ds.sourceRowAt(i) != kept[static_cast<size_t>(i)])
            return false;
    return true;
}

void Run(int rows)
{
    TMemDataSet ds;
    Fill(ds, rows);
    TDBHintGrid grid;
    grid.setDataSet(&ds);
    grid.setColumns({{QStringLiteral("USER_ID"), QStringLiteral("№"), {}, 60, true},
                     {QStringLiteral("USER_FNM"), QStringLiteral("Потребител"), {}, 120, true},
                     {QStringLiteral("USER_RNM"), QStringLiteral("Име"), {}, 200, true}});
    grid.resize(600, 400);
    grid.show();
    QApplication::processEvents();
    int resets = 0;
    QObject::connect(&ds, &TMemDataSet::layoutReset, [&resets] { ++resets; });

    const QString value = QStringLiteral("костова");
    const QString changed = QStringLiteral("николова");
    std::vector<double> bareFilter, setFilter, changeFilter, removeFilter;
    size_t kept = 0, keptChanged = 0;
    int rebuildsPerChange = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        const std::vector<int> bare = BareFilterScan(ds, 2, value);
        bareFilter.push_back(Ms(t));
        const std::vector<int> bareChanged = BareFilterScan(ds, 2, changed);
        kept = bare.size();
        keptChanged = bareChanged.size();

        resets = 0;
        t.restart();
        grid.SetColumnFilter(2, value, false);
        QApplication::processEvents();
        setFilter.push_back(Ms(t));
        if (!ShowsExactly(ds, bare))
            Fail("the filter keeps other rows than the bare scan");
        rebuildsPerChange = std::max(rebuildsPerChange, resets);

        resets = 0;
        t.restart();
        grid.SetColumnFilter(2, changed, false);
        QApplication::processEvents();
        changeFilter.push_back(Ms(t));
        if (!ShowsExactly(ds, bareChanged))
            Fail("the changed filter keeps other rows than the bare scan");
        rebuildsPerChange = std::max(rebuildsPerChange, resets);

        resets = 0;
        t.restart();
        grid.RemoveColumnFilter(2);
        QApplication::processEvents();
        removeFilter.push_back(Ms(t));
        if (ds.recordCount() != rows)
            Fail("rows missing after the filter was removed");
        rebuildsPerChange = std::max(rebuildsPerChange, resets);
    }

    // The search: the last row's user name, so every search runs to the end of the list.
    const QString wanted = QStringLiteral("user%1").arg(rows);
    std::vector<double> bareSearch, syncSearch, windowSearch;
    TfrmHGFindDlg dlg(&grid);
    dlg.show();
    dlg.cbColumns->setCurrentIndex(dlg.cbColumns->findData(1));
    dlg.edText->setText(wanted);
    QApplication::processEvents();
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        const int bare = BareSearchScan(ds, 1, wanted);
        bareSearch.push_back(Ms(t));
        if (bare != rows - 1)
            Fail("the bare search found another row");

        ds.first();
        grid.Searching = true;
        t.restart();
        const bool found = grid.SearchColumn(wanted, 1, false, false);
        syncSearch.push_back(Ms(t));
        grid.Searching = false;
        if (!found || ds.recNo() != rows - 1)
            Fail("the grid's search found another row");

        ds.first();
        t.restart();
        dlg.runSearch();
        while (dlg.searchRunning())
            QApplication::processEvents();
        windowSearch.push_back(Ms(t));
        if (ds.recNo() != rows - 1)
            Fail("the search window found another row");
    }

    std::printf("rows: %d (medians of %d runs)\n", rows, kRuns);
    std::printf("  bare filter scan:                    %8.1f ms (keeps %zu rows)\n", Median(bareFilter), kept);
    std::printf("  column filter set:                   %8.1f ms  x%.2f\n", Median(setFilter), Median(setFilter) / Median(bareFilter));
    std::printf("  column filter changed:               %8.1f ms  x%.2f (keeps %zu rows)\n", Median(changeFilter),
                Median(changeFilter) / Median(bareFilter), keptChanged);
    std::printf("  column filter removed:               %8.1f ms\n", Median(removeFilter));
    std::printf("  rebuilds of the shown rows per change: %d\n", rebuildsPerChange);
    std::printf("  bare search scan to the last row:    %8.1f ms\n", Median(bareSearch));
    std::printf("  grid search, no events:              %8.1f ms  x%.2f\n", Median(syncSearch), Median(syncSearch) / Median(bareSearch));
    std::printf("  search window (event loop turns):    %8.1f ms  x%.2f\n", Median(windowSearch), Median(windowSearch) / Median(bareSearch));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes.push_back(100000);
    for (int rows : sizes) {
        if (rows < 1)
            Fail("the row count must be positive");
        Run(rows);
    }
    std::printf("no database files (in memory only); peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
