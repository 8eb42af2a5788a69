#include "RowSearch.h"

#include "MemDataSet.h"

int FindRow(const TMemDataSet& dataSet, int field, const QString& text, int from, FindMode mode, int count)
{
    const int rows = dataSet.recordCount();
    if (field < 0 || field >= dataSet.fieldCount() || rows == 0 || text.trimmed().isEmpty())
        return -1;
    const QString wanted = mode == FindMode::Exact ? text : text.trimmed();
    if (count < 0 || count > rows)
        count = rows;
    int row = from >= 0 && from < rows ? from : 0;
    for (int i = 0; i < count; ++i, row = row + 1 < rows ? row + 1 : 0) {
        const QString cell = dataSet.textAt(row, field).trimmed();
        const bool match = mode == FindMode::Exact      ? cell.compare(wanted, Qt::CaseInsensitive) == 0
                           : mode == FindMode::Starting ? cell.startsWith(wanted, Qt::CaseInsensitive)
                                                        : cell.contains(wanted, Qt::CaseInsensitive);
        if (match)
            return row;
    }
    return -1;
}
