// The automatic rights window against a real system database and application databases on the
// Firebird server.
#include "BulkFixture.h"

#include "bulk/UserAutoRights.h"
#include "maint/Refresh.h"

#include <QFileInfo>

#include <QDeadlineTimer>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>

class AutoRightsTest : public BulkFixture {
protected:
    std::unique_ptr<TFormUserAutoRights> open()
    {
        auto w = std::make_unique<TFormUserAutoRights>(m_dm);
        w->LoadUsers();
        w->LoadApps();
        return w;
    }
    static void choose(TFormUserAutoRights& w, const QString& app, int classIdx, const QList<int>& databases)
    {
        w.cbox_App->setCurrentIndex(w.cbox_App->findText(app));
        w.cbox_Class->setCurrentIndex(w.cbox_Class->findData(classIdx));
        for (int d : databases)
            w.clb_DBPath->item(d)->setCheckState(Qt::Checked);
    }
    static QStringList items(QListWidget* l)
    {
        QStringList out;
        for (int i = 0; i < l->count(); ++i)
            out << l->item(i)->text();
        return out;
    }
    static QStringList memo(TFormUserAutoRights& w) { return w.MemoLog->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    // "Създай права", answering the question before a change of several users, and the run's
    // steps until it ends.
    void run(TFormUserAutoRights& w, bool answer = true)
    {
        if (w.lb_UsersToChange->count() > 1)
            m_prompts.answerConfirm(answer);
        w.BitBtn3->click();
        QDeadlineTimer patience(120000);
        while (w.running() && !patience.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(w.running());
        EXPECT_TRUE(m_prompts.allAnswered());
    }
    static QString done(int n, int of) { return AutoRightsText::Finished.arg(n).arg(of); }
    static QString db1(const QString& line) { return QStringLiteral("db1/База 1: ") + line; }
};

// Each policy against a user without a right, with the chosen class, and with another class.
TEST_F(AutoRightsTest, PoliciesDecideTheRightAndTheCall)
{
    const int none = addUser(QStringLiteral("a"), QStringLiteral("А Без Право"));
    const int same = addUser(QStringLiteral("b"), QStringLiteral("Б Същият Клас"));
    const int other = addUser(QStringLiteral("c"), QStringLiteral("В Друг Клас"));
    const QString added = QStringLiteral("Добавено е право."), exists = QStringLiteral("Правото съществува."),
                  changed = QStringLiteral("Правото е променено.");
    const struct {
        const char* name;
        QRadioButton* (*button)(TFormUserAutoRights&);
        QList<Link> links;
        QStringList log;
        QList<int> called;
    } cases[] = {
        {"keep",
         [](TFormUserAutoRights& w) { return w.rbAddRights_ButDoNotChange; },
         {{none, m_mod02, m_writer}, {same, m_mod02, m_writer}, {other, m_mod02, m_reader}},
         {QStringLiteral("А Без Право ") + added, QStringLiteral("Б Същият Клас ") + exists, QStringLiteral("В Друг Клас ") + exists},
         {none, same, other}},
        {"change (the default)",
         nullptr,
         {{none, m_mod02, m_writer}, {same, m_mod02, m_writer}, {other, m_mod02, m_writer}},
         {QStringLiteral("А Без Право ") + added, QStringLiteral("Б Същият Клас ") + exists, QStringLiteral("В Друг Клас ") + changed},
         {none, same, other}},
        {"names only",
         [](TFormUserAutoRights& w) { return w.rbOnlyChangeNames; },
         {{same, m_mod02, m_writer}, {other, m_mod02, m_reader}},
         {QStringLiteral("Б Същият Клас ") + exists, QStringLiteral("В Друг Клас ") + exists},
         {same, other}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        exec(QStringLiteral("delete from links"));
        link(same, m_mod02, m_writer);
        link(other, m_mod02, m_reader);
        FbAppDatabase& app = serverAppDatabase();
        auto w = open();
        EXPECT_TRUE(w->rb_ChangeRight->isChecked());
        w->BitBtn1->click();
        choose(*w, QStringLiteral("Mod02"), m_writer, {0});
        if (c.button)
            c.button(*w)->setChecked(true);
        run(*w);
        EXPECT_EQ(links(), c.links);
        QStringList log;
        for (const QString& line : c.log)
            log << db1(line);
        EXPECT_EQ(memo(*w), log + QStringList{done(3, 3)});
        QList<int> called;
        for (const RecordedCall& call : app.calls())
            called << call.id;
        EXPECT_EQ(called, c.called);
        EXPECT_TRUE(m_prompts.messages().isEmpty()) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
    }
}

// Two databases: the first writes the right, the second finds it; both are called. A database
// that cannot be opened is said and skipped.
TEST_F(AutoRightsTest, EveryTickedDatabaseIsCalled)
{
    const int ivan = addUser(QStringLiteral("ivan"), QStringLiteral("Иван Петров"));
    FbAppDatabase first(AppProcedure::Recording), second(AppProcedure::Recording);
    const QString missing = QStringLiteral("127.0.0.1/3050:/nonexistent/missing.fdb");
    configure(QStringLiteral("Mod02"), {first.serverName(), missing, second.serverName()});
    auto w = open();
    w->BitBtn1->click();
    choose(*w, QStringLiteral("Mod02"), m_reader, {0, 1, 2});
    EXPECT_EQ(items(w->clb_DBPath)[0], QStringLiteral("База 1 : ") + first.serverName());
    run(*w);
    const QStringList shown = memo(*w);
    ASSERT_EQ(shown.size(), 4) << w->MemoLog->toPlainText().toStdString();
    EXPECT_EQ(shown[0], db1(QStringLiteral("Иван Петров Добавено е право.")));
    // The database as the configuration names it, its path and why it could not be opened.
    const QString openFailed = AutoRightsText::OpenFailed.arg(QStringLiteral("db2/База 2"), missing, QString());
    EXPECT_TRUE(shown[1].startsWith(openFailed)) << shown[1].toStdString();
    EXPECT_GT(shown[1].size(), openFailed.size() + 5) << shown[1].toStdString();
    EXPECT_EQ(shown[2], QStringLiteral("db3/База 3: Иван Петров Правото съществува."));
    EXPECT_EQ(shown[3], done(3, 3));
    EXPECT_EQ(first.calls(), (QList<RecordedCall>{{ivan, QStringLiteral("Иван Петров"), ProvisionAccounts::maintenanceUser()}}));
    EXPECT_EQ(second.calls(), (QList<RecordedCall>{{ivan, QStringLiteral("Иван Петров"), ProvisionAccounts::maintenanceUser()}}));
    EXPECT_EQ(links(), (QList<Link>{{ivan, m_mod02, m_reader}}));
    EXPECT_FALSE(w->MemoLog->toPlainText().contains(ProvisionAccounts::maintenancePassword()));
}

// Ids past 16 bits stay whole; a procedure whose id is a smallint refuses them with a line.
TEST_F(AutoRightsTest, IdsTheProcedureCannotHoldAreRefused)
{
    const int far = addUser(QStringLiteral("far"), QStringLiteral("Далечен Номер"), 40000);
    const int near = addUser(QStringLiteral("near"), QStringLiteral("Близък Номер"), 7);
    for (AppProcedure kind : {AppProcedure::Recording, AppProcedure::RecordingSmallId}) {
        exec(QStringLiteral("delete from links"));
        FbAppDatabase& app = serverAppDatabase(kind);
        auto w = open();
        w->BitBtn1->click();
        choose(*w, QStringLiteral("Mod02"), m_reader, {0});
        run(*w);
        QList<int> called;
        for (const RecordedCall& call : app.calls())
            called << call.id;
        std::sort(called.begin(), called.end());
        if (kind == AppProcedure::Recording) {
            EXPECT_EQ(called, (QList<int>{near, far}));
        } else {
            EXPECT_EQ(called, QList<int>{near});
            EXPECT_TRUE(w->MemoLog->toPlainText().contains(
                AutoRightsText::ProvisionFailed.arg(QStringLiteral("db1/База 1"), QStringLiteral("Далечен Номер"), QStringLiteral("номерът 40000"))))
                << w->MemoLog->toPlainText().toStdString();
        }
        EXPECT_EQ(links().size(), 2);
    }
}

// The checks before a run, in order; the moves; the file of names matching from the last item up,
// with the case of Latin letters ignored and Cyrillic exact; this program's row left out and the
// old application name finding its databases under its new key.
TEST_F(AutoRightsTest, ChecksMovesAndTheFileOfNames)
{
    addUser(QStringLiteral("p1"), QStringLiteral("Петър Петров"));
    addUser(QStringLiteral("p2"), QStringLiteral("Петър Петров"));
    addUser(QStringLiteral("ann"), QStringLiteral("Ann Smith"));
    addApp(QStringLiteral("mod03"), QString(), QString());
    configure(QStringLiteral("Mod03"), {QStringLiteral("srv:/db/mod03.fdb")});
    auto w = open();
    EXPECT_EQ(w->cbox_App->findText(QStringLiteral("Gatekeep")), -1);
    ASSERT_GE(w->cbox_App->findText(QStringLiteral("Mod04")), 0);
    w->cbox_App->setCurrentIndex(w->cbox_App->findText(QStringLiteral("Mod04")));
    EXPECT_EQ(items(w->clb_DBPath), QStringList{QStringLiteral("База 1 : srv:/db/mod03.fdb")});

    w->cbox_App->setCurrentIndex(-1);
    w->BitBtn3->click();
    w->lb_UsersAll->setCurrentRow(0);
    w->bbToRight->click();
    w->BitBtn3->click();
    w->cbox_App->setCurrentIndex(w->cbox_App->findText(QStringLiteral("Mod02")));
    w->BitBtn3->click();
    w->cbox_Class->setCurrentIndex(0);
    w->BitBtn3->click();
    EXPECT_EQ(m_prompts.messages(), (QStringList{QStringLiteral("Моля, изберете потребители."), QStringLiteral("Моля, изберете приложение."),
                                                 QStringLiteral("Моля, изберете клас."), QStringLiteral("Моля, посочете БД.")}));
    w->BitBtn2->click();
    EXPECT_EQ(w->lb_UsersToChange->count(), 0);
    // Namesakes show their login names.
    EXPECT_EQ(items(w->lb_UsersAll), (QStringList{QStringLiteral("Ann Smith"), QStringLiteral("Петър Петров (p1)"), QStringLiteral("Петър Петров (p2)")}));

    const auto movedIds = [&w] {
        QList<int> ids;
        for (int i = 0; i < w->lb_UsersToChange->count(); ++i)
            ids << w->lb_UsersToChange->item(i)->data(Qt::UserRole).toInt();
        return ids;
    };
    // A name that matches nobody is listed.
    w->AddFromLines({QStringLiteral("  петър петров"), QStringLiteral("ANN SMITH"), QString()});
    EXPECT_EQ(items(w->lb_UsersToChange), QStringList{QStringLiteral("Ann Smith")});
    EXPECT_EQ(memo(*w), QStringList{AutoRightsText::NoSuchUser.arg(QStringLiteral("петър петров"))});
    const int lower = w->lb_UsersAll->item(1)->data(Qt::UserRole).toInt();
    const int upper = w->lb_UsersAll->item(0)->data(Qt::UserRole).toInt();
    w->AddFromLines({QStringLiteral("Петър Петров")});
    EXPECT_TRUE(movedIds().contains(lower));
    EXPECT_FALSE(movedIds().contains(upper));

    // The same line again, now from a file chosen through the button, takes the other namesake.
    m_prompts.answerFile(writeFile(QStringLiteral("names.txt"), QStringLiteral("Петър Петров\r\n").toUtf8()));
    w->bAddFromFile->click();
    EXPECT_TRUE(m_prompts.allAnswered());
    EXPECT_EQ(w->lb_UsersAll->count(), 0);
    EXPECT_EQ(movedIds().size(), 3);
    EXPECT_TRUE(movedIds().contains(upper));
}

// A window that worked in an application database lets go of it when it closes: the regeneration
// finds a local database free, not "open by this program".
TEST_F(AutoRightsTest, TheApplicationDatabaseIsLetGoWithTheWindow)
{
    const int ivan = addUser(QStringLiteral("ivan"), QStringLiteral("Иван Петров"));
    const struct {
        const char* name;
        std::function<void()> runAndClose;
    } cases[] = {
        {"automatic rights",
         [this] {
             QTimer::singleShot(0, [this] {
                 auto* w = qobject_cast<TFormUserAutoRights*>(QApplication::activeModalWidget());
                 ASSERT_TRUE(w);
                 w->BitBtn1->click();
                 choose(*w, QStringLiteral("Mod02"), m_reader, {0});
                 QObject::connect(w, &TFormUserAutoRights::runFinished, w,
                                  [w] { w->findChild<QPushButton*>(QStringLiteral("bbClose"))->click(); });
                 w->BitBtn3->click();
             });
             ShowAutoRights(m_dm, nullptr);
         }},
        {"import",
         [this] {
             auto w = BulkFixture::open();
             chooseApplication(*w, QStringLiteral("Деловодство"));
             importText(*w, writeFile(QStringLiteral("one.txt"), "maria;Мария Иванова;;\n"));
             w->sbExit->click();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FbAppDatabase local(AppProcedure::Recording, false, m_tmp.path(QStringLiteral("mod02-%1.fdb").arg(&c - cases)));
        configure(QStringLiteral("Mod02"), {local.serverName()});
        c.runAndClose();
        EXPECT_EQ(local.calls().size(), 1) << m_prompts.messages().join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(m_dm.db_Data.connected());
        EXPECT_FALSE(HeldLocalDatabases(m_dm).contains(QFileInfo(local.path()).canonicalFilePath()));
    }
    EXPECT_EQ(links().size(), 2);
    EXPECT_TRUE(links().contains(Link{ivan, m_mod02, m_reader}));
}

// A run over several users asks first, saying how many; it works in steps of one user, so the
// window stays live and shows how far it is, and Stop ends it between two users.
TEST_F(AutoRightsTest, ARunAsksFirstShowsProgressAndStopsBetweenUsers)
{
    for (int i = 1; i <= 5; ++i)
        addUser(QStringLiteral("u%1").arg(i), QStringLiteral("Човек Номер %1").arg(i));
    FbAppDatabase& app = serverAppDatabase();
    auto w = open();
    w->BitBtn1->click();
    choose(*w, QStringLiteral("Mod02"), m_reader, {0});

    m_prompts.answerConfirm(false);
    w->BitBtn3->click();
    ASSERT_FALSE(m_prompts.shown.isEmpty());
    EXPECT_EQ(m_prompts.shown.last().kind, QStringLiteral("confirm"));
    EXPECT_EQ(m_prompts.shown.last().text, AutoRightsText::ConfirmMany.arg(5).arg(1).arg(QStringLiteral("Mod02")));
    EXPECT_FALSE(w->running());
    EXPECT_TRUE(links().isEmpty());

    QList<int> progress;
    QObject::connect(w->pbProgress, &QProgressBar::valueChanged, w.get(), [&](int value) {
        progress << value;
        if (value == 2)
            w->bbStop->click();
    });
    m_prompts.answerConfirm(true);
    w->BitBtn3->click();
    // Nothing is done inside the click: the steps run from the event loop.
    EXPECT_TRUE(w->running());
    EXPECT_FALSE(w->BitBtn3->isEnabled());
    EXPECT_TRUE(w->bbStop->isEnabled());
    EXPECT_TRUE(links().isEmpty());
    QDeadlineTimer patience(60000);
    while (w->running() && !patience.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(w->running());
    EXPECT_EQ(progress, (QList<int>{1, 2}));
    EXPECT_EQ(w->pbProgress->maximum(), 5);
    EXPECT_EQ(links().size(), 2);
    EXPECT_EQ(app.calls().size(), 2);
    EXPECT_EQ(memo(*w).last(), AutoRightsText::Stopped.arg(2).arg(5));
    EXPECT_TRUE(w->BitBtn3->isEnabled());
    EXPECT_FALSE(w->bbStop->isEnabled());
    EXPECT_EQ(app.maintenanceAttachments(), 0);
}

// A PostgreSQL database of the application is reached by the route of the users window.
TEST_F(AutoRightsTest, APostgresDatabaseIsCalled)
{
    const int ivan = addUser(QStringLiteral("ivan"), QStringLiteral("Иван Петров"));
    const int ana = addUser(QStringLiteral("ana"), QStringLiteral("Ана Иванова"));
    PgAppDatabase pg(AppProcedure::Recording);
    configure(QStringLiteral("Mod02"), {pg.connText()});
    auto w = open();
    w->BitBtn1->click();
    choose(*w, QStringLiteral("Mod02"), m_reader, {0});
    run(*w);
    EXPECT_EQ(memo(*w), (QStringList{db1(QStringLiteral("Ана Иванова Добавено е право.")), db1(QStringLiteral("Иван Петров Добавено е право.")),
                                     done(2, 2)}));
    QList<std::pair<int, QString>> called;
    for (const RecordedCall& c : pg.calls())
        called.append({c.id, c.name});
    EXPECT_EQ(called, (QList<std::pair<int, QString>>{{ana, QStringLiteral("Ана Иванова")}, {ivan, QStringLiteral("Иван Петров")}}));
    EXPECT_TRUE(pg.allLoginsReleased());
}
