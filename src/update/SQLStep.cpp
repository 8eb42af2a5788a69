#include "SQLStep.h"

#include "SQLUpdater.h"
#include "UpdateText.h"

#include "core/InputError.h"
#include "db/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>
#include <QRegularExpression>
#include <QThread>

#include <optional>

namespace {

bool isInteger(const QString& s, qint64 min, qint64 max, qint64* out)
{
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!digits.match(s).hasMatch())
        return false;
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// Where a line of SQL text stands: in code, in a quoted literal or identifier, or in a comment.
// Kept across the lines of a statement.
struct SqlScan {
    QChar quote;             // '\'' or '"' while inside one
    bool blockComment = false;

    bool inCode() const { return quote.isNull() && !blockComment; }

    // Moves over the character at i (and a second one of a comment mark). Returns whether the
    // character stands in code; a "--" comment moves i to the end of the line.
    bool advance(const QString& line, qsizetype& i)
    {
        const QChar c = line[i];
        const QChar next = i + 1 < line.size() ? line[i + 1] : QChar();
        if (blockComment) {
            if (c == QLatin1Char('*') && next == QLatin1Char('/'))
                blockComment = false, ++i;
            return false;
        }
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar(); // a doubled quote reopens at once on the next character
            return false;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
            return false;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            blockComment = true, ++i;
            return false;
        }
        if (c == QLatin1Char('-') && next == QLatin1Char('-')) {
            i = line.size();
            return false;
        }
        return true;
    }

    // Index of the first occurrence of term in code, from `from`; the state is advanced to it.
    // -1 (state at the end of the line) when there is none.
    qsizetype find(const QString& line, const QString& term, qsizetype from = 0)
    {
        for (qsizetype i = from; i < line.size(); ++i) {
            if (inCode() && !term.isEmpty() && QStringView(line).mid(i).startsWith(term))
                return i;
            advance(line, i);
        }
        return -1;
    }

    // Index of the first character of code that is not a blank, the state advanced to it; -1
    // (state at the end of the line) when the line holds only blanks and comments from here.
    qsizetype firstCode(const QString& line)
    {
        for (qsizetype i = 0; i < line.size(); ++i) {
            const QChar c = line[i];
            const QChar next = i + 1 < line.size() ? line[i + 1] : QChar();
            const bool commentMark = (c == QLatin1Char('-') && next == QLatin1Char('-')) || (c == QLatin1Char('/') && next == QLatin1Char('*'));
            if (inCode() && !c.isSpace() && !commentMark)
                return i;
            advance(line, i);
        }
        return -1;
    }

    // Whether the text holds anything but whitespace and comments.
    bool meaningful(const QString& text)
    {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool wasQuoted = !quote.isNull();
            const QChar c = text[i];
            if (advance(text, i) ? !c.isSpace() : wasQuoted || !quote.isNull())
                return true;
        }
        return false;
    }
};

// A column or table name as it may stand in SQL text: plain, or double-quoted.
bool isIdentifier(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
    static const QRegularExpression quoted(QStringLiteral("^\"([^\"]|\"\")+\"$"));
    return plain.match(name).hasMatch() || quoted.match(name).hasMatch();
}

// The value of name=value lines, the first whose name matches without regard to case.
std::optional<QString> paramValue(const QStringList& lines, const QString& name)
{
    for (const QString& line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && line.left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1);
    }
    return std::nullopt;
}

int paramLine(const QStringList& lines, const QString& name)
{
    for (int i = 0; i < lines.size(); ++i) {
        const qsizetype eq = lines[i].indexOf(QLatin1Char('='));
        if (eq >= 0 && lines[i].left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

db::Database& target(TSQLUpdater* owner)
{
    if (!owner)
        throw db::Error(QStringLiteral("Стъпката няма изпълнител"));
    return owner->TargetDB;
}

void execute(db::Query& q, const QString& sql)
{
    q.close();
    q.setSql(sql);
    q.execSql();
}

void pump(TSQLUpdater* owner)
{
    if (owner->PumpMessages && QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread())
        QCoreApplication::processEvents();
}

} // namespace

// ---------------------------------------------------------------------------------------------

const QStringList& TSQLStep::StartMarkers()
{
    static const QStringList m{QStringLiteral("/*sqlstart>"), QStringLiteral("/*manystart>"), QStringLiteral("/*specstart>"),
                               QStringLiteral("/*dllstart>")};
    return m;
}

const QStringList& TSQLStep::StopMarkers()
{
    static const QStringList m{QStringLiteral("/*sqlstop"), QStringLiteral("/*manystop"), QStringLiteral("/*specstop"),
                               QStringLiteral("/*dllstop")};
    return m;
}

TSQLStep::TSQLStep(Kind kind, TSQLUpdater* owner) : m_kind(kind), m_owner(owner) {}
TSQLStep::~TSQLStep() = default;

std::unique_ptr<TSQLStep> TSQLStep::Create(Kind kind, TSQLUpdater* owner)
{
    switch (kind) {
    case Normal: return std::make_unique<TNormalSQLStep>(owner);
    case Many: return std::make_unique<TManySQLStep>(owner);
    case Special: return std::make_unique<TSpecialSQLStep>(owner);
    case Library: return std::make_unique<TDLLUpdStep>(owner);
    }
    return nullptr;
}

void TSQLStep::SetLines(const QStringList& lines, int firstLine, const QString& script, const QStringList& breaks)
{
    m_lines = lines;
    m_breaks = breaks.size() == lines.size() ? breaks : QStringList();
    m_firstLine = firstLine;
    m_script = script;
    Parse();
}

QString TSQLStep::Text() const
{
    QString out;
    for (const QString& line : m_lines)
        out += line + QStringLiteral("\r\n");
    return out;
}

QString TSQLStep::Break(qsizetype i) const
{
    const QString b = m_breaks.value(i);
    return b.isEmpty() ? QStringLiteral("\r\n") : b;
}

QString TSQLStep::Joined(qsizetype from) const
{
    QString out;
    for (qsizetype i = from; i < m_lines.size(); ++i)
        out += i + 1 < m_lines.size() ? m_lines[i] + Break(i) : m_lines[i];
    return out;
}

QString TSQLStep::Where(int lineIndex) const
{
    return UpdateText::ScriptPlace.arg(m_script).arg(m_stepNo).arg(m_firstLine + std::max(lineIndex, 0));
}

void TSQLStep::Refuse(int lineIndex, const QString& reason) const { throw InputError(Where(lineIndex) + reason); }

std::int32_t TSQLStep::ReadStepNo(const QString& line, Kind kind, const QString& where)
{
    QString s = line.trimmed().mid(StartMarkers()[kind].size());
    s.chop(2);
    qint64 v = 0;
    if (!isInteger(s, INT32_MIN, INT32_MAX, &v))
        throw InputError(where + UpdateText::NotAnInteger.arg(s));
    return static_cast<std::int32_t>(v);
}

void TSQLStep::Parse()
{
    if (m_lines.isEmpty())
        throw InputError(UpdateText::ScriptLinePlace.arg(m_script).arg(m_firstLine) + QStringLiteral("празна стъпка"));
    m_stepNo = ReadStepNo(m_lines.first(), m_kind, UpdateText::ScriptLinePlace.arg(m_script).arg(m_firstLine));
}

void TSQLStep::Apply() {}

// ---------------------------------------------------------------------------------------------

QString TNormalSQLStep::RangeCondition(const QString& key, qint64 lo, qint64 size)
{
    return QStringLiteral("( %1 between %2 AND %3 )").arg(key).arg(lo).arg(lo + size - 1);
}

void TNormalSQLStep::Parse()
{
    TSQLStep::Parse();
    if (!Setups || SetupIndex < 0 || SetupIndex >= static_cast<int>(Setups->size()))
        return;
    const TSetupRec& setup = (*Setups)[static_cast<size_t>(SetupIndex)];
    RangeTable = setup.TableName;
    RangeKey = setup.KeyField;
    RangeSize = setup.RangeSize;
    for (qsizetype i = m_lines.size() - 1; i >= 0; --i) {
        if (m_lines[i].toLower().contains(StopMarkers()[Normal])) {
            m_lines.removeAt(i);
            if (i < m_breaks.size())
                m_breaks.removeAt(i);
            break;
        }
    }
}

void TNormalSQLStep::Apply()
{
    db::Query& q = m_owner->ExecQuery;
    const QString body = Joined();
    if (SetupIndex < 0 || RangeSize <= 0) {
        execute(q, body);
        return;
    }
    q.close();
    q.setSql(QStringLiteral("select min(%1), max(%2) from %3").arg(RangeKey, RangeKey, RangeTable));
    q.open();
    qint64 lo = 0, hi = 0;
    if (!q.eof()) {
        lo = q.field(0).asInt64();
        hi = q.field(1).asInt64();
    }
    q.close();
    // In 64 bits, so that a maximum near the top of a 32-bit key cannot wrap into an endless loop.
    for (;;) {
        execute(q, body + Break(m_lines.size() - 1) + RangeCondition(RangeKey, lo, RangeSize));
        if (hi - lo < RangeSize)
            break;
        // The next range that holds a key, on the same grid: a sparse key (a few rows spread
        // over the whole integer range) would otherwise cost a statement for every empty range.
        const qint64 next = lo + RangeSize;
        q.close();
        q.setSql(QStringLiteral("select min(%1) from %2 where %1 >= %3").arg(RangeKey, RangeTable).arg(next));
        q.open();
        const bool none = q.eof() || q.isNull(0);
        const qint64 key = none ? 0 : q.field(0).asInt64();
        q.close();
        if (none || key > hi)
            break;
        lo = next + (key - next) / RangeSize * RangeSize;
    }
}

// ---------------------------------------------------------------------------------------------

void TManySQLStep::Parse()
{
    TSQLStep::Parse();
    Statements.clear();
    QString terminator = QStringLiteral(";");
    QString current;
    int firstPending = -1; // the first line after the last terminator that holds SQL
    SqlScan scan;
    static const QRegularExpression setTermCommand(QStringLiteral("^set\\s+term(\\s|$)"), QRegularExpression::CaseInsensitiveOption);
    for (int i = 1; i < m_lines.size(); ++i) {
        const QString& line = m_lines[i];
        // A command only where a statement starts; "set term_months", a literal or a comment
        // that holds the words is text of a statement.
        if (firstPending < 0) {
            SqlScan at = scan;
            const qsizetype code = at.firstCode(line);
            const QRegularExpressionMatch m = code < 0 ? QRegularExpressionMatch() : setTermCommand.match(QStringView(line).mid(code));
            if (m.hasMatch()) {
                QString t = line.mid(code + m.capturedLength()).trimmed();
                const qsizetype old = t.indexOf(terminator);
                if (old >= 0)
                    t.remove(old, terminator.size());
                terminator = t.trimmed();
                if (terminator.isEmpty())
                    Refuse(i, QStringLiteral("\"set term\" без нов разделител"));
                continue;
            }
        }
        SqlScan before = scan;
        const qsizetype at = scan.find(line, terminator);
        if (at >= 0) {
            QString rest = line;
            rest.remove(at, terminator.size());
            // The rest of the line stays in the statement; its quotes and comments still count.
            scan.find(line, QString(), at + terminator.size());
            current += rest;
            Statements << current;
            current.clear();
            firstPending = -1;
        } else if (!line.isEmpty()) {
            if (firstPending < 0 && before.meaningful(line))
                firstPending = i;
            current += line + Break(i);
        }
    }
    // Text after the last terminator would be recorded as applied without ever running.
    if (firstPending >= 0)
        Refuse(firstPending, UpdateText::TextAfterTerminator.arg(terminator));
}

void TManySQLStep::Apply()
{
    for (const QString& statement : std::as_const(Statements))
        execute(m_owner->ExecQuery, statement);
}

// ---------------------------------------------------------------------------------------------

void TSpecialSQLStep::Parse()
{
    TSQLStep::Parse();
    const auto value = [&](const char* name) { return paramValue(m_lines, QLatin1String(name)).value_or(QString()).trimmed(); };
    const auto names = [&](const char* name) {
        QString v = value(name);
        if (!v.endsWith(QLatin1Char(';')))
            v += QLatin1Char(';');
        QStringList out = v.split(QLatin1Char(';'));
        out.removeLast();
        for (QString& n : out) {
            n = n.trimmed();
            if (!isIdentifier(n))
                Refuse(paramLine(m_lines, QLatin1String(name)),
                       QStringLiteral("\"%1\" не е име на колона (в %2)").arg(n, QLatin1String(name)));
        }
        return out;
    };
    const auto pairs = [&](const char* src, const char* dst) {
        const QStringList s = names(src), d = names(dst);
        if (s.size() != d.size())
            Refuse(paramLine(m_lines, QLatin1String(dst)),
                   QStringLiteral("%1 и %2 имат различен брой имена (%3 и %4)").arg(QLatin1String(src), QLatin1String(dst)).arg(s.size()).arg(d.size()));
        QStringList out;
        for (qsizetype i = 0; i < s.size(); ++i)
            out << s[i] + QLatin1Char('@') + d[i];
        return out;
    };

    SourceAlias = value("SDB");
    SourceTableName = value("STbl");
    DestTableName = value("DTbl");
    SourceFilter = value("SFilter");
    DestFilter = value("DFilter");
    InPlace = SourceTableName.isEmpty();
    bool ok = false;
    const int clear = value("ClearDest").toInt(&ok);
    ClearDest = ok && clear > 0;
    if (!isIdentifier(DestTableName))
        Refuse(std::max(paramLine(m_lines, QStringLiteral("DTbl")), 0), QStringLiteral("липсва или е невалидна таблица DTbl"));
    if (!InPlace && !isIdentifier(SourceTableName))
        Refuse(paramLine(m_lines, QStringLiteral("STbl")), QStringLiteral("невалидна таблица STbl"));
    FieldPairs = pairs("SFields", "DFields");
    KeyPairs = InPlace ? QStringList() : pairs("SKeyFields", "DKeyFields");
}

void TSpecialSQLStep::Apply()
{
    if (InPlace)
        ApplyInPlace();
    else
        ApplyCopy();
}

void TSpecialSQLStep::ApplyInPlace()
{
    // One statement does what an edit of every row does: each pair copies within its own row.
    // A pair whose source an earlier pair has just assigned reads that new value, as a row
    // edited field by field would.
    QHash<QString, QString> assigned; // upper-case destination -> expression
    QStringList order;
    for (const QString& pair : std::as_const(FieldPairs)) {
        const QString src = PairSource(pair), dst = PairDest(pair);
        const QString expr = assigned.value(src.toUpper(), src);
        if (!assigned.contains(dst.toUpper()))
            order << dst;
        assigned.insert(dst.toUpper(), expr);
    }
    QStringList sets;
    for (const QString& dst : std::as_const(order))
        sets << dst + QStringLiteral(" = ") + assigned.value(dst.toUpper());
    QString sql = QStringLiteral("update %1 set %2").arg(DestTableName, sets.join(QStringLiteral(", ")));
    if (!DestFilter.isEmpty())
        sql += QStringLiteral(" where (%1)").arg(DestFilter);
    execute(m_owner->ExecQuery, sql);
    pump(m_owner);
}

void TSpecialSQLStep::ApplyCopy()
{
    db::Database& tgt = target(m_owner);
    if (ClearDest)
        execute(m_owner->ExecQuery, QStringLiteral("delete from ") + DestTableName);

    QStringList skeys, dkeys, sfields, dfields;
    for (const QString& p : std::as_const(KeyPairs))
        skeys << PairSource(p), dkeys << PairDest(p);
    for (const QString& p : std::as_const(FieldPairs))
        sfields << PairSource(p), dfields << PairDest(p);

    // The destination's keys, once: a locate is then a hash look-up, never a scan per row.
    // Keys compare without regard to case, as the locate of the design does.
    const auto keyOf = [](const QVariantList& values) {
        QString k;
        for (const QVariant& v : values)
            k += (v.isValid() && !v.isNull() ? QLatin1Char('v') + v.toString().toUpper() : QStringLiteral("n")) + QChar(0x1F);
        return k;
    };
    QHash<QString, QVariantList> dest;
    {
        QString sql = QStringLiteral("select %1 from %2").arg(dkeys.join(QStringLiteral(", ")), DestTableName);
        if (!DestFilter.isEmpty())
            sql += QStringLiteral(" where (%1)").arg(DestFilter);
        db::Query q(&tgt);
        q.setParamCheck(false);
        q.setSql(sql);
        for (q.open(); !q.eof(); q.next()) {
            QVariantList key;
            for (int i = 0; i < dkeys.size(); ++i)
                key << q.field(i).value();
            const QString k = keyOf(key);
            if (!dest.contains(k))
                dest.insert(k, key);
        }
    }

    db::Database* srcDb = &tgt;
    db::Database& sourceDb = m_owner->SourceDB;
    if (!SourceAlias.isEmpty()) {
        sourceDb.setDriverName(QString());
        sourceDb.setAliasName(SourceAlias);
        sourceDb.connect();
        srcDb = &sourceDb;
    } else {
        sourceDb.setAliasName(QString());
    }
    struct Disconnect {
        db::Database& d;
        ~Disconnect() { d.disconnect(); }
    } disconnectSource{sourceDb};

    db::Connection& conn = tgt.connection();
    QStringList sets, where, marks, cols;
    int n = 1;
    for (const QString& f : std::as_const(dfields))
        sets << f + QStringLiteral(" = ") + conn.placeholder(n++);
    for (const QString& k : std::as_const(dkeys))
        where << k + QStringLiteral(" is not distinct from ") + conn.placeholder(n++);
    // An appended row gets its keys, then its data; a column named as both takes the data.
    QStringList insertCols;
    QList<int> insertFrom; // index into keys (k) or fields (nk + f)
    for (int i = 0; i < dkeys.size(); ++i)
        if (!dfields.contains(dkeys[i], Qt::CaseInsensitive))
            insertCols << dkeys[i], insertFrom << i;
    for (int i = 0; i < dfields.size(); ++i) {
        const qsizetype later = [&] {
            for (qsizetype j = dfields.size() - 1; j > i; --j)
                if (dfields[j].compare(dfields[i], Qt::CaseInsensitive) == 0)
                    return j;
            return qsizetype(-1);
        }();
        if (later < 0)
            insertCols << dfields[i], insertFrom << static_cast<int>(dkeys.size()) + i;
    }
    for (int i = 1; i <= insertCols.size(); ++i)
        marks << conn.placeholder(i);
    const QString updateSql = QStringLiteral("update %1 set %2 where %3").arg(DestTableName, sets.join(QStringLiteral(", ")), where.join(QStringLiteral(" and ")));
    const QString insertSql = QStringLiteral("insert into %1 (%2) values (%3)").arg(DestTableName, insertCols.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")));

    QString sourceSql = QStringLiteral("select %1 from %2").arg((skeys + sfields).join(QStringLiteral(", ")), SourceTableName);
    if (!SourceFilter.isEmpty())
        sourceSql += QStringLiteral(" where (%1)").arg(SourceFilter);

    const auto copyRow = [&](const QVariantList& row) {
        const QVariantList key = row.mid(0, skeys.size());
        const QVariantList data = row.mid(skeys.size());
        const QString k = keyOf(key);
        auto found = dest.constFind(k);
        if (found != dest.constEnd()) {
            conn.execute(updateSql, data + *found);
        } else {
            QVariantList values;
            for (int from : std::as_const(insertFrom))
                values << (from < key.size() ? key[from] : data[from - key.size()]);
            conn.execute(insertSql, values);
            dest.insert(k, key);
        }
        pump(m_owner);
    };

    db::Query src(srcDb);
    src.setParamCheck(false);
    src.setSql(sourceSql);
    const int width = static_cast<int>(skeys.size() + sfields.size());
    const auto rowOf = [&] {
        QVariantList row;
        row.reserve(width);
        for (int i = 0; i < width; ++i)
            row << src.field(i).value();
        return row;
    };
    if (srcDb == &tgt && SourceTableName.compare(DestTableName, Qt::CaseInsensitive) == 0) {
        // Rows this step appends to the table it reads must not be read again.
        std::vector<QVariantList> rows;
        for (src.open(); !src.eof(); src.next())
            rows.push_back(rowOf());
        src.close();
        for (const QVariantList& row : rows)
            copyRow(row);
    } else {
        for (src.open(); !src.eof(); src.next())
            copyRow(rowOf());
        src.close();
    }
}

// ---------------------------------------------------------------------------------------------

void TDLLUpdStep::Parse()
{
    TSQLStep::Parse();
    LibraryName = paramValue(m_lines, QStringLiteral("DLLName")).value_or(QString());
    ProcName = paramValue(m_lines, QStringLiteral("DLLProc")).value_or(QString()).trimmed();
    if (LibraryName.trimmed().isEmpty())
        Refuse(0, QStringLiteral("липсва DLLName"));
    if (ProcName.isEmpty())
        Refuse(0, QStringLiteral("липсва DLLProc"));
}

QString TDLLUpdStep::FindLibrary(const QString& folder, const QString& name)
{
    if (name.trimmed().isEmpty())
        return {};
    const QFileInfo given(QDir(folder).filePath(name));
    const QString dir = given.absolutePath() + QLatin1Char('/');
    const QString base = given.fileName();
    QStringList candidates;
#if defined(Q_OS_WIN)
    candidates << dir + base << dir + base + QStringLiteral(".dll");
#else
#if defined(Q_OS_DARWIN)
    const QStringList suffixes{QString(), QStringLiteral(".dylib"), QStringLiteral(".bundle"), QStringLiteral(".so")};
#else
    const QStringList suffixes{QString(), QStringLiteral(".so")};
#endif
    // QLibrary's order for a path: prefixes outside, suffixes inside, none that the name has already.
    for (const QString& prefix : {QString(), QStringLiteral("lib")}) {
        if (!prefix.isEmpty() && base.startsWith(prefix))
            continue;
        for (const QString& suffix : suffixes) {
            if (!suffix.isEmpty() && base.endsWith(suffix))
                continue;
            candidates << dir + prefix + base + suffix;
        }
    }
#endif
    for (const QString& c : std::as_const(candidates))
        if (QFileInfo(c).isFile())
            return c;
    return {};
}

void TDLLUpdStep::CheckLibrary(const QString& folder) const
{
    if (FindLibrary(folder, LibraryName).isEmpty())
        Refuse(std::max(paramLine(m_lines, QStringLiteral("DLLName")), 0),
               QStringLiteral("библиотеката \"%1\" не е намерена в папката на скрипта %2").arg(LibraryName, QDir::toNativeSeparators(folder)));
}

void TDLLUpdStep::Apply()
{
    db::Database& tgt = target(m_owner);
    const QString file = FindLibrary(QFileInfo(m_owner->ScriptFile).absolutePath(), LibraryName);
    QLibrary library(file);
    if (file.isEmpty() || !library.load())
        throw db::Error(UpdateText::CannotLoadLibrary + LibraryName);
    struct Unload {
        QLibrary& l;
        ~Unload() { l.unload(); }
    } unload{library};
    auto proc = reinterpret_cast<TStepProc>(library.resolve(ProcName.toLatin1().constData()));
    if (!proc)
        throw db::Error(UpdateText::CannotFindProc + ProcName + UpdateText::ProcFrom + LibraryName);
    if (auto setTransaction = reinterpret_cast<TSetStepTransaction>(library.resolve("SetStepTransaction")))
        setTransaction(tgt.nativeTransactionHandle());
    if (proc(m_owner->WindowHandle, tgt.nativeDatabaseHandle()) != 0)
        throw db::Error(UpdateText::ProcFailed + ProcName + UpdateText::ProcFrom + LibraryName);
}
