#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QList>

class TMemDataSet;

// One column of a grid over a dataset: the field it shows, its title and its colour.
struct TGridColumn {
    QString fieldName;
    QString title;
    QColor color;   // invalid: the grid's own background
    int width = 100;
    bool visible = true;
};

// Shows the visible rows of a dataset through the grid's columns.
class TMemDataSetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TMemDataSetModel(QObject* parent = nullptr);

    void setDataSet(TMemDataSet* dataSet);
    TMemDataSet* dataSet() const { return m_dataSet; }
    void setColumns(const QList<TGridColumn>& columns);
    const QList<TGridColumn>& columns() const { return m_columns; }
    TGridColumn& column(int index) { return m_columns[index]; }
    void columnChanged(int index); // after a column's title or colour changed
    int fieldOf(int column) const;  // the dataset field of a column, or -1

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void reset();
    void resolveFields();

    TMemDataSet* m_dataSet = nullptr;
    QList<TGridColumn> m_columns;
    QList<int> m_fields;
};
