#pragma once

#include <QByteArray>
#include <QString>

namespace quorvel {

// Replaces the file at path with bytes in one step (temporary file, then rename): readers see
// the old content or the new, never a part. On failure the old file is untouched and *error
// says why, naming the file.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);

} // namespace quorvel
