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
    const struct {
        const char* name;
        QByteArray bytes;
        bool utf8;
        QStringList lines;
    } cases[] = {
        {"utf-8, LF, last line ended", lines.join(QLatin1Char('\n')).toUtf8() + "\n", true, lines},
        {"utf-8 with its mark, CR LF", "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8(), true, lines},
        {"cp1251, CR LF, last line ended", cp1251::encode(lines.join(QStringLiteral("\r\n"))) + "\r\n", false, lines},
        {"cp1251, LF", cp1251::encode(lines.join(QLatin1Char('\n'))), false, lines},
        {"a CR inside a line stays", "a\rb\r\n", true, {QStringLiteral("a\rb")}},
        {"empty", QByteArray(), true, {}},
        {"one empty line", "\n", true, {QString()}},
        {"broken utf-8 falls back", "caf\xC3(\n", false, {QString::fromUtf8("caf\xD0\x93(")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ImportTextFile f = DecodeImportText(c.bytes);
        EXPECT_EQ(f.utf8, c.utf8);
        EXPECT_EQ(f.lines, c.lines);
    }
    EXPECT_THROW(ReadImportTextFile(QStringLiteral("/nonexistent/users.txt")), InputError);
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
