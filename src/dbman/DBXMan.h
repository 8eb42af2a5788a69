#pragma once

#include "DBBaseMan.h"

#include "db/Connection.h"
#include "db/Database.h"
#include "db/ParamList.h"

#include <QList>
#include <QPair>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

// A transaction the manager started; its id is its number.
struct TTransactionDesc {
    enum TIsolation { xilDIRTYREAD, xilREADCOMMITTED, xilREPEATABLEREAD, xilCUSTOM };
    quint32 TransactionID = 0;
    quint32 GlobalID = 0;
    TIsolation IsolationLevel = xilREADCOMMITTED;
    qint32 CustomIsolation = 0;
};

// Everything that does not depend on the SQL dialect, over one connection of the db layer.
class tDBXMan : public TDBBaseMan {
public:
    ~tDBXMan() override;

    void copyprmsval(const TParams& source, TParams& target) override;
    db::Database& GetConnection() override;
    TSQLQuery* GetDS(const QString& name) override;
    TSQLQuery* GetDS(const QString& name, const QString& sql, bool open, bool freeParams, TParams* params) override;
    void ExecSql(const QString& sql, TParams* params, bool freeParams) override;
    void execDS(const QString& name) override;
    std::unique_ptr<TParams> GetParamList(const QString& procName) override;
    std::unique_ptr<TParams> GetQueryParams(const QString& sql) override;
    void GetDSSql(const QString& name, QString& sql) override;
    void CloseDS(const QString& name) override;
    void freeDS(const QString& name) override;
    bool StartTransaction() override;
    void commit() override;
    void rollback() override;
    void OpenDB() override;
    void CloseDB() override;
    TParams& getDSParams(const QString& name) override;
    qint64 ExecDirect(const QString& sql, const TParams* params) override;

    TSQLQuery* findqr(const QString& name);
    int _startNewTransaction();
    void _endTransaction(int number, bool commit);
    int NextTransactionId();
    void SetLastError(const QString& where, const QString& message);
    void HandleError(const std::exception& e);

    int TransCounter() const { return m_transCounter; }
    // Numbers (as decimal text) of the transactions started here and not yet ended.
    QStringList TransactionNumbers() const;
    // The names of the named datasets, in order.
    QStringList DatasetNames() const;
    // The connection's parameter list: the driver settings, then Database, User_Name and
    // Password (and, for PostgreSQL, HostName and Server Port).
    const db::ParamList& ConnectionParams() const { return m_connParams; }
    db::ParamList& ConnectionParams() { return m_connParams; }
    // Seconds a transaction waits for another connection's lock: none unless the driver
    // settings say WaitOnLocks=True, then without a practical limit.
    int LockTimeout() const;

protected:
    // dbPath, userName and password go to the connection parameters Database, User_Name and
    // Password; driverParams are the dialect's DriverParams lines. Nothing is opened here.
    tDBXMan(const QString& dbPath, const QString& userName, const QString& password, const QStringList& driverParams);

    // Turns the connection parameters into the db layer's settings for the database kind.
    virtual void prepareConnection(db::Database& database) = 0;
    // The parameter descriptions of a procedure from the catalogue; the db layer's by default.
    virtual QList<TProcParamDesc> procedureParams(const QString& procName);
    void ensureOpen();
    // The column list of CreateTempTable, " name type, ..." (the leading comma turned into a
    // space); dialect names the class in its errors, varcharType is the string type's pattern.
    static QString TempTableColumns(const TFieldDefs& fieldDefs, const QString& dialect, const QString& varcharType);

    std::vector<std::pair<QString, std::unique_ptr<TSQLQuery>>> m_datasets;
    QList<QPair<QString, TTransactionDesc>> m_transactions;
    int m_transCounter = 0;
    db::Database m_connection;
    db::ParamList m_connParams;
};
