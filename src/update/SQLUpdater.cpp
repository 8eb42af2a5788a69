#include "SQLUpdater.h"

#include "UpdateText.h"

#include "db/Error.h"
#include "ui/MemDataSet.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

#include <optional>

namespace {

// The design reads both names into buffers of 201 bytes.
QString limited(const QString& s) { return s.left(200); }

QString computerName()
{
    const QString h = limited(QSysInfo::machineHostName());
    return h.isEmpty() ? UpdateText::UnknownComputer : h;
}

QString userName()
{
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name && *pw->pw_name)
        return limited(QString::fromLocal8Bit(pw->pw_name));
    const QString u = limited(qEnvironmentVariable("USER"));
    return u.isEmpty() ? UpdateText::UnknownUser : u;
}

// "NAME=value" into the list.
void addSetting(db::ParamList& params, const QString& line)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq > 0)
        params.setValue(line.left(eq).trimmed(), line.mid(eq + 1));
}

// Timestamps go to the database as wall-clock values.
QDateTime wallClock(const QDateTime& local) { return QDateTime(local.date(), local.time(), Qt::UTC); }

} // namespace

const QString TSQLUpdater::SourceConnectionName = QStringLiteral("@_@_@_SRCDB_@_@_@");
const QString TSQLUpdater::TargetConnectionName = QStringLiteral("@_@_@_DESTDB_@_@_@");

const QStringList& TSQLUpdater::DriverSettings()
{
    static const QStringList s{QStringLiteral("SCHEMA CACHE SIZE=8"),     QStringLiteral("LANGDRIVER=ancyrr"),
                               QStringLiteral("SQLQRYMODE="),              QStringLiteral("SQLPASSTHRU MODE=SHARED AUTOCOMMIT"),
                               QStringLiteral("SCHEMA CACHE TIME=-1"),     QStringLiteral("MAX ROWS=-1"),
                               QStringLiteral("BATCH COUNT=200"),          QStringLiteral("ENABLE SCHEMA CACHE=FALSE"),
                               QStringLiteral("SCHEMA CACHE DIR="),        QStringLiteral("ENABLE BCD=FALSE"),
                               QStringLiteral("BLOBS TO CACHE=64"),        QStringLiteral("BLOB SIZE=32")};
    return s;
}

const QString& TSQLUpdater::CheckSqlPattern()
{
    static const QString s = QStringLiteral("select * from %1 where SU_No = :SUN");
    return s;
}

const QString& TSQLUpdater::InsertSqlPattern()
{
    static const QString s = QStringLiteral("insert into %1 (SU_No,SU_date,SU_fileName,SU_FileDate, SU_CompName,SU_UserName, SU_text) ") +
                             QChar('\r') +
                             QStringLiteral("values (:SU_No, 'now', :SU_fileName, :SU_FileDate, :SU_CompName, :SU_UserName, :SU_text)");
    return s;
}

QString TSQLUpdater::FormatDuration(qint64 ms)
{
    const qint64 s = std::max<qint64>(ms, 0) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QDateTime TSQLUpdater::ZeroDate() { return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC); }

TSQLUpdater::TSQLUpdater(const QString& suffix)
    : SourceDB(SourceConnectionName + suffix),
      TargetDB(TargetConnectionName + suffix),
      ExecQuery(&TargetDB),
      CheckQuery(&TargetDB),
      InsertQuery(&TargetDB),
      CompName(computerName()),
      UserName(userName()),
      m_history(std::make_unique<TMemDataSet>())
{
    ExecQuery.setParamCheck(false);
}

TSQLUpdater::~TSQLUpdater()
{
    try {
        CloseAll();
    } catch (const std::exception&) {
    }
}

void TSQLUpdater::SetLoginParams(const QString& userSetting, const QString& passwordSetting)
{
    UserParam = userSetting;
    PasswordParam = passwordSetting;
}

void TSQLUpdater::LoadScript(const QString& path)
{
    const QFileInfo info(path);
    ScriptFile = info.absoluteFilePath();
    ScriptDate = info.exists() && info.isReadable() ? wallClock(info.lastModified()) : ZeroDate();
    CloseAll();
    m_script = TSQLScript();
    Alias.clear();
    HistoryTableName = QStringLiteral("SQL_UPDATES");
    // The whole file is checked before any of it is taken: a script that fails leaves no steps.
    TSQLScript parsed;
    LoadScriptFile(ScriptFile, parsed, this);
    m_script = std::move(parsed);
    Alias = m_script.Alias;
    HistoryTableName = m_script.HistoryTableName;
}

void TSQLUpdater::Connect()
{
    InStep = false;
    Cursor = 0;
    if (OnGetServer)
        OnGetServer(Alias, ServerName);

    CloseAll();
    db::ParamList params;
    addSetting(params, UserParam);
    for (const QString& s : DriverSettings())
        addSetting(params, s);
    addSetting(params, PasswordParam);
    if (ServerName.isEmpty()) {
        TargetDB.setDriverName(QString());
        TargetDB.setAliasName(Alias);
    } else {
        params.setValue(QStringLiteral("SERVER NAME"), ServerName);
        params.setValue(QStringLiteral("LANGDRIVER"), QStringLiteral("ancyrr"));
        TargetDB.setDriverName(QStringLiteral("INTRBASE"));
    }
    TargetDB.params() = params;

    addSetting(SourceDB.params(), UserParam);
    for (const QString& s : DriverSettings())
        addSetting(SourceDB.params(), s);
    addSetting(SourceDB.params(), PasswordParam);

    try {
        TargetDB.connect();
        PrepareHistory();
    } catch (const std::exception& e) {
        if (OnError)
            OnError(db::errorMessage(e));
    }
}

void TSQLUpdater::PrepareHistory()
{
    HistoryExists = false;
    m_historyCatalogName.clear();
    m_history->close();
    m_lastHistoryId = 0;
    for (const QString& t : TargetDB.tableNames()) {
        if (t.compare(HistoryTableName, Qt::CaseInsensitive) == 0) {
            HistoryExists = true;
            m_historyCatalogName = t;
        }
    }
    if (!HistoryExists)
        return;
    CheckQuery.setSql(CheckSqlPattern().arg(HistoryTableName));
    InsertQuery.setSql(InsertSqlPattern().arg(HistoryTableName));

    db::Query q(&TargetDB);
    q.setSql(QStringLiteral("select * from %1 order by SU_ID").arg(HistoryTableName));
    q.open();
    // The step texts are read when they are shown, so a long history costs no blobs.
    TMemDataSet::FieldLoad text;
    text.field = QStringLiteral("SU_TEXT");
    text.deferred = [this](const TMemDataSet& ds, int row) -> QVariant {
        const int id = ds.fieldIndex(QStringLiteral("SU_ID"));
        if (id < 0 || !TargetDB.connected())
            return {};
        db::Query t(&TargetDB);
        t.setSql(QStringLiteral("select SU_TEXT from %1 where SU_ID = :id").arg(HistoryTableName));
        t.setParam(QStringLiteral("id"), ds.sourceValue(row, id));
        t.open();
        return t.eof() ? QVariant() : t.field(0).value();
    };
    m_history->loadFromQuery(q, {text});
    q.close();
    const int id = m_history->fieldIndex(QStringLiteral("SU_ID"));
    for (int r = 0; id >= 0 && r < m_history->sourceRowCount(); ++r)
        m_lastHistoryId = std::max(m_lastHistoryId, m_history->sourceValue(r, id).toLongLong());
    m_history->last();
}

std::optional<QDateTime> TSQLUpdater::AppliedAt(std::int32_t n)
{
    if (!HistoryExists || n == 0)
        return std::nullopt;
    CheckQuery.close();
    CheckQuery.setParam(QStringLiteral("SUN"), n);
    CheckQuery.open();
    std::optional<QDateTime> at;
    if (!CheckQuery.eof() && !CheckQuery.fieldByName(QStringLiteral("SU_Id")).isNull())
        at = CheckQuery.fieldByName(QStringLiteral("SU_date")).asDateTime();
    CheckQuery.close();
    return at;
}

bool TSQLUpdater::IsApplied(std::int32_t n)
{
    const std::optional<QDateTime> at = AppliedAt(n);
    if (at && OnAlreadyApplied)
        OnAlreadyApplied(n, *at);
    return at.has_value();
}

std::int32_t TSQLUpdater::CurrentStepNo() const
{
    const int i = Cursor - 1;
    return i >= 0 && i < StepCount() ? Steps(i).StepNo() : 0;
}

bool TSQLUpdater::RunNextStep()
{
    InStep = true;
    const bool more = Cursor < StepCount();
    ++Cursor;
    if (!more)
        return false;
    TSQLStep& step = Steps(Cursor - 1);
    try {
        if (OnStepStart)
            OnStepStart(*this);
        QElapsedTimer timer;
        timer.start();
        db::TransactionOptions options;
        if (HistoryExists) {
            // Another runner holding the table makes this one wait, then see the step as applied.
            options.protectedWrite = QStringList{m_historyCatalogName};
            options.lockTimeout = LockTimeout;
        }
        std::optional<QDateTime> appliedAt;
        std::vector<QVariantList> newRows;
        {
            m_reservingHistory = HistoryExists;
            db::Transaction t(TargetDB, options);
            m_reservingHistory = false;
            appliedAt = AppliedAt(step.StepNo());
            if (!appliedAt) {
                step.Apply();
                RecordStep(step);
                newRows = NewHistoryRows();
                t.commit();
            }
        }
        if (appliedAt) {
            if (OnAlreadyApplied)
                OnAlreadyApplied(step.StepNo(), *appliedAt);
            return true;
        }
        StepTime = timer.elapsed();
        AppendHistoryRows(newRows);
        if (OnStepDone)
            OnStepDone(*this);
    } catch (const std::exception& e) {
        if (OnError)
            OnError(StepErrorText(step, db::errorMessage(e)));
        m_reservingHistory = false;
    }
    return true;
}

QString TSQLUpdater::StepErrorText(const TSQLStep& step, const QString& message) const
{
    // The history table is reserved when the step's transaction starts: a lock that does not
    // come is another run's, which may be applying this very step.
    if (m_reservingHistory && message.contains(QLatin1String("lock"), Qt::CaseInsensitive))
        return UpdateText::HistoryTableHeld.arg(HistoryTableName).arg(LockTimeout).arg(step.StepNo()) + message;

    // A step is one transaction, and Firebird does not let it use what it has just created.
    const bool unknown = message.contains(QLatin1String("Table unknown"), Qt::CaseInsensitive) ||
                         message.contains(QLatin1String("Column unknown"), Qt::CaseInsensitive);
    const QString text = step.Text().toLower();
    if (unknown && (text.contains(QLatin1String("create ")) || text.contains(QLatin1String("alter "))))
        return message + UpdateText::CreatedInSameStep;
    return message;
}

void TSQLUpdater::RecordStep(const TSQLStep& step)
{
    if (!HistoryExists)
        return;
    InsertQuery.setParam(QStringLiteral("SU_No"), step.StepNo());
    InsertQuery.setParam(QStringLiteral("SU_fileName"), ScriptFile);
    InsertQuery.setParam(QStringLiteral("SU_FileDate"), ScriptDate);
    InsertQuery.setParam(QStringLiteral("SU_CompName"), CompName);
    InsertQuery.setParam(QStringLiteral("SU_UserName"), UserName);
    InsertQuery.setParam(QStringLiteral("SU_text"), step.Text());
    InsertQuery.execSql();
}

std::vector<QVariantList> TSQLUpdater::NewHistoryRows()
{
    std::vector<QVariantList> rows;
    if (!HistoryExists || !m_history->active())
        return rows;
    // Only the rows written since the last look, read in the step's own transaction: the
    // table is not read again with its blobs, and no transaction is added per step.
    db::Query q(&TargetDB);
    q.setSql(QStringLiteral("select * from %1 where SU_ID > :last order by SU_ID").arg(HistoryTableName));
    q.setParam(QStringLiteral("last"), m_lastHistoryId);
    for (q.open(); !q.eof(); q.next()) {
        QVariantList row;
        for (const QString& f : m_history->fields()) {
            const int i = q.fieldIndex(f);
            row << (i < 0 ? QVariant() : q.field(i).value());
        }
        rows.push_back(row);
    }
    q.close();
    return rows;
}

void TSQLUpdater::AppendHistoryRows(const std::vector<QVariantList>& rows)
{
    if (rows.empty())
        return;
    const int id = m_history->fieldIndex(QStringLiteral("SU_ID"));
    m_history->disableControls();
    for (const QVariantList& row : rows) {
        if (id >= 0)
            m_lastHistoryId = std::max(m_lastHistoryId, row[id].toLongLong());
        m_history->appendRow(row);
    }
    m_history->last();
    m_history->enableControls();
}

void TSQLUpdater::CloseAll()
{
    ExecQuery.close();
    CheckQuery.close();
    InsertQuery.close();
    m_history->close();
    SourceDB.disconnect();
    TargetDB.disconnect();
}
