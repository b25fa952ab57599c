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

// An RSS 2.0 feed titled title with items "<title> item N" linking to example.com/N.
inline QByteArray rssFeed(const QString& title, int items) {
    QString xml = "<rss><channel><title>" + title + "</title><link>http://example.com/</link>";
    for (int i = 1; i <= items; ++i)
        xml += QStringLiteral("<item><title>%1 item %2</title><link>http://example.com/%2</link>"
                              "<description>text %2</description></item>")
                   .arg(title)
                   .arg(i);
    return (xml + "</channel></rss>").toUtf8();
}

} // namespace quorvel::test
