#include "UserAutoRights.h"

#include "ImportSource.h"
#include "ProcedureId.h"

#include "core/DataModule.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/SuiteApplications.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "users/UserAccounts.h"
#include "db/StoredProc.h"
#include "update/DBLists.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
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
    auto* close = button(QStringLiteral("bbClose"), QStringLiteral("Изход"), this);
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);

    auto* right = new QVBoxLayout;
    right->addLayout(choice);
    right->addWidget(policy);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn3);
    buttons->addStretch();
    buttons->addWidget(close);
    right->addLayout(buttons);
    auto* settings = new QHBoxLayout;
    settings->addWidget(dbGroup, 1);
    settings->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists, 2);
    layout->addLayout(settings, 1);
    layout->addWidget(MemoLog, 1);
    resize(860, 640);

    connect(bbToRight, &QPushButton::clicked, this, [this] { bbToRightClick(); });
    connect(bbToLeft, &QPushButton::clicked, this, [this] { bbToLeftClick(); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(bAddFromFile, &QPushButton::clicked, this, [this] { bAddFromFileClick(); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { BitBtn3Click(); });
    connect(close, &QPushButton::clicked, this, [this] { reject(); });
    connect(cbox_App, &QComboBox::currentIndexChanged, this, [this](int i) { cbox_AppChange(i); });
    connect(lb_UsersAll, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { Move(lb_UsersAll, lb_UsersToChange, item); });
    connect(lb_UsersToChange, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { Move(lb_UsersToChange, lb_UsersAll, item); });
}

TFormUserAutoRights::~TFormUserAutoRights()
{
    // The last database of a run is let go with the window, not when the program ends.
    if (m_usedDataDB)
        m_dm.CloseDataDB();
}

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
        auto* item = new QListWidgetItem(u->fullName);
        item->setData(kUserRole, int(m_users.size()));
        m_users.push_back(std::move(u));
        lb_UsersAll->addItem(item);
    }
    q.close();
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
            for (const QString& item : items) {
                const qsizetype colon = item.indexOf(QLatin1Char(':'));
                app->databases.push_back({item.left(colon).trimmed(), colon < 0 ? QString() : item.mid(colon + 1).trimmed().left(1000)});
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
        for (int i = lb_UsersAll->count() - 1; i >= 0; --i) {
            QListWidgetItem* item = lb_UsersAll->item(i);
            if (sameLatinFolded(item->text(), line)) {
                lb_UsersAll->setCurrentItem(item);
                bbToRightClick();
                break;
            }
        }
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
    MemoLog->clear();
    try {
        Run();
    } catch (const std::exception& e) {
        // A procedure that fails ends the run; the rights written so far stay.
        prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
    }
}

void TFormUserAutoRights::Run()
{
    const TApp& app = *chosenApp();
    const int classIdx = cbox_Class->currentData().toInt();
    const int policy = rbAddRights_ButDoNotChange->isChecked() ? KeepRight : rb_ChangeRight->isChecked() ? ChangeRight : OnlyNames;
    db::StoredProc& proc = m_dm.SQLAdd_usr2;
    for (int d = 0; d < clb_DBPath->count(); ++d) {
        if (clb_DBPath->item(d)->checkState() != Qt::Checked)
            continue;
        const QString path = app.databases[size_t(d)].serverPath;
        QString error;
        m_usedDataDB = true;
        ConnectSystemAlias(m_dm.db_Data, app.dbUser, app.dbPassword, error, path);
        if (!error.isEmpty()) {
            Log(QStringLiteral("Не може да отвори ") + path);
            continue;
        }
        proc.setDatabase(&m_dm.db_Data);
        proc.setProcedureName(app.procedure);
        proc.prepare();
        const QList<db::ProcParam> params = proc.params();
        for (int i = 0; i < lb_UsersToChange->count(); ++i) {
            const TUserInfo& user = *m_users[size_t(lb_UsersToChange->item(i)->data(kUserRole).toInt())];
            const QString message = SetRight(user.id, app, policy, classIdx);
            if (message.isEmpty())
                continue;
            Log(user.fullName + QLatin1Char(' ') + message);
            if (const QString refusal = UserIdDoesNotFit(params, QStringLiteral("u_id"), user.id); !refusal.isEmpty()) {
                Log(user.fullName + QStringLiteral(": ") + refusal);
                continue;
            }
            proc.clearParams();
            proc.setParam(QStringLiteral("u_id"), user.id);
            proc.setParam(QStringLiteral("U_RNm"), user.fullName);
            db::Transaction t(m_dm.db_Data);
            proc.execProc();
            t.commit();
        }
    }
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
