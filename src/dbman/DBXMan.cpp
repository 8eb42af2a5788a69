#include "DBXMan.h"

#include "DBLog.h"

#include "db/Error.h"

#include <QDateTime>
#include <QRegularExpression>

namespace {

// Firebird's longest lock wait (about nine hours) stands for waiting without limit.
constexpr int kWaitWithoutLimit = 32767;

bool validIdentifier(const QString& name)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
    return re.match(name).hasMatch();
}

} // namespace

tDBXMan::tDBXMan(const QString& dbPath, const QString& userName, const QString& password, const QStringList& driverParams)
{
    DBLogValue(QStringLiteral("tDBXMan.create dbPath ="), dbPath);
    // The five connection properties come first in the settings; they and the further lines
    // together are the connection's parameter list.
    for (const QString& line : driverParams) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0)
            m_connParams.setValue(line.left(eq), line.mid(eq + 1));
    }
    m_connParams.setValue(QStringLiteral("Database"), dbPath);
    m_connParams.setValue(QStringLiteral("User_Name"), userName);
    m_connParams.setValue(QStringLiteral("Password"), password);
    DBLogMark(QStringLiteral("tDBXMan.Create"), lkExit);
}

tDBXMan::~tDBXMan()
{
    DBLogMark(QStringLiteral("tDBXMan.destroy"), lkEnter);
    try {
        CloseDB();
    } catch (const std::exception& e) {
        // Closing must not fail the destruction; the connection goes with the db layer below.
        DBLogException(QStringLiteral("tDBXMan.destroy"), e);
    }
    for (const auto& [name, q] : m_datasets)
        DBLogValue(QStringLiteral("tDBXMan.destroy freeing "), name);
    m_datasets.clear();
    m_transactions.clear();
    m_connection.disconnect();
    DBLogMark(QStringLiteral("tDBXMan.destroy"), lkExit);
}

int tDBXMan::LockTimeout() const
{
    const bool wait = m_connParams.value(QStringLiteral("WaitOnLocks")).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    return wait ? kWaitWithoutLimit : 0;
}

QStringList tDBXMan::TransactionNumbers() const
{
    QStringList out;
    for (const auto& t : m_transactions)
        out << t.first;
    return out;
}

QStringList tDBXMan::DatasetNames() const
{
    QStringList out;
    for (const auto& d : m_datasets)
        out << d.first;
    return out;
}

db::Database& tDBXMan::GetConnection() { return m_connection; }

void tDBXMan::OpenDB()
{
    DBLog(QStringLiteral("tDBXMan.OpenDB"));
    if (m_connection.connected())
        return;
    prepareConnection(m_connection);
    m_connection.connect();
}

QString tDBXMan::TempTableColumns(const TFieldDefs& fieldDefs, const QString& dialect, const QString& varcharType)
{
    if (fieldDefs.isEmpty())
        throw db::Error(dialect + QStringLiteral(".CreateTempTable : Missing FieldDefs !"));
    QString columns;
    for (const TFieldDef& f : fieldDefs) {
        QString type;
        switch (f.DataType) {
        case TFieldType::ftString: type = varcharType.arg(f.Size); break;
        case TFieldType::ftSmallint:
        case TFieldType::ftWord: type = QStringLiteral("smallint"); break;
        case TFieldType::ftInteger: type = QStringLiteral("integer"); break;
        default: throw db::Error(dialect + QStringLiteral(".CreateTempTable : unsupported datatype  "));
        }
        columns += QLatin1Char(',') + QStringLiteral("%1 %2").arg(f.Name, type);
        if (f.Required)
            columns += QStringLiteral(" not null primary key");
    }
    columns[0] = QLatin1Char(' ');
    return columns;
}

void tDBXMan::ensureOpen()
{
    if (!m_connection.connected())
        OpenDB();
}

void tDBXMan::CloseDB()
{
    DBLog(QStringLiteral("CloseDB"));
    if (m_connection.connected() && m_connection.inTransaction() && !m_transactions.isEmpty())
        m_connection.commit();
    m_transactions.clear();
    for (const auto& [name, q] : m_datasets) {
        DBLogValue(QStringLiteral("tDBXMan.CloseDB closing QRName : "), name);
        try {
            q->Close();
        } catch (const std::exception&) {
            // The connection closes below in any case.
        }
    }
    m_connection.disconnect();
}

TSQLQuery* tDBXMan::findqr(const QString& name)
{
    DBLogValue(QStringLiteral("tDBXMan.findqr qName "), name);
    for (const auto& [n, q] : m_datasets)
        if (n == name)
            return q.get();
    // A dataset is a named component of the manager, so its name must be an identifier.
    if (!validIdentifier(name))
        throw db::Error(QStringLiteral("Името на набор от данни \"%1\" не е допустим идентификатор").arg(name));
    auto q = std::make_unique<TSQLQuery>(&m_connection, name);
    TSQLQuery* out = q.get();
    m_datasets.emplace_back(name, std::move(q));
    return out;
}

TSQLQuery* tDBXMan::GetDS(const QString& name)
{
    try {
        DBLogValue(QStringLiteral("tDBXMan.GetDS"), QStringLiteral("DSNAME=") + name);
        ensureOpen();
        TSQLQuery* q = findqr(name);
        q->Close();
        q->Open();
        return q;
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

TSQLQuery* tDBXMan::GetDS(const QString& name, const QString& sql, bool open, bool freeParams, TParams* params)
{
    std::unique_ptr<TParams> owned(freeParams ? params : nullptr);
    try {
        DBLogSqlParams(QStringLiteral("tDBXMan.GetDS\r") + sql, params);
        TSQLQuery* q = findqr(name);
        q->Close();
        q->SetSQL(sql);
        if (params)
            copyprmsval(*params, q->Params());
        owned.reset();
        if (open) {
            ensureOpen();
            q->Open();
        }
        return q;
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

void tDBXMan::execDS(const QString& name)
{
    try {
        DBLogValue(QStringLiteral("tDBXMan.execDS : DSName "), name);
        ensureOpen();
        findqr(name)->ExecSQL();
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

void tDBXMan::CloseDS(const QString& name)
{
    DBLogValue(QStringLiteral("CloseDS : "), name);
    findqr(name)->Close();
}

void tDBXMan::freeDS(const QString& name)
{
    DBLogValue(QStringLiteral("tDBXMan.freeDS DSName : "), name);
    for (auto it = m_datasets.begin(); it != m_datasets.end(); ++it)
        if (it->first.compare(name, Qt::CaseInsensitive) == 0) {
            m_datasets.erase(it);
            return;
        }
}

TParams& tDBXMan::getDSParams(const QString& name)
{
    try {
        DBLogValue(QStringLiteral("tDBXMan.getDSParams DSName : "), name);
        return findqr(name)->Params();
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

void tDBXMan::GetDSSql(const QString& name, QString& sql)
{
    DBLogValue(QStringLiteral("tDBXMan.GetDSSql  DSName : "), name);
    sql = findqr(name)->SQL();
}

void tDBXMan::ExecSql(const QString& sql, TParams* params, bool freeParams)
{
    std::unique_ptr<TParams> owned(freeParams ? params : nullptr);
    try {
        DBLogSqlParams(QStringLiteral("tDBXMan.ExecSql \r") + sql, params);
        ensureOpen();
        TSQLQuery q(&m_connection, QString());
        q.SetSQL(sql);
        if (params)
            copyprmsval(*params, q.Params());
        owned.reset();
        q.ExecSQL();
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

qint64 tDBXMan::ExecDirect(const QString& sql, const TParams* params)
{
    ensureOpen();
    TSQLQuery q(&m_connection, QString());
    q.SetSQL(sql);
    if (params)
        copyprmsval(*params, q.Params());
    q.ExecSQL();
    return q.RowsAffected();
}

void tDBXMan::copyprmsval(const TParams& source, TParams& target)
{
    DBLog(QStringLiteral("TDBXMan.copyprmsval"));
    for (const TParam& s : source) {
        TParam* t = target.FindParam(s.Name);
        if (!t)
            continue;
        if (s.DataType == TFieldType::ftDateTime) {
            t->DataType = TFieldType::ftDateTime;
            if (s.IsNull()) {
                t->Clear();
            } else {
                QDateTime dt = s.Value.toDateTime();
                if (!dt.isValid())
                    dt = QDateTime(s.Value.toDate(), QTime(0, 0));
                t->Value = dt;
            }
            t->Bound = true;
            continue;
        }
        t->DataType = s.DataType;
        if (s.DataType == TFieldType::ftBlob)
            t->Value = s.IsNull() ? QVariant() : QVariant(s.AsString());
        else
            t->Value = s.Value;
        t->Bound = true;
    }
}

QList<TProcParamDesc> tDBXMan::procedureParams(const QString& procName)
{
    QList<TProcParamDesc> out;
    for (const db::ProcParam& p : m_connection.procedureParams(procName))
        out << TProcParamDesc{p.name, p.type, p.output ? TParamType::ptOutput : TParamType::ptInput, p.size};
    return out;
}

std::unique_ptr<TParams> tDBXMan::GetParamList(const QString& procName)
{
    DBLogValue(QStringLiteral("tDBXMan.GetParamList : "), procName);
    const QString name = procName.contains(QLatin1Char('\'')) ? procName : procName.toUpper();
    ensureOpen();
    const QList<TProcParamDesc> descs = procedureParams(name);
    if (descs.isEmpty())
        return nullptr;
    auto list = std::make_unique<TParams>();
    for (const TProcParamDesc& d : descs) {
        TParam& p = list->CreateParam(FieldTypeOfCatalogue(d.TypeName), d.Name, d.Direction);
        p.Size = d.Size;
        p.Bound = true;
        p.Clear();
    }
    return list;
}

std::unique_ptr<TParams> tDBXMan::GetQueryParams(const QString& sql)
{
    try {
        DBLogMark(QStringLiteral("tDBXMan.GetQueryParams"), lkEnter);
        TSQLQuery q(&m_connection, QString());
        q.SetSQL(sql);
        auto list = std::make_unique<TParams>(q.Params());
        DBLogSqlParams(QStringLiteral("tDBXMan.GetQueryParams \r") + sql, list.get());
        return list;
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

int tDBXMan::NextTransactionId() { return ++m_transCounter; }

int tDBXMan::_startNewTransaction()
{
    try {
        DBLogMark(QStringLiteral("tDBXMan._startNewTransaction"), lkEnter);
        ensureOpen();
        if (m_connection.inTransaction())
            return m_transCounter;
        const int id = NextTransactionId();
        TTransactionDesc desc;
        desc.TransactionID = static_cast<quint32>(id);
        db::TransactionOptions options;
        options.lockTimeout = LockTimeout();
        m_connection.startTransaction(options);
        m_transactions.append({QString::number(id), desc});
        DBLogMark(QStringLiteral("tDBXMan._startNewTransaction"), lkExit);
        return id;
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
}

bool tDBXMan::StartTransaction() { return _startNewTransaction() > 0; }

void tDBXMan::_endTransaction(int number, bool commit)
{
    DBLogMark(QStringLiteral("tDBXMan._endTransaction"), lkEnter);
    if (!m_connection.connected() || !m_connection.inTransaction())
        return;
    const QString key = QString::number(number);
    for (qsizetype i = 0; i < m_transactions.size(); ++i) {
        if (m_transactions[i].first != key)
            continue;
        m_transactions.removeAt(i);
        if (commit)
            m_connection.commit();
        else
            m_connection.rollback();
        DBLogMark(QStringLiteral("tDBXMan._endTransaction"), lkEnter);
        return;
    }
}

void tDBXMan::commit()
{
    DBLog(QStringLiteral("tDBXMan.commit"));
    _endTransaction(m_transCounter, true);
}

void tDBXMan::rollback()
{
    _endTransaction(m_transCounter, false);
    DBLogMark(QStringLiteral("tDBXMan.rollback"), lkExit);
}

void tDBXMan::SetLastError(const QString& where, const QString& message)
{
    LastError = message;
    DBLogValue(QStringLiteral("Exception in : ") + where, message);
}

void tDBXMan::HandleError(const std::exception& e)
{
    SetLastError(QStringLiteral(" "), db::errorMessage(e));
    DBLogException(QStringLiteral("Грешка в DBManager"), e);
}
