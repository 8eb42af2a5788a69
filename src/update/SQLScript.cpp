#include "SQLScript.h"

#include "UpdateText.h"

#include "core/InputError.h"
#include "db/Cp1251.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

namespace {

const QString kAlias = QStringLiteral("/*alias>");
const QString kStepName = QStringLiteral("/*stepname>");
const QString kHistory = QStringLiteral("/*hist_tbl>");

// The value of an alias or history-table directive: after the first ">", at most 100
// characters, trimmed, without the closing "*/".
QString directiveValue(const QString& lower)
{
    QString v = lower.mid(lower.indexOf(QLatin1Char('>')) + 1).left(100).trimmed();
    v.chop(2);
    return v;
}

std::int32_t toInt(const QString& text, const QString& where)
{
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    bool ok = false;
    const int v = digits.match(text).hasMatch() ? text.toInt(&ok) : 0;
    if (!ok)
        throw InputError(where + UpdateText::NotAnInteger.arg(text));
    return v;
}

bool isTableName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z_][A-Za-z0-9_$]*$"));
    return plain.match(name).hasMatch();
}

} // namespace

QStringList ScriptLines(const QByteArray& bytes, const QString& scriptName, QStringList* breaks)
{
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const auto lineOf = [&](qsizetype offset) { return data.left(offset).count('\n') + 1; };
    const qsizetype nul = data.indexOf('\0');
    if (nul >= 0)
        throw InputError(UpdateText::ScriptLinePlace.arg(scriptName).arg(lineOf(nul)) + QStringLiteral("нулев байт: това не е текстов файл"));

    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(data);
    const bool isUtf8 = !utf8.hasError();
    if (isUtf8) {
        QChar bad;
        qsizetype at = -1;
        QByteArray ignored;
        if (!cp1251::tryEncode(text, ignored, &bad, &at))
            throw InputError(UpdateText::ScriptLinePlace.arg(scriptName).arg(text.left(at).count(QLatin1Char('\n')) + 1) +
                             QStringLiteral("знакът U+%1 не може да бъде записан в кодова таблица windows-1251")
                                 .arg(QString::number(bad.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
    } else {
        const qsizetype undefined = data.indexOf('\x98');
        if (undefined >= 0)
            throw InputError(UpdateText::ScriptLinePlace.arg(scriptName).arg(lineOf(undefined)) +
                             QStringLiteral("байтът 0x98 няма знак в кодова таблица windows-1251, а файлът не е и UTF-8"));
        text = cp1251::decode(data);
    }

    QStringList lines;
    if (breaks)
        breaks->clear();
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << text.mid(start, i - start);
            const qsizetype breakAt = i;
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            if (breaks)
                *breaks << text.mid(breakAt, i + 1 - breakAt);
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines << text.mid(start);
        if (breaks)
            *breaks << QString();
    }
    return lines;
}

void ParseScript(const QStringList& lines, TSQLScript& script, TSQLUpdater* owner, const QString& scriptName, const QStringList& breaks)
{
    script.Alias.clear();
    script.HistoryTableName = QStringLiteral("SQL_UPDATES");
    script.Setups.clear();
    script.Steps.clear();

    bool aliasRead = false;
    int kind = -1;
    QStringList pending;
    int pendingStart = 0;
    QHash<std::int32_t, int> numberLine; // step number -> 1-based start line of the step that has it
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const QString lower = line.toLower();
        const QString where = UpdateText::ScriptLinePlace.arg(scriptName).arg(i + 1);
        if (!aliasRead && lower.contains(kAlias)) {
            script.Alias = directiveValue(lower);
            aliasRead = true;
            continue;
        }
        if (lower.contains(kStepName) && !(aliasRead && lower.contains(kAlias))) {
            QString s = lower.trimmed().mid(kStepName.size()).left(1000);
            TSetupRec r;
            qsizetype p = s.indexOf(QLatin1Char('|'));
            r.TableName = p < 0 ? QString() : s.left(p);
            s = s.mid(p + 1);
            p = s.indexOf(QLatin1Char('|'));
            r.RangeSize = toInt(p < 0 ? QString() : s.left(p), where);
            s = s.mid(p + 1);
            p = s.indexOf(QLatin1String("*/"));
            r.KeyField = p < 0 ? QString() : s.left(p);
            s = s.mid(p < 0 ? 0 : p + 4);
            p = s.indexOf(QLatin1Char('*'));
            r.StepNo = toInt(p < 0 ? QString() : s.left(p), where);
            r.TableName = r.TableName.trimmed();
            r.KeyField = r.KeyField.trimmed();
            if (!r.TableName.isEmpty() && r.RangeSize > 0 && !r.KeyField.isEmpty()) {
                if (!isTableName(r.TableName) || !isTableName(r.KeyField))
                    throw InputError(where + QStringLiteral("невалидно име на таблица или ключ в разделянето на диапазони"));
                script.Setups.push_back(r);
            }
            continue;
        }
        if (lower.contains(kHistory) && !(aliasRead && lower.contains(kAlias))) {
            script.HistoryTableName = directiveValue(lower);
            if (!isTableName(script.HistoryTableName))
                throw InputError(where + QStringLiteral("невалидно име на таблица на историята \"%1\"").arg(script.HistoryTableName));
            continue;
        }

        for (int k = TSQLStep::Library; k >= TSQLStep::Normal; --k) {
            if (lower.contains(TSQLStep::StartMarkers()[k])) {
                // Taking it into the open step would run two steps under the first one's number.
                if (kind >= 0)
                    throw InputError(where + QStringLiteral("начало на стъпка преди реда за край %1*/ на стъпката от ред %2")
                                                 .arg(TSQLStep::StopMarkers()[kind])
                                                 .arg(pendingStart + 1));
                pendingStart = i;
                kind = k;
                break;
            }
        }
        if (kind < 0)
            continue;
        pending << line;
        if (!lower.contains(TSQLStep::StopMarkers()[kind]))
            continue;

        const auto stepKind = static_cast<TSQLStep::Kind>(kind);
        std::unique_ptr<TSQLStep> step = TSQLStep::Create(stepKind, owner);
        if (auto* normal = dynamic_cast<TNormalSQLStep*>(step.get())) {
            const std::int32_t n = TSQLStep::ReadStepNo(pending.first(), stepKind,
                                                        UpdateText::ScriptLinePlace.arg(scriptName).arg(pendingStart + 1));
            for (size_t s = 0; s < script.Setups.size(); ++s) {
                if (script.Setups[s].StepNo == n) {
                    normal->SetupIndex = static_cast<int>(s);
                    break;
                }
            }
            normal->Setups = &script.Setups;
        }
        step->SetLines(pending, pendingStart + 1, scriptName, breaks.size() == lines.size() ? breaks.mid(pendingStart, pending.size()) : QStringList());
        if (auto* normal = dynamic_cast<TNormalSQLStep*>(step.get()))
            normal->Setups = nullptr; // what it needs is copied
        // The history knows a step by its number alone: a second one would be taken as applied.
        // Step 0 is never looked up.
        if (step->StepNo() != 0) {
            const auto earlier = numberLine.constFind(step->StepNo());
            if (earlier != numberLine.constEnd())
                throw InputError(UpdateText::ScriptLinePlace.arg(scriptName).arg(pendingStart + 1) +
                                 QStringLiteral("стъпка %1 е вече на ред %2").arg(step->StepNo()).arg(*earlier));
            numberLine.insert(step->StepNo(), pendingStart + 1);
        }
        script.Steps.push_back(std::move(step));
        pending.clear();
        kind = -1;
    }
    if (kind >= 0)
        throw InputError(UpdateText::ScriptLinePlace.arg(scriptName).arg(pendingStart + 1) +
                         QStringLiteral("стъпката няма ред за край %1*/ до края на файла").arg(TSQLStep::StopMarkers()[kind]));
}

void LoadScriptFile(const QString& path, TSQLScript& script, TSQLUpdater* owner)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("Скриптът \"%1\" не може да бъде прочетен: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw InputError(QStringLiteral("Скриптът \"%1\" не може да бъде прочетен: %2").arg(path, file.errorString()));
    const QFileInfo info(path);
    QStringList breaks;
    const QStringList lines = ScriptLines(bytes, info.fileName(), &breaks);
    ParseScript(lines, script, owner, info.fileName(), breaks);
    CheckLibraries(script, info.absolutePath());
}

void CheckLibraries(const TSQLScript& script, const QString& folder)
{
    for (const auto& step : script.Steps)
        if (const auto* library = dynamic_cast<const TDLLUpdStep*>(step.get()))
            library->CheckLibrary(folder);
}
