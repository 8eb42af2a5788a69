#pragma once

#include "Importer.h"

#include "users/ApplicationTable.h"

#include <QDialog>
#include <QStringList>

#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
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
    QPushButton* btnSpecialImport;
    QPushButton* sbExit;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void Log(const QString& line);
    void ApplyOptions();
    bool ConnectImportDB();
    void RunRows(const QList<ImportRow>& rows, bool workbook);
    void SetRunning(bool on);

    TDM& m_dm;
    const ApplicationTable& m_apps;
    TfrmUserRights* m_users;
    std::unique_ptr<TUserImporter> m_importer;
    QStringList m_lines;
    QString m_loadedFile;
    ImportEncoding m_loadedEncoding = ImportEncoding::Utf8;
    bool m_shown = false;
    bool m_running = false;
};

// Installs the bulk windows behind the users window's import and automatic rights buttons.
void InstallBulkWindows();
