#include "MemDataSetModel.h"

#include "MemDataSet.h"

TMemDataSetModel::TMemDataSetModel(QObject* parent) : QAbstractTableModel(parent) {}

void TMemDataSetModel::setDataSet(TMemDataSet* dataSet)
{
    if (m_dataSet)
        disconnect(m_dataSet, nullptr, this, nullptr);
    beginResetModel();
    m_dataSet = dataSet;
    resolveFields();
    endResetModel();
    if (m_dataSet) {
        connect(m_dataSet, &TMemDataSet::layoutReset, this, &TMemDataSetModel::reset);
        connect(m_dataSet, &TMemDataSet::rowChanged, this, [this](int row) {
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        });
        connect(m_dataSet, &QObject::destroyed, this, [this] { setDataSet(nullptr); });
    }
}

void TMemDataSetModel::setColumns(const QList<TGridColumn>& columns)
{
    beginResetModel();
    m_columns = columns;
    resolveFields();
    endResetModel();
}

void TMemDataSetModel::columnChanged(int index)
{
    emit headerDataChanged(Qt::Horizontal, index, index);
    if (rowCount() > 0)
        emit dataChanged(this->index(0, index), this->index(rowCount() - 1, index));
}

int TMemDataSetModel::fieldOf(int column) const { return column >= 0 && column < m_fields.size() ? m_fields[column] : -1; }

void TMemDataSetModel::reset()
{
    beginResetModel();
    resolveFields();
    endResetModel();
}

void TMemDataSetModel::resolveFields()
{
    m_fields.clear();
    for (const TGridColumn& c : m_columns)
        m_fields << (m_dataSet ? m_dataSet->fieldIndex(c.fieldName) : -1);
}

int TMemDataSetModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_dataSet ? 0 : m_dataSet->recordCount();
}

int TMemDataSetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(m_columns.size()); }

QVariant TMemDataSetModel::data(const QModelIndex& index, int role) const
{
    if (!m_dataSet || !index.isValid() || index.row() >= m_dataSet->recordCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_dataSet->textAt(index.row(), fieldOf(index.column()));
    case Qt::BackgroundRole: {
        const QColor& c = m_columns[index.column()].color;
        return c.isValid() ? QVariant(c) : QVariant();
    }
    default:
        return {};
    }
}

QVariant TMemDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_columns.size())
        return m_columns[section].title;
    return QAbstractTableModel::headerData(section, orientation, role);
}
