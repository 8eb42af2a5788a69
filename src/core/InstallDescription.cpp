#include "InstallDescription.h"

#include "BuiltIn.h"
#include "Config.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QFile>
#include <QHash>
#include <QSaveFile>

// File: the line "GKICR1", then the Base64 of the description's lines (cp1251, "key=value",
// LF-separated) with every byte XOR-ed with the key byte at (position mod key length).
namespace {

const QByteArray kMagic = "GKICR1";

QByteArray scramble(QByteArray bytes)
{
    const QByteArray key = BuiltInKey().toLatin1();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

QString emptyDash(const QString& v) { return v == QLatin1String("--") ? QString() : v; }
QString dashEmpty(const QString& v) { return v.isEmpty() ? QStringLiteral("--") : v; }

[[noreturn]] void notADescription(const QString& path)
{
    throw db::Error(QStringLiteral("Файлът %1 не е описание за инсталиране").arg(path));
}

} // namespace

InstallDescription ReadInstallDescription(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw db::Error(QStringLiteral("Файлът %1 не може да бъде отворен: %2").arg(path, f.errorString()));
    const QByteArray data = f.readAll();
    const qsizetype nl = data.indexOf('\n');
    if (nl < 0 || data.left(nl).trimmed() != kMagic)
        notADescription(path);
    const auto decoded = QByteArray::fromBase64Encoding(data.mid(nl + 1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        notADescription(path);
    QHash<QString, QString> values;
    for (const QString& line : cp1251::decode(scramble(*decoded)).split(QLatin1Char('\n'))) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            values.insert(line.left(eq).toUpper(), line.mid(eq + 1));
    }
    InstallDescription d;
    d.name = values.value(QStringLiteral("NAME"));
    if (d.name.isEmpty())
        notADescription(path);
    d.alias = emptyDash(values.value(QStringLiteral("ALIAS")));
    d.user = emptyDash(values.value(QStringLiteral("USER")));
    d.password = emptyDash(values.value(QStringLiteral("PASSWORD")));
    d.procedure = emptyDash(values.value(QStringLiteral("PROCEDURE")));
    // Count is one more than the classes listed; entries 1 to Count - 1 are the classes.
    const int count = values.value(QStringLiteral("COUNT")).toInt();
    for (int i = 1; i < count; ++i)
        d.classes.append(InstallDescription::Class{values.value(QStringLiteral("CLASS%1").arg(i)), values.value(QStringLiteral("CLASSPASSWORD%1").arg(i))});
    return d;
}

void WriteInstallDescription(const QString& iniPath, const QString& icrPath)
{
    const IniFile ini(iniPath);
    if (!ini.exists())
        throw db::Error(QStringLiteral("Файлът %1 не съществува").arg(iniPath));
    const QString app = QStringLiteral("Application");
    const QString name = ini.value(app, QStringLiteral("Name")).trimmed();
    if (name.isEmpty())
        throw db::Error(QStringLiteral("%1: липсва Name в раздел [Application]").arg(iniPath));
    QStringList lines;
    lines << QStringLiteral("Name=") + name;
    lines << QStringLiteral("Alias=") + dashEmpty(ini.value(app, QStringLiteral("Alias")).trimmed());
    lines << QStringLiteral("User=") + dashEmpty(ini.value(app, QStringLiteral("User")).trimmed());
    lines << QStringLiteral("Password=") + dashEmpty(ini.value(app, QStringLiteral("Password")).trimmed());
    lines << QStringLiteral("Procedure=") + dashEmpty(ini.value(app, QStringLiteral("Procedure")).trimmed());
    int n = 0;
    for (int i = 1;; ++i) {
        const QString cls = ini.value(QStringLiteral("Classes"), QStringLiteral("Name%1").arg(i)).trimmed();
        if (cls.isEmpty())
            break;
        lines << QStringLiteral("Class%1=").arg(i) + cls;
        lines << QStringLiteral("ClassPassword%1=").arg(i) + ini.value(QStringLiteral("Classes"), QStringLiteral("Password%1").arg(i));
        n = i;
    }
    lines << QStringLiteral("Count=%1").arg(n + 1);
    QSaveFile out(icrPath);
    const QByteArray body = kMagic + '\n' + scramble(cp1251::encode(lines.join(QLatin1Char('\n')))).toBase64() + '\n';
    if (!out.open(QIODevice::WriteOnly) || out.write(body) != body.size() || !out.commit())
        throw db::Error(QStringLiteral("Файлът %1 не може да бъде записан: %2").arg(icrPath, out.errorString()));
}
