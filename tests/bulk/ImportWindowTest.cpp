// The import window's runs: the preview, the line of every row, the summary, the saved report and
// Stop, against a real system database and an application database on the Firebird server.
#include "BulkFixture.h"

#include "bulk/ImportReport.h"

#include <QDir>
#include <QLabel>
#include <QTabWidget>

namespace {

QStringList rowLines(const QStringList& report)
{
    QStringList out;
    for (const QString& line : report)
        if (!line.isEmpty() && line[0].isDigit())
            out << line;
    return out;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class ImportWindowTest : public BulkFixture {
protected:
    QStringList reportsBeside(const QString& file)
    {
        const QFileInfo info(file);
        return info.dir().entryList({info.fileName() + QStringLiteral(".import-*.txt")}, QDir::Files);
    }
};

// The preview runs the rows with nothing written anywhere and says per row what the run then does;
// the run's lines are the same (with the new user's id), its summary counts every outcome, and its
// report lies beside the file, without any password.
TEST_F(ImportWindowTest, ThePreviewSaysWhatTheRunDoesAndTheRunReportsEveryRow)
{
    const int ana = addUser(QStringLiteral("ana"), QStringLiteral("Ана Иванова"));
    const int mid = addUser(QStringLiteral("mid"), QStringLiteral("Среден Номер"), 40000);
    FbAppDatabase& app = serverAppDatabase(AppProcedure::RecordingSmallId);
    const QString file = writeFile(QStringLiteral("users.txt"),
                                   QStringLiteral("ivan;Иван Петров;Tajna-51;Четец\n"
                                                  "ana;Ана Иванова\n"
                                                  "\n"
                                                  "long;Александър Константинов Христозовов;Dълга-93\n"
                                                  "bad;Лош Човек;Sekret\u2605\n"
                                                  "mid;Среден Номер\n")
                                       .toUtf8());
    const QStringList passwords = {QStringLiteral("Tajna-51"), QStringLiteral("Dълга-93"), QStringLiteral("Sekret")};
    auto w = open();
    EXPECT_LE(w->minimumSizeHint().width(), 800);
    EXPECT_LE(w->minimumSizeHint().height(), 600);
    chooseApplication(*w, QStringLiteral("Деловодство"));
    w->cbSkipExisting->setChecked(false);
    w->LoadFile(file);

    w->btnPreview->click();
    EXPECT_TRUE(w->running());
    finishRun(*w);
    EXPECT_EQ(users().size(), 2);
    EXPECT_TRUE(links().isEmpty());
    EXPECT_TRUE(app.calls().isEmpty());
    EXPECT_TRUE(reportsBeside(file).isEmpty());
    const QStringList previewed = rowLines(w->report());
    EXPECT_TRUE(w->report().contains(Text::PreviewHeader));
    const QString counts = Text::SummaryCounts.arg(1).arg(2).arg(1).arg(2).arg(1);
    EXPECT_TRUE(w->report().contains(counts));
    EXPECT_TRUE(w->lbSummary->text().contains(Text::SummaryPreview.arg(6).arg(6))) << w->lbSummary->text().toStdString();

    m_prompts.answerConfirm(true);
    w->btn_SaveClick();
    finishRun(*w);
    const int ivan = user(QStringLiteral("ivan")).id;
    ASSERT_GT(ivan, 0);
    QList<Link> rights = {{ana, m_mod02, m_writer}, {ivan, m_mod02, m_reader}, {mid, m_mod02, m_writer}};
    std::sort(rights.begin(), rights.end(), [](const Link& a, const Link& b) { return a.user < b.user; });
    EXPECT_EQ(links(), rights);
    const QStringList lines = rowLines(w->report());
    ASSERT_EQ(lines.size(), 6) << w->report().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("1: created ivan (%1)").arg(ivan));
    EXPECT_EQ(lines[1], QStringLiteral("2: refreshed ana (%1)").arg(ana));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("3: skipped : ")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("4: refused long: ")));
    EXPECT_TRUE(lines[4].startsWith(QStringLiteral("5: refused bad: ")));
    EXPECT_TRUE(lines[5].startsWith(QStringLiteral("6: refreshed mid (40000); not provisioned: "))) << lines[5].toStdString();
    QStringList expected = lines;
    expected[0] = QStringLiteral("1: created ivan");
    EXPECT_EQ(previewed, expected);
    const QStringList summary = {Text::SummaryRun.arg(6).arg(6), counts};
    EXPECT_EQ(w->report().mid(w->report().size() - 2), summary);
    EXPECT_EQ(w->lbSummary->text(), summary.join(QLatin1Char('\n')));
    for (const QString& line : summary)
        EXPECT_TRUE(log(*w).contains(line)) << line.toStdString();

    // The report beside the file: the window's lines, whole.
    const QStringList saved = reportsBeside(file);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(QFileInfo(file).dir().filePath(saved[0]), w->savedReport());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^users\\.txt\\.import-\\d{8}-\\d{6}\\.txt$")).match(saved[0]).hasMatch()) << saved[0].toStdString();
    const QString text = QString::fromUtf8(readAll(w->savedReport()));
    EXPECT_EQ(text, w->report().join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_EQ(w->mmReport->toPlainText(), w->report().join(QLatin1Char('\n')));
    for (const QString& p : passwords) {
        EXPECT_FALSE(text.contains(p)) << p.toStdString();
        EXPECT_FALSE(w->LogMsg->toPlainText().contains(p)) << p.toStdString();
    }

    // Where the administrator chooses; a place that cannot take it is said, nothing is left.
    const QString chosen = m_tmp.path(QStringLiteral("chosen.txt"));
    const QString nowhere = m_tmp.path(QStringLiteral("no-such-folder/report.txt"));
    m_prompts.answerFile(chosen).answerFile(nowhere);
    w->btnSaveReport->click();
    EXPECT_EQ(readAll(chosen), text.toUtf8());
    w->btnSaveReport->click();
    ASSERT_FALSE(m_prompts.messages().isEmpty());
    EXPECT_TRUE(m_prompts.messages().last().startsWith(Text::ReportNotSaved.arg(QString()))) << m_prompts.messages().last().toStdString();
    EXPECT_FALSE(QFileInfo::exists(nowhere));
}

// Stop ends the run between rows from the event loop: the rows done stay done, the summary says
// where it stopped, and a second run of the file makes the rest.
TEST_F(ImportWindowTest, StopEndsTheRunBetweenRowsAndTheRowsDoneStay)
{
    constexpr int kRows = 400;
    QByteArray text;
    for (int i = 1; i <= kRows; ++i)
        text += QStringLiteral("u%1;Човек Номер%1\n").arg(i).toUtf8();
    const QString file = writeFile(QStringLiteral("many.txt"), text);
    auto w = open();
    w->LoadFile(file);
    m_prompts.answerConfirm(true);
    w->btn_SaveClick();
    // The click returns at once; the rows go on from the event loop, with Stop at hand.
    ASSERT_TRUE(w->running());
    EXPECT_TRUE(w->btnStop->isEnabled());
    EXPECT_FALSE(w->sbExit->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->pb_Users->value() >= 5; }, 60000));
    ASSERT_TRUE(w->running());
    w->btnStop->click();
    finishRun(*w);
    EXPECT_FALSE(w->btnStop->isEnabled());
    EXPECT_TRUE(w->sbExit->isEnabled());

    const int done = w->pb_Users->value();
    ASSERT_GE(done, 5);
    ASSERT_LT(done, kRows);
    const QList<StoredUser> made = users();
    ASSERT_EQ(made.size(), done);
    for (int i = 0; i < done; ++i)
        EXPECT_EQ(made[i].login, QStringLiteral("u%1").arg(i + 1));
    EXPECT_EQ(rowLines(w->report()).size(), done);
    const QString stopped = Text::SummaryStopped.arg(done + 1);
    EXPECT_TRUE(w->lbSummary->text().contains(stopped)) << w->lbSummary->text().toStdString();
    EXPECT_TRUE(w->lbSummary->text().contains(Text::SummaryRun.arg(done).arg(kRows)));
    EXPECT_TRUE(QString::fromUtf8(readAll(w->savedReport())).contains(stopped));

    m_prompts.answerConfirm(true);
    w->btn_SaveClick();
    finishRun(*w);
    EXPECT_EQ(users().size(), kRows);
    EXPECT_EQ(w->lbSummary->text(),
              QStringList({Text::SummaryRun.arg(kRows).arg(kRows), Text::SummaryCounts.arg(kRows - done).arg(0).arg(done).arg(0).arg(0)})
                  .join(QLatin1Char('\n')));
}

// A workbook the administrator does not import at once can be previewed: its rows, nothing written.
TEST_F(ImportWindowTest, ADeclinedWorkbookCanBePreviewed)
{
    const QString ods = m_tmp.path(QStringLiteral("users.ods"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(GK_BULK_DATA_DIR "/users.ods"), ods));
    auto w = open();
    m_prompts.answerConfirm(false);
    w->LoadFile(ods);
    EXPECT_FALSE(w->running());
    w->btnPreview->click();
    finishRun(*w);
    EXPECT_TRUE(users().isEmpty());
    const QStringList lines = rowLines(w->report());
    // The sheet's empty row 3 is no row at all.
    ASSERT_EQ(lines.size(), 5) << w->report().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("2: created ivan"));
    EXPECT_TRUE(w->report().contains(Text::SummaryCounts.arg(3).arg(0).arg(2).arg(0).arg(0)));
    EXPECT_TRUE(reportsBeside(ods).isEmpty());
}
