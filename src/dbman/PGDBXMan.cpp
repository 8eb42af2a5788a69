#include "PGDBXMan.h"

#include "DBLog.h"

#include "db/Error.h"

#include <QHash>
#include <QRegularExpression>

TPGDBXMan::TPGDBXMan(const QString& host, const QString& database, const QString& port, const QString& userName,
                     const QString& password)
    : tDBXMan(database, userName, password, DriverParams()),
      m_host(host.trimmed().isEmpty() ? QStringLiteral("127.0.0.1") : host.trimmed()),
      m_database(database),
      // A connection text without a server part carries no port; "0" would be no server at all.
      m_port(port.trimmed().isEmpty() || port.trimmed() == QLatin1String("0") ? QStringLiteral("5432") : port.trimmed()),
      m_userName(userName),
      m_password(password)
{
    InitDialect();
    m_connParams.setValue(QStringLiteral("Database"), database);
    m_connParams.setValue(QStringLiteral("User_Name"), userName);
    m_connParams.setValue(QStringLiteral("Password"), password);
    m_connParams.setValue(QStringLiteral("HostName"), m_host);
    m_connParams.setValue(QStringLiteral("Server Port"), m_port);
    ConnDescr = QStringLiteral("%1/%2:%3").arg(m_host, m_port, database);
}

QStringList TPGDBXMan::DriverParams()
{
    return {QStringLiteral("ConnectionName=Devart PostgreSQL"),
            QStringLiteral("DriverName=DevartPostgreSQL"),
            QStringLiteral("GetDriverFunc=getSQLDriverPostgreSQL"),
            QStringLiteral("LibraryName=dbexppgsql.dll"),
            QStringLiteral("VendorLib=dbexppgsql.dll"),
            QStringLiteral("ServerCharSet=win1251"),
            QStringLiteral("LocaleCode=0000"),
            QStringLiteral("BlobSize=-1"),
            QStringLiteral("CommitRetain=False"),
            QStringLiteral("WaitOnLocks=True"),
            QStringLiteral("Trim Char=True")};
}

void TPGDBXMan::InitDialect()
{
    ParamPrefix = QStringLiteral(":");
    NowExpr = QStringLiteral("localtimestamp");
}

void TPGDBXMan::prepareConnection(db::Database& database)
{
    database.setDriverName(QStringLiteral("POSTGRESQL"));
    database.params().clear();
    database.params().setValue(QStringLiteral("SERVER NAME"), m_connParams.value(QStringLiteral("HostName")) + QLatin1Char('/') +
                                                                  m_connParams.value(QStringLiteral("Server Port")) + QLatin1Char(':') +
                                                                  m_connParams.value(QStringLiteral("Database")));
    database.params().setValue(QStringLiteral("USER NAME"), m_connParams.value(QStringLiteral("User_Name")));
    database.params().setValue(QStringLiteral("PASSWORD"), m_connParams.value(QStringLiteral("Password")));
}

namespace {

// The elements of a one-dimensional array in PostgreSQL's text form ("{a,\"b c\",NULL}"),
// with its bounds ("[0:1]={...}", as an oidvector cast to oid[] gives them) skipped.
QStringList ArrayElements(QString text)
{
    if (text.startsWith(QLatin1Char('[')))
        text = text.mid(text.indexOf(QLatin1Char('=')) + 1);
    QStringList out;
    if (text.size() < 2 || text.front() != QLatin1Char('{') || text.back() != QLatin1Char('}'))
        return out;
    QString cur;
    bool quoted = false, wasQuoted = false;
    for (qsizetype i = 1; i < text.size() - 1; ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < text.size() - 1)
                cur += text[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                cur += c;
        } else if (c == QLatin1Char('"')) {
            quoted = wasQuoted = true;
        } else if (c == QLatin1Char(',')) {
            out << (!wasQuoted && cur == QLatin1String("NULL") ? QString() : cur);
            cur.clear();
            wasQuoted = false;
        } else {
            cur += c;
        }
    }
    if (text.size() > 2)
        out << (!wasQuoted && cur == QLatin1String("NULL") ? QString() : cur);
    return out;
}

// The built-in types a procedure parameter takes, by their fixed type OIDs; any other type
// keeps its OID as its name and maps to no field type, as a name the layer does not know would.
QString TypeNameOfOid(const QString& oid)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("16"), QStringLiteral("boolean")},
        {QStringLiteral("17"), QStringLiteral("bytea")},
        {QStringLiteral("19"), QStringLiteral("name")},
        {QStringLiteral("20"), QStringLiteral("bigint")},
        {QStringLiteral("21"), QStringLiteral("smallint")},
        {QStringLiteral("23"), QStringLiteral("integer")},
        {QStringLiteral("25"), QStringLiteral("text")},
        {QStringLiteral("700"), QStringLiteral("real")},
        {QStringLiteral("701"), QStringLiteral("double precision")},
        {QStringLiteral("1042"), QStringLiteral("character")},
        {QStringLiteral("1043"), QStringLiteral("character varying")},
        {QStringLiteral("1082"), QStringLiteral("date")},
        {QStringLiteral("1083"), QStringLiteral("time without time zone")},
        {QStringLiteral("1114"), QStringLiteral("timestamp without time zone")},
        {QStringLiteral("1184"), QStringLiteral("timestamp with time zone")},
        {QStringLiteral("1266"), QStringLiteral("time with time zone")},
        {QStringLiteral("1700"), QStringLiteral("numeric")},
        {QStringLiteral("2275"), QStringLiteral("cstring")},
    };
    return names.value(oid, QStringLiteral("oid ") + oid);
}

} // namespace

QList<TProcParamDesc> TPGDBXMan::procedureParams(const QString& procName)
{
    // The names are stored in lower case. Arguments in order, with their modes (i, o, b, v, t),
    // read as one plain catalogue row whose arrays are split here: a new server process answers
    // that in a fraction of what unnesting and naming the types on the server costs, and
    // provisioning opens a new one per call.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
    db::Query q(&m_connection);
    bool found = false;
    if (plainName.match(procName).hasMatch()) {
        // The function the unqualified call will run, found through the search path; an
        // overloaded name resolves to none here and takes the general query below.
        q.setSql(QStringLiteral("select coalesce(p.proallargtypes, p.proargtypes::oid[])::text, p.proargmodes::text, "
                                "p.proargnames::text from pg_catalog.pg_proc p where p.oid = pg_catalog.to_regproc(:name)"));
        q.setParam(QStringLiteral("name"), procName);
        q.open();
        found = !q.eof();
    }
    if (!found) {
        // The first function of that name outside the system schemas, public first.
        q.setSql(QStringLiteral(
            "select coalesce(p.proallargtypes, p.proargtypes::oid[])::text, p.proargmodes::text, p.proargnames::text "
            "from pg_catalog.pg_proc p join pg_catalog.pg_namespace n on n.oid = p.pronamespace "
            "where p.proname = lower(:name) and n.nspname not in ('pg_catalog', 'information_schema') "
            "order by n.nspname = 'public' desc, p.oid limit 1"));
        q.setParam(QStringLiteral("name"), procName);
        q.open();
    }
    QList<TProcParamDesc> out;
    if (q.eof())
        return out;
    const QStringList types = ArrayElements(q.field(0).asString());
    const QStringList modes = ArrayElements(q.field(1).asString());
    const QStringList names = ArrayElements(q.field(2).asString());
    for (qsizetype i = 0; i < types.size(); ++i) {
        TProcParamDesc d;
        d.Name = names.value(i);
        d.TypeName = TypeNameOfOid(types[i]);
        const QString mode = modes.value(i, QStringLiteral("i"));
        d.Direction = mode == QLatin1String("o") || mode == QLatin1String("t") ? TParamType::ptOutput
                      : mode == QLatin1String("b")                             ? TParamType::ptInputOutput
                                                                               : TParamType::ptInput;
        out << d;
    }
    return out;
}

void TPGDBXMan::SetApplicationName(const QString& name)
{
    ExecSql(QStringLiteral("set application_name to %1").arg(name), nullptr, false);
}

QString TPGDBXMan::ProcArguments(const TParams* params, const QString& prefix)
{
    QString args;
    if (params)
        for (const TParam& p : *params)
            if (p.ParamType == TParamType::ptInput || p.ParamType == TParamType::ptInputOutput)
                args += QLatin1Char(',') + prefix + p.Name;
    if (args.isEmpty())
        return QStringLiteral("()");
    args[0] = QLatin1Char(' ');
    return QLatin1Char('(') + args + QLatin1Char(')');
}

bool TPGDBXMan::ExecSProc(const QString& procName, TParams* params)
{
    DBLogMark(QStringLiteral("ExecSProc"), lkEnter);
    DBLogSqlParams(procName, params);
    try {
        ExecSql(QStringLiteral("select * from  %1%2 ").arg(procName, ProcArguments(params, ParamPrefix)), params, false);
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
    DBLogMark(QStringLiteral("ExecSProc"), lkExit);
    return true;
}

TSQLQuery* TPGDBXMan::GetDSfromProc(const QString& procName, TParams* params)
{
    DBLogSqlParams(procName, params);
    TSQLQuery* q = nullptr;
    try {
        q = GetDS(procName, QStringLiteral("select * from   %1%2").arg(procName, ProcArguments(params, ParamPrefix)), true, false,
                  params);
    } catch (const std::exception& e) {
        HandleError(e);
        throw;
    }
    DBLogMark(QStringLiteral("GetDSfromProc"), lkExit);
    return q;
}

int TPGDBXMan::SequenceNextVal(const QString& name)
{
    TSQLQuery* q = GetDS(QStringLiteral("sq_") + name, QStringLiteral("SELECT nextval ('%1')").arg(name), true, false, nullptr);
    return static_cast<int>(q->Fields(0).asInt64());
}

QString TPGDBXMan::LikePattern(const QString& value, qint16 mode)
{
    // The value is bound, not pasted into SQL text: only ilike's own escape character matters.
    QString s;
    s.reserve(value.size() + 4);
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('%') || c == QLatin1Char('_'))
            s += QLatin1Char('\\');
        s += c;
    }
    return mode == 0 ? s + QLatin1Char('%') : QLatin1Char('%') + s + QLatin1Char('%');
}

void TPGDBXMan::addprmval(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                          QString& cond)
{
    const bool isNull = !value.isValid() || value.isNull();
    if (dataType == TFieldType::ftDateTime && isNull) {
        cond = field + QStringLiteral(" = null ");
        return;
    }
    const QString name = QStringLiteral("prm") + ParamSuffix(field);
    TParam& p = params.CreateParam(dataType, name, TParamType::ptInputOutput);
    if (dataType == TFieldType::ftString && (mode == 0 || mode == 1)) {
        p.SetValue(LikePattern(value.toString(), mode));
        cond = QStringLiteral(" %1 ilike %2 ").arg(field, ParamPrefix + name);
    } else {
        p.SetValue(value);
        cond = field + QStringLiteral(" = ") + ParamPrefix + name;
    }
}

void TPGDBXMan::addprmcond(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                           QString& text)
{
    const QString name = QStringLiteral("prm") + ParamSuffix(field.isEmpty() ? QString::number(params.Count()) : field);
    TParam& p = params.CreateParam(dataType, name, TParamType::ptInputOutput);
    const QString ref = ParamPrefix + name;
    if (dataType == TFieldType::ftString && (mode == 0 || mode == 1)) {
        p.SetValue(LikePattern(value.toString(), mode));
        text = QStringLiteral(" ilike %1 ").arg(ref);
    } else {
        p.SetValue(value);
        text = QStringLiteral(" = ") + ref;
    }
}

bool TPGDBXMan::CreateTempTable(const QString& name, const TFieldDefs& fieldDefs)
{
    DBLog(QStringLiteral("TPGDBXMan.CreateTempTable table name : ") + name);
    if (TableExists(name))
        return false;
    const QString columns = TempTableColumns(fieldDefs, QStringLiteral("TPGDBXMan"), QStringLiteral("character varying(%1)"));
    ExecSql(QStringLiteral("Create temp table  %1(%2)").arg(name, columns), nullptr, false);
    return true;
}

bool TPGDBXMan::TableExists(const QString& name)
{
    // The catalogue form of a development desktop does not apply here: the probe is the query.
    bool exists = true;
    try {
        GetDS(QStringLiteral("chte"), QStringLiteral("SELECT * FROM %1 where 1 = 2").arg(name), true, false, nullptr);
    } catch (const std::exception&) {
        DBLog(QStringLiteral("Table ") + name + QStringLiteral(" not exists "));
        exists = false;
    }
    freeDS(QStringLiteral("chte"));
    return exists;
}

bool TPGDBXMan::ProcExists(const QString& name)
{
    auto params = std::make_unique<TParams>();
    QString cond;
    addprmval(*params, QStringLiteral("proname"), TFieldType::ftString, name, 2, cond);
    TSQLQuery* q = GetDS(QStringLiteral("chspe"),
                         QStringLiteral("SELECT  proname FROM    pg_catalog.pg_namespace n JOIN    pg_catalog.pg_proc p ON      "
                                        "pronamespace = n.oid WHERE   nspname = 'public' and ") +
                             cond,
                         true, true, params.release());
    const bool exists = !q->IsEmpty();
    freeDS(QStringLiteral("chspe"));
    return exists;
}

void TPGDBXMan::LimitRows(const QString& sql, int rows, QString& result) { result = sql + QStringLiteral(" limit %1 ").arg(rows); }

std::unique_ptr<TDBBaseMan> TPGDBXMan::CloneMan()
{
    return std::make_unique<TPGDBXMan>(m_host, m_database, m_port, m_userName, m_password);
}
