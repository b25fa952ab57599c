#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include "loopbackserver.h"

namespace quorvel::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's content; false when it cannot be written.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// A 200 answer with this body, after delayMs.
inline Response served(const QByteArray& body, int delayMs = 0) {
    Response response;
    response.body = body;
    response.delayMs = delayMs;
    return response;
}

} // namespace quorvel::test
