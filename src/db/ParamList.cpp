#include "ParamList.h"

namespace db {

ParamList::ParamList(std::initializer_list<QPair<QString, QString>> items)
{
    for (const auto& [name, value] : items)
        setValue(name, value);
}

qsizetype ParamList::indexOf(const QString& name) const
{
    for (qsizetype i = 0; i < m_items.size(); ++i)
        if (m_items[i].first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString ParamList::value(const QString& name, const QString& fallback) const
{
    const qsizetype i = indexOf(name);
    return i < 0 ? fallback : m_items[i].second;
}

bool ParamList::contains(const QString& name) const { return indexOf(name) >= 0; }

void ParamList::setValue(const QString& name, const QString& value)
{
    const qsizetype i = indexOf(name);
    if (i < 0)
        m_items.append({name, value});
    else
        m_items[i].second = value;
}

void ParamList::remove(const QString& name)
{
    const qsizetype i = indexOf(name);
    if (i >= 0)
        m_items.removeAt(i);
}

void ParamList::merge(const ParamList& other)
{
    for (const auto& [name, value] : other.m_items)
        setValue(name, value);
}

QStringList ParamList::toStrings() const
{
    QStringList out;
    for (const auto& [name, value] : m_items)
        out << name + QLatin1Char('=') + value;
    return out;
}

} // namespace db
