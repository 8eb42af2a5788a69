#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <vector>

class TSQLUpdater;

// One "/*stepname>table|size|key*//*step*/" line of a script: the normal step with that number
// is cut into statements over consecutive key ranges of RangeSize keys.
struct TSetupRec {
    QString TableName;
    QString KeyField;
    std::int32_t RangeSize = 0;
    std::int32_t StepNo = 0;
};
using TSetupArray = std::vector<TSetupRec>;

// A step of an update script: the lines from its start marker to its stop marker, applied by
// its runner inside one transaction of the target database. A step never starts or ends a
// transaction itself. Parse errors are InputError, naming the script, the step and the line.
class TSQLStep {
public:
    enum Kind : std::uint8_t { Normal = 0, Many = 1, Special = 2, Library = 3 };
    static const QStringList& StartMarkers(); // indexed by Kind, lower case
    static const QStringList& StopMarkers();

    virtual ~TSQLStep();
    TSQLStep(const TSQLStep&) = delete;
    TSQLStep& operator=(const TSQLStep&) = delete;

    // Creates a step of the kind; owner may be null for a step that is only parsed.
    static std::unique_ptr<TSQLStep> Create(Kind kind, TSQLUpdater* owner);

    const QStringList& Lines() const { return m_lines; }
    // Assigning the lines parses them. firstLine is the 1-based line of the file where the step
    // starts, so that errors can name it; script is the file's name for the same purpose. breaks
    // holds the break after each line as the file has it ("\n", "\r\n", "\r"); without them
    // every line ends in CR LF. The SQL sent keeps them, so a literal over two lines keeps its break.
    void SetLines(const QStringList& lines, int firstLine = 1, const QString& script = {}, const QStringList& breaks = {});
    std::int32_t StepNo() const { return m_stepNo; }
    Kind StepKind() const { return m_kind; }
    TSQLUpdater* Owner() const { return m_owner; }
    int FirstLine() const { return m_firstLine; }
    // The lines as the history stores them: each followed by CR LF.
    QString Text() const;

    virtual void Parse();
    // Runs the step inside the owner's open transaction on the target database; throws on failure.
    virtual void Apply();

    // The number of a start line of the given kind: the trimmed line without the marker and
    // its last two characters, as a decimal integer. Throws InputError when it does not convert.
    static std::int32_t ReadStepNo(const QString& line, Kind kind, const QString& where);

protected:
    TSQLStep(Kind kind, TSQLUpdater* owner);
    // "Скрипт x, стъпка n, ред l: " for an error at line index i of this step (-1: the start).
    QString Where(int lineIndex = -1) const;
    [[noreturn]] void Refuse(int lineIndex, const QString& reason) const;

    // The break after line i as the file has it.
    QString Break(qsizetype i) const;
    // The lines from `from` on, each but the last followed by its own break.
    QString Joined(qsizetype from = 0) const;

    QStringList m_lines;
    QStringList m_breaks; // as many as m_lines, or none
    std::int32_t m_stepNo = 0;
    Kind m_kind;
    TSQLUpdater* m_owner;
    int m_firstLine = 1;
    QString m_script;
};

// Kind 0: the whole text as one statement, or, with a range setup, one statement per key range
// that holds a key.
class TNormalSQLStep : public TSQLStep {
public:
    explicit TNormalSQLStep(TSQLUpdater* owner) : TSQLStep(Normal, owner) {}
    void Parse() override;
    void Apply() override;

    // The parser sets these before the lines: the setups of the script so far and the index of
    // the first one for this step's number (-1: none).
    const TSetupArray* Setups = nullptr;
    std::int32_t SetupIndex = -1;
    QString RangeTable;
    QString RangeKey;
    std::int32_t RangeSize = 0;

    // The condition appended for the key range starting at lo: consecutive ranges meet
    // without overlap.
    static QString RangeCondition(const QString& key, qint64 lo, qint64 size);
};

// Kind 1: statements separated by a terminator (";" unless a SET TERM command changes it: one that
// starts a statement, with only blanks and comments before it since the last terminator).
class TManySQLStep : public TSQLStep {
public:
    explicit TManySQLStep(TSQLUpdater* owner) : TSQLStep(Many, owner) {}
    void Parse() override;
    void Apply() override;

    QStringList Statements;
};

// Kind 2: copies columns row by row, within the destination table (in place) or from a source
// table, possibly of another database, matching rows by key.
class TSpecialSQLStep : public TSQLStep {
public:
    explicit TSpecialSQLStep(TSQLUpdater* owner) : TSQLStep(Special, owner) {}
    void Parse() override;
    void Apply() override;

    QString SourceAlias;
    QString SourceTableName;
    QString DestTableName;
    QString SourceFilter;
    QString DestFilter;
    bool InPlace = true;
    bool ClearDest = false;
    QStringList KeyPairs;   // "source@dest"
    QStringList FieldPairs; // "source@dest"

    static QString PairSource(const QString& pair) { return pair.section(QLatin1Char('@'), 0, 0); }
    static QString PairDest(const QString& pair) { return pair.section(QLatin1Char('@'), 1); }

private:
    void ApplyInPlace();
    void ApplyCopy();
};

// Kind 3: calls a procedure of a shared library next to the script, which works inside the
// step's transaction. The procedure: int32_t proc(uint32_t window, uint32_t dbHandle), 0 for
// success. A library that also exports "void SetStepTransaction(uint32_t trHandle)" is given
// the legacy handle of the step's transaction before the call.
class TDLLUpdStep : public TSQLStep {
public:
    explicit TDLLUpdStep(TSQLUpdater* owner) : TSQLStep(Library, owner) {}
    void Parse() override;
    void Apply() override;

    QString LibraryName;
    QString ProcName;

    // The file of the library `name` in `folder`, looked for as QLibrary loads it: the name as
    // written first, then with the platform's prefix and suffix ("lib", ".so"). Empty when none of
    // them is a file. Apply loads what this finds, so a check before the run sees what the run will.
    static QString FindLibrary(const QString& folder, const QString& name);
    // Throws InputError naming the script, the step and the DLLName line when folder (the
    // script's own) holds no such library.
    void CheckLibrary(const QString& folder) const;
};

using TStepProc = std::int32_t (*)(std::uint32_t window, std::uint32_t dbHandle);
using TSetStepTransaction = void (*)(std::uint32_t trHandle);
