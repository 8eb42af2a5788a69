#include "Refresh.h"

#include "core/BuiltIn.h"
#include "core/Config.h"
#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/QuitSignals.h"

#include "db/Error.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <csignal>

#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough of gbak's output to tell why it failed, without repeating a whole verbose log.
constexpr int kTailLines = 8;

// gbak's engine takes SIGTERM as a shutdown and ends the run within a second or so. A kill is
// the last resort: gbak killed inside the engine's shared memory leaves a lock there that stops
// every other embedded user of the same lock folder.
constexpr int kTerminateWaitMs = 10000;

QString stamp(const QDateTime& t, const char* format) { return t.toString(QLatin1String(format)); }

// gbak's question for the next volume of a backup: it waits for an answer that never comes.
bool asksForVolume(const QString& line)
{
    return line.contains(QLatin1String("Done with volume")) || line.contains(QLatin1String("Press return to reopen"));
}

// Backups and logs hold every user and stored password: the folder is the owner's alone.
bool makeWorkDir(const QString& dir)
{
    if (QFileInfo(dir).isDir())
        return true;
    return QDir().mkpath(dir) && QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

QStringList DefaultGbakFolders()
{
    return {QCoreApplication::applicationDirPath(), QStringLiteral("/usr/bin"), QStringLiteral("/opt/firebird/bin")};
}

QString RefreshWorkDir() { return QDir::homePath() + QStringLiteral("/Gatekeep/"); }

RefreshNames MakeRefreshNames(const QString& baseName, const QString& workDir, const QDateTime& t)
{
    const QFileInfo db(baseName);
    // Day before month, as the suite has always named these files.
    const QString stem = db.completeBaseName() + stamp(t, "yyyyddMM-hhmmss");
    RefreshNames n;
    n.backupFile = QDir(workDir).filePath(stem + QStringLiteral(".gbk"));
    n.newName = stem + QStringLiteral(".gdb");
    n.newDatabase = QDir(db.path()).filePath(n.newName);
    return n;
}

QString GbakDatabaseName(const QString& servIP, const QString& path)
{
    return servIP.isEmpty() ? path : servIP + QLatin1Char(':') + path;
}

QStringList GbakLines::feed(const QByteArray& piece)
{
    QStringList out;
    for (const char c : piece) {
        if (c == '\n' && m_afterCR) {
            m_afterCR = false;
            continue;
        }
        m_afterCR = c == '\r';
        if (c == '\n' || c == '\r') {
            out << QString::fromLocal8Bit(m_line);
            m_line.clear();
        } else {
            m_line += c;
        }
    }
    return out;
}

QStringList GbakLines::finish()
{
    QStringList out;
    if (!m_line.isEmpty())
        out << QString::fromLocal8Bit(m_line);
    m_line.clear();
    m_afterCR = false;
    return out;
}

RunGbak::RunGbak(QObject* parent) : QObject(parent)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // gbak asks on its input for another volume when a backup does not fit; with no input it
    // gives up instead of holding the database for good.
    m_process.setStandardInputFile(QProcess::nullDevice());
    const pid_t program = ::getpid();
    m_process.setChildProcessModifier([program] {
        // The program blocks SIGTERM and SIGINT in all its threads to read them from a
        // descriptor; a child inherits that mask and could then not be stopped.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Backups and restored databases are readable by their owner alone.
        ::umask(077);
        // A program killed outright shuts gbak down with it (not SIGKILL, for the reason above).
        // The signal follows the starting thread, the user-interface thread, which lives as long
        // as the program.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != program)
            ::_exit(127);
    });
    connect(&m_process, &QProcess::readyRead, this, &RunGbak::readOutput);
    connect(&m_process, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
        readOutput();
        emitLines(m_lines.finish());
        if (m_volumeAsked)
            done(RefreshText::VolumeRequested);
        else if (status != QProcess::NormalExit)
            done(RefreshText::Crashed);
        else
            done(exitCode == 0 ? QString() : RefreshText::ExitCode.arg(exitCode));
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(RefreshText::NotStarted.arg(m_process.errorString()));
    });
}

RunGbak::~RunGbak()
{
    blockSignals(true);
    stop();
}

void RunGbak::start(const GbakCommand& command)
{
    m_lines = GbakLines();
    m_tail.clear();
    m_reported = false;
    m_volumeAsked = false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ISC_USER"), command.user);
    env.insert(QStringLiteral("ISC_PASSWORD"), command.password);
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(command.workDir);
    m_process.start(command.program, command.arguments, QIODevice::ReadOnly);
}

bool RunGbak::running() const { return m_process.state() != QProcess::NotRunning; }

void RunGbak::stop()
{
    if (!running())
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kTerminateWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(kTerminateWaitMs);
    }
}

void RunGbak::readOutput() { emitLines(m_lines.feed(m_process.readAll())); }

void RunGbak::emitLines(const QStringList& lines)
{
    for (const QString& l : lines) {
        m_tail << l;
        if (m_tail.size() > kTailLines)
            m_tail.removeFirst();
        if (!m_volumeAsked && asksForVolume(l)) {
            m_volumeAsked = true;
            m_process.kill();
        }
        emit line(l);
    }
}

void RunGbak::done(const QString& failure)
{
    // A process that fails to start reports both an error and no finish, or both.
    if (m_reported)
        return;
    m_reported = true;
    emit finished(failure, m_tail);
}

TRefreshJob::TRefreshJob(QObject* parent) : QObject(parent)
{
    connect(&m_gbak, &RunGbak::line, this, &TRefreshJob::output);
    connect(&m_gbak, &RunGbak::finished, this, &TRefreshJob::stepFinished);
}

TRefreshJob::~TRefreshJob()
{
    // Nobody listens any more; a step stopped here still removes its partial file.
    blockSignals(true);
    stop();
}

void TRefreshJob::start(const RefreshPlan& plan)
{
    if (running())
        return;
    m_plan = plan;
    // gbak refuses to restore over a file, and a file that was there is not ours to remove.
    for (const QString& file : {plan.targetFile, PartialFile(plan.targetFile)}) {
        if (QFileInfo::exists(file)) {
            emit failure(RefreshText::TargetExists.arg(file));
            emit finished(false);
            return;
        }
    }
    m_stage = Stage::Backup;
    // Garbage collection off: the backup only reads.
    m_gbak.start({plan.gbak,
                  {QStringLiteral("-g"), QStringLiteral("-b"), QStringLiteral("-v"), plan.source, PartialFile(plan.backupFile)},
                  QFileInfo(plan.gbak).path(), plan.user, plan.password});
}

void TRefreshJob::stop()
{
    m_stopping = true;
    m_gbak.stop();
    m_stopping = false;
}

void TRefreshJob::stepFinished(const QString& error, const QStringList& lastLines)
{
    const Stage stage = m_stage;
    const QString file = stage == Stage::Backup ? m_plan.backupFile : m_plan.targetFile;
    const QString partial = PartialFile(file);
    const auto removePartial = [this, stage, &partial] {
        QFile f(partial);
        if (!f.exists())
            return;
        const bool backup = stage == Stage::Backup;
        if (f.remove())
            emit failure((backup ? RefreshText::BackupRemoved : RefreshText::PartialRemoved).arg(partial));
        else
            emit failure((backup ? RefreshText::BackupNotRemoved : RefreshText::PartialNotRemoved).arg(partial, f.errorString()));
    };
    if (!error.isEmpty()) {
        emit failure(stage == Stage::Backup ? RefreshText::BackupFailed.arg(error) : RefreshText::RestoreFailed.arg(error));
        if (!lastLines.isEmpty()) {
            emit failure(RefreshText::LastLines);
            for (const QString& l : lastLines)
                emit failure(QStringLiteral("  ") + l);
        }
        removePartial();
        m_stage = Stage::Idle;
        emit finished(false);
        return;
    }
    // Whole now: only this gives the file its name.
    QFile written(partial);
    if (!written.rename(file)) {
        emit failure(RefreshText::NotRenamed.arg(partial, file, written.errorString()));
        removePartial();
        m_stage = Stage::Idle;
        emit finished(false);
        return;
    }
    emit output(RefreshText::Done);
    if (stage == Stage::Backup) {
        // Stopped while gbak finished the backup anyway: the backup is kept, nothing is restored.
        if (m_stopping) {
            emit failure(RefreshText::NotRestored);
            m_stage = Stage::Idle;
            emit finished(false);
            return;
        }
        m_stage = Stage::Restore;
        m_gbak.start({m_plan.gbak,
                      {QStringLiteral("-c"), QStringLiteral("-v"), QStringLiteral("-p"), QStringLiteral("4096"), m_plan.backupFile,
                       PartialFile(m_plan.target)},
                      QFileInfo(m_plan.gbak).path(), m_plan.user, m_plan.password});
        return;
    }
    m_stage = Stage::Idle;
    emit finished(true);
}

QStringList HeldLocalDatabases(TDM& dm)
{
    QStringList held;
    for (db::Database* d : {&dm.db_Sys, &dm.db_Data, &dm.db_Upd}) {
        if (!d->connected())
            continue;
        const QString name = d->driverName().isEmpty() && !d->aliasName().isEmpty()
                                 ? AliasServerName(d->aliasName())
                                 : d->params().value(QStringLiteral("SERVER NAME"));
        // host:path and host/port:path go through a server; a bare path is opened in this process.
        if (!name.isEmpty() && !name.contains(QLatin1Char(':')))
            held << QFileInfo(name).canonicalFilePath();
    }
    return held;
}

namespace {

bool hasGbak(const QString& folder) { return !folder.isEmpty() && QFileInfo(QDir(folder).filePath(kGbakName)).isFile(); }

bool askCredentials(QString& user, QString& password, QWidget* parent)
{
    QDialog d(parent);
    d.setWindowTitle(RefreshText::CredentialsCaption);
    auto* edUser = new QLineEdit(&d);
    auto* edPassword = new QLineEdit(&d);
    edUser->setMaxLength(255);
    edPassword->setMaxLength(255);
    edPassword->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(RefreshText::CredentialsUser, edUser);
    form->addRow(RefreshText::CredentialsPassword, edPassword);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
    buttons->button(QDialogButtonBox::Cancel)->setText(RefreshText::CredentialsCancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
    auto* layout = new QVBoxLayout(&d);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (d.exec() != QDialog::Accepted)
        return false;
    user = edUser->text();
    password = edPassword->text();
    return true;
}

} // namespace

std::function<bool(QString&, QString&)>& TfrmRefresh::CredentialsAsker()
{
    static std::function<bool(QString&, QString&)> asker;
    return asker;
}

TfrmRefresh::TfrmRefresh(const QStringList& heldFiles, QWidget* parent)
    : QDialog(parent), m_heldFiles(heldFiles), m_gbakFolders(DefaultGbakFolders()), m_workDir(RefreshWorkDir())
{
    setObjectName(QStringLiteral("frmRefresh"));
    setWindowTitle(RefreshText::Caption);
    cbAliases = new QComboBox(this);
    cbAliases->setObjectName(QStringLiteral("cbAliases"));
    cbAliases->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    lbGbak = new QLabel(RefreshText::GbakLabel, this);
    lbGbak->setObjectName(QStringLiteral("lbGbak"));
    lbGbak->setTextInteractionFlags(Qt::TextSelectableByMouse);
    chkLogin = new QCheckBox(RefreshText::LoginCheck, this);
    chkLogin->setObjectName(QStringLiteral("chkLogin"));
    sbStart = new QPushButton(RefreshText::Start, this);
    sbStart->setObjectName(QStringLiteral("sbStart"));
    mm = new QPlainTextEdit(this);
    mm->setObjectName(QStringLiteral("mm"));
    mm->setReadOnly(true);
    mm->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* top = new QHBoxLayout;
    top->addWidget(cbAliases, 1);
    top->addWidget(sbStart);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(lbGbak);
    layout->addWidget(chkLogin);
    layout->addWidget(mm, 1);
    resize(760, 480);

    // A missing ZorCfg.ini lists nothing; one that cannot be read is said, and lists nothing.
    try {
        LoadAllDBEntries(m_entries, ConfigIniPath());
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
    for (int i = 0; i < m_entries.size(); ++i)
        cbAliases->addItem(RefreshText::EntryFormat.arg(m_entries[i].Caption, m_entries[i].DBN), i);
    cbAliases->model()->sort(0);
    cbAliases->setCurrentIndex(-1);

    connect(sbStart, &QPushButton::clicked, this, &TfrmRefresh::Start);
    connect(&m_job, &TRefreshJob::output, this, &TfrmRefresh::Sink);
    connect(&m_job, &TRefreshJob::failure, this, &TfrmRefresh::Log);
    connect(&m_job, &TRefreshJob::finished, this, &TfrmRefresh::jobFinished);
}

TfrmRefresh::~TfrmRefresh()
{
    // Only when the window goes under a running gbak: what that leaves is logged too.
    m_job.stop();
    if (!m_logSaved)
        SaveLog();
}

void TfrmRefresh::selectEntry(int index) { cbAliases->setCurrentIndex(cbAliases->findData(index)); }

void TfrmRefresh::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_located)
        return;
    m_located = true;
    QTimer::singleShot(0, this, [this] {
        if (!LocateGbak())
            QDialog::reject();
    });
}

bool TfrmRefresh::LocateGbak()
{
    QString found;
    try {
        const QString configured = ReadGbakPath();
        if (!configured.isEmpty() && hasGbak(QFileInfo(configured).path())) {
            m_gbak = QDir(QFileInfo(configured).path()).filePath(kGbakName);
            lbGbak->setText(RefreshText::GbakLabel + m_gbak);
            return true;
        }
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
    for (const QString& folder : m_gbakFolders) {
        if (hasGbak(folder)) {
            found = QDir(folder).filePath(kGbakName);
            break;
        }
    }
    if (found.isEmpty()) {
        FileDialogOptions o;
        o.title = RefreshText::GbakDialogTitle;
        o.filter = RefreshText::GbakDialogFilter;
        o.fileName = kGbakName;
        o.initialDir = QStringLiteral("/usr/bin");
        const QString chosen = prompts().openFile(o);
        if (chosen.isEmpty())
            return false;
        if (hasGbak(QFileInfo(chosen).path()))
            found = QDir(QFileInfo(chosen).path()).filePath(kGbakName);
    }
    if (found.isEmpty()) {
        prompts().message(RefreshText::CannotGoOnWithoutGbak, Prompts::Icon::Error);
        return false;
    }
    m_gbak = QDir::cleanPath(found);
    lbGbak->setText(RefreshText::GbakLabel + m_gbak);
    // Gatekeep.ini stands in the configuration folder, writable also when the program is installed.
    try {
        WriteGbakPath(m_gbak);
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Warning);
    }
    return true;
}

void TfrmRefresh::Start()
{
    if (m_job.running())
        return;
    if (m_gbak.isEmpty()) {
        prompts().message(RefreshText::GbakNotFound, Prompts::Icon::Warning);
        if (!LocateGbak()) {
            prompts().message(RefreshText::GbakNotFound, Prompts::Icon::Warning);
            return;
        }
    }
    if (cbAliases->currentIndex() < 0) {
        prompts().message(RefreshText::ChooseDatabase, Prompts::Icon::Warning);
        return;
    }
    const TDBEntry entry = m_entries.value(cbAliases->currentData().toInt());
    const QFileInfo file(entry.BaseName);
    if (entry.BaseName.isEmpty() || !file.isFile()) {
        prompts().message(RefreshText::DatabaseNotFound + QStringLiteral("\r\n") + entry.BaseName, Prompts::Icon::Warning);
        return;
    }
    if (m_heldFiles.contains(file.canonicalFilePath())) {
        prompts().message(RefreshText::HeldByProgram.arg(entry.BaseName), Prompts::Icon::Error);
        return;
    }
    if (!makeWorkDir(m_workDir)) {
        prompts().message(RefreshText::WorkDirError, Prompts::Icon::Error);
        return;
    }
    Log(RefreshText::WorkDirCreated + m_workDir);

    // A local database is named by its full path: gbak runs in its own folder.
    const QString path = entry.ServIP.isEmpty() ? file.absoluteFilePath() : entry.BaseName;
    const RefreshNames names = MakeRefreshNames(path, m_workDir, QDateTime::currentDateTime());
    Log(RefreshText::TempFile + names.backupFile);
    Log(RefreshText::Separator);

    RefreshPlan plan;
    if (chkLogin->isChecked()) {
        const bool given = CredentialsAsker() ? CredentialsAsker()(plan.user, plan.password)
                                              : askCredentials(plan.user, plan.password, this);
        if (!given)
            return;
    } else {
        plan.user = BuiltInUser();
        plan.password = BuiltInPassword();
    }
    plan.gbak = m_gbak;
    plan.source = GbakDatabaseName(entry.ServIP, path);
    plan.backupFile = names.backupFile;
    plan.target = GbakDatabaseName(entry.ServIP, names.newDatabase);
    plan.targetFile = QFileInfo(names.newDatabase).absoluteFilePath();
    m_renameMessage = RefreshText::Rename.arg(names.newName, file.fileName(), file.absolutePath());
    sbStart->setEnabled(false);
    m_job.start(plan);
}

void TfrmRefresh::jobFinished(bool ok)
{
    sbStart->setEnabled(true);
    if (ok) {
        // A program that is ending shows no box that would hold it: the log keeps the message.
        if (QuitRequested())
            Log(m_renameMessage);
        else
            prompts().message(m_renameMessage, Prompts::Icon::Information);
        Log(RefreshText::Success);
    }
    Log(RefreshText::Separator);
    emit finished(ok);
}

void TfrmRefresh::Log(const QString& text)
{
    Sink(RefreshText::LogPrefix + stamp(QDateTime::currentDateTime(), "dd.MM.yyyy hh:mm:ss > ") + text);
}

void TfrmRefresh::Sink(const QString& text)
{
    mm->appendPlainText(text);
    m_logSaved = false;
}

void TfrmRefresh::SaveLog()
{
    m_logSaved = true;
    const QString text = mm->toPlainText();
    if (text.size() <= 10)
        return;
    const QString name = QDir(m_workDir).filePath(
        QStringLiteral("RefLog") + stamp(QDateTime::currentDateTime(), "yyyyMMdd-hhmm") + QStringLiteral(".log"));
    // Two windows closed in the same minute share the name: the second adds to the first, and a
    // failed addition is cut off again.
    QFile f(name);
    const bool existed = f.exists();
    const qint64 oldSize = existed ? f.size() : 0;
    const QByteArray bytes = text.toUtf8() + '\n';
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QString error;
    if (!makeWorkDir(m_workDir)) {
        error = RefreshText::WorkDirError;
    } else if (!f.open(QIODevice::WriteOnly | QIODevice::Append, owner)) {
        error = f.errorString();
    } else {
        if (!f.setPermissions(owner) || f.write(bytes) != bytes.size() || !f.flush())
            error = f.errorString();
        f.close();
        if (error.isEmpty() && f.error() != QFileDevice::NoError)
            error = f.errorString();
        if (!error.isEmpty() && !(existed ? f.resize(oldSize) : f.remove()))
            error += QStringLiteral("; ") + f.errorString();
    }
    if (!error.isEmpty())
        prompts().message(RefreshText::LogNotSaved.arg(name, error), Prompts::Icon::Error);
}

void TfrmRefresh::reject()
{
    if (m_job.running()) {
        // The program is ending: gbak is stopped and its partial file removed rather than left
        // running or orphaned.
        if (!QuitRequested()) {
            prompts().message(RefreshText::StillRunning, Prompts::Icon::Warning);
            return;
        }
        Log(RefreshText::StoppedOnQuit);
        m_job.stop();
    }
    // Saved while the window can still say that it failed.
    SaveLog();
    QDialog::reject();
}

void OpenRefresh(TDM& dm, QWidget* parent)
{
    TfrmRefresh w(HeldLocalDatabases(dm), parent);
    w.exec();
}
