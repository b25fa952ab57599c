#pragma once

#include <QString>

#include "platform/xmldocument.h"

namespace quorvel {

// The feed store file rss_feeds.xml and the files written beside it, in one data folder.
// Every operation loads the whole file and, when it changed something, saves it whole.
class FeedStore {
public:
    explicit FeedStore(QString folder);

    QString folder() const { return m_folder; }
    QString storePath() const;    // <folder>/rss_feeds.xml
    QString pagePath() const;     // <folder>/feeds.htm
    QString errorLogPath() const; // <folder>/error.log

    bool exists() const;
    // Loads and parses the store; a null document when it is missing or not well-formed,
    // with the reason (naming the file) in *error.
    XmlDocument load(QString* error = nullptr) const;
    // Saves the whole document atomically while holding the store lock; on failure the
    // previous file is untouched and *error says why.
    bool save(const XmlDocument& document, QString* error = nullptr) const;

private:
    QString m_folder;
};

// The store written on a first start: a root without settings and two feeds.
QString defaultStoreText();

// The folder the program keeps its files in: dataDirOption when given; otherwise the
// program's folder when it is writable, else the per-user application data folder (created).
QString resolveDataFolder(const QString& dataDirOption, const QString& programFolder);

} // namespace quorvel
