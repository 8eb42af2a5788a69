// The workbook readers: the three kinds (made at test time by tests/bulk/make-workbook.pl and
// tests/bulk/data/make-ods.py), read as the spreadsheet shows them.
#include "BulkFixture.h"

#include "bulk/CellFormat.h"
#include "bulk/Workbook.h"
#include "core/InputError.h"

namespace {

// A read row as number, the four cells and why it cannot be read.
QStringList shown(const ImportRow& r)
{
    return {QString::number(r.number), r.login, r.fullName, r.password, r.className, r.unreadable};
}
QList<QStringList> shown(const QList<ImportRow>& rows)
{
    QList<QStringList> out;
    for (const ImportRow& r : rows)
        out.append(shown(r));
    return out;
}

QString makeBook(TempDir& dir, const QString& name, const QString& shape)
{
    const QString out = dir.path(name);
    const bool ods = name.endsWith(QLatin1String(".ods"));
    const int rc = ods ? QProcess::execute(QStringLiteral("python3"), {QStringLiteral(GK_BULK_DATA_DIR "/make-ods.py"), out, shape})
                       : QProcess::execute(QStringLiteral("perl"), {QStringLiteral(GK_BULK_SCRIPT_DIR "/make-workbook.pl"), out, shape});
    EXPECT_EQ(rc, 0) << name.toStdString();
    return out;
}

QString refusal(const QString& path)
{
    try {
        ReadWorkbook(path);
    } catch (const InputError& e) {
        return e.message();
    }
    return QStringLiteral("(read)");
}

} // namespace

TEST(WorkbookTest, WorkbooksOfEveryKindReadAsDisplayed)
{
    TempDir dir;
    const QList<QStringList> expected = {
        {QStringLiteral("1"), QStringLiteral("Потребител"), QStringLiteral("Име"), QStringLiteral("Парола"), QStringLiteral("Клас"), {}},
        {QStringLiteral("2"), QStringLiteral("ivan"), QStringLiteral("Иван Петров"), QStringLiteral("1234"), QStringLiteral("Писар"), {}},
        {QStringLiteral("4"), QStringLiteral("maria"), QStringLiteral("Мария Иванова"), {}, {}, {}},
        {QStringLiteral("5"), QStringLiteral("alone"), {}, {}, {}, {}},
        {QStringLiteral("6"), QStringLiteral("real"), QStringLiteral("Реално Число"), QStringLiteral("12.5"), {}, {}},
    };
    for (const QString& path : {makeBook(dir, QStringLiteral("users.xls"), QStringLiteral("users")),
                                makeBook(dir, QStringLiteral("users.XLSX"), QStringLiteral("users")),
                                // Texts as inline strings, as some writers keep them.
                                makeBook(dir, QStringLiteral("inline.xlsx"), QStringLiteral("inline")),
                                QStringLiteral(GK_BULK_DATA_DIR "/users.ods")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(IsWorkbookFile(path));
        EXPECT_EQ(shown(ReadWorkbook(path)), expected);
    }
    EXPECT_FALSE(IsWorkbookFile(QStringLiteral("users.csv")));
}

// Number formats and formulas read alike from every kind: the text the sheet shows, the result the
// file stores.
TEST(WorkbookTest, NumberFormatsAndFormulasReadAsShown)
{
    TempDir dir;
    auto row = [](int n, const char* a, const char* b, const char* c, const char* d, const QString& why = {}) {
        return QStringList{QString::number(n), QString::fromUtf8(a), QString::fromUtf8(b), QString::fromUtf8(c), QString::fromUtf8(d), why};
    };
    const QList<QStringList> common = {
        row(1, "042", "Водещи Нули", "0579", "Писар"),
        row(2, "pct", "Процент", "50%", "12.50%"),
        row(3, "fixed", "Десетични", "12.50", "1,234,567"),
        row(4, "date", "Дата", "15.03.2024", "2024-03-15"),
        row(5, "time", "Час", "12:30", "12:30:00"),
        row(6, "builtin", "Вградени", "15.03.2024", "50%"),
        row(7, "short", "Кратка Дата", "15/3/24", "1,234.50"),
        row(8, "formula", "Формула", "1234", "0042"),
        row(9, "sci", "Непознат Формат", "1234.5", "-3.5"),
    };
    for (const QString& name : {QStringLiteral("shapes.xls"), QStringLiteral("shapes.xlsx")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(shown(ReadWorkbook(makeBook(dir, name, QStringLiteral("shapes")))), common);
    }
    // OpenDocument also keeps formulas without a stored result and merged cells: a merge's covered
    // cells keep their columns and show nothing.
    QList<QStringList> ods = common;
    ods += {
        row(10, "nores", "Без Резултат", "", "Писар",
            QStringLiteral("клетка C10 съдържа формула без запазена стойност; отворете файла в програмата за таблици и го запишете отново")),
        row(11, "err", "Грешка", "", "", QStringLiteral("клетка C11 показва грешка #DIV/0!")),
        row(12, "Покрит Ред", "", "pw", ""),
        row(13, "span", "Обединени", "", ""),
        row(14, "два", "два", "pw2", "Писар"),
    };
    EXPECT_EQ(shown(ReadWorkbook(makeBook(dir, QStringLiteral("shapes.ods"), QStringLiteral("shapes")))), ods);
}

TEST(WorkbookTest, NumberFormatCodes)
{
    const struct {
        double value;
        const char* code;
        const char* shown;
    } cases[] = {
        {579, "0000", "0579"},       {42, "000", "042"},          {12.5, "0.00", "12.50"},     {0.5, "0%", "50%"},
        {0.125, "0.00%", "12.50%"},  {1234567.891, "#,##0.00", "1,234,567.89"},               {0, "#,##0", "0"},
        {-1234, "#,##0", "-1,234"},  {-1234, "#,##0;(#,##0)", "(1,234)"},                     {12.5, "0.00 \"лв.\"", "12.50 лв."},
        {7, "@", "7"},               {45366, "dd.mm.yyyy", "15.03.2024"},                    {45366, "d/m/yy", "15/3/24"},
        {45366, "yyyy-mm-dd", "2024-03-15"},                      {45366.5208333333, "dd.mm.yyyy hh:mm", "15.03.2024 12:30"},
        {0.5208333333, "hh:mm:ss", "12:30:00"},                   {0.5208333333, "h:mm AM/PM", "12:30 PM"},
        {1.5, "[h]:mm:ss", "36:00:00"},                            {0.0000115741, "mm:ss.0", "00:01.0"},
        {59, "dd.mm.yyyy", "28.02.1900"},                          {61, "dd.mm.yyyy", "01.03.1900"},
        {1234.5, "0.00E+00", "1234.5"},                           {0.75, "# ?/?", "0.75"},
        {5551234, "000-0000", "5551234"},                          {12.5, "General", "12.5"},
        {0.1 + 0.2, "", "0.3"},                                    {3, "[Red]0.0", "3.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatCellNumber(c.value, QString::fromUtf8(c.code)), QString::fromUtf8(c.shown)) << c.code;
    // The 1904 date system counts from 1 January 1904.
    EXPECT_EQ(FormatCellNumber(43904, QStringLiteral("dd.mm.yyyy"), true), QStringLiteral("15.03.2024"));
    for (const int id : {14, 20, 21, 22, 45, 46, 47})
        EXPECT_FALSE(BuiltinNumberFormat(id).isEmpty()) << id;
    EXPECT_EQ(FormatCellNumber(45366.5208333333, BuiltinNumberFormat(22)), QStringLiteral("15.03.2024 12:30"));
}

// A sheet may use its last row; what cannot be read is said in words, never as the reader's own.
TEST(WorkbookTest, LimitsAndRefusalsAreSaid)
{
    TempDir dir;
    EXPECT_EQ(shown(ReadWorkbook(makeBook(dir, QStringLiteral("last.xlsx"), QStringLiteral("lastrow")))),
              (QList<QStringList>{{QStringLiteral("1048576"), QStringLiteral("last"), QStringLiteral("Последен Ред"), {}, {}, {}}}));
    EXPECT_EQ(shown(ReadWorkbook(makeBook(dir, QStringLiteral("last.ods"), QStringLiteral("lastrow")))),
              (QList<QStringList>{{QStringLiteral("1048576"), QStringLiteral("last"), QStringLiteral("Последен Ред"), {}, {}, {}}}));
    EXPECT_EQ(shown(ReadWorkbook(makeBook(dir, QStringLiteral("last.xls"), QStringLiteral("lastrow")))),
              (QList<QStringList>{{QStringLiteral("65536"), QStringLiteral("last"), QStringLiteral("Последен Ред"), {}, {}, {}}}));
    const struct {
        QString name, shape, says;
    } cases[] = {
        {QStringLiteral("empty.xlsx"), QStringLiteral("empty"), QStringLiteral("в първия лист няма попълнени клетки в колони A до D")},
        {QStringLiteral("empty.xls"), QStringLiteral("empty"), QStringLiteral("в първия лист няма попълнени клетки в колони A до D")},
        {QStringLiteral("empty.ods"), QStringLiteral("empty"), QStringLiteral("в първия лист няма попълнени клетки в колони A до D")},
        {QStringLiteral("beyond.ods"), QStringLiteral("beyond"), QStringLiteral("клетка на ред 1048577 е извън листа (редовете са най-много 1048576)")},
        {QStringLiteral("locked.ods"), QStringLiteral("encrypted"), QStringLiteral("работната книга е защитена с парола")},
        {QStringLiteral("big.ods"), QStringLiteral("big"), QStringLiteral("Листът content.xml е твърде голям: 130 MB, а се четат най-много 128 MB")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString message = refusal(makeBook(dir, c.name, c.shape));
        EXPECT_TRUE(message.startsWith(c.name + QStringLiteral(": ") + c.says)) << message.toStdString();
    }
    // An .xls saved with a password: its globals carry the password record (here in place of the
    // code page's).
    QFile plain(makeBook(dir, QStringLiteral("plain.xls"), QStringLiteral("users")));
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    QByteArray locked = plain.readAll();
    const QByteArray codepage("\x42\x00\x02\x00\xE4\x04", 6);
    ASSERT_TRUE(locked.contains(codepage));
    locked.replace(codepage, QByteArray("\x2F\x00\x02\x00\x00\x00", 6));
    const QString message = refusal(dir.write(QStringLiteral("locked.xls"), locked));
    EXPECT_TRUE(message.startsWith(QStringLiteral("locked.xls: работната книга е защитена с парола"))) << message.toStdString();
}

TEST(WorkbookTest, MalformedWorkbooksAreRefused)
{
    TempDir dir;
    QFile ods(QStringLiteral(GK_BULK_DATA_DIR "/users.ods"));
    ASSERT_TRUE(ods.open(QIODevice::ReadOnly));
    const QByteArray zip = ods.readAll();
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"text.xls", "login;name\n"},
        {"empty.xls", {}},
        {"text.xlsx", "login;name\n"},
        {"cut.xlsx", zip.left(zip.size() / 2)},
        {"empty.ods", {}},
        {"cut.ods", zip.left(zip.size() / 2)},
        {"text.ods", "not a zip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString message = refusal(dir.write(QString::fromLatin1(c.name), c.bytes));
        EXPECT_TRUE(message.contains(QString::fromLatin1(c.name))) << message.toStdString();
    }
    EXPECT_THROW(ReadWorkbook(dir.path(QStringLiteral("missing.xls"))), InputError);
    // A file on which the .xls reader overruns its buffers (found by fuzzing): refused, or read,
    // but never the end of the program.
    try {
        ReadWorkbook(QStringLiteral(GK_BULK_DATA_DIR "/damaged.xls"));
    } catch (const InputError&) {
    }
}

class WorkbookImportTest : public BulkFixture {};

// A row with a cell that cannot be read is refused and said with its row and cell; the others are
// imported with the values the sheet shows.
TEST_F(WorkbookImportTest, UnreadableCellsRefuseTheirRow)
{
    TempDir dir;
    const QString path = makeBook(dir, QStringLiteral("shapes.ods"), QStringLiteral("shapes"));
    auto w = open();
    m_prompts.answerConfirm(true);
    w->LoadFile(path);
    finishRun(*w);
    const QString log = w->LogMsg->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Ред 10: клетка C10 съдържа формула без запазена стойност"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Ред 11: клетка C11 показва грешка #DIV/0!"))) << log.toStdString();
    QStringList logins;
    for (const StoredUser& u : users())
        logins.append(u.login);
    EXPECT_FALSE(logins.contains(QStringLiteral("nores")));
    EXPECT_FALSE(logins.contains(QStringLiteral("err")));
    EXPECT_FALSE(logins.contains(QStringLiteral("Покрит Ред")));
    EXPECT_EQ(user(QStringLiteral("042")).password, QStringLiteral("0579"));
    EXPECT_EQ(user(QStringLiteral("formula")).password, QStringLiteral("1234"));
}
