// INI files are shared with the suite's other programs and edited by hand. Whatever one holds,
// reading it must not crash, and saving what was read keeps every section, key and value.
// A refusal is safe; a file written back with less than it had is not.
#include "../FuzzSupport.h"

#include "core/Config.h"
#include "core/InputError.h"
#include "db/Error.h"

#include <QMap>
#include <QStringDecoder>

namespace {

using Contents = QMap<QString, QMap<QString, QString>>;

// Names match without regard to case, so they are compared that way.
Contents contentsOf(const IniFile& ini)
{
    Contents out;
    for (const QString& section : ini.sections()) {
        const QStringList names = ini.keys(section);
        // "[]" with nothing under it holds nothing to keep, and is not written back.
        if (section.isEmpty() && names.isEmpty())
            continue;
        auto& keys = out[section.toLower()];
        for (const QString& key : names) {
            keys[key.toLower()] = ini.value(section, key);
            ini.intValue(section, key, 0);
        }
    }
    return out;
}

// Names and values quoted, with control characters shown as codes.
QString shown(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text)
        out += c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : QString(c);
    return out + QStringLiteral("\"");
}

QString describe(const Contents& c)
{
    QString out;
    for (auto s = c.cbegin(); s != c.cend(); ++s) {
        out += QStringLiteral("section %1\n").arg(shown(s.key()));
        for (auto k = s->cbegin(); k != s->cend(); ++k)
            out += QStringLiteral("  %1 = %2\n").arg(shown(k.key()), shown(k.value()));
    }
    return out;
}

bool isUtf8(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    return !utf8.hasError();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    // A NUL ends the text for the INI parser; what follows it would be lost on the next save.
    const bool readableWhole = !bytes.contains('\0');

    Contents read;
    try {
        const IniFile ini(fuzz::writeTemp(QStringLiteral("read.ini"), bytes));
        read = contentsOf(ini);
    } catch (const db::Error&) {
        return 0;
    } catch (const InputError&) {
        return 0;
    }

    // Saved as a second file, which is then read back.
    try {
        IniFile copy(fuzz::writeTemp(QStringLiteral("saved.ini"), bytes));
        copy.save();
    } catch (const db::Error&) {
        return 0;
    } catch (const InputError&) {
        return 0;
    }
    fuzz::expect(readableWhole, "a file with a NUL byte is refused, never saved back cut short");
    const QString savedPath = fuzz::tempPath(QStringLiteral("saved.ini"));
    // A cp1251 file whose only bytes that are not UTF-8 stood on lines the parser drops is UTF-8
    // once saved: the same bytes then read differently, which no reader could avoid.
    if (isUtf8(bytes) != isUtf8(fuzz::readFile(savedPath)))
        return 0;
    const IniFile saved(savedPath);
    const Contents again = contentsOf(saved);
    fuzz::expect(again == read, "saving keeps every section, key and value",
                 QStringLiteral("read:\n%1saved and read again:\n%2").arg(describe(read), describe(again)));
    return 0;
}
