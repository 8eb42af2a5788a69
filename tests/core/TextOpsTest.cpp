#include "support/QtPrinters.h"
#include "core/TextOps.h"

#include <gtest/gtest.h>

TEST(TextOps, FormatDateDMY)
{
    EXPECT_EQ(FormatDateDMY(QDate(2026, 1, 5)), QStringLiteral("05.01.2026"));
    EXPECT_EQ(FormatDateDMY(QDate(999, 12, 31)), QStringLiteral("31.12.0999"));
}

TEST(TextOps, EscapeDoubleQuotes)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral(""), QStringLiteral("")},
        {QStringLiteral("Иван"), QStringLiteral("Иван")},
        {QStringLiteral("a\"b"), QStringLiteral("a\"\"b")},
        {QStringLiteral("\"\""), QStringLiteral("\"\"\"\"")},
        {QStringLiteral("it's"), QStringLiteral("it's")},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(EscapeDoubleQuotes(in), out) << in.toStdString();
}

TEST(TextOps, SimilarityKey)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("Петрова-Иванова"), QStringLiteral("ПЕТРОВАИВАНОВА")},
        {QStringLiteral("ivan.petrov_2"), QStringLiteral("IVANPETROV2")},
        {QStringLiteral(" !\"#'*+,-./:;?\\_"), QStringLiteral("")},
        {QStringLiteral("ёЁюя"), QStringLiteral("ёЁЮЯ")},      // ё is not in 224-255
        {QStringLiteral("(Ana)&[x]"), QStringLiteral("(ANA)&[X]")}, // other punctuation stays
        {QStringLiteral("çé中"), QStringLiteral("çé中")},         // not cp1251 letters: unchanged
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(SimilarityKey(in), out) << in.toStdString();
}

TEST(TextOps, SplitPersonName)
{
    struct Case {
        QString text;
        PersonName expected;
    };
    const Case cases[] = {
        {QStringLiteral("Иван Петров Иванов"), {QStringLiteral("Иван"), QStringLiteral("Петров"), QStringLiteral("Иванов")}},
        {QStringLiteral("Иван Иванов"), {QStringLiteral("Иван"), {}, QStringLiteral("Иванов")}},
        {QStringLiteral("Мария Анна Петрова Иванова"), {QStringLiteral("Мария"), QStringLiteral("Анна Петрова"), QStringLiteral("Иванова")}},
        {QStringLiteral("  Иванов"), {{}, {}, QStringLiteral("Иванов")}},
        {QStringLiteral("   "), {}},
        {QStringLiteral("\r\n\bИван  Иванов \n"), {QStringLiteral("Иван"), QStringLiteral(""), QStringLiteral("Иванов")}},
        {QStringLiteral("Иван\tИванов"), {{}, {}, QStringLiteral("Иван\tИванов")}},
    };
    for (const Case& c : cases) {
        const PersonName got = SplitPersonName(c.text);
        EXPECT_EQ(got.first, c.expected.first) << c.text.toStdString();
        EXPECT_EQ(got.middle, c.expected.middle) << c.text.toStdString();
        EXPECT_EQ(got.last, c.expected.last) << c.text.toStdString();
    }
}

TEST(TextOps, TakeToken)
{
    struct Case {
        QString delimiter, text, token, rest;
    };
    const Case cases[] = {
        {QStringLiteral(";"), QStringLiteral("a;b;c"), QStringLiteral("a"), QStringLiteral("b;c")},
        {QStringLiteral(";"), QStringLiteral(";b"), QStringLiteral(""), QStringLiteral("b")},
        {QStringLiteral(";"), QStringLiteral("abc"), QStringLiteral("abc"), QStringLiteral("")},
        {QStringLiteral(" : "), QStringLiteral("Заплати : srv:/db/z.fdb"), QStringLiteral("Заплати"), QStringLiteral("srv:/db/z.fdb")},
        {QStringLiteral(";"), QStringLiteral(""), QStringLiteral(""), QStringLiteral("")},
    };
    for (const Case& c : cases) {
        QString text = c.text;
        EXPECT_EQ(TakeToken(c.delimiter, text), c.token) << c.text.toStdString();
        EXPECT_EQ(text, c.rest) << c.text.toStdString();
    }
}
