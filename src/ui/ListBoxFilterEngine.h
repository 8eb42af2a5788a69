#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <utility>
#include <vector>

class THintListBox;

enum TFilterType { ftFirstLetter, ftStarting, ftContaining };

// Upper case for matching and sorting: one character for one, so that a text and its key have
// the same length; Latin and Cyrillic take a short path.
QString UpperKey(QStringView text);

// The items of a pop-up list, sorted, and which of them are shown. A row is a shown item; the
// hidden items are the ones left out of the visible-index vector, so narrowing a list of
// 100,000 items costs one pass over their keys and no item is ever moved or re-sorted.
class THintListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit THintListModel(bool checkable, QObject* parent = nullptr);

    // Every item shown, none checked; an item's source index is its position in items. The same
    // (shared) list as last time is not sorted again.
    void SetItems(const QStringList& items);
    int ItemCount() const { return static_cast<int>(m_items.size()); }
    bool Checkable() const { return m_checkable; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QString Text(int row) const;
    int SourceIndex(int row) const;
    int RowOfSource(int source) const;   // -1 when hidden or unknown
    int RowOfText(const QString& text) const; // first shown item equal to text, case ignored
    QStringList VisibleTexts() const;

    // For the filter engine; items are numbered in sorted order.
    const std::vector<int>& Visible() const { return m_visible; }
    QStringView UpperText(int item) const
    {
        const Item& it = m_items[static_cast<size_t>(item)];
        return QStringView(m_upper).mid(it.offset, it.length);
    }
    int SourceOfItem(int item) const { return m_items[static_cast<size_t>(item)].source; }
    // The items whose keys start with an upper-cased text: [first, last) in sorted order.
    std::pair<int, int> ItemsStartingWith(QStringView upper) const;
    void SetVisible(std::vector<int> items); // ascending item numbers
    void ShowAll();
    bool AllVisible() const { return m_visible.size() == m_items.size(); }

    bool IsChecked(int source) const;
    void SetChecked(int source, bool checked);
    void SetCheckedSources(const QList<int>& sources); // every other item unchecked
    QList<int> CheckedSources() const;                 // in list order, hidden items included

signals:
    void CheckToggled(int source);

private:
    struct Item {
        qsizetype offset; // of its key in m_upper
        qsizetype length;
        int source;
    };
    static void SortByKey(const QString& keys, std::vector<Item>& items);

    QStringList m_texts;             // by source index
    QString m_upper;                 // the keys of all items, one after another in sorted order
    std::vector<Item> m_items;       // sorted
    std::vector<int> m_itemOfSource;
    std::vector<int> m_visible;
    std::vector<bool> m_checked;     // by source index
    bool m_checkable;
};

// Narrows a pop-up list to the items that start with or contain the typed text, or jumps by
// first letter. Matching is on upper-cased texts.
class TListBoxFilterEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int ContainingDelayMs = 300;

    explicit TListBoxFilterEngine(THintListBox* listBox);

    TFilterType FilterType() const { return m_filterType; }
    void setFilterType(TFilterType type);

    // Every item back, nothing pending, no jump remembered.
    void Reset();
    void ApplyText(const QString& text);
    // The filtering itself, as the timer runs it in ftContaining mode.
    void Filter(const QString& text);
    void ShowOnly(const QList<int>& sources);

    bool FilterPending() const { return m_timer.isActive(); }
    const QString& PendingText() const { return m_pendingText; }
    void RunPendingFilter();
    void CancelPending() { m_timer.stop(); }

private:
    void JumpToFirstLetter(const QString& text);
    void SelectFirst();

    THintListBox* m_listBox;
    TFilterType m_filterType = ftContaining;
    bool m_jumped = false;
    QString m_pendingText;
    QTimer m_timer;
    // The upper-cased text whose matches are exactly the shown items, when that holds: a longer
    // text then only needs to look at the shown items.
    QString m_shownFilter;
    bool m_shownIsFilter = true;
};
