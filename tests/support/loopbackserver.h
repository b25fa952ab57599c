#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>

namespace quorvel::test {

// What a route answers.
struct Response {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/rss+xml; charset=utf-8";
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers, e.g. {"Location", "/x"}
    int delayMs = 0;          // wait before answering
    bool gzip = false;        // send the body gzip-compressed with Content-Encoding: gzip
    int dripBytesPerSecond = 0; // > 0: send the body this slowly (for time-out tests)
};

// Counts requests in progress across one or more servers.
class ConcurrencyMeter {
public:
    void enter();
    void leave();
    int current() const;
    int maximum() const;
    void reset();
private:
    struct State;
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

    quint16 port() const;
    QString address() const;
    QString url(const QString& path) const; // "http://<address>:<port><path>"

    void setRoute(const QString& path, const Response& response);
    // Every request to this server, served or not, enters this meter while it is handled.
    void setMeter(const ConcurrencyMeter& meter);
    int requestCount(const QString& path) const; // requests received for path
    int totalRequests() const;
    ConcurrencyMeter meter() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace quorvel::test
