#include "SpecialImport.h"

#include "ImportSource.h"
#include "ImportText.h"
#include "Workbook.h"

#include "core/StoredText.h"
#include "db/Database.h"
#include "db/Error.h"
#include "db/Query.h"
#include "users/UserAccounts.h"

namespace Text = ImportText;

namespace {

// Names compare with the case of A to Z ignored, and every other letter as it stands.
QString foldLatin(const QString& text)
{
    QString out = text;
    for (QChar& c : out)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    return out;
}

QString key(const QString& a, const QString& b, const QString& c = {})
{
    return foldLatin(a) + QChar(0x1F) + foldLatin(b) + QChar(0x1F) + foldLatin(c);
}

QString initial(const QString& word) { return word.left(1).toUpper(); }

} // namespace

NameWords SplitNameWords(const QString& text)
{
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() == 3)
        return {words[0], words[1], words[2]};
    if (words.size() == 2)
        return {words[0], {}, words[1]};
    // Only spaces separate words: other blanks stay part of the text.
    return {words.join(QLatin1Char(' ')), {}, {}};
}

// Every index lists users in list order; a cursor skips the ones already matched, which stay
// matched, so that each lookup costs about one step and a run stays linear.
struct TExistingUserList::Index {
    struct Entry {
        QList<int> users;
        int cursor = 0;
    };
    QHash<QString, Entry> map;

    void add(const QString& k, int user) { map[k].users.append(user); }
    int firstUnmatched(const QString& k, const QList<TExistingUser>& all)
    {
        const auto it = map.find(k);
        if (it == map.end())
            return -1;
        Entry& e = *it;
        while (e.cursor < e.users.size() && all[e.users[e.cursor]].matched)
            ++e.cursor;
        return e.cursor < e.users.size() ? e.users[e.cursor] : -1;
    }
};

TExistingUserList::TExistingUserList()
    : m_byFullName(std::make_unique<Index>()), m_byNames(std::make_unique<Index>()), m_byFirstLast(std::make_unique<Index>()),
      m_byFirstLastNoMiddle(std::make_unique<Index>())
{
}

TExistingUserList::~TExistingUserList() = default;

void TExistingUserList::append(qint32 id, const QString& loginName, const QString& fullName, bool matched)
{
    const NameWords w = SplitNameWords(fullName);
    const int i = int(m_users.size());
    m_users.append({id, loginName, fullName, w.first, w.middle, w.last, matched});
    m_byFullName->add(foldLatin(fullName), i);
    m_byNames->add(key(w.first, w.middle, w.last), i);
    m_byFirstLast->add(key(w.first, w.last), i);
    if (w.middle.isEmpty())
        m_byFirstLastNoMiddle->add(key(w.first, w.last), i);
    if (!m_logins.contains(loginName))
        m_logins.insert(loginName, i);
}

void TExistingUserList::load(db::Database& sys)
{
    db::Query q(&sys);
    q.setSql(QStringLiteral("select USER_ID, USER_FNM, USER_RNM from USERS"));
    for (q.open(); !q.eof(); q.next())
        append(qint32(q.field(0).asInt64()), DecodeStoredText(q.field(1).asString()), DecodeStoredText(q.field(2).asString()), false);
    q.close();
}

void TExistingUserList::addCreated(qint32 id, const QString& loginName, const QString& fullName)
{
    append(id, loginName, fullName, true);
}

int TExistingUserList::MatchExisting(const QString& line, const NameWords& words, bool& partial)
{
    partial = false;
    const int byFull = m_byFullName->firstUnmatched(foldLatin(line), m_users);
    const int byNames = m_byNames->firstUnmatched(key(words.first, words.middle, words.last), m_users);
    if (byFull >= 0 || byNames >= 0)
        return byFull < 0 ? byNames : byNames < 0 ? byFull : std::min(byFull, byNames);
    const int byFirstLast = words.middle.isEmpty() ? m_byFirstLast->firstUnmatched(key(words.first, words.last), m_users)
                                                   : m_byFirstLastNoMiddle->firstUnmatched(key(words.first, words.last), m_users);
    partial = byFirstLast >= 0;
    return byFirstLast;
}

int TExistingUserList::LoginInUse(const QString& loginName) const { return m_logins.value(loginName, -1); }

void RunSpecialImport(db::Database& sys, const QStringList& lines, const std::function<void(const QString&)>& log)
{
    TExistingUserList list;
    list.load(sys);
    for (int n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        const NameWords words = SplitNameWords(line);
        if (words.first.isEmpty() || words.last.isEmpty())
            continue;
        bool partial = false;
        const int match = list.MatchExisting(line, words, partial);
        if (match >= 0) {
            TExistingUser& user = list[match];
            user.matched = true;
            if (!partial) {
                log(Text::SpecialFullMatch.arg(line, user.fullName, user.loginName));
                continue;
            }
            if (!user.middleName.isEmpty())
                continue;
            QString stored;
            try {
                stored = EncodeStoredText(line, QStringLiteral("Името"));
            } catch (const std::exception& e) {
                log(QStringLiteral("%1: %2").arg(line, db::errorMessage(e)));
                continue;
            }
            try {
                SetUserFullName(sys, user.id, stored);
            } catch (const std::exception& e) {
                throw db::Error(QStringLiteral("Ред %1: %2").arg(n + 1).arg(db::errorMessage(e)));
            }
            user.fullName = line;
            user.middleName = words.middle;
            log(Text::SpecialMiddleAdded.arg(line));
            continue;
        }

        const QString rest = words.last.mid(1).toLower();
        QString login = initial(words.first) + initial(words.last) + rest;
        if (list.LoginInUse(login) >= 0) {
            login = words.middle.isEmpty() ? QString() : initial(words.first) + initial(words.middle) + initial(words.last) + rest;
            if (login.isEmpty() || list.LoginInUse(login) >= 0) {
                log(Text::SpecialNoLogin.arg(line));
                continue;
            }
        }
        QString fnm, fpw, rnm;
        try {
            fnm = EncodeStoredText(login, QStringLiteral("Потребителското име"));
            fpw = EncodeStoredText(kSpecialImportPassword);
            rnm = EncodeStoredText(line, QStringLiteral("Името"));
        } catch (const std::exception& e) {
            log(QStringLiteral("%1: %2").arg(line, db::errorMessage(e)));
            continue;
        }
        qint32 id = 0;
        try {
            db::Transaction t(sys, UserWriteOptions());
            id = InsertUser(sys, {fnm, fpw, rnm, {}});
            t.commit();
        } catch (const std::exception& e) {
            throw db::Error(QStringLiteral("Ред %1: %2").arg(n + 1).arg(db::errorMessage(e)));
        }
        // A namesake further down must not get the same login name.
        list.addCreated(id, login, line);
        log(Text::SpecialCreated.arg(line));
    }
}

void RunSpecialImportFile(db::Database& sys, const QString& path, const std::function<void(const QString&)>& log)
{
    QStringList lines;
    if (IsWorkbookFile(path)) {
        // Column A holds the names; a name the file cannot show is said, not dropped.
        for (const ImportRow& row : ReadWorkbook(path)) {
            if (row.login.isEmpty() && !row.unreadable.isEmpty())
                log(Text::RowRefused.arg(row.number).arg(row.unreadable));
            lines << row.login;
        }
    } else {
        const ImportTextFile file = ReadImportTextFile(path);
        log(ImportEncodingNote(file.encoding));
        lines = file.lines;
    }
    RunSpecialImport(sys, lines, log);
}
