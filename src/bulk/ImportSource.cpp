#include "bulk/ImportSource.h"

#include "core/InputError.h"
#include "core/TextOps.h"

#include <QFile>
#include <QFileInfo>

// Placeholders until the readers land: UTF-8 text only.
ImportTextFile DecodeImportText(const QByteArray& bytes)
{
    ImportTextFile f;
    f.utf8 = true;
    QString text = QString::fromUtf8(bytes);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    if (!text.isEmpty())
        for (QString line : text.split(QLatin1Char('\n'))) {
            if (line.endsWith(QLatin1Char('\r')))
                line.chop(1);
            f.lines << line;
        }
    return f;
}

ImportTextFile ReadImportTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("cannot read ") + path);
    return DecodeImportText(file.readAll());
}

ImportRow SplitImportLine(const QString& line, const QString& separator, int number)
{
    QString rest = line;
    ImportRow r;
    r.number = number;
    r.login = TakeToken(separator, rest);
    r.fullName = TakeToken(separator, rest);
    r.password = TakeToken(separator, rest);
    r.className = TakeToken(separator, rest);
    return r;
}

bool IsWorkbookFile(const QString& path)
{
    const QString s = QFileInfo(path).suffix().toLower();
    return s == QLatin1String("xls") || s == QLatin1String("xlsx") || s == QLatin1String("ods");
}

QList<WorkbookRow> ReadWorkbook(const QString&) { throw InputError(QStringLiteral("not built yet")); }
