#include "UserRights.h"

#include "DomainAccounts.h"
#include "NewUser.h"
#include "UserLibrary.h"
#include "UserExport.h"
#include "UserRightsText.h"

#include "core/DataModule.h"
#include "core/LogInfo.h"
#include "core/Policy.h"
#include "core/Prompts.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/TextOps.h"
#include "ui/BetterGroupBox.h"
#include "ui/DBHintGrid.h"
#include "ui/DBNavigator2.h"
#include "dbman/Provision.h"
#include "update/SelectDBPaths.h"

#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QApplication>
#include <QComboBox>
#include <QScrollBar>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace Text = UserRightsText;

namespace {

const QString kUsersQuery = QStringLiteral(
    "select User_id,user_rnm,user_fnm,user_flags,user_expdate,user_domainuser, user_domainname, user_domainsid, User_FPW, "
    "user_cert from users where user_id >0");

QString q(const QString& text) { return EscapeDoubleQuotes(text); }

// A flag text as written back: at least 20 characters, the first replaced.
QString withFirstFlag(QString flags, QChar first)
{
    if (flags.size() < 20)
        flags = flags.leftJustified(20, QLatin1Char('0'));
    flags[0] = first;
    return flags;
}

// A database message about a statement that carried a password, made safe to show.
QString withoutSecrets(QString message, const QStringList& secrets)
{
    for (const QString& s : secrets)
        if (!s.trimmed().isEmpty())
            message.replace(s, QStringLiteral("***"));
    return message;
}

} // namespace

TfrmUserRights::TfrmUserRights(TDM& dm, QWidget* parent) : QDialog(parent), m_dm(dm)
{
    setObjectName(QStringLiteral("frmUserRights"));
    setWindowTitle(Text::Caption);
    BuildWindow();
}

TfrmUserRights::~TfrmUserRights() { Detach(); }

void TfrmUserRights::BuildWindow()
{
    auto* layout = new QVBoxLayout(this);
    pnlTop = new QLabel(Text::Caption, this);
    pnlTop->setObjectName(QStringLiteral("pnlTop"));
    layout->addWidget(pnlTop);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    layout->addWidget(splitter, 1);

    // Upper half: the list, its navigator and the search strip.
    auto* upper = new QWidget(splitter);
    auto* upperLayout = new QVBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    grid = new TDBHintGrid(upper);
    grid->setObjectName(QStringLiteral("grdUsers"));
    grid->setDataSet(&tblUsers);
    grid->setColumns({{QStringLiteral("USER_ID"), QStringLiteral("No:"), {}, 50, true},
                      {QStringLiteral("USER_RNM"), QStringLiteral("Потребител - Пълно Име"), {}, 220, true},
                      {QStringLiteral("USER_FNM"), QStringLiteral("Потребителско име"), {}, 140, true},
                      {QStringLiteral("USER_DOMAINNAME"), QStringLiteral("Домайн"), {}, 100, true},
                      {QStringLiteral("USER_DOMAINUSER"), QStringLiteral("Домейн потребител"), {}, 130, true}});
    grid->verticalHeader()->hide(); // "No:" numbers the users; row numbers beside it only confuse
    grid->viewport()->installEventFilter(this);
    upperLayout->addWidget(grid, 1);

    auto* navRow = new QHBoxLayout;
    navigator = new TDBNavigator2(upper);
    navigator->setVisibleButtons(TDBNavigator2::First | TDBNavigator2::Prior | TDBNavigator2::Next | TDBNavigator2::Last);
    navigator->setDataSet(&tblUsers);
    // Its captions stay whole; the search strip beside it takes what is left.
    navigator->setSizePolicy(QSizePolicy::Minimum, navigator->sizePolicy().verticalPolicy());
    navRow->addWidget(navigator);

    gbSearch = new TBetterGroupBox(QStringLiteral("Търсене"), upper);
    gbSearch->setShowEnableBtn(false);
    auto* searchLayout = new QHBoxLayout(gbSearch);
    edSeek = new QLineEdit(gbSearch);
    edSeek->setObjectName(QStringLiteral("edSeek"));
    edSeek->setMinimumWidth(edSeek->fontMetrics().averageCharWidth() * 16);
    Seek_SB = new QPushButton(QStringLiteral("Търсене"), gbSearch);
    rbRealName = new QRadioButton(QStringLiteral("в истинско име"), gbSearch);
    rbUserName = new QRadioButton(QStringLiteral("в поретебителско име"), gbSearch);
    rbRealName->setChecked(true);
    searchLayout->addWidget(edSeek, 1);
    searchLayout->addWidget(Seek_SB);
    searchLayout->addWidget(rbRealName);
    searchLayout->addWidget(rbUserName);
    navRow->addWidget(gbSearch, 1);
    upperLayout->addLayout(navRow);

    // Lower half: rights, domain account, remote access and exports.
    auto* lower = new QWidget(splitter);
    auto* lowerLayout = new QGridLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    gbRights = new QGroupBox(Text::RightsBox, lower);
    BuildRightsList(gbRights);
    lowerLayout->addWidget(gbRights, 0, 0, 3, 1);

    pnlDomain = new QWidget(lower);
    pnlDomain->setObjectName(QStringLiteral("pnlDomain"));
    lowerLayout->addWidget(pnlDomain, 0, 1);

    bgb = new TBetterGroupBox(QStringLiteral("Отдалечен достъп(Web Interface)"), lower);
    bgb->setShowEnableBtn(false);
    auto* remote = new QGridLayout(bgb);
    sbAllowInet = new QPushButton(QStringLiteral("Разрешава"), bgb);
    sbAllowInet->setToolTip(QStringLiteral("Разрешава достъп през интернет"));
    sbInetChangeDate = new QPushButton(QStringLiteral("Дата"), bgb);
    sbInetChangeDate->setToolTip(QStringLiteral("Променя датата до която е разрешен достъпа"));
    sbDenny = new QPushButton(QStringLiteral("Забранява"), bgb);
    sbDenny->setToolTip(QStringLiteral("забранява отдалеченият достъп"));
    DTP = new QDateEdit(QDate::currentDate(), bgb);
    DTP->setObjectName(QStringLiteral("DTP"));
    DTP->setDisplayFormat(Text::DateFormat);
    DTP->setCalendarPopup(true);
    remote->addWidget(DTP, 0, 0, 1, 3);
    remote->addWidget(sbAllowInet, 1, 0);
    remote->addWidget(sbInetChangeDate, 1, 1);
    remote->addWidget(sbDenny, 1, 2);
    lowerLayout->addWidget(bgb, 1, 1);

    pnlExport = new QWidget(lower);
    pnlExport->setObjectName(QStringLiteral("pnlExport"));
    lowerLayout->addWidget(pnlExport, 2, 1);
    lowerLayout->setColumnStretch(0, 1);

    // Button bar.
    auto* bar = new QHBoxLayout;
    auto button = [this, bar](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        bar->addWidget(b);
        return b;
    };
    sbNewUser = button("sbNewUser", QStringLiteral("Нов потребител"));
    sbChangeName = button("sbChangeName", QStringLiteral("Смяна  име"));
    sbLogName = button("sbLogName", QStringLiteral("Смяна  потр.име"));
    sbPwdChange = button("sbPwdChange", QStringLiteral("Смяна  парола"));
    sbDelete = button("sbDelete", QStringLiteral("Изтриване"));
    sbDelete->setVisible(false);
    sbSave = button("sbSave", Text::Save);
    sbUserRefresh = button("sbUserRefresh", Text::RefreshAll);
    sbUserRefresh->setToolTip(Text::RefreshAllHint);
    bar->addStretch();
    sbExit = button("sbExit", QStringLiteral("Изход"));
    layout->addLayout(bar);

    gridMenu = new QMenu(this);
    miSortAZ = gridMenu->addAction(QStringLiteral("Сортираи A->Z"));
    miSortAZ->setProperty("tag", 1);
    miSortZA = gridMenu->addAction(QStringLiteral("Сортираи Z->A"));
    miSortZA->setProperty("tag", 2);
    miMustChangePWD = gridMenu->addAction(QStringLiteral("Смяна на парола  при следващо  стартиране на системата"));
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) { gridMenu->popup(grid->viewport()->mapToGlobal(pos)); });
    domainAccounts = new TDomainAccounts(*this, m_dm, pnlDomain);

    connect(sbNewUser, &QPushButton::clicked, this, &TfrmUserRights::CreateUser);
    connect(sbChangeName, &QPushButton::clicked, this, &TfrmUserRights::ChangeFullName);
    connect(sbLogName, &QPushButton::clicked, this, &TfrmUserRights::ChangeLoginName);
    connect(sbPwdChange, &QPushButton::clicked, this, &TfrmUserRights::ChangePassword);
    connect(sbDelete, &QPushButton::clicked, this, &TfrmUserRights::DeleteUser);
    connect(Seek_SB, &QPushButton::clicked, this, &TfrmUserRights::Search);
    connect(edSeek, &QLineEdit::returnPressed, this, &TfrmUserRights::Search);
    connect(sbAllowInet, &QPushButton::clicked, this, &TfrmUserRights::AllowRemoteAccess);
    connect(sbInetChangeDate, &QPushButton::clicked, this, &TfrmUserRights::ChangeRemoteAccessDate);
    connect(sbDenny, &QPushButton::clicked, this, &TfrmUserRights::DenyRemoteAccess);
    connect(miSortAZ, &QAction::triggered, this, [this] { Sort(true); });
    connect(miSortZA, &QAction::triggered, this, [this] { Sort(false); });
    connect(miMustChangePWD, &QAction::triggered, this, &TfrmUserRights::ForcePasswordChange);
    connect(sbExit, &QPushButton::clicked, this, &TfrmUserRights::Leave);
    connect(sbSave, &QPushButton::clicked, this, &TfrmUserRights::Save);
    connect(sbUserRefresh, &QPushButton::clicked, this, &TfrmUserRights::RefreshAll);
    new TUserExport(*this, m_dm); // the export strip and the grid menu's export

    // Enter belongs to the field it is pressed in (the search field searches), not to a button.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
    bgb->setFolded(true);
    FitToScreen();
}

void TfrmUserRights::FitToScreen()
{
    const QScreen* s = screen();
    if (!s)
        return;
    // Room for the frame the window manager adds, which is unknown before the window is shown.
    const QSize room = s->availableGeometry().size() - QSize(8, 32);
    setMinimumSize(minimumSizeHint().expandedTo(QSize(640, 480)).boundedTo(room));
    resize(QSize(900, 640).boundedTo(room).expandedTo(minimumSize()));
}

void TfrmUserRights::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    const bool domains = DomainLogonAllowed();
    grid->setColumnHidden(3, !domains);
    grid->setColumnHidden(4, !domains);
    pnlDomain->setVisible(domains);
    BuildApplicationList();
    LoadUserList(0);
    tblUsers.first();
    domainAccounts->LoadDomainUsers();
    edSeek->setFocus();
}

void TfrmUserRights::Detach() { tblUsers.afterScroll = nullptr; }

void TfrmUserRights::Attach(bool runRowChange)
{
    // Sorting, filtering or a search that stays on the same user is no row change: it would drop
    // the unsaved rights of the user still shown.
    tblUsers.afterScroll = [this](TMemDataSet&) {
        if (!m_settling)
            FollowCurrentUser();
    };
    if (!runRowChange || FollowCurrentUser())
        return;
    // The same user after a reload (a rename, remote access, a search that found him again, or
    // one that was taken back): his row is shown afresh, his unsaved rights stay.
    ShowRemoteAccess();
    gbRights->setTitle(Text::RightsBox + tblUsers.text(QStringLiteral("USER_RNM")));
}

int TfrmUserRights::currentUserId() const { return tblUsers.isEmpty() ? 0 : tblUsers.value(0).toInt(); }

void TfrmUserRights::LoadUserList(int userId)
{
    if (!ExecSqlText(m_dm.WQ, kUsersQuery, false))
        return;
    tblUsers.disableControls();
    Detach();
    // The names are decoded from the fetched bytes; a certificate is read only when asked for,
    // so that a long list carries none of them.
    const TMemDataSet::FieldLoad::Decoder decode = [](const char* data, qsizetype size, char* out) {
        return DecodeStoredBytes(data, size, out);
    };
    const TMemDataSet::FieldLoad::Loader certificate = [this](const TMemDataSet& users, int row) {
        db::Query q(&m_dm.db_Sys);
        q.setSql(QStringLiteral("select user_cert from users where user_id = :id"));
        q.setParam(QStringLiteral("id"), users.sourceValue(row, users.fieldIndex(QStringLiteral("USER_ID"))));
        q.open();
        return q.eof() ? QVariant() : q.field(0).value();
    };
    try {
        tblUsers.loadFromQuery(m_dm.WQ, {{QStringLiteral("USER_RNM"), decode, {}},
                                         {QStringLiteral("USER_FNM"), decode, {}},
                                         {QStringLiteral("USER_CERT"), {}, certificate}});
        m_dm.WQ.close();
    } catch (...) {
        // The list is left empty but shown and following row changes again.
        tblUsers.enableControls();
        Attach();
        throw;
    }
    const int rnm = tblUsers.fieldIndex(QStringLiteral("USER_RNM"));
    tblUsers.last(); // the row read last stays current through the sort
    tblUsers.sortBy(rnm, true);
    if (userId != 0)
        tblUsers.locate(QStringLiteral("USER_ID"), userId);
    tblUsers.enableControls();
    Attach();
}

bool TfrmUserRights::FollowCurrentUser()
{
    if (currentUserId() == m_rowUserId)
        return false;
    if (m_modified && !SettleEditedRights())
        return false;
    RowChange();
    return true;
}

bool TfrmUserRights::SettleEditedRights()
{
    const int target = currentUserId();
    const QScopedValueRollback settling(m_settling, true);
    // Saving works on the current user, and Cancel stays with him: back to the edited user while
    // asking. One no longer listed (deleted, or hidden by a filter) cannot be gone back to.
    if (m_rowUserId <= 0 || !tblUsers.locate(QStringLiteral("USER_ID"), m_rowUserId))
        return true;
    if (!OfferToSave())
        return false;
    tblUsers.locate(QStringLiteral("USER_ID"), target);
    return true;
}

void TfrmUserRights::RowChange()
{
    m_rowUserId = currentUserId();
    pnlTop->setToolTip(QString());
    ReloadRights();
    ShowRemoteAccess();
    m_modified = false;
    gbRights->setTitle(Text::RightsBox + tblUsers.text(QStringLiteral("USER_RNM")));
}

void TfrmUserRights::ShowRemoteAccess()
{
    const bool allowed = tblUsers.text(QStringLiteral("USER_FLAGS")).startsWith(QLatin1Char('T'));
    sbAllowInet->setEnabled(!allowed);
    sbDenny->setEnabled(allowed);
    sbInetChangeDate->setEnabled(allowed);
    const QDate expires = tblUsers.value(QStringLiteral("USER_EXPDATE")).toDateTime().date();
    DTP->setDate(allowed && expires.isValid() ? expires : QDate::currentDate());
    DTP->setStyleSheet(allowed ? QStringLiteral("QDateEdit { background: #b8f0b8; }") : QStringLiteral("QDateEdit { background: #f4b4b4; }"));
}

void TfrmUserRights::ReportError(const std::exception& e)
{
    prompts().message(QStringLiteral("Грешка : ") + db::errorMessage(e), Prompts::Icon::Error);
}

void TfrmUserRights::CreateUser()
{
    QString r, l, p;
    try {
        TfrmNewUser dlg(TfrmNewUser::Mode::NewUser, this);
        if (dlg.run() != QDialog::Accepted)
            return;
        r = dlg.RealName();
        l = dlg.LoginName();
        p = dlg.Password();
    } catch (const std::exception& e) {
        prompts().message(Text::DialogFailedNewUser + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }

    tblUsers.disableControls();
    Detach();
    bool aborted = false;
    const QString keyR = SimilarityKey(r);
    const QString keyL = SimilarityKey(l);
    for (tblUsers.first(); !tblUsers.eof() && !aborted; tblUsers.next()) {
        const QString name = tblUsers.text(QStringLiteral("USER_RNM"));
        if (!keyR.isEmpty() && SimilarityKey(name).contains(keyR) &&
            !prompts().confirm(Text::SimilarName + name + QStringLiteral("\" ") + Text::ContinueNew, Prompts::Icon::Question))
            aborted = true;
        else if (!keyL.isEmpty() && SimilarityKey(tblUsers.text(QStringLiteral("USER_FNM"))).contains(keyL) &&
                 !prompts().confirm(Text::SimilarLogin + name + QStringLiteral("\" ") + Text::ContinueNew, Prompts::Icon::Question))
            aborted = true;
        if (aborted)
            break; // the similar user stays current
    }

    if (!aborted) {
        QStringList secrets{p};
        try {
            const QString encP = EncodeStoredText(p);
            secrets << encP << q(encP);
            const int id = ::CreateUser(m_dm.db_Sys, {EncodeStoredText(l), encP, EncodeStoredText(r), {}}, m_lockTimeout);
            if (id == 0) {
                prompts().message(Text::DuplicatePair, Prompts::Icon::Warning);
            } else {
                tblUsers.enableControls();
                LoadUserList(id);
                tblUsers.disableControls();
            }
        } catch (const std::exception& e) {
            prompts().message(Text::AddFailed + QLatin1Char('\r') + withoutSecrets(db::errorMessage(e), secrets), Prompts::Icon::Error);
        }
    }
    tblUsers.enableControls();
    Attach();
}

void TfrmUserRights::ChangeFullName()
{
    if (tblUsers.isEmpty())
        return;
    if (!prompts().confirm(Text::RenameWarning, Prompts::Icon::Warning))
        return;
    const QString current = tblUsers.text(QStringLiteral("USER_RNM"));
    QString text = current;
    if (!prompts().inputText(Text::NewNameCaption, Text::NewNamePrompt, text))
        return;
    if (text.size() <= 3 || text == current)
        return;
    const int id = currentUserId();
    QString encoded;
    try {
        encoded = EncodeStoredText(text);
    } catch (const std::exception& e) {
        ReportError(e);
        return;
    }
    try {
        SetUserFullName(m_dm.db_Sys, id, encoded, m_lockTimeout);
    } catch (const std::exception& e) {
        prompts().message(Text::RenameFailed + QLatin1Char('\r') + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    ProvisionTickedApplications(id, text);
    LoadUserList(id);
}

void TfrmUserRights::ChangeLoginName()
{
    if (tblUsers.isEmpty())
        return;
    QString text = tblUsers.text(QStringLiteral("USER_FNM"));
    if (!prompts().inputText(Text::NewLoginCaption, Text::NewLoginPrompt, text))
        return;
    const QString t = text.trimmed();
    if (t.size() <= 3) {
        prompts().message(Text::ShortLogin, Prompts::Icon::Warning);
        return;
    }
    QString e;
    try {
        e = EncodeStoredText(t);
    } catch (const std::exception& ex) {
        ReportError(ex);
        return;
    }
    const int id = currentUserId();
    try {
        if (const QString holder = SetUserLogin(m_dm.db_Sys, id, e, m_lockTimeout); !holder.isEmpty()) {
            prompts().message(Text::LoginTaken + holder + QStringLiteral("]\r") + Text::LoginNotChanged, Prompts::Icon::Warning);
            return;
        }
    } catch (const std::exception& ex) {
        prompts().message(Text::LoginChangeFailed + QLatin1Char('\r') + db::errorMessage(ex), Prompts::Icon::Error);
        return;
    }
    LoadUserList(id);
}

void TfrmUserRights::ChangePassword()
{
    if (tblUsers.isEmpty())
        return;
    const QString login = tblUsers.text(QStringLiteral("USER_FNM"));
    QString password;
    try {
        TfrmNewUser dlg(TfrmNewUser::Mode::Password, this, tblUsers.text(QStringLiteral("USER_RNM")), login);
        if (dlg.run() != QDialog::Accepted)
            return;
        password = dlg.Password();
    } catch (const std::exception& e) {
        prompts().message(Text::DialogFailedPassword + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    const int id = currentUserId();
    // The stored password travels as a parameter: it is neither logged nor left behind as the
    // last SQL error.
    try {
        if (!SetUserPassword(m_dm.db_Sys, id, EncodeStoredText(login), EncodeStoredText(password), m_lockTimeout))
            prompts().message(Text::PairTaken, Prompts::Icon::Warning);
    } catch (const UserGone& e) {
        prompts().message(Text::PasswordChangeFailed + QLatin1Char('\r') + e.message(), Prompts::Icon::Error);
    } catch (const std::exception&) {
        prompts().message(Text::PasswordChangeFailed, Prompts::Icon::Error);
    }
}

void TfrmUserRights::DeleteUser()
{
    if (tblUsers.isEmpty())
        return;
    if (!prompts().confirm(Text::DeleteQuestion1 + tblUsers.text(QStringLiteral("USER_RNM")) + QStringLiteral(" ") + Text::DeleteQuestion2 +
                               QStringLiteral("\r(") + Text::DeleteQuestion3 + QStringLiteral("\r") + Text::DeleteQuestion4,
                           Prompts::Icon::Warning, Prompts::Answer::No))
        return;
    try {
        DeleteUserAccount(m_dm.db_Sys, currentUserId(), m_lockTimeout);
    } catch (const std::exception& e) {
        prompts().message(Text::DeleteFailed + QLatin1Char('\r') + db::errorMessage(e), Prompts::Icon::Error);
        return;
    }
    tblUsers.deleteCurrent();
}

void TfrmUserRights::Search()
{
    const QString text = edSeek->text();
    if (text.trimmed().isEmpty() || tblUsers.isEmpty())
        return;
    const QString column = rbRealName->isChecked() ? QStringLiteral("USER_RNM") : QStringLiteral("USER_FNM");
    const QString key = SimilarityKey(text);
    auto matches = [&] { return !key.isEmpty() && SimilarityKey(tblUsers.text(column)).contains(key); };

    tblUsers.disableControls();
    Detach();
    const int start = tblUsers.recNo();
    bool found = false;
    if (start + 1 < tblUsers.recordCount()) {
        for (tblUsers.setRecNo(start + 1); !found; tblUsers.next()) {
            found = matches();
            if (found || tblUsers.recNo() == tblUsers.recordCount() - 1)
                break;
        }
    }
    if (!found) {
        for (int row = 0; row < start && !found; ++row) {
            tblUsers.setRecNo(row);
            found = matches();
        }
    }
    if (!found)
        tblUsers.setRecNo(start);
    tblUsers.enableControls();
    Attach();
}

bool TfrmUserRights::UpdateFlags(const std::optional<QString>& flags, const QDate& expires)
{
    try {
        SetUserRemoteAccess(m_dm.db_Sys, currentUserId(), flags, expires, m_lockTimeout);
        return true;
    } catch (const std::exception& e) {
        ReportError(e);
        return false;
    }
}

void TfrmUserRights::SetCurrentRemoteAccess(const QString& flags, const QDate& expires)
{
    // What was written is what the list holds, so that coming back to the user shows it.
    const int row = tblUsers.currentSourceRow();
    if (!flags.isNull())
        tblUsers.setSourceValue(row, tblUsers.fieldIndex(QStringLiteral("USER_FLAGS")), flags);
    tblUsers.setSourceValue(row, tblUsers.fieldIndex(QStringLiteral("USER_EXPDATE")), QDateTime(expires, QTime(0, 0), Qt::UTC));
}

void TfrmUserRights::AllowRemoteAccess()
{
    if (tblUsers.isEmpty())
        return;
    DTP->setDate(QDate::currentDate().addDays(365));
    const QString flags = withFirstFlag(tblUsers.text(QStringLiteral("USER_FLAGS")), QLatin1Char('T'));
    if (UpdateFlags(flags, DTP->date()))
        SetCurrentRemoteAccess(flags, DTP->date());
    LoadUserList(currentUserId());
}

void TfrmUserRights::ChangeRemoteAccessDate()
{
    if (tblUsers.isEmpty())
        return;
    const QDate date = DTP->date();
    if (UpdateFlags(std::nullopt, date))
        SetCurrentRemoteAccess(QString(), date);
}

void TfrmUserRights::DenyRemoteAccess()
{
    if (tblUsers.isEmpty())
        return;
    const QString flags = withFirstFlag(tblUsers.text(QStringLiteral("USER_FLAGS")), QLatin1Char('F'));
    if (UpdateFlags(flags, QDate::currentDate()))
        SetCurrentRemoteAccess(flags, QDate::currentDate());
    LoadUserList(currentUserId());
}

void TfrmUserRights::ForcePasswordChange()
{
    if (tblUsers.isEmpty())
        return;
    try {
        ForceUserPasswordChange(m_dm.db_Sys, currentUserId(), m_lockTimeout);
    } catch (const std::exception& e) {
        ReportError(e);
    }
}

void TfrmUserRights::Sort(bool ascending)
{
    const int field = grid->gridModel().fieldOf(grid->selectedColumn());
    if (field < 0)
        return;
    tblUsers.sortBy(field, ascending);
}

void TfrmUserRights::ShowPassword()
{
    if (tblUsers.isEmpty())
        return;
    if (!ExecSqlText(m_dm.WQ, QStringLiteral("select user_fpw from users where user_id =") + QString::number(currentUserId()), false))
        return;
    if (!m_dm.WQ.eof())
        pnlTop->setToolTip(DecodeStoredText(m_dm.WQ.field(0).asString()));
    m_dm.WQ.close();
}

bool TfrmUserRights::eventFilter(QObject* watched, QEvent* event)
{
    if (lv && watched == lv->viewport() && event->type() == QEvent::Resize)
        ShowChooser();
    if (watched == grid->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto mods = static_cast<QMouseEvent*>(event)->modifiers();
        if ((mods & Qt::ControlModifier) && (mods & Qt::ShiftModifier))
            ShowPassword();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

bool TfrmUserRights::OfferToSave()
{
    if (!m_modified)
        return true;
    // Enter saves; Esc keeps everything as it is.
    switch (prompts().askYesNoCancel(Text::LoseChanges, Prompts::Icon::Warning)) {
    case Prompts::Answer::Yes:
        if (!Save())
            return false; // the edits that were not written stay
        break;
    case Prompts::Answer::No:
        break;
    case Prompts::Answer::Cancel:
        return false;
    }
    m_modified = false;
    return true;
}

void TfrmUserRights::Leave()
{
    if (OfferToSave())
        accept();
}

void TfrmUserRights::reject()
{
    // Esc and the window's close button leave the same way as "Изход".
    if (OfferToSave())
        QDialog::reject();
}

void OpenUserRights(TDM& dm, QWidget* parent)
{
    TfrmUserRights window(dm, parent);
    window.exec();
}
