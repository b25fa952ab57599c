#pragma once

#include <atomic>
#include <optional>

#include <sys/types.h>

#include <QSet>
#include <QString>

#include "feed/feedparser.h"
#include "feedcache.h"
#include "readerport.h"
#include "settings.h"

namespace quorvel {

class FeedStore;
class Fetcher;
struct FetchResult;

// How a run of refreshFeeds ended.
enum class CycleEnd {
    PageWritten,     // feeds fetched, page written (bad feeds included)
    NoFeeds,         // the store has no feed entry: the no-feeds page
    Offline,         // the probe failed: nothing fetched, the page on disk shown again
    StoreUnreadable, // the store exists but cannot be read: nothing written, user told
    PageNotWritten,  // the page (or the default store) could not be written: user told
    Cancelled,       // cancel() during the run; no file half-written
};

// A server's wait longer than this (Retry-After) is cut to it, so that no answer silences a
// feed for good.
inline constexpr qint64 kLongestBackOffSeconds = 24 * 3600;

// One refresh cycle and the state that lives from run to run: the settings in memory, the
// first item title, the error flag, the repair count, the failures last offered and the page
// the view was last given. Feeds are loaded through the feed cache in the data folder:
// requests are conditional, a 304 shows the cached copy, a server's Retry-After is obeyed,
// and a feed that fails shows its last good copy with a note in its heading (and is still
// logged as a bad feed).
class RefreshCycle {
public:
    RefreshCycle(const FeedStore& store, Fetcher& fetcher, ReaderPort& port, QString probeAddress);

    // Reads the store (creating it on a first start), checks the connection, fetches every
    // enabled feed, writes feeds.htm and shows it, reporting progress through the port.
    // When feeds failed it offers the error log, after showing the new page, unless the
    // user already answered the offer for the same failed feeds (a clean run forgets them).
    CycleEnd refreshFeeds();

    // Thread-safe: the running cycle stops fetching and returns Cancelled without writing.
    void cancel();

    const Settings& settings() const { return m_settings; }
    QString firstItemTitle() const { return m_firstItemTitle; }
    bool errorFlag() const { return m_errorFlag; }
    const FeedCache& cache() const { return m_cache; }

private:
    struct Loaded; // what one feed entry gives the page
    Loaded loadFeed(const QString& url, std::optional<FetchResult> result,
                    const std::optional<CachedFeed>& cached, FetchSummary* summary,
                    FeedParseOptions options) const;
    Loaded fromCache(const QString& url, bool failed, FeedParseOptions options,
                     FetchSummary* summary) const;
    void showPageFile(const QString& path);
    // Writes the page unless the file holds exactly these bytes already.
    bool writePage(const QString& path, const QString& text, QString* error);

    struct PageStamp {
        dev_t device = 0;
        ino_t inode = 0;
        qint64 size = -1;
        qint64 modifiedNs = 0;
        bool operator==(const PageStamp&) const = default;
    };

    const FeedStore& m_store;
    Fetcher& m_fetcher;
    ReaderPort& m_port;
    QString m_probeAddress;
    Settings m_settings;
    QString m_firstItemTitle;
    bool m_errorFlag = false;
    // The failed feed addresses of the run whose error-log offer the user last answered.
    QSet<QString> m_answeredFailures;
    int m_repairCount = 0;
    bool m_toldUnreadable = false;
    FeedCache m_cache;
    std::optional<PageStamp> m_shownPage;
    std::atomic<bool> m_cancelled{false};
};

} // namespace quorvel
