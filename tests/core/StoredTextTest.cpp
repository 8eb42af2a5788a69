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
            // The same from the bytes a fetch gives, without a text in between.
            char bytes[kStoredTextDecodedMax];
            const QByteArray fetched = cp1251::encode(stored);
            const qsizetype n = DecodeStoredBytes(fetched.constData(), fetched.size(), bytes);
            ASSERT_EQ(cp1251::decode(bytes, n), text) << first << "/" << length;
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
    EXPECT_THROW(EncodeStoredText(max + QLatin1Char('x')), db::Error);
    EXPECT_THROW(EncodeStoredText(QStringLiteral("Zoë 中")), db::Error);
}

// Passwords go through here: a refusal names the field, the length or the character, and
// never shows the value (it would land in a message box or on standard error).
TEST(StoredText, RefusalsDoNotQuoteTheValue)
{
    struct Case {
        const char* name;
        QString text;
        QString field;
        QStringList mentions;
    };
    const Case cases[] = {
        {"tooLongNamed", QStringLiteral("ТайнаПарола-") + QString(30, QLatin1Char('x')), QStringLiteral("Парола на класа"),
         {QStringLiteral("Парола на класа"), QStringLiteral("42"), QStringLiteral("34")}},
        {"tooLongUnnamed", QString(35, QLatin1Char('q')), QString(), {QStringLiteral("35"), QStringLiteral("34")}},
        {"notCp1251Named", QStringLiteral("Тайна中"), QStringLiteral("Парола"), {QStringLiteral("Парола"), QStringLiteral("U+4E2D")}},
        {"notCp1251Unnamed", QStringLiteral("Zoe中Zoe"), QString(), {QStringLiteral("U+4E2D"), QStringLiteral("позиция 4")}},
    };
    for (const Case& c : cases) {
        try {
            EncodeStoredText(c.text, c.field);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const db::Error& e) {
            EXPECT_FALSE(e.message().contains(c.text.left(4))) << c.name << ": " << e.what();
            for (const QString& m : c.mentions)
                EXPECT_TRUE(e.message().contains(m)) << c.name << ": " << e.what() << " lacks " << m.toStdString();
        }
    }
}

// Values already stored in system databases must keep decoding: the format may not drift.
TEST(StoredText, StoredFormIsStable)
{
    const QString stored = QString::fromLatin1("\x1f" "1!4!0!0!2!3$6\x1e" "8!0!0!9!2!;\"7!7!1!2!5\x1e" "4!3!3!1!7!0#<!2!6!5!7!0\"?!5!7!1!7\x1e" "9");
    EXPECT_EQ(EncodeStoredText(QStringLiteral("Gatekeep")), stored);
    EXPECT_EQ(DecodeStoredText(stored), QStringLiteral("Gatekeep"));
}
