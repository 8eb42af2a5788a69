#pragma once

#include "ImportSource.h"

#include <QList>
#include <QString>

#include <array>

// Whether the file is a workbook by its extension (.xls, .xlsx, .ods; case ignored).
bool IsWorkbookFile(const QString& path);

// The cells A to D of the rows of the first worksheet, from row 1 down to the last used row, each
// as the sheet displays it (a whole number 1234 gives "1234") and trimmed; a cell that cannot be
// read is empty. Throws InputError with a clear reason for a file that is not a workbook of its
// kind, or one that cannot be read.
using WorkbookRow = std::array<QString, 4>;
QList<WorkbookRow> ReadWorkbook(const QString& path);
