#pragma once

#include <atomic>
#include <memory>

#include "platform/fetcher.h"

namespace quorvel {

// A fetcher for one job on a worker thread whose cancel also holds for batches started after
// it: a cancel that comes before the worker reaches start() would otherwise find no batch to
// stop and the job would wait for the whole fetch.
class CancellableFetcher : public Fetcher {
public:
    explicit CancellableFetcher(std::unique_ptr<Fetcher> inner) : m_inner(std::move(inner)) {}

    std::unique_ptr<FetchBatch> start(const QStringList& urls) override {
        std::unique_ptr<FetchBatch> batch = m_inner->start(urls);
        // Checked after the batch exists, so either this sees the flag or cancel() sees the
        // batch.
        if (m_cancelled)
            m_inner->cancel();
        return batch;
    }

    void cancel() override {
        m_cancelled = true;
        m_inner->cancel();
    }

    bool isCancelled() const { return m_cancelled; }

private:
    std::unique_ptr<Fetcher> m_inner;
    std::atomic<bool> m_cancelled{false};
};

} // namespace quorvel
