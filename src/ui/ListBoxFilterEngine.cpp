#include "ListBoxFilterEngine.h"

#include "ComboBoxNew.h"

#include <algorithm>
#include <array>
#include <utility>
#include <numeric>

namespace {

char16_t UpperChar(char16_t c)
{
    if (c < 0x80)
        return c >= u'a' && c <= u'z' ? char16_t(c - 0x20) : c;
    if (c >= 0x430 && c <= 0x44F) // а..я
        return char16_t(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) // ѐ..џ
        return char16_t(c - 0x50);
    return char16_t(QChar::toUpper(c));
}

void UpperInto(QStringView text, QChar* out)
{
    for (const QChar c : text)
        *out++ = QChar(UpperChar(c.unicode()));
}

struct SortEntry {
    quint64 chunk;
    int item; // index into the items being sorted
};

constexpr int kSmallGroup = 64;

// Sorting the items by their keys in time that grows with the number of items, not with n log n
// string comparisons: every character the keys use gets a rank in a small alphabet, as many
// ranks as fit are packed into one integer per key, and a stable radix sort orders those; keys
// that agree in them and go on are sorted the same way by their next characters.
template <typename Item>
class KeySorter {
public:
    KeySorter(const QString& keys, const std::vector<Item>& items) : m_keys(keys), m_items(items)
    {
        // Rank 0 marks the end of a key, so that a key sorts before every longer one it begins.
        std::vector<bool> used(0x10000, false);
        for (const QChar c : keys)
            used[c.unicode()] = true;
        m_rank.assign(0x10000, 0);
        quint32 ranks = 0;
        for (size_t c = 0; c < used.size(); ++c)
            if (used[c])
                m_rank[c] = static_cast<quint16>(++ranks);
        while ((quint32(1) << m_bits) <= ranks)
            ++m_bits;
        m_perChunk = 64 / m_bits;
        m_lastMask = (quint64(1) << m_bits) - 1;
    }

    // Entries whose keys agree in their first `depth` chunks.
    void Sort(SortEntry* first, SortEntry* last, int depth)
    {
        if (last - first <= kSmallGroup) {
            std::sort(first, last, [&](const SortEntry& a, const SortEntry& b) {
                const int c = Key(a).compare(Key(b));
                return c != 0 ? c < 0 : a.item < b.item;
            });
            return;
        }
        const qsizetype at = qsizetype(depth) * m_perChunk;
        for (SortEntry* e = first; e != last; ++e)
            e->chunk = Chunk(Key(*e), at);
        RadixSort(first, last);
        // Keys that agree in this chunk and have not ended in it go on to the next one.
        for (SortEntry* group = first; group != last;) {
            SortEntry* end = group + 1;
            while (end != last && end->chunk == group->chunk)
                ++end;
            if (end - group > 1 && (group->chunk & m_lastMask) != 0)
                Sort(group, end, depth + 1);
            group = end;
        }
    }

private:
    QStringView Key(const SortEntry& e) const
    {
        const Item& item = m_items[static_cast<size_t>(e.item)];
        return QStringView(m_keys).mid(item.offset, item.length);
    }

    quint64 Chunk(QStringView key, qsizetype at) const
    {
        quint64 chunk = 0;
        for (int i = 0; i < m_perChunk; ++i) {
            const qsizetype pos = at + i;
            chunk = (chunk << m_bits) | (pos < key.size() ? m_rank[key[pos].unicode()] : 0);
        }
        return chunk;
    }

    // Stable LSD radix sort of the chunks a byte at a time; a byte in which every entry agrees
    // (the unused high ones, at least) costs no pass.
    void RadixSort(SortEntry* first, SortEntry* last)
    {
        constexpr int kBytes = 8;
        const size_t count = static_cast<size_t>(last - first);
        std::array<std::array<size_t, 256>, kBytes> histograms{};
        for (const SortEntry* e = first; e != last; ++e)
            for (int b = 0; b < kBytes; ++b)
                ++histograms[static_cast<size_t>(b)][(e->chunk >> (8 * b)) & 0xFF];
        m_buffer.resize(std::max(m_buffer.size(), count));
        SortEntry* from = first;
        SortEntry* to = m_buffer.data();
        for (int b = 0; b < kBytes; ++b) {
            std::array<size_t, 256>& h = histograms[static_cast<size_t>(b)];
            if (std::find(h.begin(), h.end(), count) != h.end())
                continue;
            size_t sum = 0;
            for (size_t& c : h)
                sum += std::exchange(c, sum);
            for (const SortEntry* e = from; e != from + count; ++e)
                to[h[(e->chunk >> (8 * b)) & 0xFF]++] = *e;
            std::swap(from, to);
        }
        if (from != first)
            std::copy(from, from + count, first);
    }

    const QString& m_keys;
    const std::vector<Item>& m_items;
    std::vector<quint16> m_rank;
    int m_bits = 1;
    int m_perChunk = 1;
    quint64 m_lastMask = 1;
    std::vector<SortEntry> m_buffer;
};

} // namespace

// Sorted without regard to case (by the upper-cased keys, code unit by code unit); equal keys
// keep the order they come in.
void THintListModel::SortByKey(const QString& keys, std::vector<Item>& items)
{
    std::vector<SortEntry> entries(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        entries[i] = {0, static_cast<int>(i)};
    KeySorter<Item>(keys, items).Sort(entries.data(), entries.data() + entries.size(), 0);
    std::vector<Item> sorted(items.size());
    for (size_t i = 0; i < entries.size(); ++i)
        sorted[i] = items[static_cast<size_t>(entries[i].item)];
    items = std::move(sorted);
}

QString UpperKey(QStringView text)
{
    QString key(text.size(), Qt::Uninitialized);
    UpperInto(text, key.data());
    return key;
}

// ---------------------------------------------------------------------------------------------
// THintListModel

THintListModel::THintListModel(bool checkable, QObject* parent) : QAbstractListModel(parent), m_checkable(checkable) {}

void THintListModel::SetItems(const QStringList& items)
{
    beginResetModel();
    const size_t count = static_cast<size_t>(items.size());
    if (!items.isSharedWith(m_texts) || m_items.size() != count) {
        m_texts = items;
        // Keys in source order first, to sort by.
        qsizetype total = 0;
        for (const QString& t : items)
            total += t.size();
        QString keys(total, Qt::Uninitialized);
        std::vector<Item> bySource(count);
        qsizetype at = 0;
        for (size_t i = 0; i < count; ++i) {
            const QString& text = items[static_cast<qsizetype>(i)];
            bySource[i] = {at, text.size(), static_cast<int>(i)};
            UpperInto(text, keys.data() + at);
            at += text.size();
        }
        SortByKey(keys, bySource);
        // The keys again in sorted order, so that filtering reads memory from start to end.
        m_upper = QString(total, Qt::Uninitialized);
        m_items.resize(count);
        m_itemOfSource.assign(count, 0);
        qsizetype offset = 0;
        for (size_t i = 0; i < count; ++i) {
            const Item& from = bySource[i];
            std::copy_n(keys.constData() + from.offset, from.length, m_upper.data() + offset);
            m_items[i] = {offset, from.length, from.source};
            m_itemOfSource[static_cast<size_t>(from.source)] = static_cast<int>(i);
            offset += from.length;
        }
    }
    m_visible.resize(count);
    std::iota(m_visible.begin(), m_visible.end(), 0);
    m_checked.assign(count, false);
    endResetModel();
}

int THintListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(m_visible.size()); }

QVariant THintListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Item& item = m_items[static_cast<size_t>(m_visible[static_cast<size_t>(index.row())])];
    if (role == Qt::DisplayRole)
        return m_texts[item.source];
    if (role == Qt::CheckStateRole && m_checkable)
        return m_checked[static_cast<size_t>(item.source)] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool THintListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole || !m_checkable)
        return false;
    SetChecked(SourceIndex(index.row()), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags THintListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (m_checkable)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QString THintListModel::Text(int row) const
{
    return row >= 0 && row < rowCount() ? m_texts[SourceIndex(row)] : QString();
}

int THintListModel::SourceIndex(int row) const
{
    return row >= 0 && row < rowCount() ? m_items[static_cast<size_t>(m_visible[static_cast<size_t>(row)])].source : -1;
}

int THintListModel::RowOfSource(int source) const
{
    if (source < 0 || source >= ItemCount())
        return -1;
    const int item = m_itemOfSource[static_cast<size_t>(source)];
    const auto it = std::lower_bound(m_visible.begin(), m_visible.end(), item);
    return it != m_visible.end() && *it == item ? static_cast<int>(it - m_visible.begin()) : -1;
}

int THintListModel::RowOfText(const QString& text) const
{
    const QString upper = UpperKey(text);
    const auto keyOf = [this](const Item& item) { return QStringView(m_upper).mid(item.offset, item.length); };
    auto it = std::lower_bound(m_items.begin(), m_items.end(), upper, [&](const Item& item, const QString& u) { return keyOf(item).compare(u) < 0; });
    for (; it != m_items.end() && keyOf(*it) == upper; ++it) {
        const int row = RowOfSource(it->source);
        if (row >= 0)
            return row;
    }
    return -1;
}

std::pair<int, int> THintListModel::ItemsStartingWith(QStringView upper) const
{
    // The keys are sorted, so the keys cut to the text's length are too: the matches are one run.
    const auto cut = [&](const Item& item) { return QStringView(m_upper).mid(item.offset, std::min(item.length, upper.size())).compare(upper); };
    const auto first = std::partition_point(m_items.begin(), m_items.end(), [&](const Item& item) { return cut(item) < 0; });
    const auto last = std::partition_point(first, m_items.end(), [&](const Item& item) { return cut(item) == 0; });
    return {static_cast<int>(first - m_items.begin()), static_cast<int>(last - m_items.begin())};
}

QStringList THintListModel::VisibleTexts() const
{
    QStringList out;
    out.reserve(rowCount());
    for (int item : m_visible)
        out << m_texts[m_items[static_cast<size_t>(item)].source];
    return out;
}

void THintListModel::SetVisible(std::vector<int> items)
{
    beginResetModel();
    m_visible = std::move(items);
    endResetModel();
}

void THintListModel::ShowAll()
{
    std::vector<int> all(m_items.size());
    std::iota(all.begin(), all.end(), 0);
    SetVisible(std::move(all));
}

bool THintListModel::IsChecked(int source) const
{
    return source >= 0 && source < ItemCount() && m_checked[static_cast<size_t>(source)];
}

void THintListModel::SetChecked(int source, bool checked)
{
    if (source < 0 || source >= ItemCount() || m_checked[static_cast<size_t>(source)] == checked)
        return;
    m_checked[static_cast<size_t>(source)] = checked;
    const int row = RowOfSource(source);
    if (row >= 0)
        emit dataChanged(index(row), index(row), {Qt::CheckStateRole});
    emit CheckToggled(source);
}

void THintListModel::SetCheckedSources(const QList<int>& sources)
{
    m_checked.assign(m_items.size(), false);
    for (int s : sources)
        if (s >= 0 && s < ItemCount())
            m_checked[static_cast<size_t>(s)] = true;
    if (rowCount() > 0)
        emit dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole});
}

QList<int> THintListModel::CheckedSources() const
{
    QList<int> out;
    for (const Item& item : m_items)
        if (m_checked[static_cast<size_t>(item.source)])
            out << item.source;
    return out;
}

// ---------------------------------------------------------------------------------------------
// TListBoxFilterEngine

TListBoxFilterEngine::TListBoxFilterEngine(THintListBox* listBox) : QObject(listBox), m_listBox(listBox)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(ContainingDelayMs);
    // A coarse timer may fire early; the delay is what lets a burst of typing filter once.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { Filter(m_pendingText); });
}

void TListBoxFilterEngine::setFilterType(TFilterType type)
{
    if (type == m_filterType)
        return;
    m_filterType = type;
    // What was shown for a text under one type says nothing about the other.
    if (!m_shownFilter.isEmpty())
        m_shownIsFilter = false;
}

void TListBoxFilterEngine::Reset()
{
    m_timer.stop();
    m_pendingText.clear();
    m_jumped = false;
    THintListModel* model = m_listBox->Model();
    if (!model->AllVisible())
        model->ShowAll();
    m_shownFilter.clear();
    m_shownIsFilter = true;
}

void TListBoxFilterEngine::ApplyText(const QString& text)
{
    switch (m_filterType) {
    case ftFirstLetter:
        JumpToFirstLetter(text);
        break;
    case ftStarting:
        Filter(text);
        break;
    case ftContaining:
        m_pendingText = text;
        m_timer.start();
        break;
    }
}

void TListBoxFilterEngine::RunPendingFilter()
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    Filter(m_pendingText);
}

void TListBoxFilterEngine::Filter(const QString& text)
{
    THintListModel* model = m_listBox->Model();
    const QString t = UpperKey(text);
    if (t.isEmpty()) {
        if (!model->AllVisible()) {
            const int selected = m_listBox->SelectedSource();
            model->ShowAll();
            m_listBox->SelectRow(model->RowOfSource(selected));
        }
        m_shownFilter.clear();
        m_shownIsFilter = true;
        return;
    }

    const bool starting = m_filterType == ftStarting;
    const auto matches = [&](int item) {
        const QStringView upper = model->UpperText(item);
        return starting ? upper.startsWith(t) : upper.contains(t);
    };
    // A text that extends the one the shown items were filtered by cannot bring a hidden item back.
    const bool narrowing = m_shownIsFilter && t.startsWith(m_shownFilter);
    std::vector<int> shown;
    if (starting) {
        const auto [first, last] = model->ItemsStartingWith(t);
        shown.resize(static_cast<size_t>(last - first));
        std::iota(shown.begin(), shown.end(), first);
    } else if (narrowing) {
        for (int item : model->Visible())
            if (matches(item))
                shown.push_back(item);
    } else {
        for (int item = 0, count = model->ItemCount(); item < count; ++item)
            if (matches(item))
                shown.push_back(item);
    }
    if (!narrowing || shown.size() != model->Visible().size())
        model->SetVisible(std::move(shown));
    m_shownFilter = t;
    m_shownIsFilter = true;
    SelectFirst();

    if (m_filterType == ftContaining && model->rowCount() == 0) {
        TComboBoxNew* combo = TComboBoxNew::Current();
        if (combo && combo->AllowNewValues() && combo->ListBox() == m_listBox)
            combo->CloseUp(true);
    }
}

void TListBoxFilterEngine::ShowOnly(const QList<int>& sources)
{
    THintListModel* model = m_listBox->Model();
    std::vector<bool> wanted(static_cast<size_t>(model->ItemCount()), false);
    for (int s : sources)
        if (s >= 0 && s < model->ItemCount())
            wanted[static_cast<size_t>(s)] = true;
    std::vector<int> shown;
    for (int item = 0, count = model->ItemCount(); item < count; ++item)
        if (wanted[static_cast<size_t>(model->SourceOfItem(item))])
            shown.push_back(item);
    model->SetVisible(std::move(shown));
    m_shownIsFilter = false;
    SelectFirst();
}

void TListBoxFilterEngine::JumpToFirstLetter(const QString& text)
{
    if (text.isEmpty())
        return;
    const QString c = UpperKey(text.right(1));
    THintListModel* model = m_listBox->Model();
    const int rows = model->rowCount();
    const auto startsWith = [&](int row) { return model->UpperText(model->Visible()[static_cast<size_t>(row)]).startsWith(c); };

    int start = m_listBox->SelectedRow();
    if (start < 0)
        start = 0;
    else if (m_jumped)
        ++start;
    int found = -1;
    for (int row = start; row < rows && found < 0; ++row)
        if (startsWith(row))
            found = row;
    for (int row = 0; row < rows && found < 0; ++row)
        if (startsWith(row))
            found = row;
    m_jumped = found >= 0;
    if (m_jumped)
        m_listBox->SelectRow(found);
}

void TListBoxFilterEngine::SelectFirst() { m_listBox->SelectRow(m_listBox->Model()->rowCount() > 0 ? 0 : -1); }
