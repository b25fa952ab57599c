#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include "platform/fetcher.h"

namespace quorvel {

// The cache keeps at most this many bytes in all; the entries confirmed longest ago go first.
inline constexpr qint64 kFeedCacheLimitBytes = 256 * 1024 * 1024;

// What the cache keeps of one feed address: its last good answer and how to ask for it
// again, or only when the server allows asking again.
struct CachedFeed {
    QString url;          // the feed address the entry belongs to
    bool hasBody = false; // false: the entry only remembers a back-off
    QByteArray body;      // the answer as it came (left empty by a header-only load)
    QByteArray charset;   // the charset of the answer's Content-Type
    QString finalUrl;     // where the body came from, after redirects
    QByteArray etag;      // the answer's validators, sent back with the next request
    QByteArray lastModified;
    QDateTime fetchedAt;   // when the body came
    QDateTime confirmedAt; // when a load last found the body current (its fetch or a 304)
    std::optional<QDateTime> retryAfter; // not asked again before this

    // The entry of a good answer for url that came at when; and back, the answer as the
    // fetcher gave it.
    static CachedFeed fromAnswer(const QString& url, FetchResult answer, const QDateTime& when);
    FetchResult answer() const;
};

// The feed cache: one file per feed address in a folder of its own (in the data folder),
// named by a hash of the address and holding the address, the validators, the times and
// the body with its length and checksum. Files are written atomically and readable by the
// user only. A file that is damaged, cut short or not of this cache counts as no entry.
// A cache that cannot be written costs a full fetch next time and nothing else, so write
// failures are handed to errorSink, never to the user.
class FeedCache {
public:
    explicit FeedCache(QString folder, qint64 limitBytes = kFeedCacheLimitBytes);

    QString folder() const { return m_folder; }
    // The file that holds url's entry.
    QString pathFor(const QString& url) const;

    // url's entry; without withBody the body is not read (hasBody still tells whether the
    // file holds one). Nothing when there is no entry or its file does not check out.
    std::optional<CachedFeed> load(const QString& url, bool withBody = true) const;
    // Writes entry (its confirmedAt becomes the file's time); false when it could not.
    bool store(const CachedFeed& entry) const;
    // Records that url's body was found current at when (a 304), without rewriting it.
    void confirm(const QString& url, const QDateTime& when) const;
    void remove(const QString& url) const;
    // url's last good answer as the fetcher gave it (its body, charset and final address),
    // or nothing when the cache holds no body for url.
    std::optional<FetchResult> answerFor(const QString& url) const;
    // answerFor as a function of its own, for those that must not ask again for a feed the
    // refresh keeps a copy of (the OPML export's title lookup).
    std::function<std::optional<FetchResult>(const QString& url)> keptAnswers() const;
    // Removes the entries of addresses not in keep, left-over temporary files, and then the
    // entries confirmed longest ago until all of them fit in the size limit.
    void prune(const QStringList& keep) const;

    // The cache of the data folder dataFolder, where the refresh keeps it.
    static FeedCache ofDataFolder(const QString& dataFolder);

private:
    bool ensureFolder() const;

    QString m_folder;
    qint64 m_limit;
};

} // namespace quorvel
