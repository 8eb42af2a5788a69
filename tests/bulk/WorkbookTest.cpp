// The workbook readers: the three kinds (made by the writers at test time, the OpenDocument one by
// tests/bulk/data/make-ods.py), as the spreadsheet shows them.
#include "support/TestEnv.h"

#include "bulk/Workbook.h"
#include "core/InputError.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

TEST(WorkbookTest, WorkbooksOfEveryKindReadAsDisplayed)
{
    TempDir dir;
    const QString xls = dir.path(QStringLiteral("users.xls"));
    const QString xlsx = dir.path(QStringLiteral("users.XLSX"));
    for (const QString& out : {xls, xlsx})
        ASSERT_EQ(QProcess::execute(QStringLiteral("perl"), {QStringLiteral(GK_BULK_SCRIPT_DIR "/make-workbook.pl"), out}), 0);
    const QList<WorkbookRow> expected = {
        {QStringLiteral("Потребител"), QStringLiteral("Име"), QStringLiteral("Парола"), QStringLiteral("Клас")},
        {QStringLiteral("ivan"), QStringLiteral("Иван Петров"), QStringLiteral("1234"), QStringLiteral("Писар")},
        {},
        {QStringLiteral("maria"), QStringLiteral("Мария Иванова"), {}, {}},
        {QStringLiteral("alone"), {}, {}, {}},
        {QStringLiteral("real"), QStringLiteral("Реално Число"), QStringLiteral("12.5"), {}},
    };
    for (const QString& path : {xls, xlsx, QStringLiteral(GK_BULK_DATA_DIR "/users.ods")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(IsWorkbookFile(path));
        EXPECT_EQ(ReadWorkbook(path), expected);
    }
    EXPECT_FALSE(IsWorkbookFile(QStringLiteral("users.csv")));
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
        const QString path = dir.write(QString::fromLatin1(c.name), c.bytes);
        try {
            ReadWorkbook(path);
            ADD_FAILURE() << "read";
        } catch (const InputError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromLatin1(c.name))) << e.message().toStdString();
        }
    }
    EXPECT_THROW(ReadWorkbook(dir.path(QStringLiteral("missing.xls"))), InputError);
    // A file on which the .xls reader overruns its buffers (found by fuzzing): refused, or read,
    // but never the end of the program.
    try {
        ReadWorkbook(QStringLiteral(GK_BULK_DATA_DIR "/damaged.xls"));
    } catch (const InputError&) {
    }
}
