// A combo box list's first drop-down (it sorts the items) against a bare sort of the same items
// in the same run, and filtering the list per keystroke in ftStarting and ftContaining mode.
//
//   bench_combo_filter [items ...]   (default 100000; for example: bench_combo_filter 100000 1000000)
//
// The bare sort is what a plain program would do: upper-case every item and stable-sort the
// item numbers by those keys. The list must come out in exactly that order. Each keystroke is
// timed through the combo box's own key handling plus the event processing that lays out and
// paints the list; for ftContaining the filter that the 300 ms timer would run is run at once
// after every key (as if the user paused after each one).

#include "ui/ComboBoxNew.h"

#include "Report.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

constexpr int kQueries = 15;
constexpr int kSortRuns = 5;

QStringList MakeItems(int count)
{
    const QStringList syllables = {"ан", "бо", "ве", "ги", "да", "жу", "зо", "ил", "ка", "ло", "ми", "на", "оп",
                                   "пе", "ра", "си", "ту", "фи", "ха", "це", "чо", "ша", "ю", "я", "ов", "ев", "ин"};
    QRandomGenerator random(42);
    QStringList items;
    items.reserve(count);
    const auto word = [&] {
        QString w;
        for (int s = 0, n = 2 + random.bounded(3); s < n; ++s)
            w += syllables[random.bounded(syllables.size())];
        w[0] = w[0].toUpper();
        return w;
    };
    for (int i = 0; i < count; ++i)
        items << word() + QLatin1Char(' ') + word() + QStringLiteral(" ") + QString::number(random.bounded(1000));
    return items;
}

double TimeMs(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

void SendKey(QWidget* w, int key, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &release);
}

struct Figures {
    std::vector<double> dropDown;  // the first key: the list is filled (already sorted) and filtered
    std::vector<double> narrowing; // every further character
    std::vector<double> widening;  // Backspace
    std::vector<double> shownAfter;
};

void Run(TComboBoxNew* combo, TFilterType type, const QStringList& items, Figures& f)
{
    combo->setFilterType(type);
    TListBoxFilterEngine* engine = combo->ListBox()->Engine();
    QRandomGenerator random(7);
    const auto keystroke = [&](int key, const QString& text, std::vector<double>& into) {
        QElapsedTimer t;
        t.start();
        SendKey(combo, key, text);
        engine->RunPendingFilter();
        QCoreApplication::processEvents();
        into.push_back(TimeMs(t));
    };
    for (int q = 0; q < kQueries; ++q) {
        const QString& item = items[random.bounded(items.size())];
        // ftStarting types the start of an item, ftContaining a piece from its middle.
        const QString query = type == ftStarting ? item.left(6) : item.mid(2, 5);
        combo->setText({});
        for (int i = 0; i < query.size(); ++i)
            keystroke(query[i].toUpper().unicode(), QString(query[i]), i == 0 ? f.dropDown : f.narrowing);
        f.shownAfter.push_back(combo->ListBox()->Model()->rowCount());
        for (int i = 0; i < query.size(); ++i)
            keystroke(Qt::Key_Backspace, QStringLiteral("\b"), f.widening);
        combo->CloseUp(false);
    }
}

void Print(const char* mode, const Figures& f)
{
    std::printf("%-13s first key (drop-down and filter):    %7.2f ms\n", mode, Median(f.dropDown));
    std::printf("%-13s narrowing keystroke:                 %7.2f ms\n", mode, Median(f.narrowing));
    std::printf("%-13s Backspace keystroke:                 %7.2f ms\n", mode, Median(f.widening));
    std::printf("%-13s items left by a full query (median): %7.0f\n", mode, Median(f.shownAfter));
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "wrong result: %s\n", what);
    std::exit(1);
}

std::vector<int> BareSort(const QStringList& items)
{
    std::vector<QString> keys;
    keys.reserve(static_cast<size_t>(items.size()));
    for (const QString& item : items)
        keys.push_back(item.toUpper());
    std::vector<int> order(keys.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&keys](int a, int b) { return keys[static_cast<size_t>(a)] < keys[static_cast<size_t>(b)]; });
    return order;
}

// The first drop-down of each size, for the growth from one size to the next.
struct Sorted {
    int items;
    double dropDown;
    double bare;
};

Sorted RunSize(int count)
{
    const QStringList items = MakeItems(count);
    QWidget form;
    auto* combo = new TComboBoxNew(&form);
    combo->setGeometry(10, 10, 250, 24);
    form.resize(300, 100);
    form.show();
    QCoreApplication::processEvents();

    std::printf("Combo box, %d items\n", count);
    std::vector<double> bare, dropDown;
    std::vector<int> order;
    for (int run = 0; run < kSortRuns; ++run) {
        QElapsedTimer t;
        t.start();
        order = BareSort(items);
        bare.push_back(TimeMs(t));

        // A list of its own each time: the same list again would not be sorted again.
        combo->setItems(QStringList(items.begin(), items.end()));
        t.restart();
        combo->DropDown();
        QCoreApplication::processEvents();
        dropDown.push_back(TimeMs(t));
        const THintListModel* model = combo->ListBox()->Model();
        if (model->rowCount() != count)
            Fail("the list does not show every item");
        for (int row = 0; row < count; ++row)
            if (model->SourceIndex(row) != order[static_cast<size_t>(row)])
                Fail("the list is not in the order of the bare sort");
        combo->CloseUp(false);
    }
    std::printf("bare sort (upper-case keys, stable sort):    %8.2f ms\n", Median(bare));
    std::printf("first drop-down of the list (sorting):       %8.2f ms  x%.2f\n", Median(dropDown), Median(dropDown) / Median(bare));

    Figures starting, containing;
    Run(combo, ftStarting, items, starting);
    Run(combo, ftContaining, items, containing);
    Print("ftStarting", starting);
    Print("ftContaining", containing);
    return {count, Median(dropDown), Median(bare)};
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
    std::vector<Sorted> sorted;
    for (int count : sizes) {
        if (count < 1)
            Fail("the item count must be positive");
        sorted.push_back(RunSize(count));
    }
    for (size_t i = 1; i < sorted.size(); ++i)
        std::printf("growth %d -> %d items (x%.1f): first drop-down x%.1f, bare sort x%.1f\n", sorted[i - 1].items, sorted[i].items,
                    double(sorted[i].items) / sorted[i - 1].items, sorted[i].dropDown / sorted[i - 1].dropDown, sorted[i].bare / sorted[i - 1].bare);
    std::printf("no database files (in memory only); peak resident memory of this process: %ld KiB\n", PeakResidentKb());
    return 0;
}
