#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace quorvel {

// Limits of one transfer and of a batch; the defaults are the program's.
struct FetchLimits {
    // Transfers running at once in one batch, and to one host:port. A cycle is a burst
    // once per interval: the feeds of a list mostly sit on different hosts, so the total
    // decides how many rounds of network latency a cycle waits (200 feeds: two). The
    // per-host figure is what one server sees of this reader at worst: a handful of
    // short keep-alive connections, well within what servers allow one client address,
    // and each carries several requests rather than a new connection per feed.
    int maxConcurrent = 128;
    int maxPerHost = 10;
    long maxRedirects = 5;
    long connectTimeoutMs = 15000;
    long totalTimeoutMs = 60000;
    long lowSpeedBytesPerSec = 100;         // abort when slower than this ...
    long lowSpeedSeconds = 15;              // ... for this long
    qint64 maxBodyBytes = 16 * 1024 * 1024; // decoded body cap
    // Bodies a batch may hold for take() before it starts no request but the next one
    // the caller needs: a slow early feed cannot make every later body pile up in memory.
    qint64 maxHeldBytes = 64 * 1024 * 1024;
    // Requests of one batch not finished this long after start() fail, so a refresh ends
    // even when many feeds sit on slow hosts; well above one transfer's limit.
    long batchTimeoutMs = 5 * 60 * 1000;
};

struct FetchResult {
    bool ok = false;
    QByteArray body;
    QString error;       // why it failed, for people; empty when ok
    long httpStatus = 0; // 0 for refused addresses and transport failures
    QByteArray charset;  // the charset parameter of the answer's Content-Type; empty if none
    QByteArray contentType; // the answer's media type, lower case, without parameters
    QString finalUrl;    // the address the document came from, after redirects
    // The answer's validators, as the server wrote them; empty when it sent none.
    QByteArray etag;
    QByteArray lastModified;
    // A 304 to a conditional request: ok, no body; the copy the validators came from is
    // still current.
    bool notModified = false;
    // When a 429 or 503 said when to ask again (Retry-After, seconds or an HTTP date).
    std::optional<QDateTime> retryAfter;
    qint64 bytesReceived = 0; // headers and body as they came over the wire
};

// One request: the address and, for a conditional request, the validators of the copy
// the caller holds (sent as If-None-Match and If-Modified-Since).
struct FetchRequest {
    QString url;
    QByteArray etag;
    QByteArray lastModified;
};

// The moment a Retry-After value names, counted from now: a number of seconds or an HTTP
// date; nothing when the value is neither.
std::optional<QDateTime> retryAfterTime(const QByteArray& value, const QDateTime& now);

// The charset parameter of a Content-Type value ("text/xml; charset=ISO-8859-1" gives
// "ISO-8859-1"), unquoted; empty when there is none.
QByteArray charsetOfContentType(const QByteArray& contentType);

// The results of one start(): result i belongs to url i.
class FetchBatch {
public:
    virtual ~FetchBatch() = default; // cancels transfers still running
    virtual std::size_t size() const = 0;
    // Blocks until request index has finished and hands its result out (once).
    virtual FetchResult take(std::size_t index) = 0;
};

// Fetches documents from the web: http and https URLs only. Any other address (a path, a
// file: URL, ftp:, data:...) fails at once with "not a web address: ..." and opens nothing.
class Fetcher {
public:
    virtual ~Fetcher() = default;
    // Starts every request at once (within the limits) and returns at once.
    virtual std::unique_ptr<FetchBatch> start(const QStringList& urls) = 0;
    // The same with validators; a fetcher that cannot send them makes plain requests.
    virtual std::unique_ptr<FetchBatch> start(const std::vector<FetchRequest>& requests);
    // Thread-safe: makes every running and later take() of current batches fail quickly.
    virtual void cancel() = 0;

    // One request, blocking.
    FetchResult fetch(const QString& url);
};

} // namespace quorvel
