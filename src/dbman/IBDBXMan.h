#pragma once

#include "DBXMan.h"

// InterBase/Firebird: SQL dialect 1 over a WIN1251 connection. dbPath is a connection string:
// a local file path (opened in-process), host:path or host/port:path.
class TIBDBXMan : public tDBXMan {
public:
    TIBDBXMan(const QString& dbPath, const QString& userName, const QString& password);
    ~TIBDBXMan() override = default;

    static QStringList DriverParams();

    void InitDialect() override;
    void SetApplicationName(const QString& name) override;
    TSQLQuery* GetDSfromProc(const QString& procName, TParams* params) override;
    // A failure is recorded (LastError, the DB log) and absorbed: the result is false.
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

    // The argument list of a procedure call: ( :a,:b), or nothing when there are no inputs.
    static QString ProcArguments(const TParams* params, const QString& prefix);

protected:
    void prepareConnection(db::Database& database) override;

private:
    QString m_dbPath;
    QString m_userName;
    QString m_password;
};
