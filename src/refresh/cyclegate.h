#pragma once

#include <mutex>

namespace quorvel {

// Lets one refresh cycle run at a time. A request that arrives while a cycle runs is
// remembered, and exactly one more cycle follows the current one however many arrived.
class CycleGate {
public:
    // True: the caller starts a cycle now. False: one is running; one more is queued.
    bool request();
    // Called when a cycle ends. True: a request came in meanwhile; the caller runs again
    // (the gate stays taken). False: the gate is free.
    bool finish();
    bool isRunning() const;
    // Forgets a queued request (used at exit).
    void dropQueued();

private:
    mutable std::mutex m_mutex;
    bool m_running = false;
    bool m_queued = false;
};

} // namespace quorvel
