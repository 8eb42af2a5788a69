// The import window and its engine against a real system database and application databases on
// the Firebird server, which checks the application's own login.
#include "BulkFixture.h"

#include "core/Aliases.h"

#include <QHash>
#include <QProcessEnvironment>

class ImportTest : public BulkFixture {};

// The options as the window offers them: no first row, the last class as default, the login-name
// option following the domain option.
TEST_F(ImportTest, OptionsFollowTheChosenApplication)
{
    auto w = open();
    EXPECT_EQ(w->cb_Programs->findText(m_apps.entries[0].caption()), -1);
    EXPECT_EQ(w->cb_Programs->count(), m_apps.count - 1);
    EXPECT_EQ(w->cb_Programs->currentIndex(), -1);
    EXPECT_EQ(w->defaultClass(), -1);
    EXPECT_EQ(w->ed_Pass->text(), QStringLiteral("579"));
    EXPECT_EQ(w->ed_Sep->text(), QStringLiteral(";"));
    EXPECT_TRUE(w->cbSkipExisting->isChecked());

    chooseApplication(*w, QStringLiteral("Деловодство"));
    EXPECT_EQ(w->cb_Class->count(), 2);
    EXPECT_EQ(w->cb_Class->currentText(), QStringLiteral("Писар"));
    EXPECT_EQ(w->defaultClass(), m_writer);
    w->cb_Class->setCurrentIndex(0);
    EXPECT_EQ(w->defaultClass(), m_reader);
    w->cb_Class->setCurrentIndex(-1);
    EXPECT_EQ(w->defaultClass(), -1);

    EXPECT_FALSE(w->cbChangeUserName->isEnabled());
    w->cbDomainUser->setChecked(true);
    EXPECT_TRUE(w->cbChangeUserName->isEnabled());
    EXPECT_TRUE(w->cbChangeUserName->isChecked());
    w->cbDomainUser->setChecked(false);
    EXPECT_FALSE(w->cbChangeUserName->isEnabled());
    EXPECT_FALSE(w->cbChangeUserName->isChecked());

    w->btn_SaveClick();
    w->LoadFile(m_tmp.path(QStringLiteral("missing.txt")));
    EXPECT_EQ(m_prompts.messages(), (QStringList{Text::LoadFirst, Text::FileNotFound}));
}

// A text file in either encoding and either line ending: new users with the default password and
// class or their own, a blank line and an over-long name said and skipped, a person named twice
// made once, each new user provisioned into the application's database on the server.
TEST_F(ImportTest, TextFileCreatesUsersWithRightsAndProvisions)
{
    const QString longName = QStringLiteral("Александър Константинов Христозов");
    ASSERT_EQ(longName.size() + 2, 35);
    const QStringList lines = {
        QStringLiteral("ivan;Иван   Петров ;;"),
        QStringLiteral("maria;Мария Иванова;tajna;четец"),
        QString(),
        QStringLiteral("Ivan.;Иван Петров;x;Писар"),
        QStringLiteral("long;") + longName + QStringLiteral("Ов"),
        QStringLiteral("georgi;Георги Георгиев;pw; Четец"),
    };
    const struct {
        const char* name;
        QByteArray bytes;
        QString encodingLine;
    } files[] = {
        {"utf8-lf.txt", lines.join(QLatin1Char('\n')).toUtf8() + "\n", Text::ReadAsUtf8},
        {"utf8-bom-crlf.txt", "\xEF\xBB\xBF" + lines.join(QStringLiteral("\r\n")).toUtf8(), Text::ReadAsUtf8},
        {"cp1251-crlf.txt", cp1251::encode(lines.join(QStringLiteral("\r\n"))) + "\r\n", Text::ReadAsCp1251},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        exec(QStringLiteral("delete from links"));
        exec(QStringLiteral("delete from users"));
        FbAppDatabase& app = serverAppDatabase();
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        importText(*w, writeFile(QString::fromLatin1(f.name), f.bytes));

        const StoredUser ivan = user(QStringLiteral("ivan"));
        const StoredUser maria = user(QStringLiteral("maria"));
        const StoredUser georgi = user(QStringLiteral("georgi"));
        EXPECT_EQ(users(), (QList<StoredUser>{{ivan.id, QStringLiteral("ivan"), QStringLiteral("579"), QStringLiteral("Иван Петров"), {}},
                                              {maria.id, QStringLiteral("maria"), QStringLiteral("tajna"), QStringLiteral("Мария Иванова"), {}},
                                              {georgi.id, QStringLiteral("georgi"), QStringLiteral("pw"), QStringLiteral("Георги Георгиев"), {}}}));
        // The class name is compared as it stands: " Четец" is not a class, so the default.
        EXPECT_EQ(links(), (QList<Link>{{ivan.id, m_mod02, m_writer}, {maria.id, m_mod02, m_reader}, {georgi.id, m_mod02, m_writer}}));
        const QString maint = ProvisionAccounts::maintenanceUser();
        EXPECT_EQ(app.calls(), (QList<RecordedCall>{{ivan.id, QStringLiteral("Иван Петров"), maint},
                                                     {maria.id, QStringLiteral("Мария Иванова"), maint},
                                                     {georgi.id, QStringLiteral("Георги Георгиев"), maint}}));
        const QStringList shown = log(*w);
        ASSERT_GE(shown.size(), 5);
        EXPECT_EQ(shown[0], f.encodingLine);
        EXPECT_EQ(shown[1], Text::EmptyRow.arg(3));
        EXPECT_EQ(shown[2], Text::UserExists.arg(QStringLiteral("Ivan.")).arg(ivan.id));
        EXPECT_EQ(shown[3], Text::AddFailed + QStringLiteral("long"));
        EXPECT_TRUE(shown[4].contains(QStringLiteral("34"))) << shown[4].toStdString();
        EXPECT_EQ(w->pb_Users->value(), w->pb_Users->maximum());
        EXPECT_EQ(w->pb_Users->maximum(), lines.size());
        EXPECT_FALSE(m_dm.db_Data.connected());
    }
}

// Existing users are found by domain name, login name or full name (after the similarity key);
// skipped, or refreshed with the row's class overwriting the right they hold.
TEST_F(ImportTest, ExistingUsersAreSkippedOrRefreshed)
{
    const int petar = addUser(QStringLiteral("ppetrov"), QStringLiteral("Петър Петров"), 0, QStringLiteral("corp\\p.petrov"));
    const int ana = addUser(QStringLiteral("a.ivanova"), QStringLiteral("Ана Иванова"));
    const int rosen = addUser(QStringLiteral("rosen"), QStringLiteral("Росен Русев"));
    link(ana, m_mod02, m_reader);
    serverAppDatabase();
    const QString file = writeFile(QStringLiteral("users.txt"), QStringLiteral("CORP\\P.Petrov;Петър   Стоянов Петров;;Четец\n"
                                                                               "A-Ivanova;Ана Иванова-Бонева;;Писар\n"
                                                                               "rrusev;росен русев;;Писар\n")
                                                                    .toUtf8());
    const struct {
        const char* name;
        bool skip, domain;
        QList<StoredUser> users;
        QList<Link> links;
    } cases[] = {
        {"skip",
         true,
         true,
         {{petar, QStringLiteral("ppetrov"), QStringLiteral("pw"), QStringLiteral("Петър Петров"), QStringLiteral("corp\\p.petrov")},
          {ana, QStringLiteral("a.ivanova"), QStringLiteral("pw"), QStringLiteral("Ана Иванова"), {}},
          {rosen, QStringLiteral("rosen"), QStringLiteral("pw"), QStringLiteral("Росен Русев"), {}}},
         {{ana, m_mod02, m_reader}}},
        {"refresh, login names from the directory",
         false,
         true,
         {{petar, QStringLiteral("CORP\\P.Petrov"), QStringLiteral("pw"), QStringLiteral("Петър Стоянов Петров"), QStringLiteral("corp\\p.petrov")},
          {ana, QStringLiteral("A-Ivanova"), QStringLiteral("pw"), QStringLiteral("Ана Иванова-Бонева"), {}},
          {rosen, QStringLiteral("rrusev"), QStringLiteral("pw"), QStringLiteral("росен русев"), {}}},
         {{petar, m_mod02, m_reader}, {ana, m_mod02, m_writer}, {rosen, m_mod02, m_writer}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        w->cbSkipExisting->setChecked(c.skip);
        w->cbDomainUser->setChecked(c.domain);
        importText(*w, file);
        EXPECT_EQ(users(), c.users);
        EXPECT_EQ(links(), c.links);
        EXPECT_TRUE(log(*w).contains(Text::UserExists.arg(QStringLiteral("CORP\\P.Petrov")).arg(petar)));
        EXPECT_TRUE(log(*w).contains(Text::UserExists.arg(QStringLiteral("A-Ivanova")).arg(ana)));
        // Found by the full name: the message names it.
        EXPECT_TRUE(log(*w).contains(Text::UserExists.arg(QStringLiteral("росен русев")).arg(rosen)));
    }
}

// The new user's id comes from the insert, also with an id above the generator; ids past 16 bits
// stay whole; a procedure whose id parameter is a smallint refuses an id it cannot hold.
TEST_F(ImportTest, UserIdsStayWhole)
{
    const int high = addUser(QStringLiteral("high"), QStringLiteral("Висок Номер"), 65537);
    const int mid = addUser(QStringLiteral("mid"), QStringLiteral("Среден Номер"), 40000);
    const int low = addUser(QStringLiteral("low"), QStringLiteral("Нисък Номер"), 7);
    const QString file = writeFile(QStringLiteral("ids.txt"), QStringLiteral("high;Висок Номер\nmid;Среден Номер\nlow;Нисък Номер\nnew;Нов Човек\n").toUtf8());
    const struct {
        const char* name;
        bool smallint;
    } cases[] = {{"integer id", false}, {"smallint id", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        exec(QStringLiteral("delete from links"));
        exec(QStringLiteral("delete from users where user_fnm = %1").arg(lit(EncodeStoredText(QStringLiteral("new")))));
        FbAppDatabase& app = serverAppDatabase(c.smallint ? AppProcedure::RecordingSmallId : AppProcedure::Recording);
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        w->cbSkipExisting->setChecked(false);
        importText(*w, file);
        const int created = user(QStringLiteral("new")).id;
        EXPECT_GT(created, 0);
        EXPECT_NE(created, high);
        QList<Link> expected;
        for (int id : {high, mid, low, created})
            expected.append({id, m_mod02, m_writer});
        std::sort(expected.begin(), expected.end(), [](const Link& a, const Link& b) { return a.user < b.user; });
        EXPECT_EQ(links(), expected);
        QList<int> called;
        for (const RecordedCall& call : app.calls())
            called << call.id;
        if (c.smallint) {
            EXPECT_EQ(called, (QList<int>{low, created}));
            const QStringList shown = log(*w);
            for (int id : {high, mid}) {
                const QString prefix = Text::ProvisionFailed1 + QString::number(id) + QStringLiteral(", ");
                EXPECT_EQ(std::count_if(shown.begin(), shown.end(), [&](const QString& l) { return l.startsWith(prefix) && l.contains(QStringLiteral("SMALLINT")); }), 1)
                    << id;
            }
        } else {
            EXPECT_EQ(called, (QList<int>{high, mid, low, created}));
        }
    }
}

// The user and the right are one write: a right the database refuses leaves no user behind, and
// the run goes on with the next row.
TEST_F(ImportTest, ARefusedRightLeavesNoUser)
{
    exec(QStringLiteral("create exception E_NO_RIGHT 'no right for this one'"));
    exec(QStringLiteral("create trigger LINKS_REFUSE for LINKS before insert as begin "
                        "if (new.LNK_CLASS = %1) then exception E_NO_RIGHT; end").arg(m_reader));
    FbAppDatabase& app = serverAppDatabase();
    auto w = open();
    chooseApplication(*w, QStringLiteral("Деловодство"));
    importText(*w, writeFile(QStringLiteral("rights.txt"), QStringLiteral("one;Първи Човек;;Четец\ntwo;Втори Човек;;Писар\n").toUtf8()));
    const StoredUser two = user(QStringLiteral("two"));
    EXPECT_EQ(users(), (QList<StoredUser>{{two.id, QStringLiteral("two"), QStringLiteral("579"), QStringLiteral("Втори Човек"), {}}}));
    EXPECT_EQ(links(), (QList<Link>{{two.id, m_mod02, m_writer}}));
    EXPECT_EQ(app.calls().size(), 1);
    EXPECT_TRUE(log(*w).contains(Text::AddFailed + QStringLiteral("one")));
}

// The application database: settings missing, a login the server refuses (its password never
// shown), and no application chosen (no database contacted, no rights).
TEST_F(ImportTest, ApplicationDatabaseProblemsStopBeforeAnyRow)
{
    const QString file = writeFile(QStringLiteral("one.txt"), QByteArray("one;Първи Човек\n"));
    {
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        importText(*w, file);
        EXPECT_EQ(m_prompts.messages(), QStringList{Text::MissingSettings + QStringLiteral("Деловодство")});
        EXPECT_TRUE(users().isEmpty());
    }
    FbAppDatabase& app = serverAppDatabase();
    const QString wrong = QStringLiteral("Wrong-Pw-42");
    exec(QStringLiteral("update applications set gdb_pasw = %1 where apl_id = %2").arg(lit(EncodeStoredText(wrong)), QString::number(m_mod02)));
    {
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        importText(*w, file);
        const QString shown = w->LogMsg->toPlainText();
        EXPECT_TRUE(shown.contains(Text::ConnectionProblem)) << shown.toStdString();
        EXPECT_FALSE(shown.contains(wrong));
        EXPECT_TRUE(users().isEmpty());
    }
    {
        auto w = open();
        importText(*w, file);
        EXPECT_EQ(users().size(), 1);
        EXPECT_TRUE(links().isEmpty());
        EXPECT_TRUE(app.calls().isEmpty());
    }
}

// A workbook of any kind is imported as soon as it is chosen: the header row and the rows without
// a full name are skipped, a numeric password is stored as it shows.
TEST_F(ImportTest, WorkbooksImportAtOnce)
{
    const QString xls = m_tmp.path(QStringLiteral("users.xls"));
    const QString xlsx = m_tmp.path(QStringLiteral("users.xlsx"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("perl"), {QStringLiteral(GK_BULK_SCRIPT_DIR "/make-workbook.pl"), xls}), 0);
    ASSERT_EQ(QProcess::execute(QStringLiteral("perl"), {QStringLiteral(GK_BULK_SCRIPT_DIR "/make-workbook.pl"), xlsx}), 0);
    // The run's report goes beside the workbook: a copy, not the committed file.
    const QString ods = m_tmp.path(QStringLiteral("users.ods"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(GK_BULK_DATA_DIR "/users.ods"), ods));
    for (const QString& path : {xls, xlsx, ods}) {
        SCOPED_TRACE(path.toStdString());
        exec(QStringLiteral("delete from links"));
        exec(QStringLiteral("delete from users"));
        FbAppDatabase& app = serverAppDatabase();
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        m_prompts.answerConfirm(true);
        w->LoadFile(path);
        finishRun(*w);
        EXPECT_FALSE(w->sbSave->isVisible());
        const int ivan = user(QStringLiteral("ivan")).id;
        const int maria = user(QStringLiteral("maria")).id;
        const int real = user(QStringLiteral("real")).id;
        EXPECT_EQ(users(), (QList<StoredUser>{{ivan, QStringLiteral("ivan"), QStringLiteral("1234"), QStringLiteral("Иван Петров"), {}},
                                              {maria, QStringLiteral("maria"), QStringLiteral("579"), QStringLiteral("Мария Иванова"), {}},
                                              {real, QStringLiteral("real"), QStringLiteral("12.5"), QStringLiteral("Реално Число"), {}}}));
        EXPECT_EQ(links(), (QList<Link>{{ivan, m_mod02, m_writer}, {maria, m_mod02, m_writer}, {real, m_mod02, m_writer}}));
        EXPECT_EQ(app.calls().size(), 3);
        EXPECT_EQ(w->pb_Users->value(), 5); // the empty row 3 is not a row of the file
    }
    // A file that is not a workbook of its kind is said, and nothing is written.
    const QString bad = writeFile(QStringLiteral("bad.xlsx"), QByteArray("login;name\n"));
    auto w = open();
    m_prompts.answerConfirm(true);
    w->LoadFile(bad);
    ASSERT_FALSE(m_prompts.messages().isEmpty());
    EXPECT_TRUE(m_prompts.messages().last().startsWith(Text::WorkbookFailed)) << m_prompts.messages().last().toStdString();
}

// "Не ме превеждай!" reads a list of names and appends its lines to the log.
TEST_F(ImportTest, TheNameMatchingAppendsToTheLog)
{
    auto w = open();
    w->LogMsg->setPlainText(QStringLiteral("по-рано"));
    m_prompts.answerFile(writeFile(QStringLiteral("names.txt"), cp1251::encode(QStringLiteral("Иван Петров\r\n"))));
    w->btnSpecialImportClick();
    EXPECT_EQ(log(*w), (QStringList{QStringLiteral("по-рано"), Text::ReadAsCp1251, Text::SpecialCreated.arg(QStringLiteral("Иван Петров"))}));
    EXPECT_EQ(user(QStringLiteral("ИПетров")).password, QStringLiteral("8316"));
    EXPECT_TRUE(links().isEmpty());
}

// "Не ме превеждай!" reads a workbook's names from column A of its first sheet, not its bytes as text.
TEST_F(ImportTest, TheNameMatchingReadsWorkbooks)
{
    for (const QString name : {QStringLiteral("names.xls"), QStringLiteral("names.xlsx")}) {
        SCOPED_TRACE(name.toStdString());
        exec(QStringLiteral("delete from users"));
        const QString path = m_tmp.path(name);
        ASSERT_EQ(QProcess::execute(QStringLiteral("perl"), {QStringLiteral(GK_BULK_SCRIPT_DIR "/make-names-workbook.pl"), path}), 0);
        auto w = open();
        m_prompts.answerFile(path);
        w->btnSpecialImportClick();
        EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(log(*w), (QStringList{Text::SpecialCreated.arg(QStringLiteral("Иван Петров")), Text::SpecialCreated.arg(QStringLiteral("Мария  Иванова"))}));
        QStringList logins;
        for (const StoredUser& u : users())
            logins << u.login;
        EXPECT_EQ(logins, (QStringList{QStringLiteral("ИПетров"), QStringLiteral("МИванова")}));
    }
}

// The command line: one line per row; the preview prints the same lines and changes nothing
// (users, rights, the application database); a refused row makes the exit code 1.
TEST_F(ImportTest, TheCommandLineReportsEachRowAndPreviewsWithoutWriting)
{
    FbAppDatabase& app = serverAppDatabase();
    const int ana = addUser(QStringLiteral("ana"), QStringLiteral("Ана Иванова"));
    const QString file = writeFile(QStringLiteral("cli.txt"), QStringLiteral("ivan;Иван Петров;;Четец\nana;Ана Иванова\n\n"
                                                                             "long;Александър Константинов Христозовов\nivan;Иван Петров\n")
                                                                  .toUtf8());
    CommandLine::ImportArgs args;
    args.file = file;
    args.application = QStringLiteral("mod02");
    const auto run = [&](bool preview, QString& out, QString& err) {
        args.preview = preview;
        QTextStream o(&out), e(&err);
        return RunImportFromCommandLine(m_dm, args, kSysLocation, o, e);
    };
    QString previewOut, previewErr;
    EXPECT_EQ(run(true, previewOut, previewErr), ImportRunResult::RowsRefused);
    EXPECT_EQ(users().size(), 1);
    EXPECT_TRUE(links().isEmpty());
    EXPECT_TRUE(app.calls().isEmpty());

    QString out, err;
    EXPECT_EQ(run(false, out, err), ImportRunResult::RowsRefused);
    const int ivan = user(QStringLiteral("ivan")).id;
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("1: created ivan (%1)").arg(ivan));
    EXPECT_EQ(lines[1], QStringLiteral("2: skipped ana: exists (%1)").arg(ana));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("3: skipped")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("4: refused long: "))) << lines[3].toStdString();
    EXPECT_EQ(lines[4], QStringLiteral("5: skipped ivan: exists (%1)").arg(ivan));
    // The preview said the same, without the new user's id.
    QStringList expected = lines;
    expected[0] = QStringLiteral("1: created ivan");
    expected[4] = QStringLiteral("5: skipped ivan: exists (an earlier row's user)");
    EXPECT_EQ(previewOut.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    // Both end with the window's summary on standard error.
    EXPECT_TRUE(err.contains(ImportText::SummaryCounts.arg(1).arg(0).arg(3).arg(1).arg(0))) << err.toStdString();
    EXPECT_TRUE(previewErr.contains(ImportText::SummaryPreview.arg(5).arg(5))) << previewErr.toStdString();
    EXPECT_EQ(links(), (QList<Link>{{ivan, m_mod02, m_reader}}));
    EXPECT_EQ(app.calls().size(), 1);

    // Several databases need a choice; an unknown application or class is refused.
    configure(QStringLiteral("Mod02"), {app.serverName(), app.serverName()});
    for (const auto& [application, className] : {std::pair{QStringLiteral("Mod02"), QString()}, std::pair{QStringLiteral("Няма"), QString()},
                                                 std::pair{QStringLiteral("Mod02"), QStringLiteral("Няма")}}) {
        args.application = application;
        args.className = className;
        QString o2, e2;
        EXPECT_EQ(run(false, o2, e2), ImportRunResult::BadInput) << e2.toStdString();
        EXPECT_TRUE(o2.isEmpty());
    }
}

// A PostgreSQL application database is reached by the route of the users window, by the window
// and by the command line alike; a smallint id the function cannot hold is refused, not wrapped.
TEST_F(ImportTest, PostgresApplicationDatabasesAreReached)
{
    PgAppDatabase pg(AppProcedure::Recording);
    PgAppDatabase smallId(AppProcedure::RecordingSmallId);
    const int far = addUser(QStringLiteral("far"), QStringLiteral("Далечен Номер"), 40000);
    link(far, m_mod02, m_writer);
    const auto called = [](PgAppDatabase& db) {
        QList<std::pair<int, QString>> out;
        for (const RecordedCall& c : db.calls())
            out.append({c.id, c.name});
        return out;
    };

    configure(QStringLiteral("Mod02"), {pg.connText()});
    auto w = open();
    chooseApplication(*w, QStringLiteral("Деловодство"));
    importText(*w, writeFile(QStringLiteral("pg.txt"), QStringLiteral("ivan;Иван Петров\nmaria;Мария Иванова\n").toUtf8()));
    const int ivan = user(QStringLiteral("ivan")).id, maria = user(QStringLiteral("maria")).id;
    EXPECT_EQ(called(pg), (QList<std::pair<int, QString>>{{ivan, QStringLiteral("Иван Петров")}, {maria, QStringLiteral("Мария Иванова")}}));
    EXPECT_FALSE(w->LogMsg->toPlainText().contains(Text::ConnectionProblem)) << w->LogMsg->toPlainText().toStdString();

    configure(QStringLiteral("Mod02"), {smallId.connText()});
    CommandLine::ImportArgs args;
    args.file = writeFile(QStringLiteral("pg-cli.txt"), QStringLiteral("georgi;Георги Георгиев\nfar;Далечен Номер\n").toUtf8());
    args.application = QStringLiteral("mod02");
    QString out, err;
    QTextStream o(&out), e(&err);
    // The run reaches the database (not 3, unreachable); the id past 16 bits is refused (1).
    EXPECT_EQ(RunImportFromCommandLine(m_dm, args, kSysLocation, o, e), ImportRunResult::RowsRefused) << err.toStdString();
    const int georgi = user(QStringLiteral("georgi")).id;
    EXPECT_EQ(called(smallId), (QList<std::pair<int, QString>>{{georgi, QStringLiteral("Георги Георгиев")}}));
    EXPECT_TRUE(err.contains(QStringLiteral("40000"))) << err.toStdString();
    EXPECT_TRUE(pg.allLoginsReleased());
    EXPECT_TRUE(smallId.allLoginsReleased());
}

// A row with a character windows-1251 has no code for is refused by itself, with the reason.
TEST_F(ImportTest, ARowThatCannotBeStoredIsRefusedAlone)
{
    auto w = open();
    importText(*w, writeFile(QStringLiteral("star.txt"), QStringLiteral("star;Звезда \u2605 Ярка\nok;Добър Човек\n").toUtf8()));
    EXPECT_EQ(users().size(), 1);
    EXPECT_EQ(user(QStringLiteral("ok")).name, QStringLiteral("Добър Човек"));
    const QStringList shown = log(*w);
    const qsizetype at = shown.indexOf(Text::AddFailed + QStringLiteral("star"));
    ASSERT_GE(at, 0);
    ASSERT_LT(at + 1, shown.size());
    EXPECT_TRUE(shown[at + 1].contains(QStringLiteral("windows-1251"))) << shown[at + 1].toStdString();
}

// A control character in any field refuses its row before anything of it is written, whatever
// the file: here a UTF-16 text file (read by its mark) and workbook rows. The log names the row,
// the field and the position, never the value.
TEST_F(ImportTest, RowsWithControlCharactersAreRefusedBeforeAnythingIsWritten)
{
    const QString text = QStringLiteral("nul%1x;Първи Човек\nok;Добър Човек;tajna\npw;Трети Човек;se%2cret\ntab;Четвърти\tЧовек\n")
                             .arg(QChar(0), QChar(1));
    QByteArray utf16("\xFF\xFE");
    for (QChar c : text)
        utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    auto w = open();
    importText(*w, writeFile(QStringLiteral("utf16.txt"), utf16));
    const StoredUser ok = user(QStringLiteral("ok"));
    EXPECT_EQ(users(), (QList<StoredUser>{{ok.id, QStringLiteral("ok"), QStringLiteral("tajna"), QStringLiteral("Добър Човек"), {}}}));
    const QStringList shown = log(*w);
    EXPECT_EQ(shown.value(0), Text::ReadAsUtf16);
    for (const auto& [row, field] : {std::pair{1, QStringLiteral("Потребителското име: знакът на позиция 4 (U+0000, NUL)")},
                                     std::pair{3, QStringLiteral("Паролата: знакът на позиция 3 (U+0001)")},
                                     std::pair{4, QStringLiteral("Името: знакът на позиция 9 (U+0009, Tab)")}})
        EXPECT_TRUE(shown.contains(Text::RowRefused.arg(row).arg(field + QStringLiteral(" е управляващ знак")))) << row << "\n"
                                                                                                                << shown.join('\n').toStdString();
    EXPECT_FALSE(w->LogMsg->toPlainText().contains(QStringLiteral("cret")));

    QStringList said;
    TUserImporter importer(m_dm, [&said](const QString& line) { said << line; });
    importer.LoadSnapshot();
    QList<std::pair<ImportRow, RowResult>> results;
    ASSERT_TRUE(importer.ImportRows({{1, QStringLiteral("Потребител"), QStringLiteral("Име"), {}, {}},
                                     {2, QStringLiteral("cell"), QStringLiteral("Клетка с\nнов ред"), {}, {}},
                                     {3, QStringLiteral("wb"), QStringLiteral("Работна Книга"), {}, {}}},
                                    true, {}, &results));
    ASSERT_EQ(results.size(), 3);
    EXPECT_EQ(results[0].second.outcome, RowResult::Skipped);
    EXPECT_EQ(results[1].second.outcome, RowResult::Refused);
    EXPECT_TRUE(results[1].second.reason.startsWith(QStringLiteral("Името: знакът на позиция 9 (U+000A, LF)")));
    EXPECT_EQ(results[2].second.outcome, RowResult::Created);
    EXPECT_TRUE(user(QStringLiteral("cell")).login.isEmpty());
    EXPECT_EQ(users().size(), 2);
}

// A .csv file's quoted fields keep their separators and quotes; a separator that splits no line
// stops before the confirmation, with nothing written.
TEST_F(ImportTest, TheWindowReadsCsvFieldsAndStopsOnAWrongSeparator)
{
    auto w = open();
    importText(*w, writeFile(QStringLiteral("people.CSV"), QStringLiteral("petrov;\"Петров; Иван\";\"p\"\"w\"\n"
                                                                            "multi;\"Два\nРеда\"\n").toUtf8()));
    EXPECT_EQ(users(), (QList<StoredUser>{{user(QStringLiteral("petrov")).id, QStringLiteral("petrov"), QStringLiteral("p\"w"),
                                           QStringLiteral("Петров; Иван"), {}}}));
    EXPECT_TRUE(log(*w).contains(Text::RowRefused.arg(2).arg(QStringLiteral("Името: знакът на позиция 4 (U+000A, LF) е управляващ знак"))))
        << log(*w).join('\n').toStdString();

    const int asked = int(m_prompts.messages().size());
    w->LoadFile(writeFile(QStringLiteral("tabs.txt"), QByteArray("one\tПърви Човек\ntwo\tВтори Човек\n")));
    w->btn_SaveClick();
    ASSERT_EQ(m_prompts.messages().size(), asked + 1);
    EXPECT_EQ(m_prompts.messages().last(),
              Text::WrongSeparator.arg(QStringLiteral("\u201E;\u201C"), Text::LinesHoldSeparator.arg(Text::SeparatorTab)));
    EXPECT_EQ(users().size(), 1);

    // A file refused on loading leaves nothing loaded, not the file before it.
    w->LoadFile(writeFile(QStringLiteral("good.txt"), QByteArray("good;Добър Човек\n")));
    w->LoadFile(writeFile(QStringLiteral("mixed.txt"), cp1251::encode(QStringLiteral("a;Първи\n")) + QStringLiteral("b;Втори\n").toUtf8()));
    EXPECT_TRUE(m_prompts.messages().last().startsWith(QStringLiteral("mixed.txt: "))) << m_prompts.messages().last().toStdString();
    w->btn_SaveClick();
    EXPECT_EQ(m_prompts.messages().last(), Text::LoadFirst);
    EXPECT_EQ(users().size(), 1);
}

// The command line refuses a file that cannot be read whole, before it logs in anywhere or
// writes anything: exit code 2, the reason on standard error, no row lines.
TEST_F(ImportTest, TheCommandLineRefusesAFileThatCannotBeReadWhole)
{
    const struct {
        const char* name;
        QByteArray bytes;
        QString said;
    } cases[] = {
        {"tabs.txt", "one\tПърви Човек\ntwo\tВтори Човек\n", QStringLiteral("(редовете съдържат Tab)")},
        {"mixed.txt", cp1251::encode(QStringLiteral("one;Първи Човек\n")) + QStringLiteral("two;Втори Човек\n").toUtf8(),
         QStringLiteral("mixed.txt: файлът не е изцяло в UTF-8 и се чете като windows-1251, но ред 2 е в UTF-8")},
        {"wide.txt", QByteArray("o\0n\0e\0;\0\x1f\x04\n\0", 12), QStringLiteral("wide.txt: файлът е в UTF-16 без знак")},
        {"open.csv", "one;\"Първи Човек\ntwo;Втори Човек\n", QStringLiteral("ред 1: кавичките на поле 2 не са затворени")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CommandLine::ImportArgs args;
        args.file = writeFile(QString::fromLatin1(c.name), c.bytes);
        QString out, err;
        QTextStream o(&out), e(&err);
        EXPECT_EQ(RunImportFromCommandLine(m_dm, args, kSysLocation, o, e), ImportRunResult::BadInput);
        EXPECT_TRUE(err.contains(c.said)) << err.toStdString();
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        EXPECT_TRUE(users().isEmpty());
    }
}

// An error that escapes a row ends the run with a line that names the row; the rows after it are
// not touched.
TEST_F(ImportTest, AnEscapingErrorStopsTheRunAndSaysWhere)
{
    QStringList shown;
    TUserImporter importer(m_dm, [&shown](const QString& line) { shown << line; });
    importer.LoadSnapshot();
    const QList<ImportRow> rows = {{1, QStringLiteral("one"), QStringLiteral("Първи Човек"), {}, {}},
                                   {2, QStringLiteral("two"), QStringLiteral("Втори Човек"), {}, {}},
                                   {3, QStringLiteral("three"), QStringLiteral("Трети Човек"), {}, {}}};
    const bool finished = importer.ImportRows(rows, false, [](int done) {
        if (done == 2)
            throw std::runtime_error("the window went away");
    });
    EXPECT_FALSE(finished);
    EXPECT_EQ(shown, QStringList{Text::RunStopped.arg(2).arg(QStringLiteral("the window went away"))});
    EXPECT_EQ(users().size(), 2);
    EXPECT_TRUE(user(QStringLiteral("three")).login.isEmpty());
}

// The users window's "Въвеждане" opens the import window over its own application table.
TEST_F(ImportTest, TheUsersWindowOpensTheImportWindow)
{
    InstallBulkWindows();
    {
        TfrmUserRights users(m_dm);
        users.show();
        ASSERT_TRUE(users.SpeedButton1->isEnabled());
        ASSERT_TRUE(users.Button1->isEnabled());
        QStringList offered;
        QTimer::singleShot(0, [&offered] {
            auto* w = qobject_cast<TfrmImport*>(QApplication::activeModalWidget());
            if (!w)
                return;
            for (int i = 0; i < w->cb_Programs->count(); ++i)
                offered << w->cb_Programs->itemText(i);
            w->sbExit->click();
        });
        users.SpeedButton1->click();
        EXPECT_EQ(offered, QStringList{QStringLiteral("Деловодство")});
    }
    TfrmUserRights::ImportWindow() = nullptr;
    TfrmUserRights::AutoRightsWindow() = nullptr;
}

// A run killed at any row leaves every user it made with the right of its row, and a second run
// of the same file makes the rest without doubling anyone.
TEST(ImportKillTest, AKilledRunLeavesEveryUserWithItsRight)
{
    TempDir tmp;
    const QString server = serverDatabasePath(QStringLiteral("import-kill"));
    const db::ParamList p = firebirdParams(server);
    const QString user = p.value(QStringLiteral("USER NAME"));
    const QString password = p.value(QStringLiteral("PASSWORD"));
    CreateCurrentSystemDatabase(server, user, password);
    TDM dm;
    ScriptedPrompts prompts;
    SetStartupConnection(dm.db_Sys, user, password, server);
    dm.db_Sys.connect();
    for (const char* name : {"Gatekeep", "Mod02"})
        execSql(dm.db_Sys, QStringLiteral("insert into applications (apl_name, apl_state) values (%1, 'Active')")
                               .arg(lit(EncodeStoredText(QString::fromLatin1(name)))));
    const int mod02 = scalarOf(dm.db_Sys, QStringLiteral("select max(apl_id) from applications")).toInt();
    execSql(dm.db_Sys, QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (7, %1, %2, '')")
                           .arg(mod02)
                           .arg(lit(EncodeStoredText(QStringLiteral("Писар")))));

    constexpr int kRows = 3000;
    QByteArray text;
    for (int i = 1; i <= kRows; ++i)
        text += QStringLiteral("k%1;Човек Номер %1\n").arg(i).toUtf8();
    const QString file = tmp.path(QStringLiteral("many.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    f.close();

    const QStringList args{file, server, user, password, QStringLiteral("7")};
    QProcess child;
    child.start(QStringLiteral(GK_IMPORT_RUNNER), args);
    ASSERT_TRUE(child.waitForStarted());
    QByteArray out;
    while (out.count('\n') < 200 && child.waitForReadyRead(30000))
        out += child.readAllStandardOutput();
    child.kill();
    child.waitForFinished(-1);

    const auto count = [&dm](const char* sql) { return scalarOf(dm.db_Sys, QString::fromLatin1(sql)).toInt(); };
    const int made = count("select count(*) from users");
    EXPECT_GE(made, 200);
    EXPECT_LT(made, kRows) << "the run ended before it was killed";
    EXPECT_EQ(count("select count(*) from users u where not exists (select 1 from links l where l.lnk_usr = u.user_id)"), 0);
    EXPECT_EQ(count("select count(*) from links"), made);

    QProcess again;
    again.start(QStringLiteral(GK_IMPORT_RUNNER), args);
    ASSERT_TRUE(again.waitForFinished(-1));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().toStdString();
    EXPECT_EQ(count("select count(*) from users"), kRows);
    EXPECT_EQ(count("select count(distinct user_fnm) from users"), kRows);
    EXPECT_EQ(count("select count(*) from links where lnk_class = 7"), kRows);
    dm.db_Sys.disconnect();
    db::Database::dropFirebirdDatabase(server, user, password);
}

// "gatekeep import" killed in the middle of a long run: standard output already holds the line of
// every row done, and each line's user is in the database with the id it names.
TEST(ImportKillTest, TheCommandLinePrintsEachRowAsItIsDone)
{
    TempDir tmp;
    const QString server = serverDatabasePath(QStringLiteral("import-cli-kill"));
    const db::ParamList p = firebirdParams(server);
    const QString user = p.value(QStringLiteral("USER NAME"));
    const QString password = p.value(QStringLiteral("PASSWORD"));
    CreateAdministeredSystemDatabase(server, {user, password, QStringLiteral("boss"), QStringLiteral("boss-pw"), QStringLiteral("Шеф")});
    qputenv("GATEKEEP_ALIASES", tmp.path(QStringLiteral("aliases.ini")).toUtf8());
    WriteAlias(QStringLiteral("sys_db"), QStringLiteral("INTRBASE"),
               {{QStringLiteral("SERVER NAME"), server}, {QStringLiteral("USER NAME"), user}, {QStringLiteral("PASSWORD"), password}});
    qunsetenv("GATEKEEP_ALIASES");

    constexpr int kRows = 3000;
    QByteArray text;
    for (int i = 1; i <= kRows; ++i)
        text += QStringLiteral("c%1;Команден Ред %1\n").arg(i).toUtf8();
    const QString file = tmp.write(QStringLiteral("many.txt"), text);

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GATEKEEP_CONFIG_DIR"), tmp.path(QStringLiteral("config")));
    env.insert(QStringLiteral("GATEKEEP_ALIASES"), tmp.path(QStringLiteral("aliases.ini")));
    env.insert(QStringLiteral("GATEKEEP_ZORCFG"), tmp.path(QStringLiteral("ZorCfg.ini")));
    child.setProcessEnvironment(env);
    child.start(QStringLiteral(GK_PROGRAM), {QStringLiteral("import"), file, QStringLiteral("boss"), QStringLiteral("boss-pw")});
    ASSERT_TRUE(child.waitForStarted());
    QByteArray out;
    while (out.count('\n') < 100 && child.waitForReadyRead(30000))
        out += child.readAllStandardOutput();
    child.kill();
    child.waitForFinished(-1);
    out += child.readAllStandardOutput();
    const QString err = QString::fromUtf8(child.readAllStandardError());

    TDM dm;
    SetStartupConnection(dm.db_Sys, user, password, server);
    dm.db_Sys.connect();
    QHash<QString, int> made;
    {
        db::Query q(&dm.db_Sys);
        q.setSql(QStringLiteral("select user_id, user_fnm from users"));
        for (q.open(); !q.eof(); q.next())
            made.insert(DecodeStoredText(q.field(1).asString()), q.field(0).asInteger());
    }
    const QList<QByteArray> lines = out.split('\n');
    ASSERT_GE(lines.size(), 101) << err.toStdString();
    EXPECT_LT(made.size() - 1, kRows) << "the run ended before it was killed";
    // Every whole line names a row done, in order, and its user as the database holds him.
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString login = QStringLiteral("c%1").arg(i + 1);
        EXPECT_EQ(QString::fromUtf8(lines[i]), QStringLiteral("%1: created %2 (%3)").arg(i + 1).arg(login).arg(made.value(login, -1)));
    }
    // At most the row that was being written when the kill came is done without its line.
    const int imported = int(made.size()) - 1, printed = int(lines.size()) - 1;
    EXPECT_GE(imported, printed);
    EXPECT_LE(imported, printed + 1);
    dm.db_Sys.disconnect();
    db::Database::dropFirebirdDatabase(server, user, password);
}

namespace {

// A system database on the Firebird server with this program's application and Mod02, whose
// class 7 the import runner gives.
struct ServerSystemDb {
    ServerSystemDb()
    {
        server = serverDatabasePath(QStringLiteral("import-two"));
        const db::ParamList p = firebirdParams(server);
        user = p.value(QStringLiteral("USER NAME"));
        password = p.value(QStringLiteral("PASSWORD"));
        CreateCurrentSystemDatabase(server, user, password);
        SetStartupConnection(dm.db_Sys, user, password, server);
        dm.db_Sys.connect();
        for (const char* name : {"Gatekeep", "Mod02"})
            execSql(dm.db_Sys, QStringLiteral("insert into applications (apl_name, apl_state) values (%1, 'Active')")
                                   .arg(lit(EncodeStoredText(QString::fromLatin1(name)))));
        mod02 = scalarOf(dm.db_Sys, QStringLiteral("select max(apl_id) from applications")).toInt();
        for (int cls : {7, 8})
            execSql(dm.db_Sys, QStringLiteral("insert into class (class_idx, class_aplidx, class_nm, class_pw) values (%1, %2, 'c%1', '')")
                                   .arg(cls)
                                   .arg(mod02));
    }
    ~ServerSystemDb()
    {
        dm.db_Sys.disconnect();
        try {
            db::Database::dropFirebirdDatabase(server, user, password);
        } catch (const std::exception&) {
        }
    }
    int count(const QString& sql) { return scalarOf(dm.db_Sys, sql).toInt(); }
    QProcess* runner(const QString& file, const QStringList& more = {})
    {
        auto* p = new QProcess;
        p->start(QStringLiteral(GK_IMPORT_RUNNER), QStringList{file, server, user, password, QStringLiteral("7")} + more);
        return p;
    }

    QString server, user, password;
    TDM dm;
    ScriptedPrompts prompts;
    int mod02 = 0;
};

} // namespace

// Two runs of one file at once on the server: every person is made once, with one right, and
// both runs end well (the second finds what the first made, row by row).
TEST(ImportConcurrencyTest, TwoRunsOfOneFileMakeEachUserOnce)
{
    TempDir tmp;
    ServerSystemDb sys;
    constexpr int kRows = 200;
    QByteArray text;
    for (int i = 1; i <= kRows; ++i)
        text += QStringLiteral("d%1;Двоен Човек %1\n").arg(i).toUtf8();
    const QString file = tmp.write(QStringLiteral("both.txt"), text);

    std::unique_ptr<QProcess> a(sys.runner(file)), b(sys.runner(file));
    for (QProcess* p : {a.get(), b.get()}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
    }
    EXPECT_EQ(sys.count(QStringLiteral("select count(*) from users")), kRows);
    EXPECT_EQ(sys.count(QStringLiteral("select count(distinct user_fnm) from users")), kRows);
    EXPECT_EQ(sys.count(QStringLiteral("select count(*) from links where lnk_class = 7")), kRows);
}

// Another connection's right of the same user and application, not yet committed: the import
// waits for it and then replaces it, so that the user holds one class in the application.
TEST(ImportConcurrencyTest, OneClassPerApplicationHoldsUnderAnotherWriter)
{
    TempDir tmp;
    ServerSystemDb sys;
    execSql(sys.dm.db_Sys, QStringLiteral("insert into users (user_fnm, user_fpw, user_rnm) values (%1, %2, %3)")
                               .arg(lit(EncodeStoredText(QStringLiteral("ivan"))), lit(EncodeStoredText(QStringLiteral("pw"))),
                                    lit(EncodeStoredText(QStringLiteral("Иван Петров")))));
    const int ivan = sys.count(QStringLiteral("select max(user_id) from users"));
    const QString file = tmp.write(QStringLiteral("ivan.txt"), QStringLiteral("ivan;Иван Петров\n").toUtf8());

    db::Database other;
    other.setDriverName(QStringLiteral("INTRBASE"));
    other.params() = firebirdParams(sys.server);
    other.connect();
    std::unique_ptr<QProcess> run;
    {
        db::Transaction held(other);
        execSql(other, QStringLiteral("insert into links values (%1, %2, 8)").arg(ivan).arg(sys.mod02));
        run.reset(sys.runner(file, {QStringLiteral("refresh")}));
        // The run reaches its row and waits on the other writer.
        ASSERT_FALSE(run->waitForFinished(1500)) << run->readAllStandardError().toStdString();
        held.commit();
    }
    ASSERT_TRUE(run->waitForFinished(60000));
    EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
    EXPECT_EQ(sys.count(QStringLiteral("select count(*) from links where lnk_usr = %1 and lnk_aplid = %2").arg(ivan).arg(sys.mod02)), 1);
    EXPECT_EQ(sys.count(QStringLiteral("select lnk_class from links where lnk_usr = %1").arg(ivan)), 7);
}

// The application database goes away in the middle of a run: every later row says it was not
// provisioned. A second run, once the database is back, provisions the users it skips as existing
// because they hold the right.
TEST_F(ImportTest, ALostApplicationDatabaseIsSaidForEveryRowAndARerunRepairs)
{
    FbAppDatabase& app = serverAppDatabase();
    m_apps = BuildApplicationTable(m_dm.db_Sys);
    const auto gfix = [&app](const QStringList& action) {
        QProcess p;
        p.start(QStringLiteral("gfix"), action + QStringList{QStringLiteral("-user"), requireEnv("GATEKEEP_TEST_FB_USER"),
                                                              QStringLiteral("-password"), requireEnv("GATEKEEP_TEST_FB_PASSWORD"),
                                                              app.serverName()});
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    };
    constexpr int kRows = 30, kLostAfter = 10;
    QList<ImportRow> rows;
    for (int i = 1; i <= kRows; ++i)
        rows << ImportRow{i, QStringLiteral("lost%1").arg(i), QStringLiteral("Загубен Човек %1").arg(i), QString(), QString()};

    QStringList log;
    auto run = [&](const std::function<void(int)>& progress) {
        TUserImporter importer(m_dm, [&log](const QString& line) { log << line; });
        importer.setApplication(m_apps.byAplId(m_mod02));
        importer.defaultClass = m_writer;
        importer.LoadSnapshot();
        EXPECT_TRUE(importer.ConnectImportDB(app.serverName()));
        QList<std::pair<ImportRow, RowResult>> results;
        EXPECT_TRUE(importer.ImportRows(rows, false, progress, &results));
        return results;
    };
    const auto first = run([&](int done) {
        if (done == kLostAfter)
            gfix({QStringLiteral("-shut"), QStringLiteral("full"), QStringLiteral("-force"), QStringLiteral("0")});
    });
    gfix({QStringLiteral("-online")});
    // The shutdown also ended the test's own look into the database: the first use says so.
    const auto calls = [&app] {
        try {
            return app.calls();
        } catch (const db::Error& e) {
            if (!e.connectionLost())
                throw;
            return app.calls();
        }
    };
    ASSERT_EQ(first.size(), kRows);
    for (int i = 0; i < kRows; ++i) {
        EXPECT_EQ(first[i].second.outcome, RowResult::Created) << i;
        EXPECT_EQ(first[i].second.provisionError.isEmpty(), i < kLostAfter) << i;
    }
    EXPECT_EQ(calls().size(), kLostAfter);

    const auto second = run({});
    QSet<int> provisioned;
    for (const RecordedCall& c : calls())
        provisioned << c.id;
    EXPECT_EQ(provisioned.size(), kRows);
    for (const auto& [row, r] : second) {
        EXPECT_EQ(r.outcome, RowResult::Skipped) << row.number;
        EXPECT_TRUE(r.provisionError.isEmpty()) << row.number << r.provisionError.toStdString();
    }
}
