#pragma once

#include <QString>

#include <exception>
#include <functional>

class TParams;

// The process-wide diagnostic log of the database managers. Off until a sink is installed and
// the log is enabled; the environment variable GATEKEEP_DBLOG naming a file does both at the
// first write. Lines are written only when it is on, so a manager pays nothing when it is off.
namespace DBLogState {
using Sink = std::function<void(const QString& line)>;
void setSink(Sink sink);
void setEnabled(bool on);
bool enabled();
void setTags(const QString& tag1, const QString& tag2);
// Installs a sink that appends each line to the named file (as UTF-8) and enables the log.
void openFile(const QString& path);
// openFile of the file that GATEKEEP_DBLOG names, if it names one; the first write does it.
void openFromEnvironment();
// Drops the sink and switches the log off (for tests).
void reset();
} // namespace DBLogState

// Marker kinds of DBLogMark; a kind outside 0..6 prints the kind-0 text.
enum TDBLogKind : int {
    lkUnknown = 0,
    lkEnter = 1,
    lkExit = 2,
    lkSuccess = 3,
    lkError = 4,
    lkCreated = 5,
    lkDestroyed = 6,
};

// The prefix of every line but the SQL dump: local time, the two tags and "-".
QString DBLogPrefix();
QString DBLogMarkText(int kind);

void DBLog(const QString& msg);
void DBLogValue(const QString& msg, const QString& value);
void DBLogException(const QString& msg, const std::exception& e);
void DBLogMark(const QString& msg, int kind);
void DBLogSqlParams(const QString& sql, const TParams* params);

// Whether a text holds a name=value pair that names a password; such a text is never logged.
bool HoldsPassword(const QString& text);
