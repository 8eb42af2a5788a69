#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real small file system (a tmpfs of 64 KiB, mounted for the life of the object; needs root,
// as the tests run in CI) that fill() makes full to the last byte. A mount that is refused
// throws: the test fails, it is never skipped.
class FullDisk {
public:
    FullDisk();
    ~FullDisk();
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    QString path(const QString& name = {}) const;
    void fill();   // a filler file takes every free byte; a new file cannot get one
    void unfill(); // the filler goes
    QStringList entries() const; // every name in the folder but the filler's, hidden ones too, sorted
    static QByteArray read(const QString& path);
    static void write(const QString& path, const QByteArray& bytes);

private:
    QTemporaryDir m_dir;
};
