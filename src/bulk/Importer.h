#pragma once

#include "ImportSource.h"

#include "db/Connection.h"
#include "users/UserAccounts.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

class TDM;
class TProvisionRoute;

// What the administrator chose for one import run.
struct ImportOptions {
    QString defaultPassword = QStringLiteral("579");
    bool skipExisting = true;   // existing users keep their names and rights
    bool domainUser = false;    // login names are directory account names
    bool changeUserName = false; // an existing user takes the file's login name
    bool preview = false;       // say what each row would do; write nothing anywhere
};

// What became of one row.
struct RowResult {
    enum Outcome { Created, Refreshed, Skipped, Refused };
    Outcome outcome = Refused;
    qint32 userId = 0;      // 0 when no user was found or made (or a preview's new user)
    QString reason;         // Skipped and Refused: why
    QString provisionError; // the row's user was written but the application database was not
};

// Creates or refreshes the users of rows of an import file in the system database, gives them a
// class in one application, and provisions them into that application's database. Every message
// goes to the log callback with the texts the administrators know.
class TUserImporter {
public:
    using Log = std::function<void(const QString&)>;

    TUserImporter(TDM& dm, Log log);
    ~TUserImporter();
    TUserImporter(const TUserImporter&) = delete;
    TUserImporter& operator=(const TUserImporter&) = delete;

    ImportOptions options;

    // The existing users, read with one query; the run adds the users it creates. Throws.
    void LoadSnapshot();
    int snapshotSize() const { return m_users.size(); }

    // The application that receives rights (nullptr: none) and its default class (-1: none).
    void setApplication(const ApplicationEntry* app) { m_app = app; }
    const ApplicationEntry* application() const { return m_app; }
    int defaultClass = -1;
    // The class whose whole name is name, case ignored; the default class when the name is empty
    // (after trimming) or unknown. The name is compared as it stands.
    int ClassByName(const QString& name) const;

    // Connects the application database at serverPath with the application's login and points the
    // user procedure at it. A failure is logged; returns whether it worked.
    bool ConnectImportDB(const QString& serverPath);
    void CloseImportDB();
    bool importDbConnected() const;

    // One row: login L, password P, class C, full name R.
    RowResult ImportUser(const QString& login, const QString& password, int classIdx, const QString& fullName);
    // The user procedure of the application database for one user; a failure is logged.
    bool ProvisionImported(qint32 userId, const QString& fullName, QString* error = nullptr);

    // Imports the rows in order; workbook rows follow the spreadsheet's skipping rules. progress
    // is called after each row with the number done (and may process events); results, when
    // given, receives each row's result. A row holding a control character is refused before
    // anything of it is written. An error that escapes a row is logged with the row's number and
    // ends the run: returns false then.
    bool ImportRows(const QList<ImportRow>& rows, bool workbook, const std::function<void(int)>& progress,
                    QList<std::pair<ImportRow, RowResult>>* results = nullptr);

private:
    int findExisting(const QString& login, const QString& fullName, QString& shownName) const;
    void remember(qint32 id, const QString& login, const QString& fullName, const QString& domainUser);
    // The users others created since the last look join the indexes.
    void CatchUp();

    TDM& m_dm;
    Log m_log;
    const ApplicationEntry* m_app = nullptr;
    // Keys of the snapshot to the first user that has them.
    QHash<QString, qint32> m_byDomainUser;
    QHash<QString, qint32> m_byLogin;
    QHash<QString, qint32> m_byRealName;
    QList<qint32> m_users;
    QSet<qint32> m_known;
    QSet<qint32> m_madeHere; // made by this run, and provisioned with their row
    qint64 m_mark = 0;          // the id generator's value the indexes are complete up to
    // The application database of this run, connected by ConnectImportDB.
    std::unique_ptr<TProvisionRoute> m_route;
    qint32 m_nextPreviewId = -1; // previews name the users they would make with ids below zero
};

// Latin letters lower-cased, every other character as it stands.
QString LowerLatin(const QString& text);
