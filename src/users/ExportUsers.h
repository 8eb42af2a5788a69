#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <stdexcept>

namespace db {
class Database;
}

// Data of the system database that an export file cannot carry: the export ends and no file
// is written.
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString& message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString& message() const { return m_message; }

private:
    QString m_message;
};

// Standard Base64 (RFC 4648, padded, no line breaks) of the bytes.
QString EncodeBase64(const QByteArray& bytes);

// The level a class name stands for: the digit after "user", or 1 for "admn..." (case ignored).
// Any other name throws ExportError.
int ClassLevel(const QString& className);

// The value of an application attribute: the class name, or for HUB the HUB role of its level.
// aplName and className are stored forms, as read from APPLICATIONS and CLASS.
QString MapClassForExport(const QString& aplName, const QString& className, bool forHub);

// The attribute of the XML user document that holds the class in a (decoded) application, or
// empty for an application the document has none for.
QString ExportAttribute(const QString& aplName);

// The XML user document of every user of USERS, as its file holds it. Reads the users and
// their rights in one transaction of the database. Throws ExportError or db::Error.
QByteArray UsersXmlDocument(db::Database& sys, bool forHub);

// A row of resolver data in an application database: the first row read for a user's id.
struct ResolverRow {
    QString sdText;
    QString destTxt;
    QString resPost;
};
using ResolverData = QHash<qint64, ResolverRow>;
// Runs the resolver query on an application database. Throws db::Error.
ResolverData ReadResolverData(db::Database& appDb);

// A user of the users window's list, in the list's order.
struct ExportListUser {
    int id = 0;
    QString login;
    QString fullName;
};

// The text export of the listed users, cp1251 with CR LF after every line: one resolver line
// for a user the resolver data knows, else one line per application of the rights list the
// user holds a class in. resolvers may be null (no resolver data). Throws db::Error.
QByteArray UsersTextDocument(db::Database& sys, const QList<ExportListUser>& users, const ResolverData* resolvers);

// Writes the whole file or nothing: an existing file stays as it was until the new one is
// complete. Throws InputError naming the file.
void WriteExportFile(const QString& path, const QByteArray& bytes);
