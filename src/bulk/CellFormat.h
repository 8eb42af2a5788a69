#pragma once

#include <QString>

// A number as a general cell shows it: whole numbers without a fraction, others with at most 15
// significant digits.
QString GeneralNumber(double value);

// value as a cell with the number format code shows it: leading zeros, thousands, fixed decimals,
// percent, literal text, dates and times. A code it does not know (fractions, exponents,
// conditions) shows the number as a general cell does. date1904: the workbook counts its days from
// 1904 instead of 1900. The separators are the code's own: "." for decimals, "," for thousands.
QString FormatCellNumber(double value, const QString& code, bool date1904 = false);

// The code of a built-in number format of .xls and .xlsx by its id; empty for General and for ids
// without a built-in code. Id 14, the system's short date, is shown as a Bulgarian system shows it.
QString BuiltinNumberFormat(int id);
