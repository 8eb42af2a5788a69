// The history viewer over configured databases, driven offscreen.
#include "UpdateFixtures.h"

#include "support/ScriptedPrompts.h"

#include "ui/DBHintGrid.h"
#include "ui/MemDataSet.h"
#include "update/History.h"
#include "update/UpdateText.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QItemSelectionModel>
#include <QTableWidget>

#include <gtest/gtest.h>

class HistoryViewerTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path(QStringLiteral("config")).toUtf8());
    }
    void TearDown() override
    {
        qunsetenv("GATEKEEP_ZORCFG");
        qunsetenv("GATEKEEP_CONFIG_DIR");
    }
    // The Mod02 section: the system database, then one entry per path, each with an empty ServIP.
    void configure(const QStringList& paths)
    {
        QByteArray ini = "[Mod01]\nNumber=1\nDBN1=SYS_DB\nCaption1=Система\nBaseName1=/db/sys.fdb\nsysBaseName1=/db/sys.fdb\n";
        ini += "[Mod02]\nNumber=" + QByteArray::number(paths.size()) + "\n";
        for (int i = 0; i < paths.size(); ++i) {
            const QByteArray n = QByteArray::number(i + 1);
            ini += "DBN" + n + "=app" + n + "\nCaption" + n + "=Приложение " + n + "\nServIP" + n + "=\nBaseName" + n + "=" +
                   paths[i].toUtf8() + "\nsysBaseName" + n + "=/db/sys.fdb\n";
        }
        writeFile(m_tmp.path(QStringLiteral("ZorCfg.ini")), ini);
    }
    QStringList shownFiles(TfrmHistory& w)
    {
        QStringList out;
        for (int r = 0; r < w.rxUpdates->recordCount(); ++r)
            out << w.rxUpdates->textAt(r, w.rxUpdates->fieldIndex(QStringLiteral("SU_FILENAME"))) + QLatin1Char('/') +
                       w.rxUpdates->textAt(r, w.rxUpdates->fieldIndex(QStringLiteral("MAXSUNO")));
        return out;
    }

    TempDir m_tmp;
    ScriptedPrompts m_prompts;
};

TEST(HistoryViewer, ScriptFileNameDropsWindowsAndUnixFolders)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {{"C:\\upd\\app\\UPD001.SQL", "UPD001.SQL"}, {"/srv/upd/upd002.sql", "upd002.sql"},
                 {"\\\\host\\share/mixed\\Upd003.Sql", "Upd003.Sql"}, {"UPD004.SQL", "UPD004.SQL"}, {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(ScriptFileName(QString::fromUtf8(c.path)), QString::fromUtf8(c.name)) << c.path;
}

// A local database (empty ServIP) is reached by its bare path; only numbered UPD scripts are
// summarised, oldest first, with the folders of peers' Windows paths dropped.
TEST_F(HistoryViewerTest, SummarisesTheNumberedScriptsOfALocalDatabase)
{
    LocalAppDatabase app(m_tmp.path(QStringLiteral("app.fdb")), true);
    app.addHistory(1, QStringLiteral("C:\\Upd\\UPD001.SQL"), QStringLiteral("01.02.2024 10:00:00"));
    app.addHistory(2, QStringLiteral("C:\\Upd\\UPD001.SQL"), QStringLiteral("01.02.2024 10:00:05"));
    app.addHistory(7, QStringLiteral("/opt/scripts/fix.sql"), QStringLiteral("01.02.2024 10:00:06"));
    app.addHistory(3, QStringLiteral("/opt/scripts/upd002.sql"), QStringLiteral("02.02.2024 09:00:00"));
    app.release();
    configure({app.path()});

    TfrmHistory w;
    ASSERT_EQ(w.sgBases->rowCount(), 2); // the SYS_DB entry is not listed; an empty row ends the list
    EXPECT_EQ(w.sgBases->item(0, 0)->text(), QStringLiteral("Приложение 1"));
    EXPECT_EQ(w.sgBases->item(0, 1)->text(), QStringLiteral("app1"));
    EXPECT_EQ(w.EntryOfRow(1), -1);

    w.SelectRow(0);
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(shownFiles(w), (QStringList{"UPD001.SQL/1", "UPD001.SQL/2", "upd002.sql/3"}));
    EXPECT_EQ(w.rxUpdates->recNo(), 2); // on the newest
    // Each row shows its date.
    QStringList headers;
    for (int c = 0; c < w.grid->model()->columnCount(); ++c)
        headers << w.grid->model()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    EXPECT_EQ(headers, (QStringList{"Файл", "Дата", "Стъпка N"}));
    EXPECT_EQ(w.grid->model()->index(2, 1).data().toString(), QStringLiteral("02.02.2024 09:00:00"));

    w.SelectRow(1); // the empty row does nothing
    EXPECT_EQ(w.rxUpdates->recordCount(), 3);
    EXPECT_TRUE(w.dbConn.connected());
}

// Opening chooses nothing, and the empty last row can never look chosen: the highlighted row
// is the one whose history is listed.
TEST_F(HistoryViewerTest, OnlyTheRowWhoseHistoryIsListedLooksChosen)
{
    LocalAppDatabase app(m_tmp.path(QStringLiteral("app.fdb")), true);
    app.addHistory(1, QStringLiteral("C:\\UPD001.SQL"), QStringLiteral("01.02.2024 10:00:00"));
    app.release();
    configure({app.path()});

    TfrmHistory w;
    w.show();
    QApplication::processEvents();
    EXPECT_TRUE(w.sgBases->selectedItems().isEmpty());
    EXPECT_EQ(w.sgBases->currentRow(), -1);
    EXPECT_FALSE(w.dbConn.connected());
    EXPECT_EQ(w.rxUpdates->recordCount(), 0);

    w.sgBases->setCurrentCell(0, 1);
    EXPECT_EQ(shownFiles(w), QStringList{"UPD001.SQL/1"});
    EXPECT_EQ(w.sgBases->selectionModel()->selectedRows().size(), 1);
    EXPECT_TRUE(w.sgBases->selectionModel()->isRowSelected(0, {}));

    for (int c = 0; c < 2; ++c)
        EXPECT_FALSE(w.sgBases->item(1, c)->flags() & (Qt::ItemIsSelectable | Qt::ItemIsEnabled)) << c;
    w.sgBases->selectRow(1);
    EXPECT_FALSE(w.sgBases->selectionModel()->isRowSelected(1, {}));
    EXPECT_EQ(shownFiles(w), QStringList{"UPD001.SQL/1"});
}

// A database without the history table is named in the message, and the rows of the database
// chosen before are not left under its name.
TEST_F(HistoryViewerTest, ADatabaseWithoutHistoryIsNamedAndListsNothing)
{
    LocalAppDatabase with(m_tmp.path(QStringLiteral("with.fdb")), true);
    with.addHistory(4, QStringLiteral("C:\\UPD009.SQL"), QStringLiteral("01.02.2024 10:00:00"));
    with.release();
    LocalAppDatabase without(m_tmp.path(QStringLiteral("without.fdb")), false);
    without.release();
    configure({with.path(), without.path(), m_tmp.path(QStringLiteral("missing.fdb"))});

    TfrmHistory w;
    const struct {
        int row;
        const char* text; // how the message begins
    } cases[] = {{1, "Базата \"Приложение 2\" (app2) няма таблица SQL_UPDATES"},
                 {2, "Историята на базата \"Приложение 3\" (app3) не може да бъде прочетена:\n"}};
    for (const auto& c : cases) {
        w.SelectRow(0);
        ASSERT_EQ(shownFiles(w), QStringList{"UPD009.SQL/4"});
        m_prompts.shown.clear();
        w.SelectRow(c.row);
        ASSERT_EQ(m_prompts.messages().size(), 1) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m_prompts.messages().first().startsWith(QString::fromUtf8(c.text))) << m_prompts.messages().first().toStdString();
        EXPECT_EQ(w.rxUpdates->recordCount(), 0) << c.row;
    }
}
