#include "support/QtPrinters.h"
#include "db/Cp1251.h"
#include "db/Error.h"

#include <QStringDecoder>

#include <gtest/gtest.h>

TEST(Cp1251, EveryByteRoundTripsAndAgreesWithIcu)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const QString text = cp1251::decode(all);
    EXPECT_EQ(cp1251::encode(text), all);

    // ICU leaves 0x98 undefined; everywhere else the table must agree with it.
    QStringDecoder icu("windows-1251");
    ASSERT_TRUE(icu.isValid());
    const QString reference = icu.decode(all);
    for (int b = 0; b < 256; ++b) {
        if (b != 0x98) {
            EXPECT_EQ(text[b], reference[b]) << "byte " << b;
        }
    }
}

// A refused value may be a password: the message names the field, the position and the code
// point of the first character that cannot be written, and never quotes the value.
TEST(Cp1251, RefusesWhatItCannotHoldWithoutQuotingTheValue)
{
    QByteArray out;
    QChar bad;
    qsizetype position = -1;
    EXPECT_FALSE(cp1251::tryEncode(QStringLiteral("Иван 中"), out, &bad, &position));
    EXPECT_EQ(bad, QChar(0x4E2D));
    EXPECT_EQ(position, 5);

    struct Case {
        const char* name;
        QString text;
        QString field;
        QString expected;
    };
    const Case cases[] = {
        {"cjk", QStringLiteral("s3cret中pass"), QString(),
         QStringLiteral("Текст от 11 знака: знакът на позиция 7 (U+4E2D) няма запис в кодовата таблица windows-1251")},
        {"emojiIsOneCodePoint", QStringLiteral("Zoe😀Parola"), QStringLiteral("Парола"),
         QStringLiteral("Парола (11 знака): знакът на позиция 4 (U+1F600) няма запис в кодовата таблица windows-1251")},
        {"latinExtended", QStringLiteral("Łódź-tajne"), QStringLiteral("ClassPassword1"),
         QStringLiteral("ClassPassword1 (10 знака): знакът на позиция 1 (U+0141) няма запис в кодовата таблица windows-1251")},
    };
    for (const Case& c : cases) {
        try {
            cp1251::encode(c.text, c.field);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.message(), c.expected) << c.name;
            // Not even the part before the offending character may show.
            EXPECT_FALSE(e.message().contains(c.text.left(3))) << c.name;
        }
    }
    EXPECT_TRUE(cp1251::canEncode(QStringLiteral("Ёжик №5 „€“")));
}
