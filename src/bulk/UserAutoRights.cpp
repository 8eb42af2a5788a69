#include "UserAutoRights.h"

#include "ImportSource.h"

#include "core/Config.h"
#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "dbman/Provision.h"
#include "users/UserAccounts.h"
#include "update/DBLists.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Comparisons in this window ignore the case of A to Z only; other letters must match exactly.
bool sameLatinFolded(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        QChar x = a[i], y = b[i];
        if (x >= QLatin1Char('a') && x <= QLatin1Char('z'))
            x = QChar(x.unicode() - 32);
        if (y >= QLatin1Char('a') && y <= QLatin1Char('z'))
            y = QChar(y.unicode() - 32);
        if (x != y)
            return false;
    }
    return true;
}

QPushButton* button(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

QListWidget* list(const QString& name, QWidget* parent)
{
    auto* l = new QListWidget(parent);
    l->setObjectName(name);
    l->setSortingEnabled(true);
    return l;
}

constexpr int kUserRole = Qt::UserRole;

namespace Text = AutoRightsText;

} // namespace

TFormUserAutoRights::TFormUserAutoRights(TDM& dm, QWidget* parent) : QDialog(parent), m_dm(dm)
{
    setObjectName(QStringLiteral("FormUserAutoRights"));
    setWindowTitle(QStringLiteral("Автоматично задаване на права"));

    auto* allGroup = new QGroupBox(QStringLiteral("Списък на всички потребители"), this);
    lb_UsersAll = list(QStringLiteral("lb_UsersAll"), allGroup);
    (new QVBoxLayout(allGroup))->addWidget(lb_UsersAll);
    auto* changeGroup = new QGroupBox(QStringLiteral("Списък на потребители за които ще се променят правата"), this);
    lb_UsersToChange = list(QStringLiteral("lb_UsersToChange"), changeGroup);
    (new QVBoxLayout(changeGroup))->addWidget(lb_UsersToChange);

    bbToRight = button(QStringLiteral("bbToRight"), QStringLiteral("=>"), this);
    bbToLeft = button(QStringLiteral("bbToLeft"), QStringLiteral("<="), this);
    BitBtn1 = button(QStringLiteral("BitBtn1"), QStringLiteral("=>>"), this);
    BitBtn2 = button(QStringLiteral("BitBtn2"), QStringLiteral("<<="), this);
    bAddFromFile = button(QStringLiteral("bAddFromFile"), QStringLiteral("+++"), this);
    auto* moves = new QVBoxLayout;
    moves->addStretch();
    for (QPushButton* b : {bbToRight, bbToLeft, BitBtn1, BitBtn2, bAddFromFile})
        moves->addWidget(b);
    moves->addStretch();

    auto* lists = new QHBoxLayout;
    lists->addWidget(allGroup, 1);
    lists->addLayout(moves);
    lists->addWidget(changeGroup, 1);

    cbox_App = new QComboBox(this);
    cbox_App->setObjectName(QStringLiteral("cbox_App"));
    cbox_Class = new QComboBox(this);
    cbox_Class->setObjectName(QStringLiteral("cbox_Class"));
    auto* choice = new QGridLayout;
    auto* appLabel = new QLabel(QStringLiteral("&Приложение"), this);
    appLabel->setBuddy(cbox_App);
    auto* classLabel = new QLabel(QStringLiteral("&Клас"), this);
    classLabel->setBuddy(cbox_Class);
    choice->addWidget(appLabel, 0, 0);
    choice->addWidget(cbox_App, 0, 1);
    choice->addWidget(classLabel, 1, 0);
    choice->addWidget(cbox_Class, 1, 1);

    auto* dbGroup = new QGroupBox(QStringLiteral("Списък на БД за избраното приложение"), this);
    clb_DBPath = new QListWidget(dbGroup);
    clb_DBPath->setObjectName(QStringLiteral("clb_DBPath"));
    (new QVBoxLayout(dbGroup))->addWidget(clb_DBPath);

    auto* policy = new QGroupBox(QStringLiteral("В случай, че потребителя има вече права"), this);
    rbAddRights_ButDoNotChange = new QRadioButton(QStringLiteral("Запази нивото му на достъп"), policy);
    rbAddRights_ButDoNotChange->setObjectName(QStringLiteral("rbAddRights_ButDoNotChange"));
    rb_ChangeRight = new QRadioButton(QStringLiteral("Припокрий с посоченото ниво"), policy);
    rb_ChangeRight->setObjectName(QStringLiteral("rb_ChangeRight"));
    rb_ChangeRight->setChecked(true);
    rbOnlyChangeNames = new QRadioButton(QStringLiteral("Не добавя права, само подменя истински имена"), policy);
    rbOnlyChangeNames->setObjectName(QStringLiteral("rbOnlyChangeNames"));
    auto* policyLayout = new QVBoxLayout(policy);
    for (QRadioButton* r : {rbAddRights_ButDoNotChange, rb_ChangeRight, rbOnlyChangeNames})
        policyLayout->addWidget(r);

    BitBtn3 = button(QStringLiteral("BitBtn3"), QStringLiteral("Създай права"), this);
    bbStop = button(QStringLiteral("bbStop"), Text::Stop, this);
    bbStop->setEnabled(false);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setValue(0);
    m_timer = new QTimer(this);
    m_timer->setInterval(0);
    auto* close = button(QStringLiteral("bbClose"), QStringLiteral("Изход"), this);
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);

    auto* right = new QVBoxLayout;
    right->addLayout(choice);
    right->addWidget(policy);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn3);
    buttons->addWidget(bbStop);
    buttons->addStretch();
    buttons->addWidget(close);
    right->addLayout(buttons);
    auto* settings = new QHBoxLayout;
    settings->addWidget(dbGroup, 1);
    settings->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 2);
    layout->addLayout(settings, 1);
    layout->addWidget(pbProgress);
    layout->addWidget(MemoLog, 1);
    resize(860, 640);

    connect(bbToRight, &QPushButton::clicked, this, [this] { bbToRightClick(); });
    connect(bbToLeft, &QPushButton::clicked, this, [this] { bbToLeftClick(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(bAddFromFile, &QPushButton::clicked, this, [this] { bAddFromFileClick(); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
    connect(bbStop, &QPushButton::clicked, this, [this] { StopClick(); });
    connect(m_timer, &QTimer::timeout, this, [this] { Step(); });
    connect(close, &QPushButton::clicked, this, [this] { reject(); });
    connect(cbox_App, &QComboBox::currentIndexChanged, this, [this](int i) { cbox_AppChange(i); });
    connect(lb_UsersAll, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { Move(lb_UsersAll, lb_UsersToChange, item); });
    connect(lb_UsersToChange, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { Move(lb_UsersToChange, lb_UsersAll, item); });
}

TFormUserAutoRights::~TFormUserAutoRights() = default;

void TFormUserAutoRights::LoadUsers()
{
    lb_UsersAll->clear();
    lb_UsersToChange->clear();
    m_users.clear();
    db::Query q(&m_dm.db_Sys);
    q.setSql(QStringLiteral("select USER_ID, USER_RNM, USER_FNM from USERS"));
    for (q.open(); !q.eof(); q.next()) {
        auto u = std::make_unique<TUserInfo>();
        u->id = qint32(q.field(0).asInt64());
        u->fullName = DecodeStoredText(q.field(1).asString());
        u->loginName = DecodeStoredText(q.field(2).asString());
        m_users.push_back(std::move(u));
    }
    q.close();
    m_nameCount.clear();
    for (const auto& u : m_users)
        ++m_nameCount[u->fullName];
    for (size_t i = 0; i < m_users.size(); ++i) {
        auto* item = new QListWidgetItem(UserText(*m_users[i]));
        item->setData(kUserRole, int(i));
        lb_UsersAll->addItem(item);
    }
}

QString TFormUserAutoRights::UserText(const TUserInfo& user) const
{
    if (m_nameCount.value(user.fullName) > 1)
        return QStringLiteral("%1 (%2)").arg(user.fullName, user.loginName);
    return user.fullName;
}

void TFormUserAutoRights::LoadApps()
{
    cbox_App->blockSignals(true);
    cbox_App->clear();
    cbox_Class->clear();
    clb_DBPath->clear();
    m_apps.clear();
    for (const StoredApplication& stored : ReadApplications(m_dm.db_Sys)) {
        const QString& name = stored.name;
        // This program's own row.
        if (sameLatinFolded(name, QStringLiteral("Gatekeep")))
            continue;
        auto app = std::make_unique<TApp>();
        app->aplId = stored.aplId;
        app->name = sameLatinFolded(name, QStringLiteral("mod03")) ? QStringLiteral("Mod04") : name;
        app->procedure = stored.aliasProc;
        app->dbUser = stored.aliasUser;
        app->dbPassword = stored.aliasPassword;
        for (const SuiteApplication& row : SuiteApplicationTable) {
            if (!sameLatinFolded(row.key.toString(), app->name))
                continue;
            QStringList items;
            ListAppDatabases(row.section.toString(), items);
            // The DBNs of the same usable entries, in the same order, to name the databases by.
            QStringList dbns;
            try {
                const IniFile ini(ConfigIniPath());
                for (int n : EntryNumbers(ini, row.section.toString()))
                    if (const DBEntryRead e = ReadDBEntry(ini, row.section.toString(), n); e.usable)
                        dbns << e.DBN.trimmed();
            } catch (const std::exception&) {
                dbns.clear();
            }
            if (dbns.size() != items.size())
                dbns.clear();
            for (qsizetype i = 0; i < items.size(); ++i) {
                const QString& item = items[i];
                const qsizetype colon = item.indexOf(QLatin1Char(':'));
                app->databases.push_back(
                    {item.left(colon).trimmed(), colon < 0 ? QString() : item.mid(colon + 1).trimmed().left(1000), dbns.value(i)});
            }
            break;
        }
        for (const StoredClass& c : stored.classes)
            app->classes.push_back({c.classIdx, c.name});
        cbox_App->addItem(app->name, int(m_apps.size()));
        m_apps.push_back(std::move(app));
    }
    cbox_App->setCurrentIndex(-1);
    cbox_App->blockSignals(false);
}

const TApp* TFormUserAutoRights::chosenApp() const
{
    const int i = cbox_App->currentIndex() < 0 ? -1 : cbox_App->currentData().toInt();
    return i >= 0 && i < int(m_apps.size()) ? m_apps[size_t(i)].get() : nullptr;
}

void TFormUserAutoRights::cbox_AppChange(int)
{
    cbox_Class->clear();
    clb_DBPath->clear();
    const TApp* app = chosenApp();
    if (!app)
        return;
    for (const TAppClass& c : app->classes)
        cbox_Class->addItem(c.name, c.classIdx);
    cbox_Class->setCurrentIndex(-1);
    for (const TAppDB& d : app->databases) {
        auto* item = new QListWidgetItem(QStringLiteral("%1 : %2").arg(d.caption, d.serverPath), clb_DBPath);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void TFormUserAutoRights::Move(QListWidget* from, QListWidget* to, QListWidgetItem* item)
{
    if (!item)
        return;
    to->addItem(from->takeItem(from->row(item)));
}

void TFormUserAutoRights::bbToRightClick() { Move(lb_UsersAll, lb_UsersToChange, lb_UsersAll->currentItem()); }
void TFormUserAutoRights::bbToLeftClick() { Move(lb_UsersToChange, lb_UsersAll, lb_UsersToChange->currentItem()); }

void TFormUserAutoRights::BitBtn1Click()
{
    for (int i = lb_UsersAll->count() - 1; i >= 0; --i)
        Move(lb_UsersAll, lb_UsersToChange, lb_UsersAll->item(i));
}

void TFormUserAutoRights::BitBtn2Click()
{
    for (int i = lb_UsersToChange->count() - 1; i >= 0; --i)
        Move(lb_UsersToChange, lb_UsersAll, lb_UsersToChange->item(i));
}

void TFormUserAutoRights::bAddFromFileClick()
{
    FileDialogOptions o;
    o.filter = QStringLiteral("All files(*.*)|*.*|Text Files|*.txt");
    const QString path = prompts().openFile(o);
    if (path.isEmpty())
        return;
    try {
        AddFromLines(ReadImportTextFile(path).lines);
    } catch (const std::exception& e) {
        prompts().message(db::errorMessage(e), Prompts::Icon::Error);
    }
}

void TFormUserAutoRights::AddFromLines(const QStringList& lines)
{
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty())
            continue;
        bool found = false;
        for (int i = lb_UsersAll->count() - 1; i >= 0 && !found; --i) {
            QListWidgetItem* item = lb_UsersAll->item(i);
            // The full name, not the shown text: a namesake shows his login name beside it.
            if (sameLatinFolded(m_users[size_t(item->data(kUserRole).toInt())]->fullName, line)) {
                lb_UsersAll->setCurrentItem(item);
                bbToRightClick();
                found = true;
            }
        }
        if (!found)
            Log(Text::NoSuchUser.arg(line));
    }
}

void TFormUserAutoRights::Log(const QString& line) { MemoLog->appendPlainText(line); }

QString TFormUserAutoRights::SetRight(qint32 userId, const TApp& app, int policy, int classIdx)
{
    QString message;
    try {
        db::Transaction t(m_dm.db_Sys, UserWriteOptions());
        LockUser(m_dm.db_Sys, userId);
        const std::optional<int> held = HeldClass(m_dm.db_Sys, userId, app.aplId);
        if (!held) {
            if (policy == OnlyNames)
                return {};
            GrantRight(m_dm.db_Sys, userId, app.aplId, classIdx);
            message = QStringLiteral("Добавено е право.");
        } else if (*held == classIdx || policy != ChangeRight) {
            message = QStringLiteral("Правото съществува.");
        } else {
            GrantRight(m_dm.db_Sys, userId, app.aplId, classIdx);
            message = QStringLiteral("Правото е променено.");
        }
        t.commit();
    } catch (const std::exception& e) {
        // The user is still logged and provisioned.
        message = db::errorMessage(e);
    }
    return message;
}

void TFormUserAutoRights::BitBtn3Click()
{
    if (running())
        return;
    const TApp* app = chosenApp();
    QList<int> ticked;
    for (int i = 0; i < clb_DBPath->count(); ++i)
        if (clb_DBPath->item(i)->checkState() == Qt::Checked)
            ticked << i;
    const char* refusal = lb_UsersToChange->count() == 0 ? "Моля, изберете потребители."
                          : !app                         ? "Моля, изберете приложение."
                          : cbox_Class->currentIndex() < 0 ? "Моля, изберете клас."
                          : ticked.isEmpty()             ? "Моля, посочете БД."
                                                         : nullptr;
    if (refusal) {
        prompts().message(QString::fromUtf8(refusal), Prompts::Icon::Warning);
        return;
    }
    const int users = lb_UsersToChange->count();
    if (users > 1 && !prompts().confirm(Text::ConfirmMany.arg(users).arg(ticked.size()).arg(app->name)))
        return;
    MemoLog->clear();
    auto run = std::make_unique<RunState>();
    run->app = app;
    run->classIdx = cbox_Class->currentData().toInt();
    run->policy = rbAddRights_ButDoNotChange->isChecked() ? KeepRight : rb_ChangeRight->isChecked() ? ChangeRight : OnlyNames;
    run->databases = ticked;
    for (int i = 0; i < users; ++i)
        run->users << lb_UsersToChange->item(i)->data(kUserRole).toInt();
    m_run = std::move(run);
    pbProgress->setRange(0, int(m_run->users.size() * m_run->databases.size()));
    pbProgress->setValue(0);
    SetRunning(true);
    m_timer->start();
}

bool TFormUserAutoRights::running() const { return m_run != nullptr; }

void TFormUserAutoRights::SetRunning(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{BitBtn3, bbToRight, bbToLeft, BitBtn1, BitBtn2, bAddFromFile, cbox_App, cbox_Class,
                                                      clb_DBPath, rbAddRights_ButDoNotChange, rb_ChangeRight, rbOnlyChangeNames})
        w->setEnabled(!on);
    bbStop->setEnabled(on);
}

void TFormUserAutoRights::Step()
{
    RunState& r = *m_run;
    if (r.stopRequested) {
        FinishRun(Text::Stopped.arg(r.done).arg(pbProgress->maximum()));
        return;
    }
    if (r.db >= r.databases.size()) {
        FinishRun(Text::Finished.arg(r.done).arg(pbProgress->maximum()));
        return;
    }
    const TAppDB& database = r.app->databases[size_t(r.databases[r.db])];
    if (!r.route) {
        auto route = std::make_unique<TProvisionRoute>(database.serverPath, ProvisionLogin{r.app->dbUser, r.app->dbPassword, r.app->procedure});
        try {
            route->Open();
            r.route = std::move(route);
            r.user = 0;
        } catch (const std::exception& e) {
            Log(Text::OpenFailed.arg(database.name(), database.serverPath, db::errorMessage(e).simplified()));
            ++r.db;
            r.done += int(r.users.size());
            pbProgress->setValue(r.done);
        }
        return;
    }
    if (r.user >= r.users.size()) {
        r.route.reset();
        ++r.db;
        return;
    }
    const TUserInfo& user = *m_users[size_t(r.users[r.user++])];
    const QString message = SetRight(user.id, *r.app, r.policy, r.classIdx);
    if (!message.isEmpty()) {
        const QString shown = UserText(user);
        Log(Text::UserLine.arg(database.name(), shown, message));
        try {
            r.route->Provision(user.id, user.fullName);
        } catch (const std::exception& e) {
            // The right stays; the line (one line, the reason's own breaks folded) says which user this
            // database did not take, and the run goes on.
            Log(Text::ProvisionFailed.arg(database.name(), shown, db::errorMessage(e).simplified()));
        }
    }
    pbProgress->setValue(++r.done);
}

void TFormUserAutoRights::FinishRun(const QString& lastLine)
{
    m_timer->stop();
    m_run.reset();
    Log(lastLine);
    SetRunning(false);
    emit runFinished();
}

void TFormUserAutoRights::StopClick()
{
    // The next step ends the run: the user in hand is done, the connection is let go.
    if (running())
        m_run->stopRequested = true;
}

void TFormUserAutoRights::reject()
{
    if (running())
        FinishRun(Text::Stopped.arg(m_run->done).arg(pbProgress->maximum()));
    QDialog::reject();
}

void ShowAutoRights(TDM& dm, QWidget* parent)
{
    TFormUserAutoRights w(dm, parent);
    try {
        w.LoadUsers();
        w.LoadApps();
    } catch (const std::exception& e) {
        prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    w.exec();
}
