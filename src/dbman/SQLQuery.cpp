#include "SQLQuery.h"

TSQLQuery::TSQLQuery(db::Database* database, const QString& name) : m_name(name), m_query(database) {}

void TSQLQuery::SetSQL(const QString& sql)
{
    m_query.setSql(sql);
    m_params.Clear();
    for (const QString& n : m_query.paramNames())
        m_params.CreateParam(TFieldType::ftUnknown, n, TParamType::ptInput);
}

void TSQLQuery::SetActive(bool on)
{
    if (on)
        Open();
    else
        Close();
}

void TSQLQuery::bind()
{
    for (const TParam& p : m_params)
        m_query.setParam(p.Name, p.BindValue());
}

void TSQLQuery::Open()
{
    bind();
    m_query.open();
}

void TSQLQuery::Close() { m_query.close(); }

void TSQLQuery::ExecSQL()
{
    bind();
    m_query.execSql();
}
