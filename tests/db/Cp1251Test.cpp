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

TEST(Cp1251, RefusesWhatItCannotHoldAndNamesTheValue)
{
    QByteArray out;
    QChar bad;
    EXPECT_FALSE(cp1251::tryEncode(QStringLiteral("Иван 中"), out, &bad));
    EXPECT_EQ(bad, QChar(0x4E2D));
    try {
        cp1251::encode(QStringLiteral("Zoë 😀"));
        FAIL() << "no error";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Zoë 😀"))) << e.what();
    }
    EXPECT_TRUE(cp1251::canEncode(QStringLiteral("Ёжик №5 „€“")));
}
