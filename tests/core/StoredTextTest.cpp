#include "support/QtPrinters.h"
#include "core/StoredText.h"

#include "db/Cp1251.h"
#include "db/Error.h"

#include <gtest/gtest.h>

namespace {

QString textOf(int first, int length)
{
    QString s;
    for (int i = 0; i < length; ++i)
        s += cp1251::charOf(static_cast<unsigned char>((first + i * 37) % 256));
    return s;
}

bool wellFormed(const QString& stored)
{
    if (stored.size() != kStoredTextLength)
        return false;
    for (int i = 0; i < stored.size(); i += 2)
        if (stored[i].unicode() < 30 || stored[i].unicode() > 45 || stored[i + 1].unicode() < 48 || stored[i + 1].unicode() > 63)
            return false;
    return true;
}

} // namespace

// Every first character (it drives the seed), every length, every byte value somewhere.
TEST(StoredText, RoundTripsEveryLengthOverTheWholeCodePage)
{
    for (int first = 0; first < 256; ++first) {
        for (int length = 1; length <= kStoredTextMaxLength; ++length) {
            const QString text = textOf(first, length);
            const QString stored = EncodeStoredText(text);
            ASSERT_TRUE(wellFormed(stored)) << first << "/" << length << ": " << stored.toStdString();
            ASSERT_EQ(DecodeStoredText(stored), text) << first << "/" << length;
            ASSERT_EQ(EncodeStoredText(text), stored) << "not deterministic";
        }
    }
}

TEST(StoredText, EdgeCases)
{
    EXPECT_EQ(EncodeStoredText(QString()), QString());
    for (const char* shortValue : {"", "5", "5?"})
        EXPECT_EQ(DecodeStoredText(QString::fromLatin1(shortValue)), QString()) << shortValue;

    EXPECT_NE(EncodeStoredText(QStringLiteral("Иван")), EncodeStoredText(QStringLiteral("иван")));
    EXPECT_EQ(DecodeStoredText(EncodeStoredText(QStringLiteral("Иван Петров"))), QStringLiteral("Иван Петров"));

    const QString max = QString(kStoredTextMaxLength, QChar(u'Щ'));
    EXPECT_EQ(DecodeStoredText(EncodeStoredText(max)), max);
    try {
        EncodeStoredText(max + QLatin1Char('x'));
        FAIL() << "35 characters were accepted";
    } catch (const db::Error& e) {
        EXPECT_TRUE(e.message().contains(max + QLatin1Char('x'))) << e.what();
    }
    EXPECT_THROW(EncodeStoredText(QStringLiteral("Zoë 中")), db::Error);
}

// Values already stored in system databases must keep decoding: the format may not drift.
TEST(StoredText, StoredFormIsStable)
{
    const QString stored = QString::fromLatin1("\x1f" "1!4!0!0!2!3$6\x1e" "8!0!0!9!2!;\"7!7!1!2!5\x1e" "4!3!3!1!7!0#<!2!6!5!7!0\"?!5!7!1!7\x1e" "9");
    EXPECT_EQ(EncodeStoredText(QStringLiteral("Gatekeep")), stored);
    EXPECT_EQ(DecodeStoredText(stored), QStringLiteral("Gatekeep"));
}
