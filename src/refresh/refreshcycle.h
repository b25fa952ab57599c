#pragma once

#include <atomic>

#include <QSet>
#include <QString>

#include "settings.h"

namespace quorvel {

class FeedStore;
class Fetcher;
class ReaderPort;

// How a run of refreshFeeds ended.
enum class CycleEnd {
    PageWritten,     // feeds fetched, page written (bad feeds included)
    NoFeeds,         // the store has no feed entry: the no-feeds page
    Offline,         // the probe failed: nothing fetched, the page on disk shown again
    StoreUnreadable, // the store exists but cannot be read: nothing written, user told
    PageNotWritten,  // the page (or the default store) could not be written: user told
    Cancelled,       // cancel() during the run; no file half-written
};

// One refresh cycle and the state that lives from run to run: the settings in memory, the
// first item title, the error flag, the repair count and the failures last offered.
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

private:
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
    std::atomic<bool> m_cancelled{false};
};

} // namespace quorvel
