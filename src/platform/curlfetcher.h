#pragma once

#include <atomic>
#include <memory>

#include "fetcher.h"

namespace quorvel {

// Fetcher over libcurl's multi interface. Each batch runs its transfers on a thread of its
// own, so the caller can parse result i while later requests are still on the wire.
// http and https only (also across redirects), TLS verified, compression accepted, a
// non-2xx status is a failure, bodies are capped at limits.maxBodyBytes, and a batch's
// requests still running limits.batchTimeoutMs after start() fail.
class CurlFetcher : public Fetcher {
public:
    explicit CurlFetcher(FetchLimits limits = FetchLimits());
    ~CurlFetcher() override;

    // Starts a batch whose transfers run on a thread of its own; returns at once.
    std::unique_ptr<FetchBatch> start(const QStringList& urls) override;
    // Conditional requests: a 304 is ok with notModified set and no body. Every result
    // carries the answer's validators, a 429's or 503's Retry-After, and the bytes received.
    std::unique_ptr<FetchBatch> start(const std::vector<FetchRequest>& requests) override;
    // Thread-safe: every batch started before this call stops its transfers; its requests
    // not finished by then fail with "cancelled". Batches started later are unaffected.
    void cancel() override;

    // The User-Agent sent with every request.
    static QByteArray userAgent();

private:
    friend class CurlBatch;
    FetchLimits m_limits;
    std::shared_ptr<std::atomic<int>> m_cancelGeneration;
    struct Registry; // the batches cancel() has to wake
    std::shared_ptr<Registry> m_registry;
};

} // namespace quorvel
