#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <QHash>

#include <functional>
#include <memory>

namespace db {
class Database;
}

// A full name cut into words: three words give (1, 2, 3), two give (1, "", 2), any other number
// the whole collapsed text as first name.
struct NameWords {
    QString first;
    QString middle;
    QString last;
};
NameWords SplitNameWords(const QString& text);

struct TExistingUser {
    qint32 id = 0;
    QString loginName;
    QString fullName;
    QString firstName;
    QString middleName;
    QString lastName;
    bool matched = false;
};

// The users of the system database, read with one query, for one run of the special import.
class TExistingUserList {
public:
    TExistingUserList();
    ~TExistingUserList();
    TExistingUserList(const TExistingUserList&) = delete;
    TExistingUserList& operator=(const TExistingUserList&) = delete;

    void load(db::Database& sys);
    // Adds a user made during the run, marked matched: its login name is taken from then on.
    void addCreated(qint32 id, const QString& loginName, const QString& fullName);
    // Adds an existing user (load does it for each row).
    void append(qint32 id, const QString& loginName, const QString& fullName, bool matched);

    const QList<TExistingUser>& users() const { return m_users; }
    TExistingUser& operator[](int index) { return m_users[index]; }

    // Pass 1, then pass 2, over the users not yet matched, in list order; -1 when none. Names
    // compare with the case of A to Z ignored and every other character exact.
    int MatchExisting(const QString& line, const NameWords& words, bool& partial);
    // The first user whose login name is exactly that one, or -1.
    int LoginInUse(const QString& loginName) const;

private:
    struct Index;
    QList<TExistingUser> m_users;
    std::unique_ptr<Index> m_byFullName;
    std::unique_ptr<Index> m_byNames;
    std::unique_ptr<Index> m_byFirstLast;
    std::unique_ptr<Index> m_byFirstLastNoMiddle;
    QHash<QString, int> m_logins;
};

// The initial password of the users the special import creates.
inline const QString kSpecialImportPassword = QStringLiteral("8316");

// Reconciles the names (one per line) with the users of the system database: reports or
// completes the matching users and creates the others. Each message is passed to log.
// A database error ends the run at that line: it is raised as db::Error whose message names the
// line's number; the lines before it stay done.
void RunSpecialImport(db::Database& sys, const QStringList& lines, const std::function<void(const QString&)>& log);

// The names of a file for the special import: the lines of a text file (UTF-8 or windows-1251,
// as the import reads them), or column A of the rows of a workbook's first sheet (.xls, .xlsx,
// .ods, read as the import reads them). The log is told how a text file was read. Throws
// InputError when the file cannot be read; a database error as RunSpecialImport.
void RunSpecialImportFile(db::Database& sys, const QString& path, const std::function<void(const QString&)>& log);
