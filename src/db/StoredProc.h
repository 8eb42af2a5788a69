#pragma once

#include "Connection.h"

#include <QHash>
#include <QString>
#include <QVariant>

namespace db {

class Database;

// A stored procedure run with named input parameters; its output parameters are read after execProc().
class StoredProc {
public:
    explicit StoredProc(Database* database = nullptr, const QString& procedureName = {});

    void setDatabase(Database* database) { m_db = database; m_prepared = false; }
    Database* database() const { return m_db; }
    const QString& procedureName() const { return m_name; }
    void setProcedureName(const QString& name) { m_name = name; m_prepared = false; }

    // Reads the parameter list from the catalogue; execProc() does it when needed.
    void prepare();
    const QList<ProcParam>& params();

    void setParam(const QString& name, const QVariant& value);
    QVariant param(const QString& name) const; // an input as set, or an output after execProc()
    void clearParams() { m_values.clear(); }

    void execProc();

private:
    const ProcParam* find(const QString& name) const;

    Database* m_db = nullptr;
    QString m_name;
    QList<ProcParam> m_params;
    bool m_prepared = false;
    QHash<QString, QVariant> m_values; // keyed by upper-case name
};

} // namespace db
