#pragma once

#include <QString>

class TMemDataSet;

// How a search text is compared with a cell's text (the cell trimmed, case ignored).
enum class FindMode {
    Containing, // the text, trimmed, occurs anywhere in the cell
    Starting,   // the text, trimmed, begins the cell
    Exact,      // the text as typed is the whole cell
};

// The first visible row, from `from` on, whose display text in `field` matches `text`; -1 when
// none does. The search goes round: after the last row it goes on from the first up to the row
// before `from` (a `from` past the last row starts at the first). At most `count` rows are looked
// at (every row when negative), so that a window can search a long list in chunks. A field that
// does not exist or a text that is blank finds nothing.
int FindRow(const TMemDataSet& dataSet, int field, const QString& text, int from, FindMode mode, int count = -1);
