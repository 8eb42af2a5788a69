#include "Config.h"

#include "FileWrite.h"
#include "InputError.h"

#include "db/Cp1251.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#define SI_NO_CONVERSION
#include <SimpleIni.h>

struct IniFile::Impl {
    CSimpleIniA ini{true, false, false};
};

QString ConfigDir()
{
    const QString env = qEnvironmentVariable("GATEKEEP_CONFIG_DIR");
    if (!env.isEmpty())
        return env;
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return (xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : xdg) + QStringLiteral("/gatekeep");
}

QString GatekeepIniPath() { return ConfigDir() + QStringLiteral("/Gatekeep.ini"); }

namespace {
// Where the install rules put the libraries, seen from the program's folder.
QString installedLibraryDir() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/gatekeep"); }
} // namespace

bool InstalledProgram() { return QFileInfo(installedLibraryDir()).isDir(); }

QString LibraryDir()
{
    return InstalledProgram() ? QDir::cleanPath(installedLibraryDir()) : QCoreApplication::applicationDirPath();
}

QString ConfigIniPath()
{
    const QString env = qEnvironmentVariable("GATEKEEP_ZORCFG");
    if (!env.isEmpty())
        return env;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ZorCfg.ini");
    return QFileInfo::exists(beside) || !InstalledProgram() ? beside : ConfigDir() + QStringLiteral("/ZorCfg.ini");
}

namespace {
// Names and values as stored: a byte-order mark inside the file is part of the text.
QString fromStored(const char* text)
{
    QStringDecoder d(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return d.decode(QByteArrayView(text));
}
} // namespace

IniFile::IniFile(const QString& path) : m(std::make_unique<Impl>()), m_path(path)
{
    QFile f(path);
    if (!f.exists())
        return;
    if (!f.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(path, f.errorString()));
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(path, f.errorString()));
    // The parser stops at a NUL: what follows would be lost by the next save.
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        throw InputError(QStringLiteral("Файлът %1 не е текстов: байт 0 на позиция %2").arg(path).arg(nul));
    m_exists = true;
    // Stateless, so that a cp1251 letter cut off at the end of the file is not taken as the
    // start of a UTF-8 character.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString asUtf8 = utf8.decode(data);
    if (utf8.hasError()) {
        m_cp1251 = true;
        data = cp1251::decode(data).toUtf8();
    }
    // A byte-order mark only means something at the start of the file, where the parser drops
    // it; one anywhere else (files glued together) would become part of a name
    // that no lookup finds and that the next save moves to the start of the file.
    {
        const bool leading = data.startsWith("\xEF\xBB\xBF");
        data = (leading ? QByteArray("\xEF\xBB\xBF") : QByteArray()) + data.mid(leading ? 3 : 0).replace("\xEF\xBB\xBF", "");
    }
    // A section line without its ']' would be read as a name that spans lines and grows with
    // every save.
    // The parser ends a line at CR as well as at LF.
    int lineNo = 0;
    const QByteArray text = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
    for (const QByteArray& line : QByteArray(text).replace("\r\n", "\n").replace('\r', '\n').split('\n')) {
        ++lineNo;
        const QByteArray t = line.trimmed();
        if (t.startsWith('[') && !t.contains(']'))
            throw InputError(QStringLiteral("Файлът %1: ред %2 започва секция без \"]\"").arg(path).arg(lineNo));
    }
    if (m->ini.LoadData(data.constData(), static_cast<size_t>(data.size())) < 0)
        throw InputError(QStringLiteral("Файлът %1 не може да бъде разчетен").arg(path));
}

IniFile::~IniFile() = default;

QStringList IniFile::sections() const
{
    CSimpleIniA::TNamesDepend names;
    m->ini.GetAllSections(names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    QStringList out;
    for (const auto& e : names)
        out << fromStored(e.pItem);
    return out;
}

QStringList IniFile::keys(const QString& section) const
{
    CSimpleIniA::TNamesDepend names;
    m->ini.GetAllKeys(section.toUtf8().constData(), names);
    names.sort(CSimpleIniA::Entry::LoadOrder());
    QStringList out;
    for (const auto& e : names)
        out << fromStored(e.pItem);
    return out;
}

bool IniFile::hasSection(const QString& section) const
{
    return m->ini.GetSection(section.toUtf8().constData()) != nullptr;
}

QString IniFile::value(const QString& section, const QString& key, const QString& fallback) const
{
    const char* v = m->ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData(), nullptr);
    return v ? fromStored(v) : fallback;
}

int IniFile::intValue(const QString& section, const QString& key, int fallback) const
{
    bool ok = false;
    const int v = value(section, key).trimmed().toInt(&ok);
    return ok ? v : fallback;
}

void IniFile::setValue(const QString& section, const QString& key, const QString& value)
{
    m->ini.SetValue(section.toUtf8().constData(), key.toUtf8().constData(), value.toUtf8().constData());
}

void IniFile::removeSection(const QString& section) { m->ini.Delete(section.toUtf8().constData(), nullptr); }

void IniFile::save()
{
    std::string text;
    if (m->ini.Save(text) < 0)
        throw InputError(QStringLiteral("Грешка при запис на %1").arg(m_path));
    QByteArray bytes = QByteArray::fromStdString(text);
    if (m_cp1251)
        bytes = cp1251::encode(QStringDecoder(QStringDecoder::Utf8, QStringConverter::Flag::ConvertInitialBom).decode(bytes));
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Configuration may hold passwords (the maintenance account, an alias's login).
    WriteFileAtomically(m_path, bytes, NewFileAccess::Private);
    m_exists = true;
}

namespace {
const QString kGbakSection = QStringLiteral("GBAK Location");
const QString kGbakKey = QStringLiteral("Path");
} // namespace

QString ReadGbakPath() { return IniFile(GatekeepIniPath()).value(kGbakSection, kGbakKey); }

void WriteGbakPath(const QString& path)
{
    IniFile ini(GatekeepIniPath());
    if (ini.exists() && ini.value(kGbakSection, kGbakKey) == path)
        return;
    ini.setValue(kGbakSection, kGbakKey, path);
    ini.save();
}
