#pragma once

#include "ImportSource.h"

#include <QList>
#include <QString>

// Whether the file is a workbook by its extension (.xls, .xlsx, .ods; case ignored).
bool IsWorkbookFile(const QString& path);

// The rows of the first worksheet that show anything in the cells A to D, top down, each cell as
// the sheet shows it (its number format applied: leading zeros, decimals, percent, dates and times)
// and trimmed; number is the row on the sheet. A formula's cell shows the result the file stores;
// a cell that cannot be shown (a formula without a stored result, an error value) leaves its row
// empty in that cell and says why in unreadable. Throws InputError with a clear reason for a file
// that is not a workbook of its kind, one that cannot be read (damaged, encrypted, too big), and
// one whose first sheet shows nothing.
QList<ImportRow> ReadWorkbook(const QString& path);
