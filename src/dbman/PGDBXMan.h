#pragma once

#include "DBXMan.h"

// PostgreSQL over a WIN1251 connection. An empty host is 127.0.0.1 and an empty or zero port
// is 5432, so a connection text without a server part reaches the local default server.
class TPGDBXMan : public tDBXMan {
public:
    TPGDBXMan(const QString& host, const QString& database, const QString& port, const QString& userName,
              const QString& password);
    ~TPGDBXMan() override = default;

    static QStringList DriverParams();

    void InitDialect() override;
    void SetApplicationName(const QString& name) override;
    TSQLQuery* GetDSfromProc(const QString& procName, TParams* params) override;
    // A failure is recorded and raised again; the result is true when it returns.
    bool ExecSProc(const QString& procName, TParams* params) override;
    int SequenceNextVal(const QString& name) override;
    void addprmval(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                   QString& cond) override;
    void addprmcond(TParams& params, const QString& field, TFieldType dataType, const QVariant& value, qint16 mode,
                    QString& text) override;
    bool CreateTempTable(const QString& name, const TFieldDefs& fieldDefs) override;
    bool TableExists(const QString& name) override;
    bool ProcExists(const QString& name) override;
    void LimitRows(const QString& sql, int rows, QString& result) override;
    std::unique_ptr<TDBBaseMan> CloneMan() override;

    // The argument list of a procedure call: ( :a,:b), or () when there are no inputs.
    static QString ProcArguments(const TParams* params, const QString& prefix);
    // A value for ilike with the backslash escape: \, % and _ stand for themselves; mode 0
    // appends %, mode 1 puts % on both sides.
    static QString LikePattern(const QString& value, qint16 mode);

protected:
    void prepareConnection(db::Database& database) override;
    // Read from pg_catalog: the provisioning path asks for it once per database.
    QList<TProcParamDesc> procedureParams(const QString& procName) override;

private:
    QString m_host;
    QString m_database;
    QString m_port;
    QString m_userName;
    QString m_password;
};
