#include "Aliases.h"

#include "Config.h"

#include "db/Database.h"

namespace {
const QString kDriverKey = QStringLiteral("DRIVER");

QString sectionOf(const IniFile& ini, const QString& alias)
{
    for (const QString& s : ini.sections())
        if (s.compare(alias.trimmed(), Qt::CaseInsensitive) == 0)
            return s;
    return {};
}
} // namespace

QString AliasFilePath()
{
    const QString env = qEnvironmentVariable("GATEKEEP_ALIASES");
    return env.isEmpty() ? ConfigDir() + QStringLiteral("/aliases.ini") : env;
}

QStringList AliasNames() { return IniFile(AliasFilePath()).sections(); }

bool AliasExists(const QString& alias) { return !sectionOf(IniFile(AliasFilePath()), alias).isEmpty(); }

QString AliasDriver(const QString& alias)
{
    const IniFile ini(AliasFilePath());
    const QString s = sectionOf(ini, alias);
    return s.isEmpty() ? QString() : ini.value(s, kDriverKey);
}

db::ParamList AliasParams(const QString& alias)
{
    const IniFile ini(AliasFilePath());
    const QString s = sectionOf(ini, alias);
    db::ParamList params;
    if (s.isEmpty())
        return params;
    for (const QString& key : ini.keys(s))
        if (key.compare(kDriverKey, Qt::CaseInsensitive) != 0)
            params.setValue(key, ini.value(s, key));
    return params;
}

void WriteAlias(const QString& alias, const QString& driver, const db::ParamList& params)
{
    IniFile ini(AliasFilePath());
    const QString existing = sectionOf(ini, alias);
    if (!existing.isEmpty())
        ini.removeSection(existing);
    ini.setValue(alias, kDriverKey, driver);
    for (const auto& [name, value] : params.items())
        ini.setValue(alias, name, value);
    ini.save();
}

void InstallAliasResolver()
{
    db::Database::setAliasResolver([](const QString& alias, QString& driver, db::ParamList& params) {
        const IniFile ini(AliasFilePath());
        const QString s = sectionOf(ini, alias);
        if (s.isEmpty())
            return false;
        driver = ini.value(s, kDriverKey);
        params = AliasParams(alias);
        return true;
    });
}
