#include "DomainAccounts.h"

#include "UserAccounts.h"
#include "UserRights.h"

#include "core/DataModule.h"
#include "core/Policy.h"
#include "core/Prompts.h"
#include "core/StoredText.h"

#include "db/Cp1251.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"

#include <QAction>
#include <QCheckBox>
#include <QCollator>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace Text = DomainAccountsText;

namespace {

// An index below n from the system's secure source, without the bias of a plain modulo.
int secureIndex(int n)
{
    const quint32 limit = std::numeric_limits<quint32>::max() - std::numeric_limits<quint32>::max() % quint32(n);
    quint32 v;
    do
        v = QRandomGenerator::system()->generate();
    while (v >= limit);
    return static_cast<int>(v % quint32(n));
}

const int kAccountRole = Qt::UserRole + 1;

} // namespace

QString GeneratedPassword()
{
    // The kinds the password policy can require; the symbols are those of its list.
    static const QString kinds[] = {
        QStringLiteral("0123456789"),
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"),
        QStringLiteral("abcdefghijklmnopqrstuvwxyz"),
        QStringLiteral("!@#$%^&*()|-_,.<>~"),
    };
    static const QString all = kinds[0] + kinds[1] + kinds[2] + kinds[3];
    constexpr int length = 20;
    QString pw;
    pw.reserve(length);
    for (const QString& k : kinds)
        pw += k[secureIndex(static_cast<int>(k.size()))];
    while (pw.size() < length)
        pw += all[secureIndex(static_cast<int>(all.size()))];
    for (int i = length - 1; i > 0; --i) // so that the guaranteed kinds sit anywhere
        std::swap(pw[i], pw[secureIndex(i + 1)]);
    return pw;
}

TDomainAccounts::TDomainAccounts(TfrmUserRights& window, TDM& dm, QWidget* panel)
    : QObject(panel), m_window(window), m_dm(dm)
{
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    edDomainUsers = new QLineEdit(panel);
    edDomainUsers->setObjectName(QStringLiteral("edDomainUsers"));
    edDomainUsers->setClearButtonEnabled(true);
    lbDomainUsers = new QListWidget(panel);
    lbDomainUsers->setObjectName(QStringLiteral("lbDomainUsers"));
    auto* buttons = new QHBoxLayout;
    SpeedButton2 = new QPushButton(Text::FillIn, panel);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setToolTip(Text::FillInHint);
    sbGeneratePass = new QPushButton(Text::GeneratePass, panel);
    sbGeneratePass->setObjectName(QStringLiteral("sbGeneratePass"));
    sbGeneratePass->setToolTip(Text::GeneratePassHint);
    cbResetPassAll = new QCheckBox(Text::ResetPassAll, panel);
    cbResetPassAll->setObjectName(QStringLiteral("cbResetPassAll"));
    cbResetPassAll->setToolTip(Text::ResetPassAllHint);
    buttons->addWidget(SpeedButton2);
    buttons->addWidget(sbGeneratePass);
    buttons->addWidget(cbResetPassAll);
    buttons->addStretch();
    layout->addWidget(edDomainUsers);
    layout->addWidget(lbDomainUsers, 1);
    layout->addLayout(buttons);

    N1 = window.gridMenu->addAction(Text::ClearBinding);
    N1->setObjectName(QStringLiteral("N1"));
    N1->setVisible(false);

    connect(edDomainUsers, &QLineEdit::textChanged, this, &TDomainAccounts::Filter);
    connect(lbDomainUsers, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        if (item && m_window.currentUserId() != 0)
            BindDomainAccount(m_window.currentUserId(), accountOf(lbDomainUsers->row(item)));
    });
    connect(N1, &QAction::triggered, this, &TDomainAccounts::ClearBinding);
    connect(SpeedButton2, &QPushButton::clicked, this, &TDomainAccounts::FillInBindings);
    connect(sbGeneratePass, &QPushButton::clicked, this, &TDomainAccounts::SetGeneratedPasswords);
}

TDomainAccounts::~TDomainAccounts() = default;

void TDomainAccounts::LoadDomainUsers()
{
    const bool allowed = DomainLogonAllowed();
    N1->setVisible(allowed);
    if (!allowed)
        return;
    m_info = std::make_unique<TADomainUserInfo>(GetProcessOwner().domain);
    m_byName.clear();
    m_sorted.clear();
    for (int i = 0; i < m_info->count(); ++i) {
        m_sorted.append(i);
        m_byName.insert(m_info->account(i).Name.toCaseFolded(), i); // names are unique in a domain
    }
    QCollator byName;
    byName.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(m_sorted.begin(), m_sorted.end(),
                     [&](int a, int b) { return byName.compare(m_info->displayName(a), m_info->displayName(b)) < 0; });
    Filter();
}

void TDomainAccounts::Filter()
{
    lbDomainUsers->clear();
    if (!m_info)
        return;
    const QString text = edDomainUsers->text();
    const bool everyone = text.trimmed().isEmpty();
    for (int i : m_sorted) {
        const QString name = m_info->displayName(i);
        if (everyone || name.contains(text, Qt::CaseInsensitive)) {
            auto* item = new QListWidgetItem(name, lbDomainUsers);
            item->setData(kAccountRole, i);
        }
    }
}

const DomainAccount& TDomainAccounts::accountOf(int listRow) const
{
    return m_info->account(lbDomainUsers->item(listRow)->data(kAccountRole).toInt());
}

void TDomainAccounts::BindDomainAccount(int userId, const DomainAccount& account)
{
    // USERS holds cp1251: a name it cannot hold is refused by name, never written as '?'.
    for (const QString& value : {account.Domain, account.Name, account.SID}) {
        QByteArray bytes;
        qsizetype position = 0;
        if (!cp1251::tryEncode(value, bytes, nullptr, &position)) {
            prompts().message(Text::NotCp1251.arg(account.Name, cp1251::refusal(value, position)), Prompts::Icon::Error);
            return;
        }
    }
    try {
        // The check and the write under one reservation of USERS: two administrators binding
        // two users to one account at once cannot both pass the check.
        if (!::BindDomainAccount(m_dm.db_Sys, userId, account.Domain, account.Name, account.SID, m_lockTimeout)) {
            prompts().message(Text::TwoUsersOneAccount, Prompts::Icon::Warning);
            return;
        }
    } catch (const std::exception& e) {
        prompts().message(Text::BindFailed + db::errorMessage(e), Prompts::Icon::Error);
    }
    m_window.LoadUserList(userId);
}

void TDomainAccounts::ClearBinding()
{
    const int id = m_window.currentUserId();
    if (id == 0)
        return;
    try {
        ::BindDomainAccount(m_dm.db_Sys, id, QStringLiteral(""), QStringLiteral(""), QStringLiteral(""), m_lockTimeout);
    } catch (const std::exception& e) {
        prompts().message(Text::BindFailed + db::errorMessage(e), Prompts::Icon::Error);
    }
    m_window.LoadUserList(id);
}

void TDomainAccounts::FillInBindings()
{
    if (!m_info)
        return;
    TMemDataSet& users = m_window.tblUsers;
    const int idField = users.fieldIndex(QStringLiteral("USER_ID"));
    const int nameField = users.fieldIndex(QStringLiteral("USER_DOMAINUSER"));
    if (idField < 0 || nameField < 0)
        return;
    for (int row = 0; row < users.recordCount(); ++row) {
        const QString name = users.textAt(row, nameField);
        if (name.isEmpty())
            continue;
        const auto found = m_byName.constFind(name.toCaseFolded());
        if (found == m_byName.cend())
            continue;
        const int id = users.valueAt(row, idField).toInt();
        BindDomainAccount(id, m_info->account(*found));
        // The list was read again; the walk goes on after the user just bound.
        if (users.value(idField).toInt() == id)
            row = users.recNo();
    }
}

void TDomainAccounts::SetGeneratedPasswords()
{
    const bool all = cbResetPassAll->isChecked();
    if (!prompts().confirm(all ? Text::ConfirmAll : Text::ConfirmBound, Prompts::Icon::Warning, Prompts::Answer::No))
        return;
    const TMemDataSet& users = m_window.tblUsers;
    const int idField = users.fieldIndex(QStringLiteral("USER_ID"));
    const int sidField = users.fieldIndex(QStringLiteral("USER_DOMAINSID"));
    const int nameField = users.fieldIndex(QStringLiteral("USER_DOMAINUSER"));
    if (idField < 0 || sidField < 0 || nameField < 0)
        return;
    QList<int> ids;
    for (int row = 0; row < users.recordCount(); ++row) {
        const int id = users.valueAt(row, idField).toInt();
        if (id < 3) // the suite's own administrators keep the passwords they know
            continue;
        if (!all && (users.textAt(row, sidField).trimmed().isEmpty() || users.textAt(row, nameField).trimmed().isEmpty()))
            continue;
        ids.append(id);
    }
    if (ids.isEmpty())
        return;

    int failed = 0;
    try {
        // One transaction: a kill leaves every password as it was or every one changed. A
        // statement that fails leaves the others in place and is counted.
        // USERS is not reserved: a user another administrator holds fails alone.
        db::Transaction t(m_dm.db_Sys, db::TransactionOptions{.protectedWrite = {}, .lockTimeout = m_lockTimeout});
        for (int id : ids) {
            try {
                if (!WriteUserPassword(m_dm.db_Sys, id, EncodeStoredText(GeneratedPassword())))
                    ++failed; // deleted meanwhile
            } catch (const std::exception& e) {
                ++failed;
                qCWarning(lcDirectory).noquote() << QStringLiteral("Паролата на потребител %1 не е сменена: %2").arg(id).arg(db::errorMessage(e));
            }
        }
        t.commit();
    } catch (const std::exception& e) {
        failed = static_cast<int>(ids.size());
        qCWarning(lcDirectory).noquote() << QStringLiteral("Паролите не са сменени: %1").arg(db::errorMessage(e));
    }
    if (failed > 0)
        prompts().message(Text::PasswordsFailed.arg(failed).arg(ids.size()), Prompts::Icon::Error);
}
