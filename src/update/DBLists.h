#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

class IniFile;

// One pair of the application alias table: an application's section in ZorCfg.ini and the
// alias that reaches its database when the file lists none.
struct AppAliasPair {
    QStringView section;
    QStringView alias;
};

constexpr int kAppAliasCount = 15;
// Searched in order, first match wins ("sys_db" stands in two pairs).
extern const std::array<AppAliasPair, kAppAliasCount> AppAliasTable;

// One numbered entry of a section of ZorCfg.ini, every field as read.
struct TDBEntry {
    QString Section;
    QString DBN;
    QString Caption;
    QString ServIP;
    QString BaseName;
    QString sysBaseName;

    bool operator==(const TDBEntry&) const = default;
};
using TDBEntryList = QList<TDBEntry>;

// The "SERVER NAME" of an alias; empty for a blank alias, an unknown one, or any error.
QString AliasServerName(const QString& alias);
// The alias paired with a section (case-insensitive), or empty.
QString SectionAlias(const QString& section);

// ServIP ":" BaseName, or BaseName alone when ServIP is empty.
QString ServerPath(const QString& servIP, const QString& baseName);

// The numbers of the entries of a section that can hold anything: those from 1 to its "Number"
// that appear in one of the entry key names. "Number" 0, missing, negative or not a number gives
// none. A Number far beyond the keys written costs nothing.
QList<int> EntryNumbers(const IniFile& ini, const QString& section);

// The five keys of entry i, as written.
TDBEntry ReadDBEntryFields(const IniFile& ini, const QString& section, int i);

struct DBEntryRead {
    QString caption;
    QString DBN;
    QString serverPath;
    QString sysBaseName; // after the first "@" when it holds one
    bool usable = false; // server path and access database both set
};
DBEntryRead ReadDBEntry(const IniFile& ini, const QString& section, int i);

// The access databases of the items last listed by ListAppDatabases, in the same order.
QStringList& SysBaseNames();

// Fills items with "caption : server path" per usable entry of the section (SysBaseNames in
// parallel). Without any usable entry, the section's alias stands in as the one item. Returns the
// index of the last item whose DBN is wantedDBN, else 0 when there are items, else -1. A file
// that cannot be read counts as one without entries.
int ListAppDatabases(const QString& section, QStringList& items, const QString& wantedDBN, const QString& iniPath);
int ListAppDatabases(const QString& section, QStringList& items, const QString& wantedDBN = {});

// Appends the entries of every section of AppAliasTable found in the file, in table order, and
// returns the count of the list. A missing file adds nothing; a file that cannot be read throws
// InputError.
int LoadAllDBEntries(TDBEntryList& list, const QString& iniPath);
int LoadAllDBEntries(TDBEntryList& list);
void ClearDBEntries(TDBEntryList& list);
