#include "DBLists.h"

#include "core/Aliases.h"
#include "core/Config.h"
#include "core/InputError.h"

#include <QRegularExpression>

#include <algorithm>

const std::array<AppAliasPair, kAppAliasCount> AppAliasTable = {{
    {u"Mod01", u"sys_db"},
    {u"Mod02", u"data_db"},
    {u"Mod03", u"mod03_db"},
    {u"Mod11", u"l_data"},
    {u"Mod50", u"sys_db"},
    {u"Mod09", u"mod09_db"},
    {u"Mod10", u"mod10_db"},
    {u"Mod51", u"Mod51"},
    {u"Mod12", u"Mod12"},
    {u"Mod40", u"mod40_db"},
    {u"Mod13", u"Mod13"},
    {u"Mod14", u"Mod14"},
    {u"Mod15", u"Mod15"},
    {u"Mod07", u"Mod07"},
    {u"Mod19", u"mod19_db"},
}};

namespace {
const QString kNumber = QStringLiteral("Number");
const QString kDBN = QStringLiteral("DBN");
const QString kCaption = QStringLiteral("Caption");
const QString kServIP = QStringLiteral("ServIP");
const QString kBaseName = QStringLiteral("BaseName");
const QString kSysBaseName = QStringLiteral("sysBaseName");
const QString kSysDbAlias = QStringLiteral("sys_db");
constexpr int kSysBaseNameMax = 99;

QString entryValue(const IniFile& ini, const QString& section, const QString& key, int i)
{
    return ini.value(section, key + QString::number(i));
}
} // namespace

TDBEntry ReadDBEntryFields(const IniFile& ini, const QString& section, int i)
{
    return {section,
            entryValue(ini, section, kDBN, i),
            entryValue(ini, section, kCaption, i),
            entryValue(ini, section, kServIP, i),
            entryValue(ini, section, kBaseName, i),
            entryValue(ini, section, kSysBaseName, i)};
}

QString AliasServerName(const QString& alias)
{
    if (alias.trimmed().isEmpty())
        return {};
    try {
        return AliasParams(alias.trimmed()).value(QStringLiteral("SERVER NAME"));
    } catch (...) {
        return {};
    }
}

QString SectionAlias(const QString& section)
{
    for (const AppAliasPair& p : AppAliasTable)
        if (p.section.compare(section, Qt::CaseInsensitive) == 0)
            return p.alias.toString();
    return {};
}

QString ServerPath(const QString& servIP, const QString& baseName)
{
    return servIP.isEmpty() ? baseName : servIP + QLatin1Char(':') + baseName;
}

QList<int> EntryNumbers(const IniFile& ini, const QString& section)
{
    if (!ini.hasSection(section))
        return {};
    const int number = ini.intValue(section, kNumber, 0);
    if (number <= 0)
        return {};
    // The number is written in plain decimal right after the name, as the entries are looked up.
    static const QRegularExpression entryKey(QStringLiteral("^(?:DBN|Caption|ServIP|BaseName|sysBaseName)([1-9][0-9]{0,9})$"),
                                             QRegularExpression::CaseInsensitiveOption);
    QList<int> numbers;
    for (const QString& key : ini.keys(section)) {
        const QRegularExpressionMatch m = entryKey.match(key);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const int i = m.captured(1).toInt(&ok);
        if (ok && i <= number)
            numbers << i;
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

DBEntryRead ReadDBEntry(const IniFile& ini, const QString& section, int i)
{
    const TDBEntry e = ReadDBEntryFields(ini, section, i);
    DBEntryRead r;
    r.caption = e.Caption;
    r.DBN = e.DBN;
    r.serverPath = ServerPath(e.ServIP, e.BaseName);
    r.sysBaseName = e.sysBaseName;
    // The suite writes "user@server:path" here; only the database's location is matched.
    const qsizetype at = r.sysBaseName.indexOf(QLatin1Char('@'));
    if (at >= 0)
        r.sysBaseName = r.sysBaseName.mid(at + 1, kSysBaseNameMax);
    r.usable = !r.serverPath.isEmpty() && !r.sysBaseName.isEmpty();
    return r;
}

QStringList& SysBaseNames()
{
    static QStringList names;
    return names;
}

int ListAppDatabases(const QString& section, QStringList& items, const QString& wantedDBN, const QString& iniPath)
{
    items.clear();
    SysBaseNames().clear();
    int found = -1;
    try {
        const IniFile ini(iniPath);
        for (int i : EntryNumbers(ini, section)) {
            const DBEntryRead e = ReadDBEntry(ini, section, i);
            if (!e.usable)
                continue;
            if (e.DBN.compare(wantedDBN, Qt::CaseInsensitive) == 0)
                found = int(items.size());
            items << e.caption.trimmed() + QStringLiteral(" : ") + e.serverPath.trimmed();
            SysBaseNames() << e.sysBaseName.trimmed();
        }
    } catch (const InputError&) {
        // A file that cannot be read lists nothing, like a missing one.
        items.clear();
        SysBaseNames().clear();
        found = -1;
    }
    if (!items.isEmpty())
        return found >= 0 ? found : 0;

    const QString alias = SectionAlias(section);
    const QString server = AliasServerName(alias);
    if (server.isEmpty())
        return -1;
    items << alias + QStringLiteral(" : ") + server;
    SysBaseNames() << AliasServerName(kSysDbAlias);
    return 0;
}

int ListAppDatabases(const QString& section, QStringList& items, const QString& wantedDBN)
{
    return ListAppDatabases(section, items, wantedDBN, ConfigIniPath());
}

int LoadAllDBEntries(TDBEntryList& list, const QString& iniPath)
{
    const IniFile ini(iniPath);
    for (const AppAliasPair& p : AppAliasTable) {
        const QString section = p.section.toString();
        for (int i : EntryNumbers(ini, section))
            list << ReadDBEntryFields(ini, section, i);
    }
    return int(list.size());
}

int LoadAllDBEntries(TDBEntryList& list) { return LoadAllDBEntries(list, ConfigIniPath()); }

void ClearDBEntries(TDBEntryList& list) { list.clear(); }
