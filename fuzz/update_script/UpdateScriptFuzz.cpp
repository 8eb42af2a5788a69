// Update scripts are files from outside: whatever the bytes, a parse ends, either with steps
// that keep what the file said or with a refusal that names where the fault is.
#include "../FuzzSupport.h"

#include "core/InputError.h"
#include "update/SQLScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    TSQLScript script;
    QStringList lines;
    try {
        lines = ScriptLines(bytes, QStringLiteral("f.sql"));
        ParseScript(lines, script, nullptr, QStringLiteral("f.sql"));
    } catch (const InputError& e) {
        fuzz::expect(e.message().startsWith(QStringLiteral("Скрипт \"f.sql\", ")), "a refusal names the script and the line", e.message());
        return 0;
    }
    qsizetype stepLines = 0;
    for (const auto& step : script.Steps) {
        fuzz::expect(!step->Lines().isEmpty(), "a step has its start line");
        const QString first = step->Lines().first().toLower();
        bool started = false;
        for (const QString& m : TSQLStep::StartMarkers())
            started = started || first.contains(m);
        fuzz::expect(started, "a step begins with a start marker", first);
        const QString last = step->Lines().last().toLower();
        const auto* normal = dynamic_cast<const TNormalSQLStep*>(step.get());
        fuzz::expect((normal && normal->SetupIndex >= 0) || last.contains(TSQLStep::StopMarkers()[step->StepKind()]),
                     "a step ends with its stop marker unless ranges removed it", last);
        stepLines += step->Lines().size();
    }
    fuzz::expect(stepLines <= lines.size(), "steps hold no more lines than the file");
    for (const TSetupRec& r : script.Setups)
        fuzz::expect(r.RangeSize > 0 && !r.TableName.isEmpty() && !r.KeyField.isEmpty(), "a range setup is complete");
    return 0;
}
