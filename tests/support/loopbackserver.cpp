#include "loopbackserver.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

namespace quorvel::test {

QByteArray ReceivedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

void ConcurrencyMeter::enter() {
    const int now = ++m_state->current;
    int seen = m_state->maximum.load();
    while (now > seen && !m_state->maximum.compare_exchange_weak(seen, now)) {
    }
}

namespace {

// A gzip member: fixed header, qCompress's raw deflate data (its length prefix and zlib
// wrapper cut off), CRC-32 and length, little-endian.
QByteArray gzipped(const QByteArray& data) {
    QByteArray out =
        QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + qCompress(data).mid(6).chopped(4);
    const auto crc =
        quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
    for (const quint32 word : {crc, quint32(data.size())})
        for (int shift = 0; shift < 32; shift += 8)
            out += char(word >> shift);
    return out;
}

QString withoutQuery(const QByteArray& target) {
    return QString::fromUtf8(target).section(u'?', 0, 0);
}

// Holds a request in its meters while it is handled. It is let go just before the last bytes
// of the answer are sent: once they are, the client may start its next request before this
// thread runs again, and the meters must never count more than the client runs.
struct MeterScope {
    std::vector<ConcurrencyMeter> meters;
    void release() {
        for (auto& meter : meters)
            meter.leave();
        meters.clear();
    }
    ~MeterScope() { release(); }
};

bool sendAll(int fd, const char* data, qsizetype size) {
    for (ssize_t sent = 0; size > 0; data += sent, size -= sent) {
        while ((sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
        }
        if (sent <= 0)
            return false;
    }
    return true;
}

} // namespace

struct LoopbackServer::Impl {
    QString address;
    quint16 port = 0;
    int listenFd = -1;
    int stopPipe[2] = {-1, -1}; // written once on shutdown; readable from then on for all

    mutable std::mutex mutex;
    std::map<QString, Response> routes;
    std::map<QString, int> counts;
    QList<ReceivedRequest> received;
    std::atomic<qint64> sent = 0;
    ConcurrencyMeter ownMeter;
    std::vector<ConcurrencyMeter> meters{ownMeter}; // what every request enters
    // Touched by the accept thread only, then by the destructor once that thread is joined.
    // A socket stays open until its thread has been joined, so shutdown() never hits a
    // reused descriptor; the accept thread closes those whose client has left, so that a
    // long benchmark does not run out of descriptors.
    struct Connection {
        int fd;
        std::shared_ptr<std::atomic<bool>> done;
        std::thread thread;
    };
    std::vector<Connection> connections;
    std::atomic<int> accepted = 0;
    std::thread acceptThread;

    // 1 once fd has events, 0 when ms pass first (ms < 0: never), -1 once the server stops.
    int waitFor(int fd, short events, int ms) const {
        pollfd fds[2] = {{fd, events, 0}, {stopPipe[0], POLLIN, 0}};
        int ready;
        while ((ready = ::poll(fds, 2, ms)) < 0 && errno == EINTR) {
        }
        return ready < 0 || fds[1].revents != 0 ? -1 : ready > 0;
    }

    void acceptLoop() {
        while (waitFor(listenFd, POLLIN, -1) > 0) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++accepted;
            reapFinished();
            auto done = std::make_shared<std::atomic<bool>>(false);
            connections.push_back({fd, done, std::thread([this, fd, done] {
                                       serve(fd);
                                       *done = true;
                                   })});
        }
    }

    void reapFinished() {
        auto finished = std::partition(connections.begin(), connections.end(),
                                       [](const Connection& c) { return !*c.done; });
        for (auto it = finished; it != connections.end(); ++it) {
            it->thread.join();
            ::close(it->fd);
        }
        connections.erase(finished, connections.end());
    }

    void serve(int fd) {
        QByteArray buffer;
        for (;;) {
            qsizetype headEnd;
            while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
                char chunk[16384];
                const ssize_t got =
                    waitFor(fd, POLLIN, -1) > 0 ? ::recv(fd, chunk, sizeof chunk, 0) : -1;
                if (got <= 0 || buffer.size() > 1024 * 1024)
                    return;
                buffer.append(chunk, got);
            }
            const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
            buffer.remove(0, headEnd + 4);
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            if (requestLine.size() < 3)
                return;
            ReceivedRequest request{requestLine[0], requestLine[1], {}};
            for (const QByteArray& line : lines.mid(1))
                if (const qsizetype colon = line.indexOf(':'); colon > 0)
                    request.headers.append(
                        {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            // Clients here send GET without a body over HTTP/1.1.
            const bool keepAlive = request.header("Connection").toLower() != "close";
            if (!answer(fd, request, keepAlive) || !keepAlive)
                return;
        }
    }

    static bool isFresh(const ReceivedRequest& request, const Response& response) {
        const QByteArray noneMatch = request.header("If-None-Match");
        if (!noneMatch.isEmpty())
            return !response.etag.isEmpty() && noneMatch == response.etag;
        const QByteArray since = request.header("If-Modified-Since");
        return !since.isEmpty() && since == response.lastModified;
    }

    // sendAll, counted. The bytes are counted before they go out: a client that has read
    // them may look at the count before this thread runs again.
    bool send(int fd, const char* data, qsizetype size) {
        sent += size;
        const bool ok = sendAll(fd, data, size);
        if (!ok)
            sent -= size;
        return ok;
    }

    bool answer(int fd, const ReceivedRequest& request, bool keepAlive) {
        const QString path = withoutQuery(request.target);
        Response response{404, "not found\n", "text/plain; charset=utf-8"};
        MeterScope scope;
        {
            std::lock_guard lock(mutex);
            received.append(request);
            ++counts[path];
            auto route = routes.find(QString::fromUtf8(request.target));
            if (route != routes.end() || (route = routes.find(path)) != routes.end())
                response = route->second;
            scope.meters = meters;
            for (auto& meter : scope.meters)
                meter.enter();
        }
        if (response.delayMs > 0 && waitFor(-1, 0, response.delayMs) != 0)
            return false;
        const bool validated = response.status >= 200 && response.status <= 299;
        if (validated && isFresh(request, response)) {
            QByteArray head = "HTTP/1.1 304 Not Modified\r\n";
            if (!response.etag.isEmpty())
                head += "ETag: " + response.etag + "\r\n";
            head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
            scope.release();
            return send(fd, head.constData(), head.size());
        }

        const QByteArray body = response.gzip ? gzipped(response.body) : response.body;
        // Clients read the status code only; any reason phrase will do.
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
        head += "Content-Type: " + response.contentType + "\r\n";
        const bool repeated = response.repeatedTo > 0 && !body.isEmpty();
        head += response.endless
            ? QByteArray("Transfer-Encoding: chunked\r\n")
            : "Content-Length: " +
                  QByteArray::number(repeated ? response.repeatedTo : body.size()) + "\r\n";
        if (response.gzip)
            head += "Content-Encoding: gzip\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        if (validated && !response.etag.isEmpty())
            head += "ETag: " + response.etag + "\r\n";
        if (validated && !response.lastModified.isEmpty())
            head += "Last-Modified: " + response.lastModified + "\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";

        if (response.endless && !body.isEmpty()) {
            const QByteArray chunk = QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n";
            // Ends when a write fails (the client left, or the destructor shut the socket).
            for (bool ok = send(fd, head.constData(), head.size()); ok;)
                ok = waitFor(fd, POLLRDHUP, 0) == 0 && send(fd, chunk.constData(), chunk.size());
            return false;
        }
        if (repeated) {
            bool ok = sendAll(fd, head.constData(), head.size());
            for (qint64 sent = 0; ok && sent < response.repeatedTo; sent += body.size())
                ok = sendAll(fd, body.constData(),
                             qsizetype(std::min<qint64>(body.size(), response.repeatedTo - sent)));
            return ok;
        }
        if (response.dripBytesPerSecond <= 0) {
            const QByteArray whole = head + body;
            scope.release();
            return send(fd, whole.constData(), whole.size());
        }
        if (!send(fd, head.constData(), head.size()))
            return false;
        // Small pieces at a steady pace, twenty a second, until the client hangs up.
        const qsizetype piece = std::max(1, response.dripBytesPerSecond / 20);
        const int pauseMs = int(qint64(piece) * 1000 / response.dripBytesPerSecond);
        for (qsizetype offset = 0; offset < body.size(); offset += piece) {
            if (offset > 0 && waitFor(fd, POLLRDHUP, pauseMs) != 0)
                return false;
            const qsizetype size = std::min(piece, body.size() - offset);
            if (offset + size == body.size())
                scope.release();
            if (!send(fd, body.constData() + offset, size))
                return false;
        }
        return true;
    }
};

LoopbackServer::LoopbackServer(const QString& address) : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.address = address;
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socklen_t length = sizeof socketAddress;
    auto* any = reinterpret_cast<sockaddr*>(&socketAddress);
    impl.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(impl.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::pipe2(impl.stopPipe, O_CLOEXEC) != 0 ||
        ::inet_pton(AF_INET, address.toLatin1().constData(), &socketAddress.sin_addr) != 1 ||
        ::bind(impl.listenFd, any, length) != 0 || ::listen(impl.listenFd, SOMAXCONN) != 0 ||
        ::getsockname(impl.listenFd, any, &length) != 0)
        throw std::runtime_error("cannot listen on " + address.toStdString());
    impl.port = ntohs(socketAddress.sin_port);
    impl.acceptThread = std::thread([&impl] { impl.acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    Impl& impl = *m_impl;
    const char stop = 1;
    while (::write(impl.stopPipe[1], &stop, 1) < 0 && errno == EINTR) {
    }
    impl.acceptThread.join();
    ::close(impl.listenFd);
    // Unblocks connection threads stuck in send() to a client that stopped reading.
    for (auto& connection : impl.connections)
        ::shutdown(connection.fd, SHUT_RDWR);
    for (auto& connection : impl.connections) {
        connection.thread.join();
        ::close(connection.fd);
    }
    ::close(impl.stopPipe[0]);
    ::close(impl.stopPipe[1]);
}

QString LoopbackServer::url(const QString& path) const {
    return QStringLiteral("http://%1:%2%3").arg(m_impl->address).arg(m_impl->port).arg(path);
}

void LoopbackServer::setRoute(const QString& path, const Response& response) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->routes[path] = response;
}

void LoopbackServer::setMeter(const ConcurrencyMeter& meter) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->meters = {m_impl->ownMeter, meter};
}

int LoopbackServer::requestCount(const QString& path) const {
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->counts.find(withoutQuery(path.toUtf8()));
    return it == m_impl->counts.end() ? 0 : it->second;
}

int LoopbackServer::connectionsAccepted() const {
    return m_impl->accepted;
}

qint64 LoopbackServer::bytesSent() const {
    return m_impl->sent;
}

ConcurrencyMeter LoopbackServer::meter() const {
    return m_impl->ownMeter;
}

QList<ReceivedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->received;
}

} // namespace quorvel::test
