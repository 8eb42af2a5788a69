#include "FileWrite.h"

#include "InputError.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class WriteFailure {
public:
    explicit WriteFailure(int error) : m_error(error) {}
    int error() const { return m_error; }

private:
    int m_error;
};

void check(bool ok)
{
    if (!ok)
        throw WriteFailure(errno);
}

// Closes a descriptor not yet closed by its owner, and removes the temporary file unless it was
// renamed into place.
struct TempFile {
    QByteArray name;
    int fd = -1;
    bool placed = false;
    ~TempFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!placed && !name.isEmpty())
            ::unlink(name.constData());
    }
};

void writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = EIO; // nothing taken and no reason given
        check(n > 0);
        p += n;
        left -= n;
    }
}

// A link is replaced through the file it names, so that the link stays.
QString resolvedTarget(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

} // namespace

void WriteFileAtomically(const QString& path, const QByteArray& bytes, NewFileAccess access)
{
    const QString target = resolvedTarget(path);
    const QByteArray targetName = QFile::encodeName(target);
    struct stat old {};
    const bool existed = ::stat(targetName.constData(), &old) == 0;
    const auto refuse = [&](const QString& reason) {
        throw InputError(existed ? QStringLiteral("Файлът %1 не може да бъде записан: %2; съдържанието му е непроменено").arg(path, reason)
                                 : QStringLiteral("Файлът %1 не може да бъде записан: %2").arg(path, reason));
    };
    if (existed && !S_ISREG(old.st_mode))
        refuse(QStringLiteral("не е обикновен файл"));

    const QFileInfo info(target);
    const QByteArray stem = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.'));
    // Created with the umask for a shared new file; owner-only otherwise until the old file's
    // bits are set, so that a secret is never readable by others in between.
    const mode_t createMode = !existed && access == NewFileAccess::Shared ? 0666 : 0600;
    TempFile tmp;
    try {
        for (int attempt = 0; tmp.fd < 0; ++attempt) {
            const QByteArray name = stem + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, createMode);
            if (fd < 0 && errno == EEXIST && attempt < 100)
                continue;
            check(fd >= 0);
            tmp.fd = fd;
            tmp.name = name;
        }
        if (existed) {
            struct stat now {};
            check(::fstat(tmp.fd, &now) == 0);
            // Only root can give the file back to another owner; anyone else's replacement is
            // theirs, as with any editor's save.
            if (now.st_uid != old.st_uid || now.st_gid != old.st_gid)
                (void)::fchown(tmp.fd, old.st_uid, old.st_gid);
            check(::fchmod(tmp.fd, old.st_mode & 07777) == 0);
        }
        writeAll(tmp.fd, bytes);
        check(::fsync(tmp.fd) == 0);
        const int fd = tmp.fd;
        tmp.fd = -1;
        check(::close(fd) == 0);
        check(::rename(tmp.name.constData(), targetName.constData()) == 0);
        tmp.placed = true;
    } catch (const WriteFailure& f) {
        refuse(QString::fromLocal8Bit(std::strerror(f.error())));
    }

    // Without this the rename itself may not survive a power loss.
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        const bool synced = ::fsync(dir) == 0 || errno == EINVAL;
        const int error = errno;
        ::close(dir);
        if (!synced)
            throw InputError(QStringLiteral("Файлът %1 е записан, но записът може да не оцелее при спиране на тока: %2")
                                 .arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
}
