#pragma once

#include "DBLists.h"

#include "db/Database.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;
class TDBHintGrid;
class TMemDataSet;

// Which numbered update scripts each configured application database has had applied.
class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    explicit TfrmHistory(QWidget* parent = nullptr);
    ~TfrmHistory() override;

    // Connects to the database of the row's entry and summarises its history; the empty last
    // row does nothing. A failure is shown naming the database, and the list is emptied: it
    // never shows one database's rows under another's name.
    void SelectRow(int row);
    // The entry a row of sgBases stands for, or -1.
    int EntryOfRow(int row) const;

    QTableWidget* sgBases;
    QLabel* labUpdates; // whose history the grid shows, or what to do
    TDBHintGrid* grid;
    TMemDataSet* rxUpdates;
    QPushButton* btnQuit;
    db::Database dbConn;

private:
    void AddRow(int entry);
    void LoadSummary();

    TDBEntryList m_entries;
};

// The file name of a stored script path: peers store Windows paths, so both "\" and "/" end a folder.
QString ScriptFileName(const QString& path);

// How the history viewer is shown from the update window: exec() unless a test drives it.
std::function<void(TfrmHistory&)>& HistoryRunner();
