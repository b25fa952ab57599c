#pragma once

#include <atomic>
#include <memory>

#include "fetcher.h"

namespace quorvel {

// Fetcher over libcurl's multi interface. Each batch runs its transfers on a thread of its
// own, so the caller can parse result i while later requests are still on the wire.
// http and https only (also across redirects), TLS verified, compression accepted, a
// non-2xx status is a failure, bodies are capped at limits.maxBodyBytes.
class CurlFetcher : public Fetcher {
public:
    explicit CurlFetcher(FetchLimits limits = FetchLimits());
    ~CurlFetcher() override;

    std::unique_ptr<FetchBatch> start(const QStringList& urls) override;
    void cancel() override;

    // The User-Agent sent with every request.
    static QByteArray userAgent();

private:
    FetchLimits m_limits;
    std::shared_ptr<std::atomic<int>> m_cancelGeneration;
};

} // namespace quorvel
