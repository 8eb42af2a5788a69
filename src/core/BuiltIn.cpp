#include "BuiltIn.h"

#include "Config.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <QFileInfo>

namespace {

// "SYSDBA" and "masterkey", scrambled with the key below.
constexpr auto kUser = "GKFVHPFRTRJWKQ";
constexpr auto kPassword = "GKTUPSFPTQGUJROQLUHR";
// "gkhubsvc".
constexpr auto kPgLogin = "GKJUFSOQSQJUIRLPFU";

bool ownerOnly(const QString& path)
{
    const QFileInfo fi(path);
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    return fi.exists() && !(fi.permissions() & others);
}

QString overridden(const QString& key, const char* fallback)
{
    const QString path = GatekeepIniPath();
    if (ownerOnly(path)) {
        const QString v = IniFile(path).value(QStringLiteral("Maintenance Account"), key);
        if (!v.isEmpty())
            return DecodeBuiltInText(BuiltInKey(), v);
    }
    return DecodeBuiltInText(BuiltInKey(), QString::fromLatin1(fallback));
}

} // namespace

QString BuiltInKey() { return QStringLiteral("k7Wq2Zr"); }

QString DecodeBuiltInText(const QString& key, const QString& scrambled)
{
    if (key.isEmpty() || scrambled.isEmpty())
        return {};
    const QByteArray k = cp1251::encode(key);
    QByteArray out;
    int position = 1;
    for (qsizetype i = 2; i + 1 < scrambled.size(); i += 2, ++position) {
        const int first = scrambled[i].unicode();
        const int second = scrambled[i + 1].unicode();
        const int b = ((second - 'P') * 16 + (first - 'E')) & 0xFF;
        out += static_cast<char>(b ^ static_cast<unsigned char>(k[(position + 3) % k.size()]));
    }
    return cp1251::decode(out);
}

QString EncodeBuiltInText(const QString& key, const QString& plain)
{
    if (key.isEmpty())
        throw db::Error(QStringLiteral("Празен ключ"));
    const QByteArray k = cp1251::encode(key);
    const QByteArray p = cp1251::encode(plain);
    QString out = QStringLiteral("GK");
    for (qsizetype i = 0; i < p.size(); ++i) {
        const int position = static_cast<int>(i) + 1;
        const int x = static_cast<unsigned char>(p[i]) ^ static_cast<unsigned char>(k[(position + 3) % k.size()]);
        // The high half must stay within P..Z for the text to remain capital letters.
        if (x >> 4 > 'Z' - 'P')
            throw db::Error(QStringLiteral("Знакът \"%1\" не може да бъде записан в скрит вид с този ключ").arg(plain[i]));
        out += QChar('E' + (x & 15));
        out += QChar('P' + (x >> 4));
    }
    return out;
}

QString BuiltInUser() { return overridden(QStringLiteral("User"), kUser); }
QString BuiltInPassword() { return overridden(QStringLiteral("Password"), kPassword); }

void AddBuiltInCredentials(db::ParamList& params)
{
    params.setValue(QStringLiteral("USER NAME"), BuiltInUser());
    params.setValue(QStringLiteral("PASSWORD"), BuiltInPassword());
}

QString BuiltInPgLoginScrambled() { return QString::fromLatin1(kPgLogin); }
