#include "ScriptRun.h"

#include "SQLUpdater.h"
#include "UpdateText.h"

#include "core/Aliases.h"
#include "core/BuiltIn.h"
#include "core/Config.h"
#include "core/InputError.h"

#include "db/Error.h"

#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// A target that cannot be found ends the run like a database that cannot be reached.
struct Unreachable {
    QString reason;
};

QString serverOfAlias(const QString& alias)
{
    const QString server = AliasServerName(alias).trimmed();
    if (server.isEmpty())
        throw Unreachable{QStringLiteral("The alias \"%1\" names no database (no SERVER NAME in %2).").arg(alias, AliasFilePath())};
    return server;
}

// The server path for a script's alias; empty: the runner connects through the alias itself.
QString targetOf(const ScriptRunOptions& o, const QString& scriptAlias, const QString& script)
{
    if (!o.server.isEmpty())
        return o.server;
    if (!o.alias.isEmpty())
        return serverOfAlias(o.alias);
    if (scriptAlias.isEmpty() || scriptAlias.compare(UpdateText::MenuAlias, Qt::CaseInsensitive) == 0)
        throw Unreachable{QStringLiteral("%1 names no database of its own: give --server or --alias.").arg(script)};
    for (const AppAliasPair& pair : AppAliasTable) {
        if (scriptAlias.compare(pair.alias, Qt::CaseInsensitive) != 0)
            continue;
        const QString section = pair.section.toString();
        bool fileExists = false;
        const TDBEntryList offered = OfferedDatabases(section, o.filter, &fileExists);
        if (!o.database.isEmpty()) {
            for (const TDBEntry& e : offered)
                if (e.DBN.compare(o.database, Qt::CaseInsensitive) == 0)
                    return ServerPath(e.ServIP, e.BaseName);
            throw Unreachable{QStringLiteral("%1: no database \"%2\" of %3 in %4.").arg(script, o.database, section, ConfigIniPath())};
        }
        if (offered.size() == 1)
            return ServerPath(offered.first().ServIP, offered.first().BaseName);
        if (offered.size() > 1) {
            QStringList names;
            for (const TDBEntry& e : offered)
                names << e.DBN;
            throw Unreachable{QStringLiteral("%1: %2 has several databases (%3): name one with --database.")
                                  .arg(script, section, names.join(QStringLiteral(", ")))};
        }
        return fileExists ? QString() : AliasServerName(SectionAlias(section)).trimmed();
    }
    return {};
}

// Reads the quit signals on a thread of its own while the run waits in the database. A signal
// asks the run to stop and cancels the running statement, again every 100 ms until the run has
// stopped: a cancel that falls between two statements finds nothing to cancel.
class StopOnSignals {
public:
    StopOnSignals(int quitFd, std::function<void()> cancel)
    {
        if (quitFd < 0)
            return;
        m_wake = eventfd(0, EFD_CLOEXEC);
        if (m_wake >= 0)
            m_thread = std::thread([this, quitFd, cancel = std::move(cancel)] { watch(quitFd, cancel); });
    }
    ~StopOnSignals()
    {
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto n = ::write(m_wake, &one, sizeof one);
            m_thread.join();
        }
        if (m_wake >= 0)
            ::close(m_wake);
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    bool requested() const { return m_signal.load() != 0; }
    QString signalName() const { return m_signal.load() == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"); }

private:
    void watch(int fd, const std::function<void()>& cancel)
    {
        pollfd p[2] = {{fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        for (;;) {
            if (::poll(p, 2, requested() ? 100 : -1) < 0 && errno != EINTR)
                return;
            if (p[1].revents & POLLIN)
                return;
            if (p[0].revents & POLLIN) {
                signalfd_siginfo info;
                while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                    int none = 0;
                    m_signal.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
                }
            }
            if (requested())
                cancel();
        }
    }

    int m_wake = -1;
    std::atomic<int> m_signal{0};
    std::thread m_thread;
};

} // namespace

QStringList MaintenanceLoginLines()
{
    db::ParamList params;
    AddBuiltInCredentials(params);
    return params.toStrings();
}

QStringList SortScripts(QStringList files)
{
    std::stable_sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
        const QFileInfo fa(a), fb(b);
        if (const int c = fa.fileName().compare(fb.fileName(), Qt::CaseInsensitive))
            return c < 0;
        return fa.path().compare(fb.path(), Qt::CaseInsensitive) < 0;
    });
    return files;
}

TDBEntryList OfferedDatabases(const QString& section, const QString& filter, bool* fileExists)
{
    TDBEntryList out;
    const IniFile ini(ConfigIniPath());
    if (fileExists)
        *fileExists = ini.exists();
    const QString wanted = filter.trimmed().toUpper();
    for (int i : EntryNumbers(ini, section)) {
        const TDBEntry e = ReadDBEntryFields(ini, section, i);
        if (e.DBN.isEmpty() || e.Caption.trimmed().isEmpty() || e.BaseName.trimmed().isEmpty() || e.sysBaseName.trimmed().isEmpty())
            continue;
        if (!wanted.isEmpty() && !e.sysBaseName.toUpper().contains(wanted))
            continue;
        out << e;
    }
    return out;
}

ScriptRunResult RunScriptsFromCommandLine(const ScriptRunOptions& o, QTextStream& out, QTextStream& err)
{
    QStringList files;
    for (const QString& s : o.scripts)
        files << QFileInfo(s).absoluteFilePath();
    files = SortScripts(files);

    // Every script is read whole, and every target found, before anything runs. A script
    // without steps has nothing to do and needs no database.
    QStringList targets;
    try {
        QStringList idle;
        for (const QString& f : files) {
            TSQLScript script;
            LoadScriptFile(f, script, nullptr);
            if (script.Steps.empty()) {
                err << QFileInfo(f).fileName() << QStringLiteral(": no steps, nothing to apply.") << Qt::endl;
                idle << f;
                continue;
            }
            targets << targetOf(o, script.Alias, QFileInfo(f).fileName());
        }
        for (const QString& f : idle)
            files.removeOne(f);
    } catch (const Unreachable& u) {
        err << u.reason << Qt::endl;
        return ScriptRunResult::Unreachable;
    } catch (const std::exception& e) {
        err << db::errorMessage(e) << Qt::endl;
        return ScriptRunResult::ScriptUnreadable;
    }

    TSQLUpdater u(QStringLiteral("_command_line_"));
    u.PumpMessages = false;
    const QStringList login = MaintenanceLoginLines();
    u.SetLoginParams(login.value(0), login.value(1));
    StopOnSignals stop(o.quitFd, [&u] {
        u.TargetDB.cancel();
        u.SourceDB.cancel();
    });

    QString current;
    QString unreachable; // why the target could not be reached
    bool failed = false;
    bool lost = false;        // the failure was the connection's
    bool stoppedInStep = false;
    int applied = 0;          // steps of this run committed
    auto line = [&](std::int32_t n, const QString& state) {
        out << current << QStringLiteral(" step ") << n << QStringLiteral(": ") << state << Qt::endl;
    };
    const QString everyRun = QStringLiteral("; step 0 runs on every run");
    u.OnError = [&](const QString& message) {
        if (stop.requested()) {
            stoppedInStep = u.InStep;
        } else if (!u.InStep) {
            unreachable = message;
        } else {
            // One line per step: the server's message may span several.
            line(u.CurrentStepNo(), QStringLiteral("failed: ") + message.simplified());
            failed = true;
            lost = u.TargetDB.lost() || u.SourceDB.lost();
        }
    };
    u.OnAlreadyApplied = [&](std::int32_t n, const QDateTime& at) {
        line(n, (o.preview ? QStringLiteral("applied before ") : QStringLiteral("already applied "))
                    + at.toString(UpdateText::WindowDateFormat));
    };
    u.OnStepDone = [&](TSQLUpdater& r) {
        const std::int32_t n = r.CurrentStepNo();
        ++applied;
        line(n, QStringLiteral("applied (") + TSQLUpdater::FormatDuration(r.StepTime) + QLatin1Char(')') + (n == 0 ? everyRun : QString()));
    };
    // A database gone after steps were applied is not "nothing ran".
    const auto unreachableNow = [&] {
        err << current << QStringLiteral(": the database cannot be reached: ") << unreachable.simplified() << Qt::endl;
        if (applied == 0)
            return ScriptRunResult::Unreachable;
        err << QStringLiteral("The steps applied above stay applied; the rest did not run.") << Qt::endl;
        return ScriptRunResult::LostMidRun;
    };
    // The connection may be gone, or its statement cancelled: closing says nothing more.
    const auto close = [&] {
        try {
            u.CloseAll();
        } catch (const std::exception&) {
        }
    };
    const auto stopped = [&](const QString& where) {
        close();
        err << QStringLiteral("Stopped by %1 %2.").arg(stop.signalName(), where) << Qt::endl;
        return ScriptRunResult::Stopped;
    };
    const auto load = [&](int i) {
        current = QFileInfo(files[i]).fileName();
        u.LoadScript(files[i]);
        u.ServerName = targets[i];
    };

    try {
        // Every database is reached before the first step, each once.
        QSet<QString> reached;
        for (int i = 0; i < files.size(); ++i) {
            load(i);
            const QString key = u.ServerName.isEmpty() ? QStringLiteral("alias ") + u.Alias.toUpper() : u.ServerName;
            if (reached.contains(key))
                continue;
            u.Connect();
            close();
            if (stop.requested())
                return stopped(QStringLiteral("before any step ran"));
            if (!unreachable.isEmpty())
                return unreachableNow();
            reached << key;
        }
    } catch (const std::exception& e) {
        err << db::errorMessage(e) << Qt::endl;
        return ScriptRunResult::ScriptUnreadable;
    }

    QSet<std::int32_t> seen;
    const QString kept = QStringLiteral("; the steps applied before it stay applied");
    for (int i = 0; i < files.size(); ++i) {
        try {
            load(i);
        } catch (const std::exception& e) {
            err << db::errorMessage(e) << Qt::endl;
            return ScriptRunResult::ScriptUnreadable;
        }
        if (stop.requested())
            return stopped(QStringLiteral("before %1").arg(current) + kept);
        try {
            u.Connect();
            if (stop.requested())
                return stopped(QStringLiteral("before %1").arg(current) + kept);
            if (!unreachable.isEmpty()) {
                close();
                return unreachableNow();
            }
            for (int s = 0; s < u.StepCount() && !failed && !stoppedInStep; ++s) {
                const std::int32_t n = u.Steps(s).StepNo();
                if (stop.requested())
                    return stopped(QStringLiteral("before step %1 of %2").arg(n).arg(current) + kept);
                if (!o.preview) {
                    u.RunNextStep();
                } else if (n == 0) {
                    line(n, QStringLiteral("would run") + everyRun);
                } else if (!u.HistoryExists) {
                    line(n, QStringLiteral("would run; no history table %1, so every step runs").arg(u.HistoryTableName));
                } else if (seen.contains(n)) {
                    line(n, QStringLiteral("skipped: an earlier step %1 runs first").arg(n));
                } else if (!u.IsApplied(n)) {
                    line(n, QStringLiteral("would run"));
                }
                seen.insert(n);
            }
        } catch (const std::exception& e) {
            if (stop.requested()) {
                stoppedInStep = true;
            } else {
                // Only a database failure outside the runner's own guard comes here.
                err << current << QStringLiteral(": ") << db::errorMessage(e) << Qt::endl;
                failed = true;
                lost = u.TargetDB.lost();
            }
        }
        if (stoppedInStep && o.preview)
            return stopped(QStringLiteral("in the preview of %1").arg(current));
        if (stoppedInStep) {
            const std::int32_t n = u.CurrentStepNo();
            line(n, QStringLiteral("stopped by %1, rolled back").arg(stop.signalName()));
            return stopped(QStringLiteral("in step %1 of %2: the step rolled back").arg(n).arg(current) + kept);
        }
        close();
        if (failed && lost) {
            unreachable = QStringLiteral("the connection was lost in step %1").arg(u.CurrentStepNo());
            return unreachableNow();
        }
        if (failed)
            return ScriptRunResult::StepFailed;
    }
    return ScriptRunResult::Done;
}
