// Regeneration by backup and restore: with Firebird's own gbak against an embedded database and
// one on the test server, and with a scripted gbak that records how it was started and fails
// where a test wants it to.
#include "support/FullDisk.h"
#include "support/ScriptedPrompts.h"
#include "support/Sql.h"
#include "support/TestEnv.h"

#include "core/Config.h"
#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/SystemSchema.h"
#include "maint/Refresh.h"

#include "db/Database.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void writeText(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(text);
}

// Stands in for gbak: records its arguments, the credentials in its environment and its blocked
// signals (read by the shell itself: dash blocks every signal while it forks) beside itself; then does what the file named after its step ("backup", "restore")
// says: "ok", "fail" (LF, CR LF, CR and a line cut between two writes, then exit 3), "wait"
// (until a file "go" appears) or "hang" (until it is stopped). It writes the file it was asked
// to make before it fails, as a broken gbak would.
const char* const kFakeGbak = R"(#!/bin/sh
here=$(dirname "$0")
{ printf '%s\n' "$@"; echo --; } >> "$here/args"
printf 'ISC_USER=%s ISC_PASSWORD=%s\n' "$ISC_USER" "$ISC_PASSWORD" >> "$here/env"
while read -r key value; do [ "$key" = SigBlk: ] && echo "$value"; done < /proc/$$/status >> "$here/sigblk"
if [ "$1" = -c ]; then step=restore; out=$6; else step=backup; out=$5; fi
mode=$(cat "$here/$step" 2>/dev/null || echo ok)
printf 'partial %s' "$step" > "$out"
case $mode in
  fail) printf 'line one\nline two\r\nline three\rcut '; sleep 0.2; printf 'in two\nlast words'; exit 3 ;;
  wait) echo "$step waits"; while [ ! -e "$here/go" ]; do sleep 0.05; done ;;
  hang) echo "$step hangs"; exec sleep 1000 ;;
esac
echo "$step done"
)";

int modeOf(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A folder on a file system of its own of one page: full almost at once.
class SmallMount {
public:
    explicit SmallMount(const QString& dir) : m_dir(QFile::encodeName(dir))
    {
        QDir().mkpath(dir);
        m_mounted = ::mount("tmpfs", m_dir.constData(), "tmpfs", 0, "size=4k,mode=0700") == 0;
    }
    ~SmallMount()
    {
        if (m_mounted)
            ::umount2(m_dir.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }

private:
    QByteArray m_dir;
    bool m_mounted = false;
};

// A process's state letter from /proc, or 0 when there is no such process.
char stateOf(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    const qsizetype end = stat.lastIndexOf(')');
    return end < 0 || end + 2 >= stat.size() ? 0 : stat[end + 2];
}

// The processes whose parent is pid, with their command lines.
QList<QPair<pid_t, QByteArray>> childrenOf(pid_t parent)
{
    QList<QPair<pid_t, QByteArray>> children;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = pid_t(name.toInt(&number));
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields[1].toInt() != parent)
            continue;
        QFile cmd(QStringLiteral("/proc/%1/cmdline").arg(pid));
        cmd.open(QIODevice::ReadOnly);
        children << qMakePair(pid, cmd.readAll().replace('\0', ' '));
    }
    return children;
}

// Gone, or a zombie nobody reaps yet: either way it holds nothing.
bool waitGone(pid_t pid, int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const char state = stateOf(pid);
        if (state == 0 || (state == 'Z' && QDir(QStringLiteral("/proc/%1/fd").arg(pid)).isEmpty()))
            return true;
        if (clock.elapsed() > ms)
            return false;
        QThread::msleep(20);
    }
}

// One database entry of ZorCfg.ini.
struct Entry {
    QString servIP;
    QString baseName;
};

class RefreshTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path(QStringLiteral("config")).toUtf8());
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        QDir().mkpath(m_tmp.path(QStringLiteral("db")));
        TfrmRefresh::CredentialsAsker() = [this](QString& user, QString& password) {
            ++m_asked;
            user = m_user;
            password = m_password;
            return true;
        };
    }
    void TearDown() override
    {
        TfrmRefresh::CredentialsAsker() = nullptr;
        qunsetenv("GATEKEEP_CONFIG_DIR");
        qunsetenv("GATEKEEP_ZORCFG");
    }

    void writeZorCfg(const QList<Entry>& entries)
    {
        IniFile ini(ConfigIniPath());
        ini.setValue(QStringLiteral("Mod01"), QStringLiteral("Number"), QString::number(entries.size()));
        for (int i = 1; i <= entries.size(); ++i) {
            const QString n = QString::number(i);
            ini.setValue(QStringLiteral("Mod01"), QStringLiteral("DBN") + n, QStringLiteral("db") + n);
            ini.setValue(QStringLiteral("Mod01"), QStringLiteral("Caption") + n, QStringLiteral("База ") + n);
            ini.setValue(QStringLiteral("Mod01"), QStringLiteral("ServIP") + n, entries[i - 1].servIP);
            ini.setValue(QStringLiteral("Mod01"), QStringLiteral("BaseName") + n, entries[i - 1].baseName);
            ini.setValue(QStringLiteral("Mod01"), QStringLiteral("sysBaseName") + n, QStringLiteral("sys"));
        }
        ini.save();
    }

    // The scripted gbak in a folder of its own, named in Gatekeep.ini.
    QString installFakeGbak(const QByteArray& backup = "ok", const QByteArray& restore = "ok")
    {
        const QString gbak = m_tmp.path(QStringLiteral("fakebin/gbak"));
        writeText(gbak, kFakeGbak);
        QFile::setPermissions(gbak, QFile::permissions(gbak) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
        writeText(fake(QStringLiteral("backup")), backup);
        writeText(fake(QStringLiteral("restore")), restore);
        WriteGbakPath(gbak);
        return gbak;
    }
    QString fake(const QString& name) const { return m_tmp.path(QStringLiteral("fakebin/") + name); }
    // The scripted gbak's runs, one argument list each.
    QList<QStringList> fakeRuns() const
    {
        QList<QStringList> runs{{}};
        for (const QString& a : readText(fake(QStringLiteral("args"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (a == QLatin1String("--"))
                runs << QStringList();
            else
                runs.last() << a;
        }
        runs.removeLast();
        return runs;
    }

    QString base() const { return m_tmp.path(QStringLiteral("db/main.fdb")); }
    // The scripted gbak, a stand-in database file listed alone in ZorCfg.ini, and a window that
    // found that gbak and chose that database.
    std::unique_ptr<TfrmRefresh> scriptedWindow(const QByteArray& backup, const QByteArray& restore)
    {
        installFakeGbak(backup, restore);
        writeText(base(), "the database");
        writeZorCfg({{QString(), base()}});
        auto w = window();
        EXPECT_TRUE(w->LocateGbak());
        w->selectEntry(0);
        return w;
    }

    std::unique_ptr<TfrmRefresh> window(const QStringList& held = {})
    {
        auto w = std::make_unique<TfrmRefresh>(held);
        w->setWorkDir(m_tmp.path(QStringLiteral("work")));
        return w;
    }
    // Chooses the first database, starts and waits for gbak to end.
    bool regenerate(TfrmRefresh& w)
    {
        if (!w.LocateGbak())
            return false;
        w.selectEntry(0);
        bool result = false;
        QObject::connect(&w, &TfrmRefresh::finished, &w, [&result](bool ok) { result = ok; });
        w.Start();
        waitWhileRunning(w);
        return result;
    }
    // A minute at most: a gbak that hangs fails the test instead of holding it.
    static void waitWhileRunning(TfrmRefresh& w)
    {
        QTimer tick;
        tick.start(100);
        QElapsedTimer clock;
        clock.start();
        while (w.running() && clock.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    static void waitForLog(TfrmRefresh& w, const QString& text)
    {
        while (!w.mm->toPlainText().contains(text) && w.running())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    static QStringList logLines(const TfrmRefresh& w) { return w.mm->toPlainText().split(QLatin1Char('\n')); }
    int renameMessages() const
    {
        return int(m_prompts.messages().filter(QStringLiteral("Преименувайте")).size());
    }
    QStringList filesIn(const QString& dir, const QString& pattern) const
    {
        return QDir(dir).entryList({pattern}, QDir::Files);
    }

    // A database of the test's own with a few rows, closed again so that gbak may open it.
    void createRowsDatabase(const QString& serverName, const QString& user, const QString& password, int rows = 50)
    {
        db::Database::createFirebirdDatabase(serverName, user, password);
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = firebirdParams(serverName);
        if (!serverName.contains(QLatin1Char(':')))
            d.params().setValue(QStringLiteral("USER NAME"), user);
        d.connect();
        execSql(d, QStringLiteral("create table T (ID integer, NAME varchar(40))"));
        execSql(d, QStringLiteral("execute block as declare i integer = 1; begin while (i <= %1) do begin "
                                  "insert into T values (:i, \"ред \" || :i); i = i + 1; end end")
                       .arg(rows));
    }
    static QStringList rowsOf(const db::ParamList& params)
    {
        db::Database d;
        d.setDriverName(QStringLiteral("INTRBASE"));
        d.params() = params;
        d.connect();
        return columnOf(d, QStringLiteral("select ID || ':' || NAME from T order by ID"));
    }

    TempDir m_tmp;
    ScriptedPrompts m_prompts;
    QString m_user = QStringLiteral("SYSDBA");
    QString m_password = qEnvironmentVariable("GATEKEEP_TEST_FB_PASSWORD", QStringLiteral("masterkey"));
    int m_asked = 0;
};

} // namespace

struct LinesCase {
    const char* name;
    QList<QByteArray> pieces;
    QStringList lines;
};

class GbakLinesTest : public testing::TestWithParam<LinesCase> {};

TEST_P(GbakLinesTest, EveryLineBreakEndsALineAndCutLinesAreJoined)
{
    GbakLines splitter;
    QStringList lines;
    for (const QByteArray& p : GetParam().pieces)
        lines << splitter.feed(p);
    lines << splitter.finish();
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Output, GbakLinesTest,
    testing::Values(LinesCase{"LineFeeds", {"gbak: one\ngbak: two\n"}, {"gbak: one", "gbak: two"}},
                    LinesCase{"CarriageReturnLineFeed", {"one\r\ntwo\r\n"}, {"one", "two"}},
                    LinesCase{"BareCarriageReturns", {"one\rtwo\r"}, {"one", "two"}},
                    LinesCase{"CrLfCutBetweenPieces", {"one\r", "\ntwo\n"}, {"one", "two"}},
                    LinesCase{"LineCutMidWord", {"gbak: wri", "ting data\n"}, {"gbak: writing data"}},
                    LinesCase{"UnfinishedLastLine", {"one\nlast"}, {"one", "last"}},
                    LinesCase{"EmptyLinesKept", {"one\n\ntwo\n"}, {"one", "", "two"}},
                    LinesCase{"Utf8CutInsideALetter", {"\xd0", "\xb1\xd0\xb0\xd0\xb7\xd0\xb0\n"}, {QStringLiteral("база")}},
                    LinesCase{"NothingAtAll", {"", ""}, {}}),
    [](const testing::TestParamInfo<LinesCase>& i) { return std::string(i.param.name); });

TEST(RefreshNamesTest, DayBeforeMonthBackupInTheWorkFolderNewDatabaseBesideTheOld)
{
    const RefreshNames n = MakeRefreshNames(QStringLiteral("/data/dbs/main.fdb"), QStringLiteral("/home/a/Gatekeep/"),
                                            QDateTime(QDate(2026, 3, 5), QTime(7, 8, 9)));
    EXPECT_EQ(n.backupFile, QStringLiteral("/home/a/Gatekeep/main20260503-070809.gbk"));
    EXPECT_EQ(n.newName, QStringLiteral("main20260503-070809.gdb"));
    EXPECT_EQ(n.newDatabase, QStringLiteral("/data/dbs/main20260503-070809.gdb"));
    EXPECT_EQ(GbakDatabaseName(QString(), QStringLiteral("/d/x.fdb")), QStringLiteral("/d/x.fdb"));
    EXPECT_EQ(GbakDatabaseName(QStringLiteral("localhost"), QStringLiteral("/d/x.fdb")), QStringLiteral("localhost:/d/x.fdb"));
}

TEST_F(RefreshTest, LocalDatabaseIsRestoredBesideItWithTheSameRows)
{
    const QString base = m_tmp.path(QStringLiteral("db/main.fdb"));
    createRowsDatabase(base, QStringLiteral("SYSDBA"), QString());
    const QStringList before = rowsOf(firebirdParams(base));
    ASSERT_EQ(before.size(), 50);
    writeZorCfg({{QString(), base}});
    auto w = window();
    w->setGbakFolders({QStringLiteral("/usr/bin")});

    ASSERT_TRUE(regenerate(*w)) << w->mm->toPlainText().toStdString();

    const QStringList made = filesIn(m_tmp.path(QStringLiteral("db")), QStringLiteral("main*.gdb"));
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(rowsOf(firebirdParams(m_tmp.path(QStringLiteral("db/")) + made[0])), before);
    EXPECT_EQ(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("main*.gbk")).size(), 1);
    EXPECT_EQ(m_prompts.messages(),
              QStringList{RefreshText::Rename.arg(made[0], QStringLiteral("main.fdb"), m_tmp.path(QStringLiteral("db")))});
    EXPECT_EQ(logLines(*w).filter(RefreshText::Done).size(), 2);
    EXPECT_TRUE(logLines(*w).filter(RefreshText::Success).size() == 1);
    EXPECT_EQ(m_asked, 0); // the built-in maintenance account
    EXPECT_EQ(rowsOf(firebirdParams(base)), before);
    // Every user and stored password is in these: the owner's alone.
    const QString work = m_tmp.path(QStringLiteral("work"));
    EXPECT_EQ(modeOf(work), 0700);
    EXPECT_EQ(modeOf(work + QLatin1Char('/') + filesIn(work, QStringLiteral("main*.gbk")).value(0)), 0600);
    w.reset();
    const QStringList logs = filesIn(work, QStringLiteral("RefLog*.log"));
    ASSERT_EQ(logs.size(), 1);
    EXPECT_EQ(modeOf(work + QLatin1Char('/') + logs[0]), 0600);
}

TEST_F(RefreshTest, BackupIntoAFullFolderFailsAtOnceLeavesNoFileAndReleasesTheDatabase)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a file system of its own needs root";
    const SmallMount work(m_tmp.path(QStringLiteral("work")));
    ASSERT_TRUE(work.mounted());
    createRowsDatabase(base(), QStringLiteral("SYSDBA"), QString(), 2000);
    writeZorCfg({{QString(), base()}});
    auto w = window();
    w->setGbakFolders({QStringLiteral("/usr/bin")});
    QElapsedTimer clock;
    clock.start();

    EXPECT_FALSE(regenerate(*w));

    EXPECT_FALSE(w->running()) << "gbak still waits for an answer";
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(logLines(*w).filter(RefreshText::BackupFailed.arg(RefreshText::VolumeRequested)).size(), 1)
        << w->mm->toPlainText().toStdString();
    EXPECT_TRUE(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("*")).isEmpty());
    EXPECT_EQ(filesIn(m_tmp.path(QStringLiteral("db")), QStringLiteral("*")), QStringList{QStringLiteral("main.fdb")});
    EXPECT_EQ(rowsOf(firebirdParams(base())).size(), 2000); // no gbak holds it
    EXPECT_EQ(renameMessages(), 0);
}

TEST_F(RefreshTest, LogThatCannotBeWrittenIsSaidAndLeavesNoFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "a file system of its own needs root";
    const SmallMount work(m_tmp.path(QStringLiteral("work")));
    ASSERT_TRUE(work.mounted());
    QFile filler(m_tmp.path(QStringLiteral("work/filler")));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    while (filler.write(QByteArray(512, 'x')) > 0 && filler.flush()) {
    }
    filler.close();

    window()->mm->appendPlainText(QStringLiteral("a log of some length"));

    EXPECT_EQ(m_prompts.messages().filter(QStringLiteral("Дневникът не може да бъде записан")).size(), 1) << m_prompts.messages().join('\n').toStdString();
    EXPECT_TRUE(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("RefLog*")).isEmpty());
}

TEST_F(RefreshTest, ServerDatabaseIsRestoredThroughTheServerWithTheSameRows)
{
    const QString dir = requireEnv("GATEKEEP_TEST_FB_DIR");
    const QString base = dir + QStringLiteral("/refresh-") + QUuid::createUuid().toString(QUuid::Id128).left(12) + QStringLiteral(".fdb");
    createRowsDatabase(QStringLiteral("localhost:") + base, m_user, m_password);
    const QStringList before = rowsOf(firebirdParams(QStringLiteral("localhost:") + base));
    writeZorCfg({{QStringLiteral("localhost"), base}});
    auto w = window();
    w->setGbakFolders({QStringLiteral("/usr/bin")});
    w->chkLogin->setChecked(true);

    const bool ok = regenerate(*w);

    const QString stem = QFileInfo(base).completeBaseName();
    const QStringList made = filesIn(dir, stem + QStringLiteral("*.gdb"));
    for (const QString& f : made)
        QFile::remove(dir + QLatin1Char('/') + f);
    QFile::remove(base);
    ASSERT_TRUE(ok) << w->mm->toPlainText().toStdString();
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(m_asked, 1);
    EXPECT_EQ(renameMessages(), 1);
    EXPECT_FALSE(w->mm->toPlainText().contains(m_password));
}

TEST_F(RefreshTest, RestoreThatTheServerCannotWriteFailsAfterAGoodBackupAndLeavesNoFile)
{
    const QString dir = requireEnv("GATEKEEP_TEST_FB_DIR") + QStringLiteral("/ro-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_EQ(::chown(QFile::encodeName(dir).constData(), 0, 0), 0);
    ::chmod(QFile::encodeName(dir).constData(), 0777);
    const QString base = dir + QStringLiteral("/main.fdb");
    createRowsDatabase(QStringLiteral("localhost:") + base, m_user, m_password);
    // The server may read the folder, not write into it.
    ::chmod(QFile::encodeName(dir).constData(), 0755);
    writeZorCfg({{QStringLiteral("localhost"), base}});
    auto w = window();
    w->setGbakFolders({QStringLiteral("/usr/bin")});
    w->chkLogin->setChecked(true);

    const bool ok = regenerate(*w);

    const QStringList left = filesIn(dir, QStringLiteral("*"));
    QDir(dir).removeRecursively();
    EXPECT_FALSE(ok);
    EXPECT_EQ(left, QStringList{QStringLiteral("main.fdb")});
    EXPECT_EQ(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("main*.gbk")).size(), 1);
    EXPECT_EQ(logLines(*w).filter(RefreshText::Done).size(), 1); // the backup's only
    EXPECT_EQ(logLines(*w).filter(RefreshText::RestoreFailed.arg(RefreshText::ExitCode.arg(1))).size(), 1);
    EXPECT_TRUE(logLines(*w).filter(RefreshText::Success).isEmpty());
    EXPECT_EQ(renameMessages(), 0);
}

TEST_F(RefreshTest, FailingBackupIsLoggedLineByLineAndNothingIsRestored)
{
    auto w = scriptedWindow("fail", "ok");
    const QString base = this->base();
    w->chkLogin->setChecked(true);
    m_user = QStringLiteral("operator");
    m_password = QStringLiteral("pw-\"s3cret\" $x");
    // As the program does for its own event loop: the child must not inherit this.
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGTERM);
    sigaddset(&quit, SIGINT);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &quit, &old);

    const bool ok = regenerate(*w);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);

    EXPECT_FALSE(ok);
    EXPECT_EQ(w->gbakPath(), fake(QStringLiteral("gbak")));
    const QList<QStringList> runs = fakeRuns();
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(runs[0].mid(0, 4), (QStringList{QStringLiteral("-g"), QStringLiteral("-b"), QStringLiteral("-v"), base}));
    // Written under a name of its own, and removed when gbak failed.
    const QString partial = runs[0].value(4);
    EXPECT_TRUE(partial.startsWith(m_tmp.path(QStringLiteral("work/main"))) && partial.endsWith(QStringLiteral(".gbk.part")))
        << partial.toStdString();
    EXPECT_TRUE(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("main*")).isEmpty());
    EXPECT_EQ(readText(fake(QStringLiteral("env"))), QStringLiteral("ISC_USER=operator ISC_PASSWORD=") + m_password + QLatin1Char('\n'));
    EXPECT_FALSE(qEnvironmentVariableIsSet("ISC_PASSWORD"));
    EXPECT_FALSE(qEnvironmentVariableIsSet("ISC_USER"));
    const qulonglong blocked = readText(fake(QStringLiteral("sigblk"))).trimmed().toULongLong(nullptr, 16);
    EXPECT_EQ(blocked & ((1ull << (SIGTERM - 1)) | (1ull << (SIGINT - 1))), 0u) << readText(fake(QStringLiteral("sigblk"))).toStdString();

    const QStringList log = logLines(*w);
    const auto at = [&log](const QString& line) { return log.indexOf(line); };
    const int one = at(QStringLiteral("line one"));
    ASSERT_GE(one, 0) << w->mm->toPlainText().toStdString();
    EXPECT_EQ(log.mid(one, 5), (QStringList{QStringLiteral("line one"), QStringLiteral("line two"), QStringLiteral("line three"),
                                            QStringLiteral("cut in two"), QStringLiteral("last words")}));
    EXPECT_EQ(log.filter(RefreshText::BackupFailed.arg(RefreshText::ExitCode.arg(3))).size(), 1);
    EXPECT_EQ(log.filter(RefreshText::LastLines).size(), 1);
    EXPECT_EQ(log.filter(RefreshText::BackupRemoved.arg(partial)).size(), 1);
    EXPECT_EQ(log.filter(QStringLiteral(">   last words")).size(), 1); // among gbak's last lines
    EXPECT_TRUE(log.filter(RefreshText::Done).isEmpty());
    EXPECT_TRUE(log.filter(RefreshText::Success).isEmpty());
    EXPECT_FALSE(w->mm->toPlainText().contains(QStringLiteral("s3cret")));
    EXPECT_EQ(renameMessages(), 0);
    EXPECT_TRUE(w->sbStart->isEnabled());
}

TEST_F(RefreshTest, FailingRestoreRemovesItsPartialDatabase)
{
    auto w = scriptedWindow("ok", "fail");

    EXPECT_FALSE(regenerate(*w));

    const QList<QStringList> runs = fakeRuns();
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[1].mid(0, 4), (QStringList{QStringLiteral("-c"), QStringLiteral("-v"), QStringLiteral("-p"), QStringLiteral("4096")}));
    EXPECT_EQ(PartialFile(runs[1].value(4)), runs[0].value(4)); // the backup just made, under its own name
    const QString target = runs[1].value(5);
    EXPECT_TRUE(target.startsWith(m_tmp.path(QStringLiteral("db/main"))) && target.endsWith(QStringLiteral(".gdb.part"))) << target.toStdString();
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(filesIn(m_tmp.path(QStringLiteral("db")), QStringLiteral("*")), QStringList{QStringLiteral("main.fdb")});
    EXPECT_EQ(readText(base()), QStringLiteral("the database"));
    const QStringList log = logLines(*w);
    EXPECT_EQ(log.filter(RefreshText::Done).size(), 1);
    EXPECT_EQ(log.filter(RefreshText::RestoreFailed.arg(RefreshText::ExitCode.arg(3))).size(), 1);
    // What failed comes first, then what was cleaned up.
    const auto lineEndingIn = [&log](const QString& text) {
        return int(std::find_if(log.begin(), log.end(), [&text](const QString& l) { return l.endsWith(text); }) - log.begin());
    };
    const int failed = lineEndingIn(RefreshText::RestoreFailed.arg(RefreshText::ExitCode.arg(3)));
    const int removed = lineEndingIn(RefreshText::PartialRemoved.arg(target));
    EXPECT_LT(failed, log.size());
    EXPECT_GT(removed, failed);
    EXPECT_LT(removed, log.size());
    EXPECT_EQ(renameMessages(), 0);
}

TEST_F(RefreshTest, WhileGbakRunsTheWindowNeitherStartsAgainNorCloses)
{
    auto w = scriptedWindow("wait", "ok");
    w->show();
    bool result = false;
    QObject::connect(w.get(), &TfrmRefresh::finished, w.get(), [&result](bool ok) { result = ok; });

    w->Start();
    waitForLog(*w, QStringLiteral("backup waits"));
    ASSERT_TRUE(w->running());
    EXPECT_FALSE(w->sbStart->isEnabled());
    w->Start();
    EXPECT_FALSE(w->close());
    w->reject();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(m_prompts.messages(), (QStringList{RefreshText::StillRunning, RefreshText::StillRunning}));

    writeText(fake(QStringLiteral("go")), "");
    waitWhileRunning(*w);
    EXPECT_TRUE(result);
    EXPECT_EQ(fakeRuns().size(), 2); // one backup, one restore
    EXPECT_EQ(renameMessages(), 1);
    EXPECT_TRUE(w->close());
}

TEST_F(RefreshTest, QuittingDuringTheRestoreStopsGbakRemovesThePartialFileAndKeepsTheLog)
{
    auto w = scriptedWindow("ok", "hang");
    w->Start();
    waitForLog(*w, QStringLiteral("restore hangs"));
    ASSERT_TRUE(w->running());
    const QString target = fakeRuns().value(1).value(5);
    ASSERT_TRUE(QFile::exists(target));

    w.reset();

    EXPECT_FALSE(QFile::exists(target));
    const QStringList logs = filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("RefLog*.log"));
    ASSERT_FALSE(logs.isEmpty());
    QString saved;
    for (const QString& f : logs)
        saved += readText(m_tmp.path(QStringLiteral("work/")) + f);
    EXPECT_TRUE(saved.contains(RefreshText::RestoreFailed.arg(RefreshText::Crashed))) << saved.toStdString();
    EXPECT_TRUE(saved.contains(RefreshText::PartialRemoved.arg(target)));
}

// The program signalled or killed while gbak works through the rows of a table. gbak is never
// stopped or killed by the test: killed inside its engine's shared memory it would leave a lock
// there that stops every embedded user of the lock folder.
struct KillCase {
    const char* name;
    int signal;
    bool duringRestore; // else during the backup
};

class RefreshKill : public RefreshTest, public testing::WithParamInterface<KillCase> {
protected:
    // Rows enough to keep gbak at work for a second or two; made once, copied for each case.
    QString sourceDatabase()
    {
        static TempDir dir;
        const QString file = dir.path(QStringLiteral("source.fdb"));
        if (!QFile::exists(file))
            createRowsDatabase(file, QStringLiteral("SYSDBA"), QString(), 200000);
        return file;
    }
};

TEST_P(RefreshKill, GbakEndsWithTheProgramAndNoPartialFileLooksWhole)
{
    ASSERT_TRUE(QFile::copy(sourceDatabase(), base()));
    const QStringList before = rowsOf(firebirdParams(base()));
    writeZorCfg({{QString(), base()}});
    WriteGbakPath(QStringLiteral("/usr/bin/gbak"));
    const QString work = m_tmp.path(QStringLiteral("work"));
    const QString db = m_tmp.path(QStringLiteral("db"));
    const bool restore = GetParam().duringRestore;
    QProcess program;
    program.start(QStringLiteral(GK_REFRESH_RUNNER), {work});
    ASSERT_TRUE(program.waitForStarted());
    const pid_t programPid = pid_t(program.processId());

    const QByteArray atWork = restore ? "records restored" : "records written";
    QByteArray out;
    while (!out.contains(atWork) && program.waitForReadyRead(30000))
        out += program.readAllStandardOutput();
    pid_t gbak = 0;
    for (const auto& [pid, cmdline] : childrenOf(programPid)) {
        if (cmdline.contains(restore ? " -c " : " -b "))
            gbak = pid;
    }
    ASSERT_NE(gbak, 0) << "gbak was not caught at work:\n" << out.toStdString();

    ::kill(programPid, GetParam().signal);
    const bool ended = program.waitForFinished(30000);
    const bool gbakGone = waitGone(gbak, 30000);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }

    const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_TRUE(ended) << errors.toStdString();
    EXPECT_TRUE(gbakGone);
    // A backup under its good name is a whole one; so is a restored database (gbak may finish
    // its step before it takes the signal).
    EXPECT_EQ(filesIn(work, QStringLiteral("main*.gbk")).size(), restore ? 1 : 0);
    for (const QString& made : filesIn(db, QStringLiteral("main?*.gdb")))
        EXPECT_EQ(rowsOf(firebirdParams(db + QLatin1Char('/') + made)), before);
    if (GetParam().signal == SIGTERM) {
        EXPECT_FALSE(errors.contains(RefreshText::StillRunning));
        EXPECT_TRUE(filesIn(work, QStringLiteral("*.part")).isEmpty());
        EXPECT_TRUE(filesIn(db, QStringLiteral("*.part")).isEmpty());
        QString saved;
        for (const QString& f : filesIn(work, QStringLiteral("RefLog*.log")))
            saved += readText(work + QLatin1Char('/') + f);
        EXPECT_TRUE(saved.contains(RefreshText::StoppedOnQuit)) << saved.toStdString();
    }
    EXPECT_EQ(rowsOf(firebirdParams(base())), before); // whole, and no gbak holds it
}

INSTANTIATE_TEST_SUITE_P(
    Program, RefreshKill,
    testing::Values(KillCase{"TermDuringBackup", SIGTERM, false}, KillCase{"TermDuringRestore", SIGTERM, true},
                    KillCase{"KillDuringBackup", SIGKILL, false}, KillCase{"KillDuringRestore", SIGKILL, true}),
    [](const testing::TestParamInfo<KillCase>& i) { return std::string(i.param.name); });

// What the start refuses before gbak runs.
struct RefusalCase {
    const char* name;
    enum Target { NoChoice, MissingFile, OwnSystemDatabase } target;
    QString message;
};

class RefreshRefusal : public RefreshTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(RefreshRefusal, SaysWhyAndRunsNoGbak)
{
    installFakeGbak();
    const QString sys = m_tmp.path(QStringLiteral("db/sys.fdb"));
    const QString missing = m_tmp.path(QStringLiteral("db/gone.fdb"));
    TDM dm;
    CreateSystemDatabase(sys, QStringLiteral("SYSDBA"), QString());
    SetStartupConnection(dm.db_Sys, QStringLiteral("SYSDBA"), QString(), sys);
    dm.db_Sys.connect();
    writeZorCfg({{QString(), GetParam().target == RefusalCase::MissingFile ? missing : sys}});
    auto w = window(HeldLocalDatabases(dm));
    ASSERT_TRUE(w->LocateGbak());
    if (GetParam().target != RefusalCase::NoChoice)
        w->selectEntry(0);

    w->Start();

    EXPECT_FALSE(w->running());
    const QString expected = QString(GetParam().message).replace(QStringLiteral("%SYS"), sys).replace(QStringLiteral("%MISSING"), missing);
    EXPECT_EQ(m_prompts.messages(), QStringList{expected});
    EXPECT_TRUE(fakeRuns().isEmpty());
    EXPECT_FALSE(QFile::exists(m_tmp.path(QStringLiteral("work"))));
}

INSTANTIATE_TEST_SUITE_P(
    Start, RefreshRefusal,
    testing::Values(RefusalCase{"NoDatabaseChosen", RefusalCase::NoChoice, RefreshText::ChooseDatabase},
                    RefusalCase{"DatabasePathDoesNotExist", RefusalCase::MissingFile,
                                RefreshText::DatabaseNotFound + QStringLiteral("\r\n%MISSING")},
                    RefusalCase{"ProgramsOwnEmbeddedSystemDatabase", RefusalCase::OwnSystemDatabase,
                                RefreshText::HeldByProgram.arg(QStringLiteral("%SYS"))}),
    [](const testing::TestParamInfo<RefusalCase>& i) { return std::string(i.param.name); });

// Where gbak is looked for, and what is written back to Gatekeep.ini.
struct LocateCase {
    const char* name;
    QString iniPath;  // "%T" is the test's folder
    bool foldersHoldGbak;
    QString dialogAnswer; // when the folders hold none
    bool found;
    QString gbak;     // found here
    QString written;  // Gatekeep.ini afterwards
    QStringList messages;
};

class LocateGbakTest : public RefreshTest, public testing::WithParamInterface<LocateCase> {};

TEST_P(LocateGbakTest, SearchesTheSettingTheFoldersAndThenAsks)
{
    const auto t = [this](QString s) { return s.replace(QStringLiteral("%T"), m_tmp.path()); };
    writeText(m_tmp.path(QStringLiteral("first/gbak")), "");
    writeText(m_tmp.path(QStringLiteral("second/gbak")), "");
    writeText(m_tmp.path(QStringLiteral("picked/gbak")), "");
    writeText(m_tmp.path(QStringLiteral("picked/isql-fb")), "");
    writeText(m_tmp.path(QStringLiteral("nogbak/other")), "");
    QDir().mkpath(m_tmp.path(QStringLiteral("empty")));
    if (!GetParam().iniPath.isEmpty())
        WriteGbakPath(t(GetParam().iniPath));
    const bool asks = !GetParam().foldersHoldGbak;
    if (asks)
        m_prompts.answerFile(t(GetParam().dialogAnswer));
    auto w = window();
    w->setGbakFolders(asks ? QStringList{m_tmp.path(QStringLiteral("empty"))}
                           : QStringList{m_tmp.path(QStringLiteral("empty")), m_tmp.path(QStringLiteral("second"))});

    EXPECT_EQ(w->LocateGbak(), GetParam().found);

    EXPECT_EQ(w->gbakPath(), t(GetParam().gbak));
    EXPECT_EQ(ReadGbakPath(), t(GetParam().written));
    EXPECT_EQ(m_prompts.messages(), GetParam().messages);
    EXPECT_TRUE(m_prompts.allAnswered());
    if (asks) {
        const ScriptedPrompts::Shown& dialog = m_prompts.shown.value(0);
        EXPECT_EQ(dialog.kind, QStringLiteral("openFile"));
        EXPECT_EQ(dialog.text, RefreshText::GbakDialogTitle);
        EXPECT_FALSE(RefreshText::GbakDialogFilter.contains(QStringLiteral("exe")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Search, LocateGbakTest,
    testing::Values(LocateCase{"IniSettingUsedAsItIs", "%T/first/gbak", true, {}, true, "%T/first/gbak", "%T/first/gbak", {}},
                    LocateCase{"IniFolderNoLongerHoldsGbak", "%T/nogbak/gbak", true, {}, true, "%T/second/gbak", "%T/second/gbak", {}},
                    LocateCase{"NoSettingFoldersSearched", {}, true, {}, true, "%T/second/gbak", "%T/second/gbak", {}},
                    LocateCase{"AskedAndAnotherFileOfGbaksFolderPicked", {}, false, "%T/picked/isql-fb", true, "%T/picked/gbak",
                               "%T/picked/gbak", {}},
                    LocateCase{"AskedAndCancelled", {}, false, {}, false, {}, {}, {}},
                    LocateCase{"AskedAndAFolderWithoutGbakPicked", "%T/nogbak/gbak", false, "%T/nogbak/other", false, {}, "%T/nogbak/gbak",
                               {RefreshText::CannotGoOnWithoutGbak}}),
    [](const testing::TestParamInfo<LocateCase>& i) { return std::string(i.param.name); });

// Opening the window remembers where gbak was found; on a full disk that fails with a warning,
// and Gatekeep.ini (the directory and the maintenance account) stays as it was.
TEST_F(RefreshTest, OpeningOnAFullDiskKeepsGatekeepIniAndSaysWhy)
{
    FullDisk disk;
    qputenv("GATEKEEP_CONFIG_DIR", disk.path().toUtf8());
    const QByteArray before = "[Directory]\r\nServer=ldap://dc1\r\n[Maintenance Account]\r\nUser=GKFVHPFRTRJWKQ\r\nPassword=QWERTYQWERTY\r\n";
    FullDisk::write(GatekeepIniPath(), before);
    writeText(m_tmp.path(QStringLiteral("second/gbak")), "");
    disk.fill();

    auto w = window();
    w->setGbakFolders({m_tmp.path(QStringLiteral("second"))});
    w->show();
    for (int i = 0; i < 100 && w->gbakPath().isEmpty(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    EXPECT_EQ(w->gbakPath(), m_tmp.path(QStringLiteral("second/gbak")));
    EXPECT_TRUE(w->isVisible()); // gbak was found: the window goes on without the setting
    ASSERT_EQ(m_prompts.shown.size(), 1);
    EXPECT_EQ(m_prompts.shown[0].icon, Prompts::Icon::Warning);
    EXPECT_TRUE(m_prompts.shown[0].text.contains(GatekeepIniPath())) << m_prompts.shown[0].text.toStdString();
    EXPECT_TRUE(m_prompts.shown[0].text.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << m_prompts.shown[0].text.toStdString();
    EXPECT_EQ(FullDisk::read(GatekeepIniPath()), before);
    EXPECT_EQ(disk.entries(), QStringList{QStringLiteral("Gatekeep.ini")});
}

TEST_F(RefreshTest, WindowListsEveryConfiguredDatabaseSortedAsCaptionAndName)
{
    writeZorCfg({{QString(), QStringLiteral("/b.fdb")}, {QStringLiteral("srv"), QStringLiteral("/a.fdb")}});
    auto w = window();
    ASSERT_EQ(w->cbAliases->count(), 2);
    EXPECT_EQ(w->cbAliases->itemText(0), QStringLiteral("База 1 (db1)"));
    EXPECT_EQ(w->cbAliases->itemText(1), QStringLiteral("База 2 (db2)"));
    EXPECT_EQ(w->cbAliases->currentIndex(), -1);
    w->selectEntry(1);
    EXPECT_EQ(w->cbAliases->currentText(), QStringLiteral("База 2 (db2)"));
    EXPECT_EQ(w->windowTitle(), RefreshText::Caption);
}

TEST_F(RefreshTest, ClosingWithAnEmptyLogWritesNoFile)
{
    QDir().mkpath(m_tmp.path(QStringLiteral("work")));
    window().reset();
    EXPECT_TRUE(filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("*")).isEmpty());
}

TEST_F(RefreshTest, LogsOfTheSameMinuteAreAppendedInUtf8)
{
    for (const char* text : {"първи дневник", "втори дневник"}) {
        auto w = window();
        w->mm->appendPlainText(QString::fromUtf8(text));
    }
    const QStringList logs = filesIn(m_tmp.path(QStringLiteral("work")), QStringLiteral("RefLog*.log"));
    ASSERT_FALSE(logs.isEmpty());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^RefLog\\d{8}-\\d{4}\\.log$")).match(logs[0]).hasMatch()) << logs[0].toStdString();
    QString saved;
    for (const QString& f : logs)
        saved += readText(m_tmp.path(QStringLiteral("work/")) + f);
    EXPECT_TRUE(saved.contains(QStringLiteral("първи дневник")));
    EXPECT_TRUE(saved.contains(QStringLiteral("втори дневник")));
}
