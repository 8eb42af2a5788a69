// Import text files come from anywhere: the decoding must take any bytes (or refuse them whole),
// splitting must give back the line's own text, and CSV records must come from the lines in order.
#include "../FuzzSupport.h"

#include "bulk/ImportSource.h"
#include "core/InputError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    ImportTextFile file;
    try {
        file = DecodeImportText(bytes);
    } catch (const InputError&) {
        return 0;
    }
    qsizetype total = 0;
    for (const QString& line : file.lines) {
        fuzz::expect(!line.contains(QLatin1Char('\n')), "a line holds no line feed", line);
        total += line.size();
        for (const QString& separator : {QStringLiteral(";"), QStringLiteral(",")}) {
            const ImportRow r = SplitImportLine(line, separator, 1);
            const qsizetype fields = r.login.size() + r.fullName.size() + r.password.size() + r.className.size();
            fuzz::expect(fields <= line.size(), "the fields are parts of the line", line);
            fuzz::expect(line.startsWith(r.login), "the login name starts the line", line);
        }
    }
    fuzz::expect(total <= bytes.size(), "the lines are no longer than the file");
    for (const bool csv : {false, true})
        try {
            const QList<ImportRow> rows = ImportTextRows(file.lines, QStringLiteral(";"), csv);
            int last = 0;
            for (const ImportRow& r : rows) {
                fuzz::expect(r.number > last && r.number <= file.lines.size(), "rows follow the lines in order");
                last = r.number;
                (void)ForbiddenCharacterIn(r);
            }
            fuzz::expect(csv || rows.size() == file.lines.size(), "a text file has one row per line");
        } catch (const InputError&) {
        }
    return 0;
}
