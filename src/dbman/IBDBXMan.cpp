#include "IBDBXMan.h"

#include "DBLog.h"

#include "db/Error.h"

TIBDBXMan::TIBDBXMan(const QString& dbPath, const QString& userName, const QString& password)
    : tDBXMan(dbPath, userName, password, DriverParams()), m_dbPath(dbPath), m_userName(userName), m_password(password)
{
    InitDialect();
    ConnDescr = dbPath;
}

QStringList TIBDBXMan::DriverParams()
{
    return {QStringLiteral("ConnectionName=IBConnection"),
            QStringLiteral("DriverName=Interbase"),
            QStringLiteral("GetDriverFunc=getSQLDriverINTERBASE"),
            QStringLiteral("LibraryName=dbexpint.dll"),
            QStringLiteral("VendorLib=gds32.dll"),
            QStringLiteral("DriverName=Interbase"),
            QStringLiteral("ServerCharSet=win1251"),
            QStringLiteral("SQLDialect=1"),
            QStringLiteral("ErrorResourceFile="),
            QStringLiteral("LocaleCode=0000"),
            QStringLiteral("BlobSize=-1"),
            QStringLiteral("CommitRetain=False"),
            QStringLiteral("WaitOnLocks=True"),
            QStringLiteral("Interbase TransIsolation=ReadCommited"),
            QStringLiteral("Trim Char=True")};
}

void TIBDBXMan::InitDialect()
{
    ParamPrefix = QStringLiteral(":");
    NowExpr = QStringLiteral("\"now\"");
}

void TIBDBXMan::prepareConnection(db::Database& database)
{
    // The db layer speaks WIN1251 and reads read committed; the dialect is the settings' own.
    database.setDriverName(QStringLiteral("FIREBIRD"));
    database.params().clear();
    database.params().setValue(QStringLiteral("SERVER NAME"), m_connParams.value(QStringLiteral("Database")));
    database.params().setValue(QStringLiteral("USER NAME"), m_connParams.value(QStringLiteral("User_Name")));
    database.params().setValue(QStringLiteral("PASSWORD"), m_connParams.value(QStringLiteral("Password")));
    database.params().setValue(QStringLiteral("SQL DIALECT"), m_connParams.value(QStringLiteral("SQLDialect"), QStringLiteral("1")));
}

void TIBDBXMan::SetApplicationName(const QString&)
{
    // Firebird has no statement for it.
}

namespace {

QString argumentList(const TParams& params, const QString& prefix)
{
    QString args;
    for (const TParam& p : params)
        args += QLatin1Char(',') + prefix + p.Name;
    if (args.isEmpty())
        return {};
    args[0] = QLatin1Char(' ');
    return QLatin1Char('(') + args + QLatin1Char(')');
}

} // namespace

QString TIBDBXMan::ProcArguments(const TParams* params, const QString& prefix)
{
    QString args;
    if (params)
        for (const TParam& p : *params)
            if (p.ParamType == TParamType::ptInput || p.ParamType == TParamType::ptInputOutput)
                args += QLatin1Char(',') + prefix + p.Name;
    if (args.isEmpty())
        return {};
    args[0] = QLatin1Char(' ');
    return QLatin1Char('(') + args + QLatin1Char(')');
}

bool TIBDBXMan::ExecSProc(const QString& procName, TParams* params)
{
    DBLogMark(QStringLiteral("ExecSProc"), lkEnter);
    DBLogSqlParams(procName, params);
    // Output parameters are no arguments of "execute procedure": a procedure with outputs
    // refuses a call that passes them. A parameter of no known direction stays an argument.
    TParams inputs;
    if (params)
        for (const TParam& p : *params)
            if (p.ParamType != TParamType::ptOutput && p.ParamType != TParamType::ptResult)
                inputs.Add(p);
    bool ok = true;
    try {
        ExecSql(QStringLiteral("execute procedure  %1%2 ").arg(procName, argumentList(inputs, ParamPrefix)), params, false);
    } catch (const std::exception& e) {
        HandleError(e);
        ok = false;
    }
    DBLogMark(QStringLiteral("ExecSProc"), lkExit);
    return ok;
}

TSQLQuery* TIBDBXMan::GetDSfromProc(const QString& procName, TParams* params)
{
    DBLogSqlParams(procName, params);
    TSQLQuery* q = nullptr;
    try {
        q = GetDS(procName, QStringLiteral("select * from   %1%2 ").arg(procName, ProcArguments(params, ParamPrefix)), true, false,
                  params);
    } catch (const std::exception& e) {
        HandleError(e);
    }
    DBLogMark(QStringLiteral("GetDSfromProc"), lkExit);
    return q;
}

int TIBDBXMan::SequenceNextVal(const QString& name)
{
    DBLogMark(QStringLiteral("TIBDBXMan.SequenceNextVal"), lkEnter);
    int value = 0;
    try {
        TSQLQuery* q = GetDS(name, QStringLiteral("SELECT GEN_ID( ") + name + QStringLiteral(", 1) AS val FROM RDB$DATABASE"), true, false,
                             nullptr);
        value = static_cast<int>(q->FieldByName(QStringLiteral("val")).asInt64());
    } catch (...) {
        freeDS(name);
        throw;
    }
    freeDS(name);
    DBLogMark(QStringLiteral("TIBDBXMan.SequenceNextVal"), lkExit);
    return value;
}

void TIBDBXMan::addprmval(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                          QString& cond)
{
    DBLogMark(QStringLiteral("addprmval"), lkEnter);
    const QString name = QStringLiteral("prm") + ParamSuffix(field);
    TParam& p = params.CreateParam(dataType, name, TParamType::ptInputOutput);
    p.SetValue(value);
    QString op = QStringLiteral(" = ");
    if (dataType == TFieldType::ftString) {
        if (mode == 0)
            op = QStringLiteral(" starting ");
        else if (mode == 1)
            op = QStringLiteral(" containing ");
    }
    cond = field + op + ParamPrefix + name;
    DBLogMark(QStringLiteral("addprmval"), lkExit);
}

void TIBDBXMan::addprmcond(TParams& params, const QString& field, TFieldType dataType, const QVariant&, qint16 mode, QString& text)
{
    const QString name = QStringLiteral("prm") + ParamSuffix(field.isEmpty() ? QString::number(params.Count()) : field);
    params.CreateParam(dataType, name, TParamType::ptInputOutput);
    QString op = QStringLiteral(" = ");
    if (dataType == TFieldType::ftString) {
        if (mode == 0)
            op = QStringLiteral(" starting ");
        else if (mode == 1)
            op = QStringLiteral(" containing ");
    }
    text = op + ParamPrefix + name;
}

bool TIBDBXMan::CreateTempTable(const QString& name, const TFieldDefs& fieldDefs)
{
    DBLog(QStringLiteral("TIBDBXMan.CreateTempTable table name : ") + name);
    auto params = std::make_unique<TParams>();
    QString ref;
    addprmref(*params, QStringLiteral("tblnm"), ref, name, TFieldType::ftString);
    TSQLQuery* q = GetDS(QStringLiteral("chtt"),
                         QStringLiteral(" select r.rdb$relation_name  from rdb$relations r  join rdb$types t on r.rdb$relation_type = "
                                        "t.rdb$type  where t.rdb$field_name = \"RDB$RELATION_TYPE\" and r.rdb$relation_name = %1")
                             .arg(ref),
                         true, true, params.release());
    const bool exists = !q->IsEmpty();
    freeDS(QStringLiteral("chtt"));
    if (exists)
        return true;
    const QString columns = TempTableColumns(fieldDefs, QStringLiteral("TIBDBXMan"), QStringLiteral("varchar(%1)"));
    ExecSql(QStringLiteral("create global temporary table %1(%2) on commit preserve rows").arg(name, columns), nullptr, false);
    return true;
}

bool TIBDBXMan::TableExists(const QString& name)
{
    auto params = std::make_unique<TParams>();
    QString cond;
    addprmval(*params, QStringLiteral("RDB$RELATION_NAME"), TFieldType::ftString, name.toUpper(), 2, cond);
    TSQLQuery* q = GetDS(QStringLiteral("chte"), QStringLiteral("select  RDB$RELATION_NAME from RDB$RELATIONS where ") + cond, true, true,
                         params.release());
    const bool exists = !q->IsEmpty();
    freeDS(QStringLiteral("chte"));
    return exists;
}

bool TIBDBXMan::ProcExists(const QString& name)
{
    auto params = std::make_unique<TParams>();
    QString cond;
    addprmval(*params, QStringLiteral("rdb$Procedure_name"), TFieldType::ftString, name.toUpper(), 2, cond);
    TSQLQuery* q = GetDS(QStringLiteral("chspe"), QStringLiteral("select rdb$Procedure_name from RDB$PROCEDURES where ") + cond, true,
                         true, params.release());
    const bool exists = !q->IsEmpty();
    freeDS(QStringLiteral("chspe"));
    return exists;
}

void TIBDBXMan::LimitRows(const QString& sql, int rows, QString& result)
{
    const qsizetype at = sql.toUpper().indexOf(QLatin1String("SELECT "));
    if (at < 0)
        throw db::Error(QStringLiteral("Incomplete sql request -- missing \"elect\""));
    const qsizetype rest = at + 7;
    // The whole rest of the text is carried over, however long the query.
    result = sql.left(rest) + QStringLiteral(" first %1 ").arg(rows) + sql.mid(rest);
}

std::unique_ptr<TDBBaseMan> TIBDBXMan::CloneMan() { return std::make_unique<TIBDBXMan>(m_dbPath, m_userName, m_password); }
