#pragma once

#include "ImportReport.h"
#include "Importer.h"

#include "users/ApplicationTable.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class TDM;
class TfrmUserRights;

// "Въвеждане на потребители": many users at once from a text file or a workbook, with a class in
// one application and provisioning into its database; and the import by name matching.
class TfrmImport : public QDialog {
    Q_OBJECT
public:
    // apps: the users window's application table; its rows after the first are offered.
    // users: the users window, whose list is refreshed after an import (may be null).
    TfrmImport(TDM& dm, const ApplicationTable& apps, TfrmUserRights* users = nullptr, QWidget* parent = nullptr);
    ~TfrmImport() override;

    // Reads the existing users; showing the window does it.
    bool FormShow();
    void btn_LoadClick();
    // Loads a text file into sl, or imports a workbook at once.
    void LoadFile(const QString& path);
    void btn_SaveClick();
    // "Преглед": the loaded file's run with nothing written anywhere, its lines in the report.
    void btnPreviewClick();
    // "Спри": the run ends after the row it is on; the rows done stay done.
    void btnStopClick();
    // "Запис на отчета...": the last run's report where the administrator chooses.
    void btnSaveReportClick();
    void ImportSpreadsheet(const QString& path);
    void btnSpecialImportClick();
    void cb_ProgramsChange(int index);
    void cb_ClassChange(int index);
    void cbDomainUserClick();

    // The application of the chosen cb_Programs item, or nullptr.
    const ApplicationEntry* chosenApplication() const;
    int defaultClass() const;
    const QStringList& loadedLines() const { return m_lines; }
    bool running() const { return m_running; }
    // The last run's lines and summary, as saved; and where it was saved by itself (if it was).
    const QStringList& report() const { return m_report; }
    const QString& savedReport() const { return m_savedReport; }

    QLineEdit* ed_Pass;
    QLineEdit* ed_Sep;
    QComboBox* cb_Programs;
    QComboBox* cb_Class;
    QCheckBox* cbSkipExisting;
    QCheckBox* cbDomainUser;
    QCheckBox* cbChangeUserName;
    QLabel* lbHint;
    QPlainTextEdit* sl;
    QPlainTextEdit* LogMsg;
    QProgressBar* pb_Users;
    QPushButton* btn_Load;
    QPushButton* sbSave;
    QPushButton* btnPreview;
    QPushButton* btnStop;
    QPushButton* btnSaveReport;
    QTabWidget* tabs;
    QPlainTextEdit* mmReport;
    QLabel* lbSummary;
    QPushButton* btnSpecialImport;
    QPushButton* sbExit;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void Log(const QString& line);
    void ApplyOptions();
    bool ConnectImportDB();
    // Starts a run of rows driven from the event loop, a few rows at a time.
    void RunRows(const QList<ImportRow>& rows, bool workbook, bool preview);
    // The loaded file's rows: the workbook's as read, the text's split with the separator now.
    QList<ImportRow> LoadedRows();
    // LoadedRows, or false with the refusal shown.
    bool SplitLoadedRows(QList<ImportRow>& rows);
    void RunStep();
    void FinishRun();
    void SetRunning(bool on);
    void Report(const QString& line);

    TDM& m_dm;
    const ApplicationTable& m_apps;
    TfrmUserRights* m_users;
    std::unique_ptr<TUserImporter> m_importer;
    QStringList m_lines;
    QString m_loadedFile;
    ImportEncoding m_loadedEncoding = ImportEncoding::Utf8;
    QList<ImportRow> m_workbookRows; // the loaded workbook's rows; the text file's are split at each run
    bool m_loadedWorkbook = false;
    // The run under way.
    struct Run {
        QList<ImportRow> rows;
        bool workbook = false;
        bool preview = false;
        qsizetype next = 0;
        bool stopAsked = false;
        int failedAt = 0;
        ImportCounts counts;
    } m_run;
    QTimer m_step;
    QStringList m_report;
    QString m_savedReport;
    bool m_shown = false;
    bool m_running = false;
};

// Installs the bulk windows behind the users window's import and automatic rights buttons.
void InstallBulkWindows();
