#include "FullDisk.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {
const QString kFiller = QStringLiteral("filler");
}

FullDisk::FullDisk()
{
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for the small file system");
    if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0755") != 0)
        throw std::runtime_error("mounting a 64 KiB tmpfs on " + m_dir.path().toStdString() + " failed (" + std::strerror(errno) +
                                 "); these tests need root");
}

FullDisk::~FullDisk()
{
    const QByteArray dir = QFile::encodeName(m_dir.path());
    if (::umount(dir.constData()) != 0)
        ::umount2(dir.constData(), MNT_DETACH);
}

QString FullDisk::path(const QString& name) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }

void FullDisk::fill()
{
    const int fd = ::open(QFile::encodeName(path(kFiller)).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot create the filler: ") + std::strerror(errno));
    // Large steps first, then single bytes, so that not one byte stays free.
    const QByteArray block(4096, 'f');
    for (qsizetype step : {qsizetype(4096), qsizetype(1)}) {
        while (::write(fd, block.constData(), static_cast<size_t>(step)) == step) {
        }
    }
    const int error = errno;
    ::close(fd);
    if (error != ENOSPC)
        throw std::runtime_error(std::string("filling stopped before the disk was full: ") + std::strerror(error));
}

void FullDisk::unfill() { QFile::remove(path(kFiller)); }

QStringList FullDisk::entries() const
{
    QStringList names = QDir(path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    names.removeAll(kFiller);
    return names;
}

QByteArray FullDisk::read(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return f.readAll();
}

void FullDisk::write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size() || !f.flush())
        throw std::runtime_error("cannot write " + path.toStdString());
}
