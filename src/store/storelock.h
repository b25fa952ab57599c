#pragma once

#include <QString>

namespace quorvel {

// An exclusive advisory lock (flock) on a sidecar file beside the store, held by every
// writer of the store while it writes; the manager probes it before it reads the store.
class StoreLock {
public:
    // Takes the lock on lockPathFor(storePath), waiting at most timeoutMs (0: one try).
    StoreLock(const QString& storePath, int timeoutMs);
    ~StoreLock();
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }

    static QString lockPathFor(const QString& storePath);
    // True when another holder has the lock right now (the probe takes and drops it).
    static bool isHeldElsewhere(const QString& storePath);

private:
    int m_fd = -1;
};

} // namespace quorvel
