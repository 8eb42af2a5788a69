#pragma once

#include <QObject>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <functional>
#include <vector>

namespace db {
class Query;
}

// The in-memory dataset every list of the program is shown from: named fields, rows, a
// current row, a record filter, an after-scroll notification and suspended display.
// Positions (recNo, rowAt) count the rows that pass the filter; "source" rows count all rows.
// Values are kept per field, typed, with a null bitmap, so that a list of a million rows costs
// little more than its data; text is kept in windows-1251 while it fits.
class TMemDataSet : public QObject {
    Q_OBJECT
public:
    enum class State { Browse, Edit, Insert };
    using RecordFilter = std::function<bool(TMemDataSet& dataSet, int sourceRow)>;

    // How loadFromQuery takes a field other than as fetched.
    struct FieldLoad {
        // Turns the fetched windows-1251 bytes of a text field into the text kept, also
        // windows-1251, written straight into the dataset's storage: out has room for
        // max(size, 64) bytes; returns how many were written.
        using Decoder = std::function<qsizetype(const char* data, qsizetype size, char* out)>;
        // Reads a value when it is asked for; the load keeps only whether it is null.
        using Loader = std::function<QVariant(const TMemDataSet& dataSet, int sourceRow)>;
        QString field;
        Decoder decode;
        Loader deferred;
    };

    explicit TMemDataSet(QObject* parent = nullptr);
    ~TMemDataSet() override;

    // Fields
    void setFields(const QStringList& names); // drops every row
    const QStringList& fields() const { return m_fields; }
    int fieldCount() const { return static_cast<int>(m_fields.size()); }
    int fieldIndex(const QString& name) const; // without regard to case; -1 when absent

    // Rows
    bool active() const { return m_active; }
    void open();   // makes the dataset active (after fields and rows are in place)
    void close();  // inactive and empty
    void clearRows();
    int appendRow(QVariantList values); // returns the source row
    // Replaces fields and rows with the query's result (the query is read to its end).
    void loadFromQuery(db::Query& query, const QList<FieldLoad>& how = {});
    int sourceRowCount() const { return m_rowCount; }
    QVariant sourceValue(int sourceRow, int field) const;
    bool isNull(int sourceRow, int field) const;
    QString sourceText(int sourceRow, int field) const; // display text
    // The display text into out, reusing its storage: a scan over many rows allocates nothing.
    void sourceTextInto(int sourceRow, int field, QString& out) const;
    void setSourceValue(int sourceRow, int field, const QVariant& value);
    // Replaces every value of a field with fn(value), in one pass.
    void mapField(int field, const std::function<QVariant(const QVariant&)>& fn);

    // Visible rows and the current one
    int recordCount() const { return static_cast<int>(m_visible.size()); }
    int recNo() const { return m_current; } // -1 when there is no row
    void setRecNo(int row);
    int sourceRowAt(int row) const { return m_visible[static_cast<size_t>(row)]; }
    int currentSourceRow() const { return m_current < 0 ? -1 : m_visible[static_cast<size_t>(m_current)]; }
    bool isEmpty() const { return m_visible.empty(); }
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    void first();
    void prior();
    void next();
    void last();
    // Moves to the first visible row whose field equals value (text compared without regard to case).
    bool locate(const QString& field, const QVariant& value);

    QVariant value(int field) const; // of the current row; invalid when there is none
    QVariant value(const QString& field) const;
    QString text(int field) const;
    QString text(const QString& field) const;
    QVariant valueAt(int row, int field) const { return sourceValue(sourceRowAt(row), field); }
    QString textAt(int row, int field) const { return sourceText(sourceRowAt(row), field); }

    // Editing
    State state() const { return m_state; }
    void edit();
    void insert(); // appends an empty row and makes it current
    void setValue(int field, const QVariant& value); // of the current row, in Edit or Insert state
    void setValue(const QString& field, const QVariant& value);
    void post();
    void cancel();
    void deleteCurrent();
    void refresh(); // asks the owner to reload (onRefresh)
    std::function<void(TMemDataSet&)> onRefresh;

    // Filtering: the callback decides for every row while the filtered switch is on.
    void setOnFilterRecord(RecordFilter filter) { m_filter = std::move(filter); }
    const RecordFilter& onFilterRecord() const { return m_filter; }
    bool filtered() const { return m_filtered; }
    void setFiltered(bool on);
    void refilter(); // runs the filters again, keeping the current row when it stays visible
    // A second filter, owned by the grid that shows the dataset: a row is visible only when both
    // accept it, and this one applies whether or not the filtered switch is on. Setting it runs
    // the filters once; after changing what the callback tests, call refilter().
    using GridFilter = std::function<bool(int sourceRow)>;
    void setGridFilter(GridFilter filter);
    const GridFilter& gridFilter() const { return m_gridFilter; }

    // After-scroll: called after another record became current (not while controls are disabled);
    // sorting or filtering that keeps the current record only moves it.
    std::function<void(TMemDataSet&)> afterScroll;

    // Suspended display: no notifications until the matching enableControls().
    void disableControls() { ++m_disabled; }
    void enableControls();
    bool controlsDisabled() const { return m_disabled > 0; }

    // Sorts the rows by a field, text compared without regard to case.
    void sortBy(int field, bool ascending = true);

signals:
    void activeChanged(bool active); // opened (or reloaded) and closed
    void layoutReset();              // fields, rows or filter changed
    void rowChanged(int row);        // the values of a visible row changed
    void currentChanged(int row);    // the current row moved

private:
    class Column;
    void rebuild(int keepSourceRow);
    void appendNullRow();
    void dropRows();
    std::vector<std::uint32_t> sortOrder(int field, bool ascending) const;
    void afterAppend(int sourceRow);
    void moveTo(int row, bool force = false);
    void notifyScroll();
    bool accepts(int sourceRow);

    QStringList m_fields;
    std::vector<Column> m_columns;
    int m_rowCount = 0;
    std::vector<int> m_visible;
    int m_current = -1;
    bool m_eof = true;
    bool m_bof = true;
    bool m_active = false;
    bool m_filtered = false;
    RecordFilter m_filter;
    GridFilter m_gridFilter;
    int m_disabled = 0;
    bool m_pendingReset = false;
    bool m_pendingScroll = false;
    State m_state = State::Browse;
    std::vector<QVariant> m_editBackup;
    std::vector<bool> m_editDeferred; // fields whose value was never read: they need no restoring
};
