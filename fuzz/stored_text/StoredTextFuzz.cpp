// Stored forms come from system databases that other programs of the suite also write, so
// the decoder must survive any text; and every text that can be stored must come back as it was.
#include "../FuzzSupport.h"

#include "core/InputError.h"
#include "core/StoredText.h"
#include "db/Cp1251.h"
#include "db/Error.h"

namespace {

bool wellFormed(const QString& stored)
{
    if (stored.size() != kStoredTextLength)
        return false;
    for (qsizetype i = 0; i < stored.size(); i += 2)
        if (stored[i].unicode() < 30 || stored[i].unicode() > 45 || stored[i + 1].unicode() < 48 || stored[i + 1].unicode() > 63)
            return false;
    return true;
}

void decodeAnything(const QString& stored)
{
    const QString plain = DecodeStoredText(stored);
    // The length byte allows at most 35 characters, all of them from the code page.
    fuzz::expect(plain.size() <= kStoredTextMaxLength + 1, "a decoded text is at most 35 characters", plain);
    fuzz::expect(cp1251::canEncode(plain), "a decoded text is cp1251");
}

// Refusals reach message boxes and logs, and the text may be a password: it must not be quoted.
template <class E>
void refused(const E& e, const QString& text)
{
    if (text.size() >= 8)
        fuzz::expect(!e.message().contains(text), "a refusal does not quote the refused text", e.message());
}

void roundTrip(const QString& text)
{
    QString stored;
    try {
        stored = EncodeStoredText(text);
    } catch (const db::Error& e) {
        refused(e, text);
        return;
    } catch (const InputError& e) {
        refused(e, text);
        return;
    }
    if (text.isEmpty()) {
        fuzz::expect(stored.isEmpty(), "an empty text is stored empty", stored);
        return;
    }
    fuzz::expect(text.size() <= kStoredTextMaxLength && cp1251::canEncode(text),
                 "only texts of at most 34 cp1251 characters are stored", QString::number(text.size()));
    fuzz::expect(wellFormed(stored), "a stored form is 72 characters in the stored alphabet", stored);
    fuzz::expect(DecodeStoredText(stored) == text, "a stored text decodes to itself", stored);
    fuzz::expect(EncodeStoredText(text) == stored, "equal texts give equal stored forms");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Columns arrive as cp1251 text; the same bytes read as UTF-16 reach characters no column
    // could hold, which the encoder must refuse rather than store.
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const QString asColumn = cp1251::decode(bytes);
    const QString asUtf16 = QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);

    decodeAnything(asColumn);
    decodeAnything(asUtf16);
    roundTrip(asColumn);
    roundTrip(asUtf16);
    return 0;
}
