#pragma once

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
class TDBHintGrid;

// The grid's search window: a small frameless box at the current cell; Enter searches the
// chosen column, Enter again finds the next match.
class TfrmHGFindDlg : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHGFindDlg(TDBHintGrid* grid);

    // Shows the window without blocking input and returns when it closed (OK or Cancel).
    int runNonModal();
    void setSimpleLayout(bool simple);
    bool simpleLayout() const { return m_simple; }
    void runSearch();

    QComboBox* cbColumns;
    QLineEdit* edText;
    QRadioButton* rbContianing;
    QRadioButton* rbStarting;
    QCheckBox* cbMatch;
    QLabel* lStatus;
    QToolButton* sbSimpleShow;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void tick();
    void finish(int result);

    TDBHintGrid* m_grid;
    QTimer m_timer;
    int m_frame = 0;
    bool m_simple = true;
    bool m_wasActive = false;
    int m_result = -1;
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
