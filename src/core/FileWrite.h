#pragma once

#include <QByteArray>
#include <QString>

// Who may read a file that does not exist yet. A file that exists keeps its own permission bits.
enum class NewFileAccess {
    Shared,  // as the umask allows (an export for others to read)
    Private, // the owner only (configuration that may hold passwords)
};

// Replaces the file at path with bytes, whole or not at all: a temporary file in the same folder
// is written, flushed and synced, and only then renamed over the target (a link is followed to
// the file it names), and the folder is synced. On any failure the temporary file is removed,
// the target is left byte for byte as it was, and InputError names the file and the reason
// ("No space left on device"). QSaveFile is not used: it reports success after a write that the
// disk refused and leaves the target empty.
void WriteFileAtomically(const QString& path, const QByteArray& bytes, NewFileAccess access);
