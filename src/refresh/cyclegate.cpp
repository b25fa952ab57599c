#include "cyclegate.h"

namespace quorvel {

bool CycleGate::request() {
    std::lock_guard lock(m_mutex);
    if (m_running) {
        m_queued = true;
        return false;
    }
    m_running = true;
    return true;
}

bool CycleGate::finish() {
    std::lock_guard lock(m_mutex);
    if (m_queued) {
        m_queued = false;
        return true;
    }
    m_running = false;
    return false;
}

bool CycleGate::isRunning() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

void CycleGate::dropQueued() {
    std::lock_guard lock(m_mutex);
    m_queued = false;
}

} // namespace quorvel
