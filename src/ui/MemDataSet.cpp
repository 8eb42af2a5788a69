#include "MemDataSet.h"

#include "db/Query.h"

#include <QDateTime>

#include <algorithm>

TMemDataSet::TMemDataSet(QObject* parent) : QObject(parent) {}

void TMemDataSet::setFields(const QStringList& names)
{
    m_fields = names;
    m_rows.clear();
    rebuild(-1);
}

int TMemDataSet::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TMemDataSet::open()
{
    m_active = true;
    emit activeChanged(true);
    rebuild(-1);
}

void TMemDataSet::close()
{
    m_active = false;
    emit activeChanged(false);
    m_rows.clear();
    m_state = State::Browse;
    rebuild(-1);
}

void TMemDataSet::clearRows()
{
    m_rows.clear();
    m_state = State::Browse;
    rebuild(-1);
}

int TMemDataSet::appendRow(QVariantList values)
{
    while (values.size() < m_fields.size())
        values.append(QVariant());
    m_rows.push_back(std::move(values));
    const int source = static_cast<int>(m_rows.size()) - 1;
    if (accepts(source)) {
        m_visible.push_back(source);
        if (!m_disabled)
            emit layoutReset();
        else
            m_pendingReset = true;
        if (m_current < 0)
            moveTo(0);
    }
    return source;
}

void TMemDataSet::loadFromQuery(db::Query& query)
{
    QStringList names;
    for (int i = 0; i < query.fieldCount(); ++i)
        names << query.fieldName(i).trimmed();
    m_fields = names;
    m_rows.clear();
    const int n = static_cast<int>(names.size());
    for (; !query.eof(); query.next()) {
        QVariantList row;
        row.reserve(n);
        for (int i = 0; i < n; ++i)
            row.append(query.field(i).value());
        m_rows.push_back(std::move(row));
    }
    m_active = true;
    m_state = State::Browse;
    emit activeChanged(true);
    rebuild(-1);
}

QVariant TMemDataSet::sourceValue(int sourceRow, int field) const
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return {};
    return m_rows[static_cast<size_t>(sourceRow)][field];
}

QString TMemDataSet::sourceText(int sourceRow, int field) const
{
    const QVariant v = sourceValue(sourceRow, field);
    switch (v.typeId()) {
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.toString(QStringLiteral("dd.MM.yyyy")) : dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    }
    case QMetaType::QDate:
        return v.toDate().toString(QStringLiteral("dd.MM.yyyy"));
    case QMetaType::Double:
        return QString::number(v.toDouble(), 'g', 15);
    default:
        return v.toString();
    }
}

void TMemDataSet::setSourceValue(int sourceRow, int field, const QVariant& value)
{
    if (sourceRow < 0 || sourceRow >= sourceRowCount() || field < 0 || field >= fieldCount())
        return;
    m_rows[static_cast<size_t>(sourceRow)][field] = value;
    if (m_disabled) {
        m_pendingReset = true;
        return;
    }
    const auto it = std::find(m_visible.begin(), m_visible.end(), sourceRow);
    if (it != m_visible.end())
        emit rowChanged(static_cast<int>(it - m_visible.begin()));
}

void TMemDataSet::mapField(int field, const std::function<QVariant(const QVariant&)>& fn)
{
    if (field < 0 || field >= fieldCount())
        return;
    for (QVariantList& row : m_rows)
        row[field] = fn(row[field]);
    if (m_disabled)
        m_pendingReset = true;
    else
        emit layoutReset();
}

bool TMemDataSet::accepts(int sourceRow)
{
    if (m_filtered && m_filter && !m_filter(*this, sourceRow))
        return false;
    return !m_gridFilter || m_gridFilter(sourceRow);
}

void TMemDataSet::setGridFilter(GridFilter filter)
{
    m_gridFilter = std::move(filter);
    rebuild(currentSourceRow());
}

void TMemDataSet::rebuild(int keepSourceRow)
{
    m_visible.clear();
    m_visible.reserve(m_rows.size());
    const int n = sourceRowCount();
    for (int i = 0; i < n; ++i)
        if (accepts(i))
            m_visible.push_back(i);
    int row = 0;
    bool kept = false;
    if (keepSourceRow >= 0) {
        const auto it = std::find(m_visible.begin(), m_visible.end(), keepSourceRow);
        kept = it != m_visible.end();
        if (kept)
            row = static_cast<int>(it - m_visible.begin());
    }
    m_current = -1;
    if (m_disabled)
        m_pendingReset = true;
    else
        emit layoutReset();
    if (!kept) {
        moveTo(m_visible.empty() ? -1 : row, true);
        return;
    }
    // The same record stays current, only at another position: the views follow it, but it is
    // no scroll (an owner's after-scroll would treat it as a new record and drop its edits).
    m_current = row;
    m_bof = m_eof = false;
    if (m_disabled)
        m_pendingScroll = true;
    else
        emit currentChanged(m_current);
}

void TMemDataSet::setFiltered(bool on)
{
    if (m_filtered == on)
        return;
    m_filtered = on;
    rebuild(currentSourceRow());
}

void TMemDataSet::refilter() { rebuild(currentSourceRow()); }

void TMemDataSet::moveTo(int row, bool force)
{
    if (m_visible.empty()) {
        const bool changed = m_current != -1;
        m_current = -1;
        m_bof = m_eof = true;
        if (changed || force)
            notifyScroll();
        return;
    }
    row = std::clamp(row, 0, recordCount() - 1);
    m_bof = m_eof = false;
    if (row == m_current && !force)
        return;
    m_current = row;
    notifyScroll();
}

void TMemDataSet::notifyScroll()
{
    if (m_disabled) {
        m_pendingScroll = true;
        return;
    }
    emit currentChanged(m_current);
    if (afterScroll)
        afterScroll(*this);
}

void TMemDataSet::enableControls()
{
    if (m_disabled > 0)
        --m_disabled;
    if (m_disabled)
        return;
    if (m_pendingReset) {
        m_pendingReset = false;
        emit layoutReset();
    }
    if (m_pendingScroll) {
        m_pendingScroll = false;
        emit currentChanged(m_current);
    }
}

void TMemDataSet::setRecNo(int row) { moveTo(row); }

void TMemDataSet::first()
{
    moveTo(0);
    m_bof = true;
}

void TMemDataSet::last()
{
    moveTo(recordCount() - 1);
    m_eof = true;
}

void TMemDataSet::next()
{
    if (m_visible.empty() || m_current >= recordCount() - 1) {
        m_eof = true;
        return;
    }
    moveTo(m_current + 1);
}

void TMemDataSet::prior()
{
    if (m_visible.empty() || m_current <= 0) {
        m_bof = true;
        return;
    }
    moveTo(m_current - 1);
}

bool TMemDataSet::locate(const QString& field, const QVariant& value)
{
    const int f = fieldIndex(field);
    if (f < 0)
        return false;
    const bool text = value.typeId() == QMetaType::QString;
    for (int row = 0; row < recordCount(); ++row) {
        const QVariant v = valueAt(row, f);
        if (text ? v.toString().compare(value.toString(), Qt::CaseInsensitive) == 0 : v == value) {
            moveTo(row);
            return true;
        }
    }
    return false;
}

QVariant TMemDataSet::value(int field) const { return sourceValue(currentSourceRow(), field); }
QVariant TMemDataSet::value(const QString& field) const { return value(fieldIndex(field)); }
QString TMemDataSet::text(int field) const { return sourceText(currentSourceRow(), field); }
QString TMemDataSet::text(const QString& field) const { return text(fieldIndex(field)); }

void TMemDataSet::edit()
{
    if (m_state != State::Browse || m_current < 0)
        return;
    m_editBackup = m_rows[static_cast<size_t>(currentSourceRow())];
    m_state = State::Edit;
}

void TMemDataSet::insert()
{
    if (m_state != State::Browse)
        post();
    QVariantList empty;
    for (int i = 0; i < fieldCount(); ++i)
        empty.append(QVariant());
    m_rows.push_back(empty);
    m_visible.push_back(sourceRowCount() - 1);
    if (!m_disabled)
        emit layoutReset();
    m_state = State::Insert;
    moveTo(recordCount() - 1);
}

void TMemDataSet::setValue(int field, const QVariant& value)
{
    if (m_state == State::Browse)
        edit();
    setSourceValue(currentSourceRow(), field, value);
}

void TMemDataSet::setValue(const QString& field, const QVariant& value) { setValue(fieldIndex(field), value); }

void TMemDataSet::post() { m_state = State::Browse; }

void TMemDataSet::cancel()
{
    if (m_state == State::Insert) {
        m_state = State::Browse;
        deleteCurrent();
        return;
    }
    if (m_state == State::Edit && m_current >= 0) {
        m_rows[static_cast<size_t>(currentSourceRow())] = m_editBackup;
        if (!m_disabled)
            emit rowChanged(m_current);
    }
    m_state = State::Browse;
}

void TMemDataSet::deleteCurrent()
{
    if (m_current < 0)
        return;
    m_state = State::Browse;
    const int source = currentSourceRow();
    m_rows.erase(m_rows.begin() + source);
    int row = m_current;
    m_visible.erase(m_visible.begin() + row);
    for (int& v : m_visible)
        if (v > source)
            --v;
    if (!m_disabled)
        emit layoutReset();
    else
        m_pendingReset = true;
    m_current = -1;
    moveTo(std::min(row, recordCount() - 1), true);
}

void TMemDataSet::refresh()
{
    if (onRefresh)
        onRefresh(*this);
}

void TMemDataSet::sortBy(int field, bool ascending)
{
    if (field < 0 || field >= fieldCount())
        return;
    const int keep = currentSourceRow();
    const size_t n = m_rows.size();
    std::vector<int> order(n);
    for (size_t i = 0; i < n; ++i)
        order[i] = static_cast<int>(i);
    bool text = false;
    for (const QVariantList& row : m_rows)
        if (row[field].typeId() == QMetaType::QString) {
            text = true;
            break;
        }
    if (text) {
        // Case-folded keys once per row instead of a case-insensitive compare per comparison.
        std::vector<QString> keys(n);
        for (size_t i = 0; i < n; ++i)
            keys[i] = m_rows[i][field].toString().toCaseFolded();
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = QString::compare(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)]);
            return ascending ? c < 0 : c > 0;
        });
    } else {
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const auto c = QVariant::compare(m_rows[static_cast<size_t>(a)][field], m_rows[static_cast<size_t>(b)][field]);
            return ascending ? c == QPartialOrdering::Less : c == QPartialOrdering::Greater;
        });
    }
    std::vector<QVariantList> rows;
    rows.reserve(n);
    int newKeep = -1;
    for (size_t i = 0; i < n; ++i) {
        if (order[i] == keep)
            newKeep = static_cast<int>(i);
        rows.push_back(std::move(m_rows[static_cast<size_t>(order[i])]));
    }
    m_rows = std::move(rows);
    rebuild(newKeep);
}
