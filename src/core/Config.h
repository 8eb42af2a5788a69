#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// Where the program's own configuration lives: $GATEKEEP_CONFIG_DIR when set, otherwise
// ~/.config/gatekeep. "Gatekeep.ini" and the alias file "aliases.ini" stand there.
QString ConfigDir();
QString GatekeepIniPath();
// The suite's database-list file "ZorCfg.ini": $GATEKEEP_ZORCFG when set; else beside the program
// when it is there or the program runs from a build; else (an installed program, whose folder
// is read-only) in ConfigDir().
QString ConfigIniPath();

// The folder of the program's own shared libraries (the login library, the per-application user
// libraries): the installed library folder <prefix>/lib/gatekeep beside <prefix>/bin, or the
// program's folder in a build. Libraries are loaded from here by their full path.
QString LibraryDir();
// Whether the program runs from an installed prefix rather than a build folder.
bool InstalledProgram();

// A Windows-style INI file; section and key names match without regard to case. Files are
// read as UTF-8, or as cp1251 when they are not valid UTF-8, and saved in the form they were read.
// A file is read whole or not at all, so that a save never writes back less than was there.
class IniFile {
public:
    // A missing file reads as empty. Throws InputError naming the file when it exists but
    // cannot be read, holds a NUL byte (its offset is named) or cannot be parsed.
    explicit IniFile(const QString& path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const QString& path() const { return m_path; }
    bool exists() const { return m_exists; }
    QStringList sections() const;
    QStringList keys(const QString& section) const;
    bool hasSection(const QString& section) const;
    QString value(const QString& section, const QString& key, const QString& fallback = {}) const;
    int intValue(const QString& section, const QString& key, int fallback) const;
    void setValue(const QString& section, const QString& key, const QString& value);
    void removeSection(const QString& section);
    // Writes the file whole or not at all (creating its folder; a new file is its owner's
    // only); throws InputError, leaving the file as it was.
    void save();

private:
    struct Impl;
    std::unique_ptr<Impl> m;
    QString m_path;
    bool m_exists = false;
    bool m_cp1251 = false;
};

// The one setting of Gatekeep.ini: the full file name of the database backup tool. Writing the
// value the file already holds leaves the file untouched.
QString ReadGbakPath();
void WriteGbakPath(const QString& path);
