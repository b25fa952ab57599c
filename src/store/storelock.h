#pragma once

#include <QString>

namespace quorvel {

// An exclusive advisory lock (flock) on a sidecar file beside the real store file, held by
// every writer of the store from its load to its save; the manager probes it before it
// reads the store.
class StoreLock {
public:
    // Takes the lock on lockPathFor(storePath), waiting at most timeoutMs (0: one try).
    StoreLock(const QString& storePath, int timeoutMs);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    // Why the lock was not had: true when another holder kept it for the whole wait; false
    // when the lock file could not be opened (errorNumber() then holds the errno).
    bool timedOut() const { return m_timedOut; }
    int errorNumber() const { return m_errorNumber; }
    // The reason in words, naming the lock file; empty when the lock is held.
    QString errorText() const;

    // ".rss_feeds.xml.lock" beside the store file, in the store's folder with every link in
    // the folder's path resolved, so that two paths to one folder share one lock.
    static QString lockPathFor(const QString& storePath);
    // True when another holder has the lock right now (the probe takes and drops it).
    static bool isHeldElsewhere(const QString& storePath);

private:
    QString m_lockPath;
    int m_fd = -1;
    bool m_timedOut = false;
    int m_errorNumber = 0;
};

} // namespace quorvel
