#include "ImportSource.h"

#include "core/InputError.h"
#include "core/TextOps.h"
#include "db/Cp1251.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QStringConverter>

namespace {

bool isUtf8(QByteArrayView bytes)
{
    // The decoding is lazy: it runs when the result becomes a string.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace

ImportTextFile DecodeImportText(const QByteArray& bytes)
{
    ImportTextFile f;
    const QByteArrayView all(bytes);
    const QByteArrayView body = all.startsWith("\xEF\xBB\xBF") ? all.sliced(3) : all;
    f.utf8 = isUtf8(body);
    const QString text = f.utf8 ? QString::fromUtf8(body) : cp1251::decode(bytes);
    qsizetype from = 0;
    const qsizetype size = text.size();
    while (from < size) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), from);
        const qsizetype next = end < 0 ? size : end + 1;
        if (end < 0)
            end = size;
        qsizetype stop = end;
        if (stop > from && text[stop - 1] == QLatin1Char('\r'))
            --stop;
        f.lines.append(text.mid(from, stop - from));
        from = next;
    }
    return f;
}

ImportTextFile ReadImportTextFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw InputError(QStringLiteral("Файлът %1 не може да бъде прочетен: %2").arg(path, file.errorString()));
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
