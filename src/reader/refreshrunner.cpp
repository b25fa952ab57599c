#include "refreshrunner.h"

#include <algorithm>

#include <QDeadlineTimer>

#include "platform/fetcher.h"

namespace quorvel {

RefreshRunner::RefreshRunner(const FeedStore& store, Fetcher& fetcher, ReaderPort& port,
                             QString probeAddress, QObject* parent)
    : QObject(parent), m_fetcher(fetcher), m_cycle(store, fetcher, port, std::move(probeAddress)),
      m_worker(new QObject) {
    m_thread.setObjectName(QStringLiteral("refresh"));
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

RefreshRunner::~RefreshRunner() {
    if (!shutdown())
        m_thread.wait();
    // The worker object belongs to the finished thread; deleting it here is safe now that
    // the thread has stopped.
    m_worker.reset();
}

bool RefreshRunner::request() {
    if (m_stopping)
        return false;
    if (!m_gate.request())
        return false;
    Q_EMIT cycleStarted();
    QMetaObject::invokeMethod(
        m_worker.get(), [this] { runCycles(); }, Qt::QueuedConnection);
    return true;
}

bool RefreshRunner::isBusy() const {
    if (m_stopping)
        return m_thread.isRunning();
    return m_gate.isRunning() || m_pendingReports > 0;
}

void RefreshRunner::runCycles() {
    // request() took the gate for this run; it is released by finish() answering false, or
    // below when shutting down.
    bool holdingGate = true;
    while (!m_stopping) {
        const CycleEnd end = m_cycle.refreshFeeds();
        const Settings settings = m_cycle.settings();
        ++m_pendingReports;
        QMetaObject::invokeMethod(
            this,
            [this, end, settings] {
                m_lastSettings = settings;
                ++m_finishedCycles;
                --m_pendingReports;
                Q_EMIT cycleFinished(end);
                if (!isBusy())
                    Q_EMIT idle();
            },
            Qt::QueuedConnection);
        if (m_stopping)
            break;
        if (!m_gate.finish()) {
            holdingGate = false;
            break;
        }
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT cycleStarted(); }, Qt::QueuedConnection);
    }
    if (holdingGate) {
        m_gate.dropQueued();
        m_gate.finish();
    }
}

bool RefreshRunner::shutdown(int graceMs) {
    if (!m_thread.isRunning())
        return true;
    m_stopping = true;
    m_thread.quit();
    // cancel() may reach a cycle just before it starts and be forgotten, so keep cancelling
    // until the worker has returned or the grace period is over.
    const QDeadlineTimer grace(std::max(0, graceMs));
    do {
        m_cycle.cancel();
        m_fetcher.cancel();
        if (m_thread.wait(QDeadlineTimer(std::min<qint64>(50, grace.remainingTime()))))
            return true;
    } while (!grace.hasExpired());
    return false;
}

} // namespace quorvel
