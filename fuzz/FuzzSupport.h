#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Helpers shared by the fuzz targets. A broken promise aborts, so that libFuzzer keeps the input
// and prints the stack like any other crash.
namespace fuzz {

[[noreturn]] inline void broken(const char* promise, const QString& detail = {})
{
    std::fprintf(stderr, "\n== broken promise: %s\n%s\n", promise, qPrintable(detail));
    std::abort();
}

inline void expect(bool ok, const char* promise, const QString& detail = {})
{
    if (!ok)
        broken(promise, detail);
}

// One folder for the whole run: the readers under test take paths, not bytes.
inline QString tempPath(const QString& name)
{
    static QTemporaryDir dir;
    if (!dir.isValid())
        broken("a temporary folder can be made", dir.errorString());
    return dir.filePath(name);
}

inline QString writeTemp(const QString& name, const QByteArray& bytes)
{
    const QString path = tempPath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        broken("the input can be written to a temporary file", f.errorString());
    return path;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        broken("a file just written can be read", f.errorString());
    return f.readAll();
}

inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace fuzz
