#pragma once

#include "DBLists.h"

#include "db/Database.h"

#include <QDialog>

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
    // row does nothing. A failure is shown and leaves the list as it was.
    void SelectRow(int row);
    // The entry a row of sgBases stands for, or -1.
    int EntryOfRow(int row) const;

    QTableWidget* sgBases;
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
