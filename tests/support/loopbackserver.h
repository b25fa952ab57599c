#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <atomic>
#include <memory>

namespace quorvel::test {

// What a route answers.
struct Response {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/rss+xml; charset=utf-8";
    QList<QPair<QByteArray, QByteArray>> headers; // extra ones, e.g. {"Location", "/x"}
    int delayMs = 0;                              // wait before answering
    bool gzip = false;          // send the body gzip-compressed with Content-Encoding: gzip
    int dripBytesPerSecond = 0; // > 0: send the body this slowly (for time-out tests)
    bool endless = false;       // send the body over and over, chunked, until the client leaves
    qint64 repeatedTo = 0;      // > 0: send the body over and over up to this many bytes in all,
                                // announced in Content-Length (a large answer without its memory)
    // Validators: when set they are sent with a 2xx answer, and a request whose
    // If-None-Match names etag (or, without If-None-Match, whose If-Modified-Since equals
    // lastModified) gets a 304 without a body.
    QByteArray etag;
    QByteArray lastModified;
};

// What a client sent: the request line's parts and the headers in arrival order.
struct ReceivedRequest {
    QByteArray method;
    QByteArray target; // path and query as sent
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray header(const QByteArray& name) const; // first of that name, any case; or empty
};

// Counts requests in progress across one or more servers. Copies share one count.
class ConcurrencyMeter {
public:
    void enter();
    void leave() { --m_state->current; }
    int maximum() const { return m_state->maximum; } // the most in progress at once
private:
    struct State {
        std::atomic<int> current = 0, maximum = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// A real HTTP/1.1 server on a loopback address and a free port, on threads of its own.
// Handles keep-alive and any number of connections at once. Unknown paths answer 404.
class LoopbackServer {
public:
    explicit LoopbackServer(const QString& address = QStringLiteral("127.0.0.1"));
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    QString url(const QString& path) const; // "http://<address>:<port><path>"
    // Answers requests for path (exact target first, else the target without its query).
    void setRoute(const QString& path, const Response& response);
    // Every request to this server, served or not, enters this meter while it is handled,
    // from the end of its headers until just before the last bytes of its answer go out
    // (so it never counts more than the client runs); it also enters meter().
    void setMeter(const ConcurrencyMeter& meter);
    int requestCount(const QString& path) const; // requests received for path (query ignored)
    int totalRequests() const { return int(requests().size()); }
    qint64 bytesSent() const;                // every byte of every answer so far, headers included
    int connectionsAccepted() const;         // connections accepted so far
    ConcurrencyMeter meter() const;          // this server's own meter
    QList<ReceivedRequest> requests() const; // every request received, in arrival order

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quorvel::test
