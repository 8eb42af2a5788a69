#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace db {

// An ordered name=value list whose names match without regard to case, as connection
// parameters ("USER NAME", "Server Name") are matched.
class ParamList {
public:
    ParamList() = default;
    ParamList(std::initializer_list<QPair<QString, QString>> items);

    QString value(const QString& name, const QString& fallback = {}) const;
    bool contains(const QString& name) const;
    // Replaces the value of an existing name (keeping its spelling) or appends the pair.
    void setValue(const QString& name, const QString& value);
    void remove(const QString& name);
    void clear() { m_items.clear(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    qsizetype size() const { return m_items.size(); }
    const QList<QPair<QString, QString>>& items() const { return m_items; }
    // Values of other override ours; names we do not have are appended.
    void merge(const ParamList& other);
    QStringList toStrings() const; // "NAME=VALUE" lines

    bool operator==(const ParamList&) const = default;

private:
    qsizetype indexOf(const QString& name) const;
    QList<QPair<QString, QString>> m_items;
};

} // namespace db
