#include "InstallDescription.h"

#include "BuiltIn.h"
#include "Config.h"
#include "FileWrite.h"
#include "InputError.h"
#include "StoredText.h"

#include "db/Cp1251.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

// File: the line "GKICR1", then the Base64 of the description's lines (cp1251, "key=value",
// LF-separated) with every byte XOR-ed with the key byte at (position mod key length).
namespace {

const QByteArray kMagic = "GKICR1";
// Far above any real description (a thousand classes fit in about 150 KB): a bigger file is
// not read into memory at all.
constexpr qint64 kMaxFileSize = 1 << 20;

QByteArray scramble(QByteArray bytes)
{
    const QByteArray key = BuiltInKey().toLatin1();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

QString emptyDash(const QString& v) { return v == QLatin1String("--") ? QString() : v; }
QString dashEmpty(const QString& v) { return v.isEmpty() ? QStringLiteral("--") : v; }

[[noreturn]] void refuse(const QString& source, const QString& reason)
{
    throw InputError(QStringLiteral("Файлът %1 не е годно описание за инсталиране: %2").arg(source, reason));
}

// The keys of a description as they are written, by their upper-case form.
class Entries {
public:
    Entries(const QString& source, const QString& text) : m_source(source)
    {
        int lineNumber = 0;
        for (QString line : text.split(QLatin1Char('\n'))) {
            ++lineNumber;
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            if (line.isEmpty())
                continue;
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq <= 0)
                refuse(source, QStringLiteral("ред %1 не е от вида ключ=стойност").arg(lineNumber));
            const QString key = line.left(eq).trimmed();
            const QString upper = key.toUpper();
            if (m_values.contains(upper))
                refuse(source, QStringLiteral("ключът %1 се повтаря (ред %2)").arg(key).arg(lineNumber));
            m_values.insert(upper, line.mid(eq + 1));
            m_spelled.insert(upper, key);
        }
    }

    const QHash<QString, QString>& all() const { return m_values; }
    QString spelling(const QString& upper) const { return m_spelled.value(upper, upper); }

    // The value of key, 1 to kStoredTextMaxLength characters of text: it is stored encoded.
    QString value(const QString& key) const
    {
        const QString upper = key.toUpper();
        const auto it = m_values.constFind(upper);
        if (it == m_values.cend())
            refuse(m_source, QStringLiteral("липсва %1 (файлът е непълен)").arg(key));
        const QString& v = *it;
        if (v.isEmpty())
            refuse(m_source, QStringLiteral("%1 е празен").arg(key));
        if (v.size() > kStoredTextMaxLength)
            refuse(m_source, QStringLiteral("%1 е дълъг %2 знака, а са позволени от 1 до %3")
                                 .arg(key)
                                 .arg(v.size())
                                 .arg(kStoredTextMaxLength));
        for (qsizetype i = 0; i < v.size(); ++i)
            if (v[i].unicode() < 0x20 || v[i].unicode() == 0x7F)
                refuse(m_source, QStringLiteral("%1 съдържа управляващ знак (код %2) на позиция %3")
                                     .arg(key)
                                     .arg(v[i].unicode())
                                     .arg(i + 1));
        return v;
    }

private:
    QString m_source;
    QHash<QString, QString> m_values;
    QHash<QString, QString> m_spelled;
};

} // namespace

InstallDescription ParseInstallDescription(const QByteArray& file, const QString& source)
{
    if (file.size() > kMaxFileSize)
        refuse(source, QStringLiteral("по-голям е от %1 байта").arg(kMaxFileSize));
    const qsizetype nl = file.indexOf('\n');
    if (nl < 0 || file.left(nl).trimmed() != kMagic)
        refuse(source, QStringLiteral("липсва първият ред %1").arg(QString::fromLatin1(kMagic)));
    const auto decoded = QByteArray::fromBase64Encoding(file.mid(nl + 1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        refuse(source, QStringLiteral("съдържанието не е в Base64"));
    const Entries entries(source, cp1251::decode(scramble(*decoded)));

    InstallDescription d;
    d.name = entries.value(QStringLiteral("Name"));
    d.alias = emptyDash(entries.value(QStringLiteral("Alias")));
    d.user = emptyDash(entries.value(QStringLiteral("User")));
    d.password = emptyDash(entries.value(QStringLiteral("Password")));
    d.procedure = emptyDash(entries.value(QStringLiteral("Procedure")));

    bool isNumber = false;
    const int count = entries.value(QStringLiteral("Count")).trimmed().toInt(&isNumber);
    if (!isNumber || count < 1 || count > kMaxInstallClasses + 1)
        refuse(source, QStringLiteral("Count трябва да е число от 1 до %1").arg(kMaxInstallClasses + 1));

    // Count is one more than the classes listed; entries 1 to Count - 1 are the classes, and
    // no others: a class past Count is as wrong as one missing.
    static const QRegularExpression classKey(QStringLiteral("^CLASS(?:PASSWORD)?(\\d+)$"));
    static const QStringList known = {QStringLiteral("NAME"), QStringLiteral("ALIAS"), QStringLiteral("USER"),
                                      QStringLiteral("PASSWORD"), QStringLiteral("PROCEDURE"), QStringLiteral("COUNT")};
    for (auto it = entries.all().cbegin(); it != entries.all().cend(); ++it) {
        if (known.contains(it.key()))
            continue;
        const QRegularExpressionMatch m = classKey.match(it.key());
        if (!m.hasMatch())
            refuse(source, QStringLiteral("непознат ключ %1").arg(entries.spelling(it.key())));
        bool ok = false;
        const int n = m.captured(1).toInt(&ok);
        if (!ok || n < 1 || n >= count || m.captured(1).startsWith(QLatin1Char('0')))
            refuse(source, QStringLiteral("%1 не е между класовете от 1 до Count - 1 = %2").arg(entries.spelling(it.key())).arg(count - 1));
    }
    d.classes.reserve(count - 1);
    for (int i = 1; i < count; ++i)
        d.classes.append(InstallDescription::Class{entries.value(QStringLiteral("Class%1").arg(i)),
                                                   entries.value(QStringLiteral("ClassPassword%1").arg(i))});
    return d;
}

InstallDescription ReadInstallDescription(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("Файлът %1 не може да бъде отворен: %2").arg(path, f.errorString()));
    if (f.size() > kMaxFileSize)
        refuse(path, QStringLiteral("по-голям е от %1 байта").arg(kMaxFileSize));
    const QByteArray data = f.read(kMaxFileSize + 1);
    if (f.error() != QFileDevice::NoError)
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(path, f.errorString()));
    return ParseInstallDescription(data, path);
}

QByteArray ScrambleInstallDescription(const QByteArray& lines)
{
    return kMagic + '\n' + scramble(lines).toBase64() + '\n';
}

void WriteInstallDescription(const QString& iniPath, const QString& icrPath)
{
    const IniFile ini(iniPath);
    if (!ini.exists())
        throw InputError(QStringLiteral("Файлът %1 не съществува").arg(iniPath));
    const QString app = QStringLiteral("Application");
    const QString classes = QStringLiteral("Classes");
    const QString name = ini.value(app, QStringLiteral("Name")).trimmed();
    if (name.isEmpty())
        throw InputError(QStringLiteral("%1: липсва Name в раздел [Application]").arg(iniPath));
    QStringList lines;
    lines << QStringLiteral("Name=") + name;
    lines << QStringLiteral("Alias=") + dashEmpty(ini.value(app, QStringLiteral("Alias")).trimmed());
    lines << QStringLiteral("User=") + dashEmpty(ini.value(app, QStringLiteral("User")).trimmed());
    lines << QStringLiteral("Password=") + dashEmpty(ini.value(app, QStringLiteral("Password")).trimmed());
    lines << QStringLiteral("Procedure=") + dashEmpty(ini.value(app, QStringLiteral("Procedure")).trimmed());
    int n = 0;
    for (int i = 1;; ++i) {
        const QString cls = ini.value(classes, QStringLiteral("Name%1").arg(i)).trimmed();
        if (cls.isEmpty())
            break;
        lines << QStringLiteral("Class%1=").arg(i) + cls;
        lines << QStringLiteral("ClassPassword%1=").arg(i) + ini.value(classes, QStringLiteral("Password%1").arg(i));
        n = i;
    }
    // A class after a gap would be left out without a word.
    for (const QString& key : ini.keys(classes))
        if (key.startsWith(QLatin1String("Name"), Qt::CaseInsensitive) && key.mid(4).toInt() > n + 1)
            throw InputError(QStringLiteral("%1: класовете в раздел [Classes] трябва да са номерирани от 1 без пропуски (%2)").arg(iniPath, key));
    lines << QStringLiteral("Count=%1").arg(n + 1);

    QByteArray plain;
    for (const QString& line : lines) {
        QByteArray bytes;
        qsizetype position = 0;
        if (!cp1251::tryEncode(line, bytes, nullptr, &position)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            throw InputError(iniPath + QStringLiteral(": ") + cp1251::refusal(line.mid(eq + 1), position - eq - 1, line.left(eq)));
        }
        plain += bytes + '\n';
    }
    const QByteArray body = ScrambleInstallDescription(plain);
    ParseInstallDescription(body, iniPath);
    WriteFileAtomically(icrPath, body, NewFileAccess::Shared);
}
