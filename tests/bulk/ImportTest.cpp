// The import window and its engine against a real system database and application databases on
// the Firebird server, which checks the application's own login.
#include "BulkFixture.h"

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
    for (const QString& path : {xls, xlsx, QStringLiteral(GK_BULK_DATA_DIR "/users.ods")}) {
        SCOPED_TRACE(path.toStdString());
        exec(QStringLiteral("delete from links"));
        exec(QStringLiteral("delete from users"));
        FbAppDatabase& app = serverAppDatabase();
        auto w = open();
        chooseApplication(*w, QStringLiteral("Деловодство"));
        m_prompts.answerConfirm(true);
        w->LoadFile(path);
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
