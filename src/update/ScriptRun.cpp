#include "ScriptRun.h"

#include "SQLUpdater.h"
#include "UpdateText.h"
#include "Update_f.h"

#include "core/Aliases.h"
#include "core/Config.h"
#include "core/InputError.h"

#include "db/Error.h"

#include <QFileInfo>
#include <QSet>
#include <QTextStream>

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

} // namespace

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

    // Every script is read whole, and every target found, before anything runs.
    QStringList targets;
    try {
        for (const QString& f : files) {
            TSQLScript script;
            LoadScriptFile(f, script, nullptr);
            targets << targetOf(o, script.Alias, QFileInfo(f).fileName());
        }
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

    QString current;
    bool unreachable = false;
    bool failed = false;
    auto line = [&](std::int32_t n, const QString& state) {
        out << current << QStringLiteral(" step ") << n << QStringLiteral(": ") << state << Qt::endl;
    };
    const QString everyRun = QStringLiteral("; step 0 runs on every run");
    u.OnError = [&](const QString& message) {
        if (!u.InStep) {
            err << current << QStringLiteral(": the database cannot be reached: ") << message << Qt::endl;
            unreachable = true;
        } else {
            // One line per step: the server's message may span several.
            line(u.CurrentStepNo(), QStringLiteral("failed: ") + message.simplified());
            failed = true;
        }
    };
    u.OnAlreadyApplied = [&](std::int32_t n, const QDateTime& at) {
        line(n, (o.preview ? QStringLiteral("applied before ") : QStringLiteral("already applied "))
                    + at.toString(UpdateText::WindowDateFormat));
    };
    u.OnStepDone = [&](TSQLUpdater& r) {
        const std::int32_t n = r.CurrentStepNo();
        line(n, QStringLiteral("applied (") + TSQLUpdater::FormatDuration(r.StepTime) + QLatin1Char(')') + (n == 0 ? everyRun : QString()));
    };

    QSet<std::int32_t> seen;
    for (int i = 0; i < files.size(); ++i) {
        current = QFileInfo(files[i]).fileName();
        try {
            u.LoadScript(files[i]);
        } catch (const std::exception& e) {
            err << db::errorMessage(e) << Qt::endl;
            return ScriptRunResult::ScriptUnreadable;
        }
        u.ServerName = targets[i];
        try {
        u.Connect();
        if (unreachable) {
            u.CloseAll();
            return ScriptRunResult::Unreachable;
        }
        if (o.preview) {
            for (int s = 0; s < u.StepCount(); ++s) {
                const std::int32_t n = u.Steps(s).StepNo();
                if (n == 0)
                    line(n, QStringLiteral("would run") + everyRun);
                else if (!u.HistoryExists)
                    line(n, QStringLiteral("would run; no history table %1, so every step runs").arg(u.HistoryTableName));
                else if (seen.contains(n))
                    line(n, QStringLiteral("skipped: an earlier step %1 runs first").arg(n));
                else if (!u.IsApplied(n))
                    line(n, QStringLiteral("would run"));
                seen.insert(n);
            }
        } else {
            while (!failed && u.RunNextStep()) {
            }
        }
        } catch (const std::exception& e) {
            // Only a database failure outside the runner's own guard comes here.
            err << current << QStringLiteral(": ") << db::errorMessage(e) << Qt::endl;
            failed = true;
        }
        u.CloseAll();
        if (failed)
            return ScriptRunResult::StepFailed;
    }
    return ScriptRunResult::Done;
}
