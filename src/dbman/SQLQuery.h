#pragma once

#include "DBParams.h"

#include "db/Query.h"

#include <QString>

namespace db {
class Database;
}

// A named dataset of a manager: SQL text, its own parameter list parsed from the text, an
// active flag and the rows of the open result.
class TSQLQuery {
public:
    TSQLQuery(db::Database* database, const QString& name);

    const QString& Name() const { return m_name; }
    const QString& SQL() const { return m_query.sql(); }
    // New text closes the dataset and gives it the parameters named in the text, all Null.
    void SetSQL(const QString& sql);
    TParams& Params() { return m_params; }
    const TParams& Params() const { return m_params; }

    bool Active() const { return m_query.isOpen(); }
    void SetActive(bool on);
    void Open();
    void Close();
    void ExecSQL();
    qint64 RowsAffected() const { return m_query.rowsAffected(); }

    bool IsEmpty() const { return !m_query.isOpen() || m_query.eof(); }
    bool Eof() const { return m_query.eof(); }
    void Next() { m_query.next(); }
    int FieldCount() const { return m_query.fieldCount(); }
    db::Field Fields(int index) const { return m_query.field(index); }
    db::Field FieldByName(const QString& name) const { return m_query.fieldByName(name); }

private:
    void bind();

    QString m_name;
    db::Query m_query;
    TParams m_params;
};
