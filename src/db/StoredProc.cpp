#include "StoredProc.h"

#include "Database.h"
#include "Error.h"

namespace db {

StoredProc::StoredProc(Database* database, const QString& procedureName) : m_db(database), m_name(procedureName) {}

void StoredProc::prepare()
{
    if (!m_db)
        throw Error(QStringLiteral("Процедурата %1 няма база данни").arg(m_name));
    m_params = m_db->procedureParams(m_name);
    m_prepared = true;
}

const QList<ProcParam>& StoredProc::params()
{
    if (!m_prepared)
        prepare();
    return m_params;
}

const ProcParam* StoredProc::find(const QString& name) const
{
    for (const ProcParam& p : m_params)
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

void StoredProc::setParam(const QString& name, const QVariant& value)
{
    if (!m_prepared)
        prepare();
    const ProcParam* p = find(name);
    if (!p || p->output)
        throw Error(QStringLiteral("Процедурата %1 няма входен параметър '%2'").arg(m_name, name));
    m_values.insert(name.toUpper(), value);
}

QVariant StoredProc::param(const QString& name) const { return m_values.value(name.toUpper()); }

void StoredProc::execProc()
{
    if (!m_prepared)
        prepare();
    Connection& conn = m_db->connection();
    QVariantList inputs;
    QList<const ProcParam*> outputs;
    for (const ProcParam& p : m_params) {
        if (p.output)
            outputs << &p;
        else
            inputs << m_values.value(p.name.toUpper());
    }
    QList<ColumnInfo> columns;
    QVariantList row;
    try {
        row = conn.executeRow(conn.procedureCallSql(m_name, static_cast<int>(inputs.size())), inputs, &columns);
    } catch (const std::exception& e) {
        m_db->noteFailure(e);
        throw;
    }
    for (const ProcParam* p : outputs)
        m_values.remove(p->name.toUpper());
    for (qsizetype i = 0; i < row.size() && i < columns.size(); ++i) {
        // PostgreSQL names a lone result after the function; it stands for the one output.
        QString name = columns[i].name.toUpper();
        if (!find(name) && outputs.size() == 1 && row.size() == 1)
            name = outputs.first()->name.toUpper();
        m_values.insert(name, row[i]);
    }
}

} // namespace db
