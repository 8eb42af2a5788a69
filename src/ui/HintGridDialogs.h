#pragma once

#include "DBHintGrid.h"

#include <QDialog>
#include <QTimer>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QToolButton;
class TComboBoxNew;

// The grid's search window: a small frameless box just below the current cell; Enter searches
// the chosen column, Enter again finds the next match. It never blocks: a long list is searched a
// few milliseconds at a time from the event loop, so Esc and the spinner keep working.
class TfrmHGFindDlg : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHGFindDlg(TDBHintGrid* grid);

    // Shows the window below the grid's current cell with the text box focused.
    void showAtCell();
    // Puts the window just below the cell (screen coordinates), or above it where the screen
    // has no room below.
    void placeAt(const QRect& cell);
    void setSimpleLayout(bool simple);
    bool simpleLayout() const { return m_simple; }
    // Starts a search for the text in the chosen column; it ends in searchFinished.
    void runSearch();
    bool searchRunning() const { return m_running; }

    // How long one turn of the search may keep the event loop waiting, and how many rows it
    // looks at between two readings of the clock.
    int SliceMs = 8;
    int RowsPerClockRead = 512;

    QComboBox* cbColumns;
    QLineEdit* edText;
    QRadioButton* rbContianing;
    QRadioButton* rbStarting;
    QCheckBox* cbMatch;
    QLabel* lStatus;
    QToolButton* sbSimpleShow;

signals:
    void searchFinished(bool found);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    void searchChunk();
    void finishSearch(int row);

    TDBHintGrid* m_grid;
    QTimer m_timer;
    int m_frame = 0;
    bool m_simple = true;
    bool m_wasActive = false;
    bool m_running = false;
    TGridSearch m_search;
    int m_rows = 0;   // rows in the list when the search began
    int m_looked = 0; // rows looked at so far
    QPoint m_dragFrom;
};

// The grid's value window: every distinct text of the selected column among the rows shown,
// to choose the column's filter from.
class TfrmHintGridExtra : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHintGridExtra(TDBHintGrid* grid);

    void LoadValues();
    QStringList values() const;

    TComboBoxNew* ComboBoxNew1;
    QPushButton* bChoose;
    QPushButton* Button2;
    QPushButton* Button3;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    TDBHintGrid* m_grid;
};
