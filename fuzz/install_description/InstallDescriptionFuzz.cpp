// An .icr file comes from a vendor: whatever it holds, reading it either refuses it or gives a
// description whose every value can be stored, so that an installation never stops half-way.
#include "../FuzzSupport.h"

#include "core/BuiltIn.h"
#include "core/InputError.h"
#include "core/InstallDescription.h"
#include "core/StoredText.h"
#include "db/Cp1251.h"
#include "db/Error.h"

#include <QRegularExpression>

namespace {

const QByteArray kMagic = "GKICR1";

QByteArray scrambled(QByteArray bytes)
{
    const QByteArray key = BuiltInKey().toLatin1();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ key[i % key.size()]);
    return bytes;
}

// The plain lines of a description wrapped as a file, so that mutations reach the key=value
// parser instead of dying in Base64 and the scrambling.
QByteArray wrapped(const QByteArray& plain) { return kMagic + '\n' + scrambled(plain).toBase64() + '\n'; }

QByteArray unwrapped(const QByteArray& file)
{
    const qsizetype nl = file.indexOf('\n');
    return nl < 0 ? QByteArray() : scrambled(QByteArray::fromBase64(file.mid(nl + 1).trimmed()));
}

void storable(const QString& value, const char* field, bool mayBeEmpty)
{
    const QString what = QString::fromLatin1(field);
    fuzz::expect(mayBeEmpty || !value.isEmpty(), "a required value of a description is not empty", what);
    fuzz::expect(value.size() <= kStoredTextMaxLength, "a value of a description is at most 34 characters", what);
    fuzz::expect(cp1251::canEncode(value), "a value of a description is cp1251", what);
    fuzz::expect(!value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')),
                 "a value of a description holds no line break", what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const bool isFile = bytes.startsWith(kMagic);
    const QString path = fuzz::writeTemp(QStringLiteral("description.icr"), isFile ? bytes : wrapped(bytes));

    InstallDescription d;
    try {
        d = ReadInstallDescription(path);
    } catch (const db::Error&) {
        return 0;
    } catch (const InputError&) {
        return 0;
    }
    storable(d.name, "Name", false);
    storable(d.alias, "Alias", true);
    storable(d.user, "User", true);
    storable(d.password, "Password", true);
    storable(d.procedure, "Procedure", true);
    for (const InstallDescription::Class& c : d.classes) {
        storable(c.name, "Class", false);
        storable(c.password, "ClassPassword", false);
    }
    // Count comes last, so a file cut short has none: without it the classes are unknown.
    const QByteArray lines = isFile ? unwrapped(bytes) : bytes;
    fuzz::expect(QRegularExpression(QStringLiteral("(^|\\n)\\s*count\\s*="), QRegularExpression::CaseInsensitiveOption)
                     .match(QString::fromLatin1(lines))
                     .hasMatch(),
                 "a description without Count is refused");
    return 0;
}
