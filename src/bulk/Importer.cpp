#include "Importer.h"

#include "ImportText.h"

#include "core/DataModule.h"
#include "core/SqlOps.h"
#include "core/StoredText.h"
#include "core/TextOps.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "dbman/Provision.h"
#include "users/UserAccounts.h"

#include <optional>

namespace Text = ImportText;

namespace {

// Runs of spaces become one space; the ends are trimmed.
QString collapseSpaces(const QString& text)
{
    QString out;
    out.reserve(text.size());
    bool space = false;
    for (QChar c : text) {
        if (c == QLatin1Char(' ')) {
            space = true;
            continue;
        }
        if (space && !out.isEmpty())
            out += QLatin1Char(' ');
        space = false;
        out += c;
    }
    return out.trimmed();
}

// Where the log shows the reason of a refused row: under the administrators' line.
QString reasonLine(const QString& reason) { return QStringLiteral("    ") + reason; }

} // namespace

QString LowerLatin(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return out;
}

TUserImporter::TUserImporter(TDM& dm, Log log) : m_dm(dm), m_log(std::move(log)) {}

TUserImporter::~TUserImporter() { CloseImportDB(); }

void TUserImporter::remember(qint32 id, const QString& login, const QString& fullName, const QString& domainUser)
{
    // The first user with a key is the one a row finds, as a scan in table order would.
    if (m_known.contains(id))
        return;
    m_known.insert(id);
    auto first = [id](QHash<QString, qint32>& index, const QString& key) {
        if (!key.isEmpty() && !index.contains(key))
            index.insert(key, id);
    };
    first(m_byDomainUser, LowerLatin(domainUser));
    first(m_byLogin, SimilarityKey(login));
    first(m_byRealName, SimilarityKey(fullName));
    m_users.append(id);
}

void TUserImporter::LoadSnapshot()
{
    m_byDomainUser.clear();
    m_byLogin.clear();
    m_byRealName.clear();
    m_users.clear();
    m_known.clear();
    m_madeHere.clear();
    // The mark and the list under the writers' reservation: an id the generator has handed to a
    // row not yet committed would otherwise lie below the mark and outside the list.
    db::Transaction t(m_dm.db_Sys, UserWriteOptions());
    m_mark = UserIdMark(m_dm.db_Sys);
    db::Query q(&m_dm.db_Sys);
    q.setSql(QStringLiteral("select USER_ID, USER_FNM, USER_RNM, USER_DOMAINUSER from USERS"));
    for (q.open(); !q.eof(); q.next())
        remember(qint32(q.field(0).asInt64()), DecodeStoredText(q.field(1).asString()), DecodeStoredText(q.field(2).asString()),
                 q.field(3).asString());
    q.close();
    t.commit();
}

void TUserImporter::CatchUp()
{
    for (const UserRowRead& u : UsersAddedSince(m_dm.db_Sys, m_mark))
        remember(u.id, u.login, u.fullName, u.domainUser);
}

int TUserImporter::ClassByName(const QString& name) const
{
    if (name.trimmed().isEmpty() || !m_app)
        return defaultClass;
    for (int i = 0; i < m_app->ClassCount; ++i)
        if (m_app->Classes[i].FullName.compare(name, Qt::CaseInsensitive) == 0)
            return m_app->Classes[i].ClassIdx;
    return defaultClass;
}

bool TUserImporter::ConnectImportDB(const QString& serverPath)
{
    CloseImportDB();
    if (!m_app)
        return false;
    // The route of the users window: the connection text decides the kind of database; the
    // application's own login and procedure serve its Firebird databases.
    auto route = std::make_unique<TProvisionRoute>(serverPath, ProvisionLogin{m_app->AliasUser, m_app->AliasPassword, m_app->AliasProc});
    try {
        route->Open();
    } catch (const std::exception& e) {
        m_log(Text::ConnectionProblem + QLatin1Char('\r') + QStringLiteral("Грешка при свързване към БД (") + serverPath +
              QStringLiteral(")\r") + db::errorMessage(e));
        return false;
    }
    m_route = std::move(route);
    return true;
}

void TUserImporter::CloseImportDB() { m_route.reset(); }

bool TUserImporter::importDbConnected() const { return m_route && m_route->isOpen(); }

int TUserImporter::findExisting(const QString& login, const QString& fullName, QString& shownName) const
{
    if (options.domainUser)
        if (auto it = m_byDomainUser.constFind(LowerLatin(login)); it != m_byDomainUser.cend()) {
            shownName = login;
            return *it;
        }
    if (const QString k = SimilarityKey(login); !k.isEmpty())
        if (auto it = m_byLogin.constFind(k); it != m_byLogin.cend()) {
            shownName = login;
            return *it;
        }
    if (const QString k = SimilarityKey(fullName); !k.isEmpty())
        if (auto it = m_byRealName.constFind(k); it != m_byRealName.cend()) {
            shownName = fullName;
            return *it;
        }
    return 0;
}

RowResult TUserImporter::ImportUser(const QString& login, const QString& password, int classIdx, const QString& fullName)
{
    const QString L = login.trimmed();
    const QString P = password.trimmed();
    const QString R = collapseSpaces(fullName);
    const bool giveRight = m_app && classIdx > 0;
    RowResult r;
    QString provisionName = R;
    bool provision = giveRight;
    try {
        // The row is one transaction that reserves USERS and LINKS: another run (or
        // administrator) creating users waits until this row ends, and this row sees what the
        // others created before it, so that nobody gets a login name twice.
        std::optional<db::Transaction> t;
        if (!options.preview)
            t.emplace(m_dm.db_Sys, UserWriteOptions());
        CatchUp();
        QString shown;
        qint32 id = findExisting(L, R, shown);
        if (id != 0) {
            m_log(Text::UserExists.arg(shown).arg(id));
            r.userId = id > 0 ? id : 0;
            if (options.skipExisting) {
                r.outcome = RowResult::Skipped;
                r.reason = id > 0 ? QStringLiteral("exists (%1)").arg(id) : QStringLiteral("exists (an earlier row's user)");
                // A user who holds the right is provisioned again: the procedure adds or updates,
                // so a second run completes one that was cut short after the user's commit.
                provision = false;
                if (m_app && id > 0 && m_route && !m_madeHere.contains(id)) {
                    db::Query q(&m_dm.db_Sys);
                    q.setSql(QStringLiteral("select u.user_rnm from users u join links l on l.lnk_usr = u.user_id "
                                            "where u.user_id = :id and l.lnk_aplid = :apl"));
                    q.setParam(QStringLiteral("id"), id);
                    q.setParam(QStringLiteral("apl"), m_app->AplId);
                    q.open();
                    if (!q.eof()) {
                        provision = true;
                        provisionName = DecodeStoredText(q.field(0).asString());
                    }
                }
            } else {
                const std::optional<QString> fnm =
                    options.changeUserName ? std::optional<QString>(EncodeStoredText(L, QStringLiteral("Потребителското име"))) : std::nullopt;
                const QString rnm = EncodeStoredText(R, QStringLiteral("Името"));
                // The user and the right are one write: a run stopped between them would leave a
                // refreshed user without the right, and a second run would skip him.
                if (t && id > 0) {
                    WriteUserNames(m_dm.db_Sys, id, fnm, rnm);
                    if (giveRight)
                        GrantRight(m_dm.db_Sys, id, m_app->AplId, classIdx);
                }
                r.outcome = RowResult::Refreshed;
            }
        } else {
            const NewUserRow row{EncodeStoredText(L, QStringLiteral("Потребителското име")), EncodeStoredText(P, QStringLiteral("Паролата")),
                                 EncodeStoredText(R, QStringLiteral("Името")), options.domainUser ? L : QString()};
            if (!t) {
                id = m_nextPreviewId--;
            } else {
                id = InsertUser(m_dm.db_Sys, row);
                if (giveRight)
                    GrantRight(m_dm.db_Sys, id, m_app->AplId, classIdx);
            }
            // A later row naming the same person finds this one.
            remember(id, L, R, options.domainUser ? L : QString());
            m_madeHere.insert(id);
            r.userId = id > 0 ? id : 0;
            r.outcome = RowResult::Created;
        }
        if (t)
            t->commit();
    } catch (const std::exception& e) {
        m_log(Text::AddFailed + L);
        m_log(reasonLine(db::errorMessage(e)));
        r.outcome = RowResult::Refused;
        r.reason = db::errorMessage(e);
        return r;
    }
    // Every row that should reach the application database tries, also after the connection
    // was lost, and says so when it does not.
    if (provision && m_route) {
        QString error;
        if (!ProvisionImported(r.userId, provisionName, &error))
            r.provisionError = error;
    }
    return r;
}

bool TUserImporter::ProvisionImported(qint32 userId, const QString& fullName, QString* error)
{
    try {
        if (!m_route)
            throw db::Error(Text::ConnectionProblem);
        if (options.preview) {
            // A preview's new user has no id yet: only the connection and the procedure are checked.
            if (userId > 0)
                if (const QString refusal = m_route->IdDoesNotFit(userId); !refusal.isEmpty())
                    throw db::Error(refusal);
            return true;
        }
        m_route->Provision(userId, fullName);
        return true;
    } catch (const std::exception& e) {
        const QString message = db::errorMessage(e);
        m_log(Text::ProvisionFailed1 + QString::number(userId) + QStringLiteral(", ") + Text::ProvisionFailed2 + fullName +
              QLatin1Char(' ') + Text::ProvisionFailed3 + message);
        if (error)
            *error = message;
        return false;
    }
}

bool TUserImporter::ImportRows(const QList<ImportRow>& rows, bool workbook, const std::function<void(int)>& progress,
                               QList<std::pair<ImportRow, RowResult>>* results)
{
    int done = 0;
    for (const ImportRow& row : rows) {
        try {
            RowResult r;
            const QString login = row.login.trimmed();
            const QString name = row.fullName.trimmed();
            // Why the row must not be written, whatever file it came from: checked before
            // anything of it is.
            const QString fault = !row.unreadable.isEmpty() ? row.unreadable : ForbiddenCharacterIn(row);
            if (!row.unreadable.isEmpty()) {
                m_log(Text::RowRefused.arg(row.number).arg(fault));
                r.outcome = RowResult::Refused;
                r.reason = fault;
            } else if (workbook && !name.isEmpty() && name.compare(Text::HeaderName, Qt::CaseInsensitive) == 0) {
                r.outcome = RowResult::Skipped;
                r.reason = QStringLiteral("header row");
            } else if (login.isEmpty() || name.isEmpty()) {
                // A workbook's empty rows are skipped quietly; a text file's blank line is said.
                if (!workbook)
                    m_log(Text::EmptyRow.arg(row.number));
                r.outcome = RowResult::Skipped;
                r.reason = QStringLiteral("no login name or full name");
            } else if (!fault.isEmpty()) {
                m_log(Text::RowRefused.arg(row.number).arg(fault));
                r.outcome = RowResult::Refused;
                r.reason = fault;
            } else {
                const QString password = row.password.trimmed().isEmpty() ? options.defaultPassword : row.password;
                r = ImportUser(row.login, password, ClassByName(row.className), row.fullName);
            }
            if (results)
                results->append({row, r});
            ++done;
            if (progress)
                progress(done);
        } catch (const std::exception& e) {
            m_log(Text::RunStopped.arg(row.number).arg(db::errorMessage(e)));
            return false;
        }
    }
    return true;
}
