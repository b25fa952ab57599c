#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include "loopbackserver.h"
#include "store/feedstore.h"

namespace quorvel::test {

// The whole file, or nothing when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The permission bits of path itself (a link is not followed), or -1 when it is missing.
inline int fileMode(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

// Replaces the file's content; false when it cannot be written.
inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// The attributes named (by default "url num headers disabled") of each feed entry of the
// store, space-separated, in document order; "-" for a missing one.
inline QStringList storedFeeds(const FeedStore& store,
                               std::initializer_list<const char*> names = {"url", "num", "headers",
                                                                           "disabled"}) {
    QStringList out;
    const XmlDocument document = store.load();
    for (const XmlNode& feed : document.documentElement().childElements("feed")) {
        QStringList fields;
        for (const char* name : names)
            fields << feed.getAttribute(name).value_or("-");
        out << fields.join(' ');
    }
    return out;
}

// A 200 answer with this body, after delayMs.
inline Response served(const QByteArray& body, int delayMs = 0) {
    return {.body = body, .delayMs = delayMs};
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

// The attributes (name in lower case, value as written) of every start tag in html.
inline QList<QPair<QString, QString>> tagAttributes(const QString& html) {
    static const QRegularExpression tag(
        R"(<[a-z][^\s/>]*((?:[\s/]+[^\s=/>]+(?:\s*=\s*(?:"[^"]*"|'[^']*'|[^\s>]+))?)*)[\s/]*>)",
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        R"re(([^\s=/>]+)(?:\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))?)re");
    QList<QPair<QString, QString>> out;
    for (const auto& t : tag.globalMatch(html))
        for (const auto& a : attribute.globalMatch(t.captured(1)))
            out.append({a.captured(1).toLower(), a.captured(2) + a.captured(3) + a.captured(4)});
    return out;
}

} // namespace quorvel::test
