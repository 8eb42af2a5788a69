// Filtering a combo box list of 100,000 items per keystroke, in ftStarting and ftContaining
// mode. Each keystroke is timed through the combo box's own key handling plus the event
// processing that lays out and paints the list; for ftContaining the filter that the 300 ms
// timer would run is run at once after every key (as if the user paused after each one).

#include "ui/ComboBoxNew.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kItems = 100000;
constexpr int kQueries = 15;

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

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QStringList items = MakeItems(kItems);
    QWidget form;
    auto* combo = new TComboBoxNew(&form);
    combo->setGeometry(10, 10, 250, 24);
    form.resize(300, 100);
    form.show();
    combo->setItems(items);

    std::printf("Combo box filter, %d items, medians of %d queries\n", kItems, kQueries);
    // The first showing of a list sorts it; later showings of the same items do not.
    QElapsedTimer cold;
    cold.start();
    combo->DropDown();
    QCoreApplication::processEvents();
    std::printf("first drop-down of the list (sorting):      %7.2f ms\n", TimeMs(cold));
    combo->CloseUp(false);
    Figures starting, containing;
    Run(combo, ftStarting, items, starting);
    Run(combo, ftContaining, items, containing);
    Print("ftStarting", starting);
    Print("ftContaining", containing);
    return 0;
}
