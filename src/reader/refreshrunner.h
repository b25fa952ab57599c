#pragma once

#include <atomic>
#include <memory>

#include <QObject>
#include <QThread>

#include "refresh/cyclegate.h"
#include "refresh/refreshcycle.h"

namespace quorvel {

// Runs refresh cycles on a worker thread, one at a time. A request while a cycle runs
// queues exactly one more. Lives on the UI thread; its signals arrive there.
class RefreshRunner : public QObject {
    Q_OBJECT
public:
    // The cycle reports through port from the worker thread; port must be thread-safe.
    RefreshRunner(const FeedStore& store, Fetcher& fetcher, ReaderPort& port, QString probeAddress,
                  QObject* parent = nullptr);
    // Shuts down; when the worker is still busy after the grace period it waits for it
    // without limit, as the cycle it runs is part of this object.
    ~RefreshRunner() override;

    // Starts a cycle now (true) or, while one runs, queues one more (false). Does nothing
    // after shutdown() and answers false.
    bool request();
    // True from request() until the last queued cycle has been reported finished.
    bool isBusy() const;
    // The settings as the last finished cycle left them (defaults before the first).
    const Settings& lastSettings() const { return m_lastSettings; }
    int finishedCycles() const { return m_finishedCycles; }

    // How long shutdown() waits for a cancelled cycle by default.
    static constexpr int kShutdownGraceMs = 3000;

    // Cancels the running cycle and its transfers, drops a queued one and waits for the
    // worker, for at most graceMs. No cycle starts afterwards. True when the worker has
    // stopped; false when it is still busy (stuck where cancelling does not reach): the
    // program should then end its process rather than wait, which loses nothing because
    // every file is written atomically. Anything blocking the worker on the UI thread (an
    // open question) must be released before this is called.
    bool shutdown(int graceMs = kShutdownGraceMs);

Q_SIGNALS:
    void cycleStarted();
    // One cycle has ended; lastSettings() is its settings.
    void cycleFinished(quorvel::CycleEnd end);
    // The last queued cycle has ended; nothing is running.
    void idle();

private:
    void runCycles(); // on the worker thread

    Fetcher& m_fetcher;
    RefreshCycle m_cycle;
    CycleGate m_gate;
    QThread m_thread;
    std::unique_ptr<QObject> m_worker;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_pendingReports{0}; // finished cycles not yet reported on the UI thread
    Settings m_lastSettings;
    int m_finishedCycles = 0;
};

} // namespace quorvel
