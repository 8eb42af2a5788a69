#pragma once

#include "DBParams.h"
#include "SQLQuery.h"

#include <QString>
#include <QVariant>

#include <memory>

namespace db {
class Database;
}

// The abstract database manager: one connection to one application database, named datasets,
// SQL and procedure execution with parameter lists, numbered transactions and the catalogue
// services whose SQL differs between database kinds. Only the dialect-neutral parameter
// services are implemented here.
class TDBBaseMan {
public:
    TDBBaseMan() = default;
    virtual ~TDBBaseMan() = default;
    TDBBaseMan(const TDBBaseMan&) = delete;
    TDBBaseMan& operator=(const TDBBaseMan&) = delete;

    virtual void InitDialect() = 0;
    virtual void copyprmsval(const TParams& source, TParams& target);
    virtual db::Database& GetConnection() = 0;
    virtual void SetApplicationName(const QString& name) = 0;
    virtual TSQLQuery* GetDS(const QString& name) = 0;
    // With freeParams the manager takes the list and frees it; otherwise it stays the caller's.
    virtual TSQLQuery* GetDS(const QString& name, const QString& sql, bool open, bool freeParams, TParams* params) = 0;
    // Null when a dialect absorbs the error.
    virtual TSQLQuery* GetDSfromProc(const QString& procName, TParams* params) = 0;
    virtual void ExecSql(const QString& sql, TParams* params, bool freeParams) = 0;
    virtual void execDS(const QString& name) = 0;
    // True when the procedure ran; a dialect that absorbs errors returns false for a failed call
    // (LastError keeps the message, but is never cleared, so it is no signal of this call).
    virtual bool ExecSProc(const QString& procName, TParams* params) = 0;
    // Null for a procedure that does not exist or has no parameters.
    virtual std::unique_ptr<TParams> GetParamList(const QString& procName) = 0;
    virtual std::unique_ptr<TParams> GetQueryParams(const QString& sql) = 0;
    virtual void GetDSSql(const QString& name, QString& sql) = 0;
    virtual void CloseDS(const QString& name) = 0;
    virtual void freeDS(const QString& name) = 0;
    virtual int SequenceNextVal(const QString& name) = 0;
    virtual bool StartTransaction() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual void OpenDB() = 0;
    virtual void CloseDB() = 0;
    virtual void BetweenCond(const QString& field, const QString& low, const QString& high, QString& cond);
    virtual void addprmval(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                           QString& cond);
    virtual void addprmcond(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                            QString& text) = 0;
    virtual bool CreateTempTable(const QString& name, const TFieldDefs& fieldDefs) = 0;
    virtual bool TableExists(const QString& name) = 0;
    virtual bool ProcExists(const QString& name) = 0;
    virtual void LimitRows(const QString& sql, int rows, QString& result) = 0;
    virtual TParams& getDSParams(const QString& name) = 0;
    virtual std::unique_ptr<TDBBaseMan> CloneMan() = 0;
    virtual qint64 ExecDirect(const QString& sql, const TParams* params) = 0;

    // "prm" names of filter parameters: every "." and space of a field expression becomes "_".
    static QString ParamSuffix(const QString& name);
    void addprmref(TParams& params, const QString& name, QString& ref, const QVariant& value, TFieldType dataType);

    QString ParamPrefix;
    QString NowExpr;
    QString ConnDescr;
    QString LastError;
};
