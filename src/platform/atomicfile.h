#pragma once

#include <QByteArray>
#include <QString>

namespace quorvel {

// Who may read a file the atomic writer creates.
enum class FileAccess {
    OwnerOnly, // 0600: files that hold the user's feeds (the store, the page, the log)
    Shared,    // 0666 less the umask: files the user hands on, such as an OPML export
};

// Whether a write waits until its bytes are on the disk.
enum class Durability {
    Flushed,     // files the user would lose (the store, the page): flushed before the rename
    Replaceable, // files rebuilt when lost (a cache): not flushed; after a crash such a file
                 // may be empty or cut short, so its reader must check it
};

// Replaces the file at path with bytes in one step: a new file created beside it (never
// through a link), written unbuffered and checked, flushed to the disk, then renamed over
// path. Readers see the old content or the new, never a part. A link at path is replaced,
// never followed. On failure the old file is untouched, *error says why, naming the file,
// and *errorNumber holds the errno of the step that failed.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr,
                         FileAccess access = FileAccess::OwnerOnly, int* errorNumber = nullptr,
                         Durability durability = Durability::Flushed);

} // namespace quorvel
