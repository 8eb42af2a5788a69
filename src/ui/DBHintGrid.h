#pragma once

#include "MemDataSet.h"
#include "MemDataSetModel.h"
#include "RowSearch.h"

#include <QColor>
#include <QFrame>
#include <QPointer>
#include <QTableView>
#include <QTimer>

// The shared texts of the grid and its search and value windows.
namespace HintGridText {
inline const QString Filtering = QStringLiteral("Филтриране на");
inline const QString Value = QStringLiteral("Стойност");
inline const QString Failure = QStringLiteral("неуспех");
inline const QString Search = QStringLiteral("Търсене");
inline const QString SearchInColumn = QStringLiteral("Търсене в колона");
inline const QString SearchText = QStringLiteral("Текст за търсене");
inline const QString MoreSettings = QStringLiteral("Допълнителни настройки");
inline const QString Starting = QStringLiteral("Започващ");
inline const QString Containing = QStringLiteral("Съдържащ");
inline const QString ExactMatch = QStringLiteral("Точно съвп.");
inline const QString ChooseValue = QStringLiteral("Избор на стойност");
inline const QString RemoveColumnFilter = QStringLiteral("Премахва филтър на текуща колона");
inline const QString RemoveAllFilters = QStringLiteral("Премахва всички филтри");
inline const QString Spinner[4] = {QStringLiteral(" |"), QStringLiteral(" /"), QStringLiteral(" --"), QStringLiteral(" \\")};
} // namespace HintGridText

// The filter of one column. The column itself is never changed: the grid's model shows the
// filter in the column's title and colour, so removing a filter has nothing to give back.
struct TFilterEntry {
    int column;
    QString value; // as typed: the title shows it and the next question offers it
    QString upper; // as compared
};

class TDBHintGrid;

// The grid's model: the dataset's rows through the grid's columns, with a filtered column's
// title "Title [value]" and its colour computed from the grid's filter entries.
class THintGridModel : public TMemDataSetModel {
    Q_OBJECT
public:
    explicit THintGridModel(const TDBHintGrid& grid) : m_grid(grid) {}

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const TDBHintGrid& m_grid;
};

// A borderless window with word-wrapped text that hides itself after a pause.
class TfrmHGFindDlg;

// One search of the grid, as the grid sets it up: what to look for and the row to start at.
struct TGridSearch {
    int field = -1;
    QString text;
    FindMode mode = FindMode::Containing;
    int from = 0;
};

class TGridHintWindow : public QFrame {
    Q_OBJECT
public:
    explicit TGridHintWindow(QWidget* owner);
    void showText(const QString& text, const QRect& screenRect, bool fitHeight);
    const QString& text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QTimer m_hide;
};

// The data grid of the program: cell and title hints, a search window (F3), per-column
// filters (F4, Ctrl+F4, Ctrl+F5) combined with the dataset's own filter, and a mouse wheel
// that moves the current row.
class TDBHintGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBHintGrid(QWidget* parent = nullptr);
    ~TDBHintGrid() override;

    void setDataSet(TMemDataSet* dataSet);
    TMemDataSet* dataSet() const { return m_model.dataSet(); }
    bool hasOpenDataSet() const { return dataSet() && dataSet()->active(); }
    void setColumns(const QList<TGridColumn>& columns);
    const QList<TGridColumn>& columns() const { return m_model.columns(); }
    TMemDataSetModel& gridModel() { return m_model; }

    QColor FilterColor = QColor(217, 255, 255);
    bool Searching = false;
    // The search window (F3) may be switched off for grids that do not want it.
    bool SearchEnabled = true;

    int selectedColumn() const;
    void setSelectedColumn(int column);

    // Finds the text in the column and makes the found row current; when nothing is found the
    // current row stays where it was.
    bool SearchColumn(const QString& text, int column, bool exact, bool starting);
    // The two halves of SearchColumn, for a window that searches in chunks: a new text or column
    // starts at the current row, the same ones again at the next row.
    TGridSearch BeginSearch(const QString& text, int column, bool exact, bool starting);
    void EndSearch(int foundRow); // -1: nothing found, nothing moves
    void SetColumnFilter(int column, const QString& value, bool ask);
    void RemoveColumnFilter(int column);
    void RemoveAllFilters();
    void DropFilters();
    bool FilterRecord(TMemDataSet& dataSet, int sourceRow);

    bool hasFilter(int column) const { return entryOf(column) >= 0; }
    QString filterValue(int column) const; // upper-cased, as compared
    const QList<TFilterEntry>& filters() const { return m_filters; }
    const TFilterEntry* filterOf(int column) const;
    bool filtersDropped() const { return m_filtersDropped; }
    // The hint window shown now, if any.
    TGridHintWindow* hintWindow() const { return m_hint; }
    // Shows the hint for the cell under pos (viewport coordinates), as a mouse move does.
    void hintAt(const QPoint& pos);

    // Opens the search window for this grid (or brings back the one that is open); it frees
    // itself when it closes.
    void ShowSearch();
    TfrmHGFindDlg* searchWindow() const;
    // Opens the value window for the selected column.
    void ShowValueChoice();
    // The screen rectangle of the current cell, where the grid's windows open.
    QRect currentCellScreenRect() const;

signals:
    void OnWMHScroll();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int entryOf(int column) const;
    void applyFilters();  // one rebuild of the shown rows
    void releaseDataSet(); // takes the grid's filter off the dataset it was given
    void followDataSet(int row);
    void hideHint();

    THintGridModel m_model;
    QList<TFilterEntry> m_filters;
    bool m_filtersDropped = false;
    int m_lastSearchColumn = -1;
    QString m_lastSearchText;
    TGridHintWindow* m_hint = nullptr;
    QPointer<TfrmHGFindDlg> m_findDlg;
    QPoint m_lastHintCell{-1, -1};
    bool m_syncing = false;
    int m_column = 0;
};
