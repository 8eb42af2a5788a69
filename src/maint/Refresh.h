#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDialog>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

#include "update/DBLists.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TDM;

// The regeneration window's own texts, as the administrator sees them.
namespace RefreshText {
inline const QString Caption = QStringLiteral("Регенериране");
inline const QString GbakLabel = QStringLiteral("Път до GBAK :  ");
inline const QString LoginCheck = QStringLiteral("Показва диалог за потребителско име и парола");
inline const QString Start = QStringLiteral("Стартирай");
inline const QString EntryFormat = QStringLiteral("%1 (%2)");
inline const QString GbakDialogTitle = QStringLiteral("Посочете файл gbak");
inline const QString GbakDialogFilter = QStringLiteral("Всички файлове|*");
inline const QString CannotGoOnWithoutGbak = QStringLiteral("Процедурата не може да продължи без gbak !");
inline const QString GbakNotFound = QStringLiteral("Gbak не е открит  !");
inline const QString ChooseDatabase = QStringLiteral("Изберете база за регенериране от падащато меню!!!");
inline const QString DatabaseNotFound = QStringLiteral("Не може да бъде намерена избраната база данни !!!");
inline const QString WorkDirError = QStringLiteral("Грешка при създаване на работна директория.");
inline const QString WorkDirCreated = QStringLiteral("Създадена е работна директория : ");
inline const QString TempFile = QStringLiteral("Временен файл  : ");
inline const QString Separator = QString(40, QLatin1Char('='));
inline const QString CredentialsCaption = QStringLiteral("Акаунт за достъп");
inline const QString CredentialsUser = QStringLiteral("Потребител:");
inline const QString CredentialsPassword = QStringLiteral("Парола:");
inline const QString CredentialsCancel = QStringLiteral("Отмяна");
inline const QString Done = QStringLiteral("Готово !");
inline const QString Rename = QStringLiteral("Преименувайте %1 на %2 в папка %3.  ");
inline const QString Success = QStringLiteral("Операцията приключи успешно");
inline const QString LogPrefix = QStringLiteral("Refresh : ");
// Beyond the design: what went wrong instead of a success that was not.
inline const QString HeldByProgram = QStringLiteral(
    "Базата данни %1 е отворена от тази програма (вградена инсталация) и gbak не може да я прочете. "
    "Регенерирайте я от програма, влязла в друга системна база данни, или през сървъра.");
inline const QString BackupFailed = QStringLiteral("Архивирането е неуспешно: %1. Възстановяване не е правено.");
inline const QString RestoreFailed = QStringLiteral("Възстановяването е неуспешно: %1");
inline const QString ExitCode = QStringLiteral("gbak завърши с код %1");
inline const QString Crashed = QStringLiteral("gbak беше прекъснат");
inline const QString NotStarted = QStringLiteral("gbak не може да бъде стартиран (%1)");
inline const QString LastLines = QStringLiteral("Последни редове от gbak:");
inline const QString PartialRemoved = QStringLiteral("Непълната база данни %1 е изтрита.");
inline const QString PartialNotRemoved = QStringLiteral("Непълната база данни %1 не може да бъде изтрита: %2");
inline const QString TargetExists = QStringLiteral("Файлът %1 вече съществува.");
inline const QString StillRunning = QStringLiteral("Регенерирането още работи: изчакайте края му.");
inline const QString LogNotSaved = QStringLiteral("Дневникът не може да бъде записан в %1: %2");
inline const QString VolumeRequested = QStringLiteral("gbak поиска друг том за архива (пълен диск или непълен архив)");
inline const QString BackupRemoved = QStringLiteral("Непълният архив %1 е изтрит.");
inline const QString BackupNotRemoved = QStringLiteral("Непълният архив %1 не може да бъде изтрит: %2");
inline const QString NotRenamed = QStringLiteral("Файлът %1 не може да бъде преименуван на %2: %3");
inline const QString NotRestored = QStringLiteral("Регенерирането е спряно: архивът е готов, възстановяване не е правено.");
inline const QString StoppedOnQuit = QStringLiteral("Програмата приключва: регенерирането е прекъснато.");
} // namespace RefreshText

// The tool's file name and the folders searched for it after the ini setting: the program's
// own folder, then where Firebird's packages put it.
inline const QString kGbakName = QStringLiteral("gbak");
QStringList DefaultGbakFolders();

// "$HOME/Gatekeep/": where backups and logs go.
QString RefreshWorkDir();

// The names one start works with, for database file baseName at time t.
struct RefreshNames {
    QString backupFile;  // in the work folder: F + T + ".gbk"
    QString newName;     // F + T + ".gdb"
    QString newDatabase; // newName in the folder of baseName
};
RefreshNames MakeRefreshNames(const QString& baseName, const QString& workDir, const QDateTime& t);
// Where gbak writes a backup or a restored database until it has succeeded.
inline QString PartialFile(const QString& file) { return file + QStringLiteral(".part"); }

// What gbak is given for a database: servIP ":" path, or the bare local path (opened by gbak's
// embedded engine) when servIP is empty.
QString GbakDatabaseName(const QString& servIP, const QString& path);

// gbak's merged output as lines: LF, CR LF and CR each end a line, and a line cut between two
// reads is joined before it is passed on.
class GbakLines {
public:
    QStringList feed(const QByteArray& piece);
    // The rest after the process ended: an unfinished last line, if any.
    QStringList finish();

private:
    QByteArray m_line;
    bool m_afterCR = false;
};

struct GbakCommand {
    QString program;       // the located gbak
    QStringList arguments; // never a credential: those go into the child's environment
    QString workDir;
    QString user;
    QString password;
};

// One run of gbak: started without waiting, its merged output passed on line by line as it
// arrives, its outcome checked. The child gets the credentials as ISC_USER and ISC_PASSWORD in
// its own environment, the signals the program blocks for itself unblocked, no input (a prompt
// for another volume fails the run), umask 077 for the files it makes, and SIGTERM when the
// program dies.
class RunGbak : public QObject {
    Q_OBJECT
public:
    explicit RunGbak(QObject* parent = nullptr);
    ~RunGbak() override; // stops a gbak still running

    void start(const GbakCommand& command);
    bool running() const;
    // Ends a running gbak and waits for it: SIGTERM, then a kill after a bounded wait.
    void stop();

signals:
    void line(const QString& text);
    // failure is empty on success; lastLines are gbak's last output lines.
    void finished(const QString& failure, const QStringList& lastLines);

private:
    void readOutput();
    void emitLines(const QStringList& lines);
    void done(const QString& failure);

    QProcess m_process;
    GbakLines m_lines;
    QStringList m_tail;
    bool m_reported = false;
    bool m_volumeAsked = false;
};

// Backup of a database into the work folder and restore beside it under a new name, one after
// the other; a failed step ends the job. Each step's file is written as its name + ".part" and
// takes its name only when gbak succeeded; a step that fails or is stopped leaves no file.
struct RefreshPlan {
    QString gbak;
    QString source;      // as gbak names it
    QString backupFile;
    QString target;      // as gbak names it
    QString targetFile;  // the same as a local file
    QString user;
    QString password;
};

class TRefreshJob : public QObject {
    Q_OBJECT
public:
    explicit TRefreshJob(QObject* parent = nullptr);
    ~TRefreshJob() override;

    void start(const RefreshPlan& plan);
    bool running() const { return m_stage != Stage::Idle; }
    // Ends a running gbak; it then fails as any other run would. A step gbak finished before it
    // took the signal is kept, and no further step starts.
    void stop();

signals:
    void output(const QString& text);  // gbak's lines and "Готово !", as they come
    void failure(const QString& text); // what went wrong, one line each
    void finished(bool ok);

private:
    enum class Stage { Idle, Backup, Restore };
    void stepFinished(const QString& error, const QStringList& lastLines);

    RunGbak m_gbak;
    RefreshPlan m_plan;
    Stage m_stage = Stage::Idle;
    bool m_stopping = false;
};

// The local database files this process holds open through its embedded engine; a separate gbak
// cannot open them.
QStringList HeldLocalDatabases(TDM& dm);

class TfrmRefresh : public QDialog {
    Q_OBJECT
public:
    // heldFiles: local database files this process holds open (HeldLocalDatabases).
    explicit TfrmRefresh(const QStringList& heldFiles = {}, QWidget* parent = nullptr);
    ~TfrmRefresh() override; // saves the log

    // Finds gbak (the ini setting, the folders, then the administrator) and writes a newly
    // found one back to Gatekeep.ini. Runs when the window is shown; the window closes when it fails.
    bool LocateGbak();
    // "Стартирай": checks, then runs the backup and the restore without waiting for them.
    void Start();
    bool running() const { return m_job.running(); }
    // Writes a log longer than 10 characters to the work folder, appended to one of the same minute.
    // Every failure is said; nothing is left of a log that could not be written.
    void SaveLog();

    const QString& gbakPath() const { return m_gbak; }
    void setGbakFolders(const QStringList& folders) { m_gbakFolders = folders; }
    const QString& workDir() const { return m_workDir; }
    void setWorkDir(const QString& dir) { m_workDir = dir; }
    const TDBEntryList& entries() const { return m_entries; }
    // Chooses the entry with that index in the list.
    void selectEntry(int index);

    // The credentials dialog: a test may answer it instead.
    static std::function<bool(QString& user, QString& password)>& CredentialsAsker();

    QComboBox* cbAliases;
    QLabel* lbGbak;
    QCheckBox* chkLogin;
    QPushButton* sbStart;
    QPlainTextEdit* mm;

signals:
    void finished(bool ok);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Log(const QString& text);
    void Sink(const QString& text);
    void jobFinished(bool ok);

    QStringList m_heldFiles;
    QStringList m_gbakFolders;
    QString m_workDir;
    QString m_gbak;
    TDBEntryList m_entries;
    TRefreshJob m_job;
    QString m_renameMessage;
    bool m_located = false;
    bool m_logSaved = false;
};

// Opens the window modally over parent; a failure to create it is the caller's to show.
void OpenRefresh(TDM& dm, QWidget* parent);
