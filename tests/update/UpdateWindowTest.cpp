// The update window, the alias choice and the background run, driven offscreen against
// embedded databases.
#include "UpdateFixtures.h"

#include "support/ScriptedPrompts.h"

#include "core/Aliases.h"
#include "core/LogInfo.h"
#include "ui/DBHintGrid.h"
#include "ui/MemDataSet.h"
#include "update/Alias_F.h"
#include "update/AutoUpd.h"
#include "update/SelectDBPaths.h"
#include "update/UpdateText.h"
#include "update/Update_f.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace Text = UpdateText;

namespace {
const QByteArray kThreeSteps = "/*alias>app_db*/\n"
                               "/*sqlstart>1*/\ninsert into T (N) values (1)\n/*sqlstop*/\n"
                               "/*sqlstart>2*/\ninsert into T (N) values (2)\n/*sqlstop*/\n"
                               "/*sqlstart>3*/\ninsert into T (N) values (3)\n/*sqlstop*/\n";

QByteArray oneStep(const char* alias, int n, const char* sql)
{
    QByteArray s;
    if (alias)
        s += QByteArray("/*alias>") + alias + "*/\n";
    return s + "/*sqlstart>" + QByteArray::number(n) + "*/\n" + sql + "\n/*sqlstop*/\n";
}

// The rows of the progress list: script, step, state and whether a time is shown.
QStringList rowsOf(const QTreeWidget* list)
{
    QStringList out;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* i = list->topLevelItem(r);
        out << i->text(TThreadUpdater::colScript) + QLatin1Char('|') + i->text(TThreadUpdater::colStep) + QLatin1Char('|') +
                   i->text(TThreadUpdater::colState) + (i->text(TThreadUpdater::colTime).isEmpty() ? QString() : QStringLiteral("|time"));
    }
    return out;
}

// The rows of the list of what will run: script, steps and database.
QStringList planOf(const QTreeWidget* list)
{
    QStringList out;
    for (int r = 0; r < list->topLevelItemCount(); ++r) {
        const QTreeWidgetItem* i = list->topLevelItem(r);
        out << i->text(0) + QLatin1Char('|') + i->text(1) + QLatin1Char('|') + i->text(2);
    }
    return out;
}
} // namespace

class UpdateWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        qputenv("GATEKEEP_ZORCFG", m_tmp.path(QStringLiteral("ZorCfg.ini")).toUtf8());
        qputenv("GATEKEEP_CONFIG_DIR", m_tmp.path(QStringLiteral("config")).toUtf8());
        qputenv("GATEKEEP_ALIASES", m_tmp.path(QStringLiteral("aliases.ini")).toUtf8());
        SetShortString(LogInfo().Location, QStringLiteral("srv:/db/sys.fdb"));
        InstallAliasResolver();
        TfrmSelectDBPaths::Runner() = [this](TfrmSelectDBPaths& w) {
            ++m_selections;
            w.lvAppl->setCurrentItem(w.lvAppl->topLevelItem(w.lvAppl->topLevelItemCount() - 1));
            return int(QDialog::Accepted);
        };
        // The progress window runs its thread to the end and stays till then.
        TAutoUpd_Frm::Runner() = [this](TAutoUpd_Frm& w) {
            m_filesRun = w.thread()->Files;
            m_plan = planOf(w.Plan_LV);
            m_rowsBeforeStart = w.Stage_LV->topLevelItemCount();
            w.StartClick();
            m_closedWhileRunning = w.close();
            while (w.running())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            m_rows = rowsOf(w.Stage_LV);
            // What the detail pane shows for each row, chosen in turn.
            m_details.clear();
            for (int r = 0; r < w.Stage_LV->topLevelItemCount(); ++r) {
                w.Stage_LV->setCurrentItem(w.Stage_LV->topLevelItem(r));
                m_details << w.Detail_Text->toPlainText();
                EXPECT_EQ(w.Stage_LV->topLevelItem(r)->toolTip(TThreadUpdater::colState), m_details.last());
            }
            return int(QDialog::Accepted);
        };
    }
    void TearDown() override
    {
        TfrmSelectDBPaths::Runner() = nullptr;
        TAutoUpd_Frm::Runner() = nullptr;
        TAlias_F::Runner() = nullptr;
        SetShortString(LogInfo().Location, QString());
        for (const char* v : {"GATEKEEP_ZORCFG", "GATEKEEP_CONFIG_DIR", "GATEKEEP_ALIASES"})
            qunsetenv(v);
    }
    // A database with table T and the history table, reached through the alias app_db.
    std::unique_ptr<LocalAppDatabase> appDatabase(const QString& name, const QString& alias = QStringLiteral("app_db"))
    {
        auto d = std::make_unique<LocalAppDatabase>(m_tmp.path(name), true);
        execSql(d->db, QStringLiteral("create table T (N integer)"));
        d->release();
        WriteAlias(alias, QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), d->path()}});
        return d;
    }
    QString script(const QString& name, const QByteArray& text)
    {
        const QString path = m_tmp.path(name);
        writeFile(path, text);
        return path;
    }
    QStringList valuesOf(LocalAppDatabase& d, const QString& sql)
    {
        d.db.connect();
        QStringList out = columnOf(d.db, sql);
        d.release();
        return out;
    }

    TempDir m_tmp;
    ScriptedPrompts m_prompts;
    int m_selections = 0;
    QStringList m_filesRun;
    QStringList m_plan;
    int m_rowsBeforeStart = -1;
    QStringList m_rows;
    QStringList m_details;
    bool m_closedWhileRunning = true;
};

TEST(UpdateWindowHelpers, FiltersMatchSqlInAnyCase)
{
    const QString filter = AnyCaseFilter(Text::ScriptFilter);
    const QStringList parts = filter.split(QLatin1Char('|'));
    ASSERT_EQ(parts.size(), 4);
    EXPECT_EQ(parts[0], QStringLiteral("SQL"));
    EXPECT_EQ(parts[3], QStringLiteral("*.*"));
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(parts[1]));
    for (const char* name : {"upd001.sql", "UPD001.SQL", "Upd001.Sql"})
        EXPECT_TRUE(re.match(QLatin1String(name)).hasMatch()) << name;
    EXPECT_FALSE(re.match(QStringLiteral("upd001.sqlx")).hasMatch());
    EXPECT_EQ(AnyCaseFilter(Text::MultiFilter).split(QLatin1Char('|'))[0], QStringLiteral("*.sql"));
}

TEST(UpdateWindowHelpers, MultiSortsWithoutRegardToCase)
{
    EXPECT_EQ(SortScripts({"/s/upd010.sql", "/s/UPD002.SQL", "/s/upd001.sql"}),
              (QStringList{"/s/upd001.sql", "/s/UPD002.SQL", "/s/upd010.sql"}));
}

// Two configured databases of the alias's application: one question, whose answer serves every
// later script of that alias until "Откажи БД".
TEST_F(UpdateWindowTest, ResolveServerAsksOnceForAnApplicationAlias)
{
    writeFile(m_tmp.path(QStringLiteral("ZorCfg.ini")),
              "[Mod02]\nNumber=3\n"
              "DBN1=pay\nCaption1=Заплати\nServIP1=db1\nBaseName1=/db/pay.fdb\nsysBaseName1=srv:/db/SYS.fdb\n"
              "DBN2=arch\nCaption2=Архив\nServIP2=\nBaseName2=/db/arch.fdb\nsysBaseName2=srv:/db/sys.fdb\n"
              "DBN3=other\nCaption3=Друга\nServIP3=db3\nBaseName3=/db/o.fdb\nsysBaseName3=srv:/db/other.fdb\n");
    TUpdate_f w;
    QString server = QStringLiteral("left over");
    w.ResolveServer(QStringLiteral("data_db"), server);
    EXPECT_EQ(server, QStringLiteral("/db/arch.fdb"));
    EXPECT_EQ(m_selections, 1);
    EXPECT_EQ(w.labChoosedDBInfo->text(), QStringLiteral("/db/arch.fdb"));
    EXPECT_FALSE(w.labChoosedDBInfo->isHidden());
    EXPECT_FALSE(w.sbCancelDB->isHidden());

    server.clear();
    w.ResolveServer(QStringLiteral("DATA_DB"), server);
    EXPECT_EQ(server, QStringLiteral("/db/arch.fdb"));
    EXPECT_EQ(m_selections, 1);

    w.sbCancelDB->click();
    EXPECT_TRUE(w.labChoosedDB->isHidden());
    EXPECT_TRUE(w.ChosenServer.isEmpty());
    w.ResolveServer(QStringLiteral("data_db"), server);
    EXPECT_EQ(m_selections, 2);

    // An alias outside the application table is reached through itself.
    server = QStringLiteral("left over");
    EXPECT_TRUE(w.ResolveServer(QStringLiteral("own_alias"), server));
    EXPECT_TRUE(server.isEmpty());

    // A cancelled selection is not "reach it through the alias": it cancels.
    w.sbCancelDB->click();
    TfrmSelectDBPaths::Runner() = [](TfrmSelectDBPaths&) { return int(QDialog::Rejected); };
    EXPECT_FALSE(w.ResolveServer(QStringLiteral("data_db"), server));
    EXPECT_TRUE(w.ChosenAlias.isEmpty());
}

TEST_F(UpdateWindowTest, ScriptWithoutAliasOffersEveryAlias)
{
    WriteAlias(QStringLiteral("beta"), QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), QStringLiteral("b:/beta.fdb")}});
    WriteAlias(QStringLiteral("Alpha"), QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), QStringLiteral("a:/alpha.fdb")}});
    QStringList offered;
    TAlias_F::Runner() = [&offered](TAlias_F& a) {
        for (int i = 0; i < a.AL_CB->count(); ++i)
            offered << a.AL_CB->itemText(i);
        a.AL_CB->setCurrentIndex(a.AL_CB->findText(QStringLiteral("beta")));
        a.OK_SB->click();
        return a.result();
    };
    TUpdate_f w;
    for (const char* alias : {"", "_MENU_"}) {
        offered.clear();
        QString server;
        w.ResolveServer(QString::fromUtf8(alias), server);
        EXPECT_EQ(offered, (QStringList{"Alpha", "beta"})) << alias;
        EXPECT_EQ(server, QStringLiteral("b:/beta.fdb")) << alias;
        EXPECT_EQ(w.ChosenAlias, QStringLiteral("beta"));
    }
    TAlias_F::Runner() = [](TAlias_F& a) {
        a.Cancel_SB->click();
        return a.result();
    };
    w.ClearChosenDB();
    QString server = QStringLiteral("left over");
    EXPECT_FALSE(w.ResolveServer({}, server));
    EXPECT_TRUE(server.isEmpty());
    EXPECT_TRUE(w.ChosenAlias.isEmpty());
}

// A three-step script needs four presses; each press runs the step shown before it, with its
// script, position and number; the second load finds every step applied.
TEST_F(UpdateWindowTest, SteppingShowsEachStepBeforeRunningItAndThenReportsTheEnd)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    const QString path = script(QStringLiteral("upd001.sql"), "/*alias>app_db*/\n"
                                                              "/*sqlstart>4*/\ninsert into T (N) values (4)\n/*sqlstop*/\n"
                                                              "/*sqlstart>7*/\ninsert into T (N) values (7)\n/*sqlstop*/\n"
                                                              "/*sqlstart>9*/\ninsert into T (N) values (9)\n/*sqlstop*/\n");
    TUpdate_f w;
    m_prompts.answerFile(path);
    w.File_SB->click();
    EXPECT_EQ(w.Als->text(), QStringLiteral("app_db"));
    EXPECT_EQ(w.labScript->text(), QStringLiteral("upd001.sql"));
    ASSERT_TRUE(w.Step_sb->isEnabled());
    const struct {
        int stepNo;
        const char* applied; // the values of T once the step has run
    } steps[] = {{4, "4"}, {7, "4,7"}, {9, "4,7,9"}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(w.labNextStep->text(), QStringLiteral("стъпка %1 от 3, номер %2").arg(i + 1).arg(steps[i].stepNo));
        EXPECT_TRUE(w.Upd_Text->toPlainText().contains(QStringLiteral("insert into T (N) values (%1)").arg(steps[i].stepNo)));
        // Showing runs nothing.
        EXPECT_EQ(valuesOf(*app, QStringLiteral("select count(*) from T")), QStringList{QString::number(i)});
        w.Step_sb->click();
        EXPECT_EQ(valuesOf(*app, QStringLiteral("select N from T order by N")).join(QLatin1Char(',')), QLatin1String(steps[i].applied));
        EXPECT_TRUE(w.Step_sb->isEnabled()) << i;
    }
    EXPECT_EQ(w.labNextStep->text(), Text::NoNextStep.arg(3));
    EXPECT_TRUE(w.Upd_Text->toPlainText().isEmpty());
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
    w.Step_sb->click();
    EXPECT_EQ(m_prompts.messages(), QStringList{Text::EndOfFile});
    EXPECT_FALSE(w.Step_sb->isEnabled());

    m_prompts.shown.clear();
    m_prompts.answerFile(path);
    w.File_SB->click();
    EXPECT_EQ(w.Updater.HistoryTable().recordCount(), 3);
    w.Step_sb->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    const QRegularExpression applied(QStringLiteral("^Упдейта \\(4\\) е направен на  \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d$"));
    EXPECT_TRUE(applied.match(m_prompts.messages().first()).hasMatch()) << m_prompts.messages().first().toStdString();
    EXPECT_EQ(w.labNextStep->text(), QStringLiteral("стъпка 2 от 3, номер 7"));
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select count(*) from T")), QStringList{"3"});
}

TEST_F(UpdateWindowTest, AFailedStepNamesItsNumberAndTheNextStepGoesOn)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    TUpdate_f w;
    m_prompts.answerFile(script(QStringLiteral("upd002.sql"), "/*alias>app_db*/\n"
                                                             "/*sqlstart>5*/\ninsert into NOWHERE (N) values (1)\n/*sqlstop*/\n"
                                                             "/*sqlstart>6*/\ninsert into T (N) values (6)\n/*sqlstop*/\n"));
    w.File_SB->click();
    w.Step_sb->click();
    ASSERT_EQ(m_prompts.messages().size(), 1);
    EXPECT_TRUE(m_prompts.messages().first().startsWith(QStringLiteral("Грешка при изпълнение на стъпка(5:\r")));
    w.Step_sb->click();
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select SU_NO from SQL_UPDATES")), QStringList{"6"});
}

TEST_F(UpdateWindowTest, AnUnreadableScriptLeavesNoStepToRun)
{
    TUpdate_f w;
    m_prompts.answerFile(script(QStringLiteral("bad.sql"), "/*sqlstart>3 */\nselect 1 from rdb$database\n/*sqlstop*/\n"));
    w.File_SB->click();
    EXPECT_EQ(m_prompts.messages().size(), 1);
    EXPECT_FALSE(w.Step_sb->isEnabled());
    EXPECT_EQ(w.DBGrid1->dataSet(), nullptr);
}

// "Multi": the files run sorted; the step applied before reads as such, without a time.
TEST_F(UpdateWindowTest, MultiRunsTheFilesSortedAndShowsEachStep)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    app->db.connect();
    app->addHistory(5, QStringLiteral("C:\\old\\UPD002.SQL"), QStringLiteral("03.04.2024 05:06:00"));
    app->release();
    const QStringList files = {script(QStringLiteral("upd010.sql"), oneStep("app_db", 10, "insert into T (N) values (10)")),
                               script(QStringLiteral("UPD002.SQL"), oneStep("app_db", 5, "insert into T (N) values (5)")),
                               script(QStringLiteral("upd001.sql"), oneStep("app_db", 1, "insert into T (N) values (1)"))};
    TUpdate_f w;
    m_prompts.answerFiles(files);
    w.Multi_SB->click();
    EXPECT_EQ(m_filesRun, (QStringList{files[2], files[1], files[0]}));
    EXPECT_FALSE(m_closedWhileRunning);
    EXPECT_EQ(m_rows, (QStringList{"upd001.sql|1|Завършена.|time", "UPD002.SQL|5|Стъпка 5 е извършена на 03.04.2024 , 05:06.",
                                   "upd010.sql|10|Завършена.|time", "||Достигнат е краят на файла.|time"}));
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select N from T order by N")), (QStringList{"1", "10"}));
}

// Every script is read before any runs: a later one that does not read is refused with its
// place, and nothing runs; the progress window does not open.
TEST_F(UpdateWindowTest, MultiReadsEveryScriptBeforeRunningAny)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    const struct {
        const char* text;
        const char* place;
    } cases[] = {{"/*alias>app_db*/\n/*sqlstart>x*/\nselect 1 from rdb$database\n/*sqlstop*/\n", "Скрипт \"upd002.sql\", ред 2"},
                 {"/*alias>app_db*/\n/*sqlstart>2*/\ninsert into T (N) values (2)\n/*sqlstop*/\n"
                  "/*manystart>6*/\nupdate T set N = 1\n/*manystop*/\n",
                  "Скрипт \"upd002.sql\", стъпка 6, ред 6"}};
    for (const auto& c : cases) {
        const QStringList files = {script(QStringLiteral("upd001.sql"), oneStep("app_db", 1, "insert into T (N) values (1)")),
                                   script(QStringLiteral("upd002.sql"), c.text),
                                   script(QStringLiteral("upd003.sql"), oneStep("app_db", 3, "insert into T (N) values (3)"))};
        m_prompts.shown.clear();
        m_filesRun.clear();
        TUpdate_f w;
        m_prompts.answerFiles(files);
        w.Multi_SB->click();
        ASSERT_EQ(m_prompts.messages().size(), 1) << c.place;
        EXPECT_TRUE(m_prompts.messages().first().startsWith(QString::fromUtf8(c.place))) << m_prompts.messages().first().toStdString();
        EXPECT_TRUE(m_filesRun.isEmpty()) << c.place;
        EXPECT_EQ(valuesOf(*app, QStringLiteral("select count(*) from T")), QStringList{"0"}) << c.place;
    }
}

// Before "Стартирай" the window lists the scripts in the order they run, with their step counts
// and databases, and no step row.
TEST_F(UpdateWindowTest, TheProgressWindowShowsWhatWillRunBeforeTheStart)
{
    auto first = appDatabase(QStringLiteral("first.fdb"), QStringLiteral("first_db"));
    auto second = appDatabase(QStringLiteral("second.fdb"), QStringLiteral("second_db"));
    const QStringList files = {script(QStringLiteral("upd002.sql"), oneStep("second_db", 2, "insert into T (N) values (2)")),
                               script(QStringLiteral("upd001.sql"), QByteArray(kThreeSteps).replace("app_db", "first_db"))};
    TUpdate_f w;
    w.SetChosenDB(QStringLiteral("second_db"), second->path());
    m_prompts.answerFiles(files);
    w.Multi_SB->click();
    EXPECT_EQ(m_plan, (QStringList{"upd001.sql|3|през алиаса first_db", "upd002.sql|1|" + second->path()}));
    EXPECT_EQ(m_rowsBeforeStart, 0);
    EXPECT_EQ(valuesOf(*first, QStringLiteral("select count(*) from T")), QStringList{"3"});
}

// A failure shows its whole text on its row (tooltip and detail pane) and the last row says
// where the run stopped, not that it reached the end of the file.
TEST_F(UpdateWindowTest, AFailedRunShowsTheWholeErrorAndWhereItStopped)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    WriteAlias(QStringLiteral("gone_db"), QStringLiteral("INTRBASE"), {{QStringLiteral("SERVER NAME"), m_tmp.path(QStringLiteral("gone.fdb"))}});
    const struct {
        QStringList scripts; // the second is the one that fails
        QString failedRow;   // script|step of the failed row
        QString end;
        const char* detail;  // in the whole error text, beyond the first line
    } cases[] = {
        {{"upd001.sql", "upd002.sql"}, "upd002.sql|5", Text::RunStoppedAtStep.arg(5).arg(QStringLiteral("upd002.sql")), "NOWHERE"},
        {{"upd001.sql", "upd003.sql"}, "upd003.sql|", Text::RunStoppedInScript.arg(QStringLiteral("upd003.sql")), "gone.fdb"},
    };
    script(QStringLiteral("upd001.sql"), oneStep("app_db", 1, "insert into T (N) values (1)"));
    script(QStringLiteral("upd002.sql"), "/*alias>app_db*/\n/*sqlstart>5*/\ninsert into NOWHERE (N) values (1)\n/*sqlstop*/\n"
                                         "/*sqlstart>6*/\ninsert into T (N) values (6)\n/*sqlstop*/\n");
    script(QStringLiteral("upd003.sql"), oneStep("gone_db", 3, "insert into T (N) values (3)"));
    for (const auto& c : cases) {
        TUpdate_f w;
        m_prompts.answerFiles({m_tmp.path(c.scripts[0]), m_tmp.path(c.scripts[1])});
        w.Multi_SB->click();
        ASSERT_EQ(m_rows.size(), 3) << m_rows.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m_rows[0].startsWith(QStringLiteral("upd001.sql|1|"))) << m_rows[0].toStdString();
        EXPECT_TRUE(m_rows[1].startsWith(c.failedRow + QStringLiteral("|Грешка : "))) << m_rows[1].toStdString();
        EXPECT_EQ(m_rows[2], QStringLiteral("||") + c.end + QStringLiteral("|time"));
        ASSERT_EQ(m_details.size(), 3);
        EXPECT_TRUE(m_details[1].startsWith(Text::ErrorPrefix)) << m_details[1].toStdString();
        EXPECT_TRUE(m_details[1].contains(QLatin1Char('\n'))) << m_details[1].toStdString();
        EXPECT_TRUE(m_details[1].contains(QLatin1String(c.detail))) << m_details[1].toStdString();
        EXPECT_EQ(m_details[2], c.end);
    }
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select N from T")), QStringList{"1"});
}

// Cancelling the choice of an alias changes nothing: no connection, no message, the loaded
// script stays loaded, and no background run opens.
TEST_F(UpdateWindowTest, CancellingTheAliasChoiceChangesNothing)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    int asked = 0;
    TAlias_F::Runner() = [&asked](TAlias_F& a) {
        ++asked;
        a.Cancel_SB->click();
        return a.result();
    };
    TUpdate_f w;
    m_prompts.answerFile(script(QStringLiteral("upd001.sql"), kThreeSteps));
    w.File_SB->click();
    w.Step_sb->click();
    ASSERT_EQ(w.labNextStep->text(), QStringLiteral("стъпка 2 от 3, номер 2"));
    const QString menu = script(QStringLiteral("upd005.sql"), oneStep("_menu_", 5, "insert into T (N) values (5)"));
    const QString none = script(QStringLiteral("upd006.sql"), oneStep(nullptr, 6, "insert into T (N) values (6)"));
    const struct {
        QPushButton* button;
        QStringList files;
    } cases[] = {{w.File_SB, {menu}}, {w.File_SB, {none}}, {w.Auto_SB, {menu}}, {w.Multi_SB, {none, menu}}};
    for (const auto& c : cases) {
        if (c.button == w.Multi_SB)
            m_prompts.answerFiles(c.files);
        else
            m_prompts.answerFile(c.files.first());
        c.button->click();
        EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(m_filesRun.isEmpty());
        EXPECT_EQ(w.Als->text(), QStringLiteral("app_db"));
        EXPECT_EQ(w.labScript->text(), QStringLiteral("upd001.sql"));
        EXPECT_EQ(w.labNextStep->text(), QStringLiteral("стъпка 2 от 3, номер 2"));
        EXPECT_TRUE(w.Step_sb->isEnabled());
        EXPECT_NE(w.DBGrid1->dataSet(), nullptr);
        EXPECT_TRUE(w.ChosenAlias.isEmpty());
    }
    EXPECT_EQ(asked, 4);
    // The loaded script goes on where it was.
    w.Step_sb->click();
    EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select N from T order by N")), (QStringList{"1", "2"}));
}

// The database chosen for one alias is not used for a script of another alias.
TEST_F(UpdateWindowTest, AutoUsesTheChosenServerOnlyForTheChosenAlias)
{
    auto chosen = appDatabase(QStringLiteral("chosen.fdb"), QStringLiteral("first_db"));
    auto other = appDatabase(QStringLiteral("other.fdb"), QStringLiteral("second_db"));
    TUpdate_f w;
    w.SetChosenDB(QStringLiteral("first_db"), chosen->path());
    m_prompts.answerFile(script(QStringLiteral("upd007.sql"), oneStep("second_db", 7, "insert into T (N) values (7)")));
    w.Auto_SB->click();
    EXPECT_EQ(m_rows.value(0), QStringLiteral("upd007.sql|7|Завършена.|time"));
    EXPECT_EQ(valuesOf(*other, QStringLiteral("select N from T")), QStringList{"7"});
    EXPECT_TRUE(valuesOf(*chosen, QStringLiteral("select N from T")).isEmpty());

    m_prompts.answerFile(script(QStringLiteral("upd008.sql"), oneStep("first_db", 8, "insert into T (N) values (8)")));
    w.Auto_SB->click();
    EXPECT_EQ(valuesOf(*chosen, QStringLiteral("select N from T")), QStringList{"8"});
}

// Closing without "Стартирай" runs nothing and leaves no connection.
TEST_F(UpdateWindowTest, ClosingBeforeTheStartRunsNothing)
{
    auto app = appDatabase(QStringLiteral("app.fdb"));
    TAutoUpd_Frm::Runner() = [](TAutoUpd_Frm& w) {
        EXPECT_TRUE(w.Start_BB->isEnabled());
        EXPECT_TRUE(w.close());
        EXPECT_EQ(w.thread(), nullptr);
        return int(QDialog::Rejected);
    };
    RunScripts({script(QStringLiteral("upd001.sql"), oneStep("app_db", 1, "insert into T (N) values (1)"))}, {}, {}, {}, {}, {});
    EXPECT_EQ(valuesOf(*app, QStringLiteral("select count(*) from T")), QStringList{"0"});
}
