// The readers of import text files: text in either encoding and line ending.
#include "support/TestEnv.h"

#include "bulk/ImportSource.h"
#include "core/InputError.h"
#include "db/Cp1251.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace {


} // namespace

TEST(ImportSourceTest, TextIsReadInItsEncodingWithEitherLineEnding)
{
    const QStringList lines{QStringLiteral("ivan;Иван Петров;;Писар"), QString(), QStringLiteral("ana;Ана")};
    const auto utf16 = [](const QString& text, bool little) {
        QByteArray out = little ? QByteArray("\xFF\xFE") : QByteArray("\xFE\xFF");
        for (QChar c : text) {
            const char low = char(c.unicode() & 0xFF), high = char(c.unicode() >> 8);
            out.append(little ? low : high).append(little ? high : low);
        }
        return out;
    };
    using E = ImportEncoding;
    const struct {
        const char* name;
        QByteArray bytes;
        ImportEncoding encoding;
        QStringList lines;
    } cases[] = {
        {"utf-8, LF, last line ended", lines.join(QLatin1Char('\n')).toUtf8() + "\n", E::Utf8, lines},
        {"utf-8 with its mark, CR LF", "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8(), E::Utf8, lines},
        {"cp1251, CR LF, last line ended", cp1251::encode(lines.join(QStringLiteral("\r\n"))) + "\r\n", E::Cp1251, lines},
        {"cp1251, LF", cp1251::encode(lines.join(QLatin1Char('\n'))), E::Cp1251, lines},
        {"utf-16 LE with its mark, CR LF", utf16(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"), true), E::Utf16, lines},
        {"utf-16 BE with its mark, LF", utf16(lines.join(QLatin1Char('\n')), false), E::Utf16, lines},
        {"a CR inside a line stays", "a\rb\r\n", E::Utf8, {QStringLiteral("a\rb")}},
        {"empty", QByteArray(), E::Utf8, {}},
        {"one empty line", "\n", E::Utf8, {QString()}},
        {"broken utf-8 falls back", "caf\xC3(\n", E::Cp1251, {QString::fromUtf8("caf\xD0\x93(")}},
        {"cp1251 capitals before quotes are no utf-8", cp1251::encode(QStringLiteral("ДОГОВОР\u2116 5;Р\u201CА\n")), E::Cp1251,
         {QStringLiteral("ДОГОВОР\u2116 5;Р\u201CА")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImportTextFile f = DecodeImportText(c.bytes);
        EXPECT_EQ(f.encoding, c.encoding);
        EXPECT_EQ(f.lines, c.lines);
    }
    EXPECT_THROW(ReadImportTextFile(QStringLiteral("/nonexistent/users.txt")), InputError);
}

// What would be stored wrong refuses the whole file, naming the lines: UTF-16 without its mark,
// and in a file read as windows-1251 a line meant as UTF-8 or holding 0x98.
TEST(ImportSourceTest, FilesThatWouldBeStoredWrongAreRefusedWhole)
{
    const QByteArray cpIvan = cp1251::encode(QStringLiteral("ivan;Иван Петров\n"));
    QByteArray manyUtf8 = cpIvan;
    for (int i = 0; i < 12; ++i)
        manyUtf8 += QStringLiteral("u%1;Утф Осем\n").arg(i).toUtf8();
    const struct {
        const char* name;
        QByteArray bytes;
        QStringList said; // all in the message
    } cases[] = {
        {"utf-16 LE without mark", QByteArray("i\0v\0a\0n\0;\0\x18\x04\x32\x04\n\0", 16), {QStringLiteral("UTF-16")}},
        {"utf-16 BE without mark", QByteArray("\0i\0v\0a\0n\0;\x04\x18\x04\x32\0\n", 16), {QStringLiteral("UTF-16")}},
        {"utf-16 with its mark cut short", QByteArray("\xFF\xFEi\0v", 5), {QStringLiteral("UTF-16")}},
        {"one utf-8 line in cp1251", cpIvan + QStringLiteral("ana;Ана Иванова\n").toUtf8() + cpIvan,
         {QStringLiteral("ред 2 е в UTF-8"), QStringLiteral("windows-1251")}},
        // "И" in UTF-8 holds 0x98: the line is UTF-8, not an undefined byte.
        {"utf-8 with 0x98 and a lone 0x98", cpIvan + QStringLiteral("i;Иво\n").toUtf8() + "x;a\x98\n",
         {QStringLiteral("ред 2 е в UTF-8"), QStringLiteral("ред 3 съдържа байта 0x98")}},
        {"many utf-8 lines", manyUtf8, {QStringLiteral("редове 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 и още 2 са в UTF-8")}},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ReadImportTextFile(dir.write(QStringLiteral("users.txt"), c.bytes));
            ADD_FAILURE() << "read";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("users.txt: "))) << e.message().toStdString();
            for (const QString& part : c.said)
                EXPECT_TRUE(e.message().contains(part)) << e.message().toStdString();
        }
    }
}

TEST(ImportSourceTest, LinesSplitIntoFourFields)
{
    const struct {
        QString line, separator;
        QStringList fields; // login, full name, password, class
    } cases[] = {
        {QStringLiteral("ivan;Иван Петров"), QStringLiteral(";"), {QStringLiteral("ivan"), QStringLiteral("Иван Петров"), {}, {}}},
        {QStringLiteral("a;b;c;d;e;f"), QStringLiteral(";"), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")}},
        {QStringLiteral(";;pw;"), QStringLiteral(";"), {{}, {}, QStringLiteral("pw"), {}}},
        {QStringLiteral("a@ b @c"), QStringLiteral("@"), {QStringLiteral("a"), QStringLiteral(" b "), QStringLiteral("c"), {}}},
        {QString(), QStringLiteral(";"), {{}, {}, {}, {}}},
    };
    for (const auto& c : cases) {
        const ImportRow r = SplitImportLine(c.line, c.separator, 7);
        EXPECT_EQ((QStringList{r.login, r.fullName, r.password, r.className}), c.fields) << c.line.toStdString();
        EXPECT_EQ(r.number, 7);
    }
}

// A .csv file's fields are CSV with the chosen separator; any other text file keeps the
// take-token split, quotes and all. Each row is numbered by the line it starts on.
TEST(ImportSourceTest, CsvFieldsFollowTheQuotes)
{
    using Rows = QList<QStringList>; // number, login, full name, password, class
    const struct {
        const char* name;
        QStringList lines;
        QString separator;
        bool csv;
        Rows rows;
    } cases[] = {
        {"comma in quotes",
         {QStringLiteral("ivan,\"Петров, Иван\",pw")},
         QStringLiteral(","),
         true,
         {{QStringLiteral("1"), QStringLiteral("ivan"), QStringLiteral("Петров, Иван"), QStringLiteral("pw"), {}}}},
        {"doubled quotes, empty quoted field, more fields",
         {QStringLiteral("\"a\"\"b\";\"\";\"x;y\";c;extra")},
         QStringLiteral(";"),
         true,
         {{QStringLiteral("1"), QStringLiteral("a\"b"), {}, QStringLiteral("x;y"), QStringLiteral("c")}}},
        {"line break inside quotes",
         {QStringLiteral("one;\"Първи"), QStringLiteral("Ред\";p"), QStringLiteral("two;Втори")},
         QStringLiteral(";"),
         true,
         {{QStringLiteral("1"), QStringLiteral("one"), QStringLiteral("Първи\nРед"), QStringLiteral("p"), {}},
          {QStringLiteral("3"), QStringLiteral("two"), QStringLiteral("Втори"), {}, {}}}},
        {"spaces around quotes, a quote inside a plain field, a blank line",
         {QStringLiteral(" \"a\" ; b\"c ;"), QString()},
         QStringLiteral(";"),
         true,
         {{QStringLiteral("1"), QStringLiteral("a"), QStringLiteral(" b\"c "), {}, {}}, {QStringLiteral("2"), {}, {}, {}, {}}}},
        {"tab separated",
         {QStringLiteral("ivan\t\"Иван\tПетров\"")},
         QStringLiteral("\t"),
         true,
         {{QStringLiteral("1"), QStringLiteral("ivan"), QStringLiteral("Иван\tПетров"), {}, {}}}},
        {"a text file keeps the quotes",
         {QStringLiteral("ivan;\"Петров; Иван\"")},
         QStringLiteral(";"),
         false,
         {{QStringLiteral("1"), QStringLiteral("ivan"), QStringLiteral("\"Петров"), QStringLiteral(" Иван\""), {}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rows got;
        for (const ImportRow& r : ImportTextRows(c.lines, c.separator, c.csv))
            got.append({QString::number(r.number), r.login, r.fullName, r.password, r.className});
        EXPECT_EQ(got, c.rows);
    }
    EXPECT_TRUE(IsCsvFile(QStringLiteral("/x/users.CSV")));
    EXPECT_FALSE(IsCsvFile(QStringLiteral("/x/users.txt")));
}

// Before any row is used: a separator that splits no line (named visibly, with the one the lines
// hold), and a CSV quote left open or followed by text (naming the line).
TEST(ImportSourceTest, AFileTheSeparatorCannotSplitIsRefused)
{
    const struct {
        const char* name;
        QStringList lines;
        QString separator;
        bool csv;
        QString said; // empty: the rows are read
    } cases[] = {
        {"tab-separated, ; chosen", {QStringLiteral("ivan\tИван"), QString(), QStringLiteral("ana\tАна")}, QStringLiteral(";"), false,
         QStringLiteral("Разделителят \u201E;\u201C не разделя нито един ред на файла (редовете съдържат Tab)")},
        {"; separated, tab chosen", {QStringLiteral("ivan;Иван"), QStringLiteral("ana;Ана")}, QStringLiteral("\t"), false,
         QStringLiteral("Разделителят Tab не разделя нито един ред на файла (редовете съдържат \u201E;\u201C)")},
        {"no other separator either", {QStringLiteral("ivan")}, QStringLiteral(","), false,
         QStringLiteral("Разделителят \u201E,\u201C не разделя нито един ред на файла;")},
        {"csv whose separators are all quoted", {QStringLiteral("\"a;b\""), QStringLiteral("\"c;d\"")}, QStringLiteral(";"), true,
         QStringLiteral("не разделя нито един ред")},
        {"csv quote left open", {QStringLiteral("a;b"), QStringLiteral("c;\"d"), QStringLiteral("e")}, QStringLiteral(";"), true,
         QStringLiteral("ред 2: кавичките на поле 2 не са затворени")},
        {"csv text after the quote", {QStringLiteral("a;\"b\"c;d")}, QStringLiteral(";"), true,
         QStringLiteral("ред 1: след затварящите кавички на поле 2 има текст")},
        {"one line split is enough", {QStringLiteral("ivan"), QStringLiteral("ana;Ана")}, QStringLiteral(";"), false, {}},
        {"only blank lines", {QString(), QStringLiteral("  ")}, QStringLiteral(";"), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            const QList<ImportRow> rows = ImportTextRows(c.lines, c.separator, c.csv);
            EXPECT_TRUE(c.said.isEmpty()) << "read";
            EXPECT_EQ(rows.size(), c.lines.size());
        } catch (const InputError& e) {
            EXPECT_TRUE(!c.said.isEmpty() && e.message().contains(c.said)) << e.message().toStdString();
        }
    }
}

// A control character in any field refuses the row, naming the field and the position; the
// value itself is never in the reason.
TEST(ImportSourceTest, ControlCharactersAreNamedByFieldAndPosition)
{
    const struct {
        ImportRow row;
        QString said; // empty: the row may be stored
    } cases[] = {
        {{1, QString::fromLatin1("iv\0an", 5), QStringLiteral("Иван"), {}, {}}, QStringLiteral("Потребителското име: знакът на позиция 3 (U+0000, NUL)")},
        {{2, QStringLiteral("ivan"), QStringLiteral("Иван\tПетров"), {}, {}}, QStringLiteral("Името: знакът на позиция 5 (U+0009, Tab)")},
        {{3, QStringLiteral("ivan"), QStringLiteral("Иван"), QStringLiteral("tajna\r"), {}}, QStringLiteral("Паролата: знакът на позиция 6 (U+000D, CR)")},
        {{4, QStringLiteral("ivan"), QStringLiteral("Иван"), {}, QStringLiteral("Пи\u007Fсар")}, QStringLiteral("Класът: знакът на позиция 3 (U+007F, DEL)")},
        {{5, QStringLiteral("ivan"), QStringLiteral("Иван"), QStringLiteral("\u0085x"), {}}, QStringLiteral("Паролата: знакът на позиция 1 (U+0085)")},
        {{6, QStringLiteral(" ivan "), QStringLiteral("Иван \u2116 Петров"), QStringLiteral("p w"), QStringLiteral("Писар")}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row.number);
        const QString reason = ForbiddenCharacterIn(c.row);
        if (c.said.isEmpty()) {
            EXPECT_TRUE(reason.isEmpty()) << reason.toStdString();
            continue;
        }
        EXPECT_TRUE(reason.startsWith(c.said)) << reason.toStdString();
        EXPECT_FALSE(reason.contains(QStringLiteral("tajna")));
    }
}
