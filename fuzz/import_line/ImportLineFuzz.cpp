// Import text files come from anywhere: the decoding must take any bytes, and splitting must give
// back the line's own text.
#include "../FuzzSupport.h"

#include "bulk/ImportSource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    const ImportTextFile file = DecodeImportText(bytes);
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
    return 0;
}
