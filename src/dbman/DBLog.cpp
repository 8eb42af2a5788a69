#include "DBLog.h"

#include "DBParams.h"

#include "db/Error.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>

#include <memory>
#include <mutex>

namespace {

struct LogState {
    bool enabled = false;
    DBLogState::Sink sink;
    QString tag1;
    QString tag2;
};

LogState& state()
{
    static LogState s;
    return s;
}

// The environment switch is read once, at the first write, so that a program that never
// sets it pays only this check.
void readEnvironmentOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (!state().sink) {
            try {
                DBLogState::openFromEnvironment();
            } catch (const std::exception&) {
                // A log that cannot be written must not fail the database work.
            }
        }
    });
}

bool on()
{
    readEnvironmentOnce();
    const LogState& s = state();
    return s.enabled && s.sink;
}

void write(const QString& line) { state().sink(line); }

QString withheld(const QString& text)
{
    return HoldsPassword(text) ? QStringLiteral("<withheld: holds a password>") : text;
}

bool namesPassword(const QString& name)
{
    return name.contains(QLatin1String("passw"), Qt::CaseInsensitive) || name.contains(QLatin1String("pwd"), Qt::CaseInsensitive);
}

} // namespace

namespace DBLogState {

void setSink(Sink sink) { state().sink = std::move(sink); }
void setEnabled(bool enabled) { state().enabled = enabled; }
bool enabled() { return on(); }
void setTags(const QString& tag1, const QString& tag2)
{
    state().tag1 = tag1;
    state().tag2 = tag2;
}

void openFile(const QString& path)
{
    auto file = std::make_shared<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        throw db::Error(QStringLiteral("Файлът на дневника %1 не може да бъде отворен: %2").arg(path, file->errorString()));
    auto lock = std::make_shared<std::mutex>();
    state().sink = [file, lock](const QString& line) {
        const std::lock_guard<std::mutex> guard(*lock);
        file->write(line.toUtf8());
        file->write("\n");
        file->flush(); // a crash keeps every line written before it
    };
    state().enabled = true;
}

void openFromEnvironment()
{
    const QString path = qEnvironmentVariable("GATEKEEP_DBLOG");
    if (!path.isEmpty())
        openFile(path);
}

void reset()
{
    readEnvironmentOnce(); // so that a later first write does not switch it back on
    state() = LogState{};
}

} // namespace DBLogState

QString DBLogPrefix()
{
    const LogState& s = state();
    return QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz ")) + s.tag1 + QLatin1Char(' ') + s.tag2 +
           QLatin1Char('-');
}

QString DBLogMarkText(int kind)
{
    static const char* const texts[] = {" Unknown Action", " Enter In", " Exit", " Finish Successfully",
                                        " Finish with error", " Created", " Destroed"};
    return QString::fromLatin1(texts[kind >= 0 && kind <= 6 ? kind : 0]);
}

void DBLog(const QString& msg)
{
    if (on())
        write(DBLogPrefix() + QStringLiteral(" : ") + withheld(msg));
}

void DBLogValue(const QString& msg, const QString& value)
{
    if (on())
        write(DBLogPrefix() + QStringLiteral(" : ") + withheld(msg) + QStringLiteral(" : ") + withheld(value));
}

void DBLogException(const QString& msg, const std::exception& e)
{
    if (on())
        write(DBLogPrefix() + QStringLiteral(" : ") + withheld(msg) + QStringLiteral(" exception : ") + withheld(db::errorMessage(e)));
}

void DBLogMark(const QString& msg, int kind)
{
    if (on())
        write(DBLogPrefix() + QStringLiteral(" : ") + withheld(msg) + QStringLiteral(" : ") + DBLogMarkText(kind));
}

void DBLogSqlParams(const QString& sql, const TParams* params)
{
    if (!on())
        return;
    write(QStringLiteral("SQL > ") + withheld(sql) + QStringLiteral("\r\nPrms :"));
    if (!params)
        return;
    for (const TParam& p : *params) {
        QString value;
        if (p.DataType == TFieldType::ftBlob)
            value = QStringLiteral("<blob>");
        else if (namesPassword(p.Name))
            value = QStringLiteral("<hidden>");
        else
            value = withheld(p.AsString());
        write(QLatin1Char('[') + FieldTypeName(p.DataType) + QLatin1Char(':') + ParamTypeWord(p.ParamType) + QStringLiteral("] : ") +
              p.Name + QStringLiteral(" = ") + value);
    }
}

bool HoldsPassword(const QString& text)
{
    // "PASSWORD=x" of a parameter list, "password=x" of a connection text, "Pwd = x".
    static const QRegularExpression re(QStringLiteral("(passw\\w*|pwd)\\s*="), QRegularExpression::CaseInsensitiveOption);
    return re.match(text).hasMatch();
}
