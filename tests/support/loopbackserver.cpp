#include "loopbackserver.h"

#include <algorithm>
#include <atomic>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include <QtGlobal>
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
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

struct ConcurrencyMeter::State {
    std::atomic<int> current = 0;
    std::atomic<int> maximum = 0;
};

ConcurrencyMeter::ConcurrencyMeter() : m_state(std::make_shared<State>()) {}

void ConcurrencyMeter::enter() {
    const int now = ++m_state->current;
    int seen = m_state->maximum.load();
    while (now > seen && !m_state->maximum.compare_exchange_weak(seen, now)) {
    }
}

void ConcurrencyMeter::leave() {
    --m_state->current;
}

int ConcurrencyMeter::maximum() const {
    return m_state->maximum.load();
}

void ConcurrencyMeter::reset() {
    m_state->maximum = m_state->current.load();
}

namespace {

QByteArray gzipped(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    // deflateBound() leaves room for the whole result, so one call finishes it.
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))) + 64, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

QString withoutQuery(const QByteArray& target) {
    const qsizetype question = target.indexOf('?');
    return QString::fromUtf8(question < 0 ? target : target.left(question));
}

// Holds a request in every meter it belongs to while it is handled. It is let go just before
// the last bytes of the answer are sent: once they are, the client may start its next request
// before this thread runs again, and the meters must never count more than the client runs.
struct MeterScope {
    std::vector<ConcurrencyMeter> meters;
    void release() {
        for (auto& meter : meters)
            meter.leave();
        meters.clear();
    }
    ~MeterScope() { release(); }
};

} // namespace

struct LoopbackServer::Impl {
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> finished = false;
    };

    QString address;
    quint16 port = 0;
    int listenFd = -1;
    int stopPipe[2] = {-1, -1}; // written once on shutdown; readable from then on for all

    mutable std::mutex mutex;
    std::map<QString, Response> routes;
    std::map<QString, int> counts;
    QList<ReceivedRequest> received;
    ConcurrencyMeter ownMeter;
    std::optional<ConcurrencyMeter> sharedMeter;
    std::list<std::unique_ptr<Connection>> connections;

    std::thread acceptThread;

    // Waits until fd is readable; false once the server stops or poll fails.
    bool waitReadable(int fd) const {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        int ready;
        while ((ready = ::poll(fds, 2, -1)) < 0 && errno == EINTR) {
        }
        return ready > 0 && fds[1].revents == 0;
    }

    // Sleeps for ms; false when the server stops meanwhile.
    bool sleepUnlessStopped(int ms) const {
        pollfd fd = {stopPipe[0], POLLIN, 0};
        return ::poll(&fd, 1, ms) == 0;
    }

    // Waits up to ms; false when the server stops or the client hangs up meanwhile.
    bool pauseWhileConnected(int fd, int ms) const {
        pollfd fds[2] = {{fd, POLLRDHUP, 0}, {stopPipe[0], POLLIN, 0}};
        int ready;
        while ((ready = ::poll(fds, 2, ms)) < 0 && errno == EINTR) {
        }
        return ready == 0;
    }

    static bool sendAll(int fd, const char* data, qsizetype size) {
        for (ssize_t sent = 0; size > 0; data += sent, size -= sent) {
            while ((sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL)) < 0 && errno == EINTR) {
            }
            if (sent <= 0)
                return false;
        }
        return true;
    }

    void acceptLoop() {
        while (waitReadable(listenFd)) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::lock_guard lock(mutex);
            // A socket is closed only after its thread is joined, so shutdown() in the
            // destructor never hits a descriptor number that was reused meanwhile.
            connections.remove_if([](const std::unique_ptr<Connection>& done) {
                if (done->finished) {
                    done->thread.join();
                    ::close(done->fd);
                }
                return done->finished.load();
            });
            Connection* connection = connections.emplace_back(new Connection{fd, {}}).get();
            connection->thread = std::thread([this, connection] {
                serve(connection->fd);
                connection->finished = true;
            });
        }
    }

    // Appends what fd has to buffer once it is readable; false at its end or the server's.
    bool readMore(int fd, QByteArray& buffer) const {
        char chunk[16384];
        const ssize_t got = waitReadable(fd) ? ::recv(fd, chunk, sizeof chunk, 0) : -1;
        if (got > 0)
            buffer.append(chunk, got);
        return got > 0 && buffer.size() <= 1024 * 1024;
    }

    void serve(int fd) {
        QByteArray buffer;
        for (;;) {
            qsizetype headEnd;
            while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
                if (!readMore(fd, buffer))
                    return;
            }
            const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
            buffer.remove(0, headEnd + 4);
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            if (requestLine.size() < 3)
                return;
            ReceivedRequest request{requestLine[0], requestLine[1], {}};
            for (const QByteArray& line : lines.mid(1)) {
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request.headers.append(
                        {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            // Any request body is read and dropped.
            const qint64 bodyLength = request.header("Content-Length").toLongLong();
            while (buffer.size() < bodyLength) {
                if (!readMore(fd, buffer))
                    return;
            }
            buffer.remove(0, qsizetype(bodyLength));

            const QByteArray connectionHeader = request.header("Connection").toLower();
            const bool keepAlive = requestLine[2] == "HTTP/1.1" ? connectionHeader != "close"
                                                                : connectionHeader == "keep-alive";
            if (!answer(fd, request, keepAlive) || !keepAlive)
                return;
        }
    }

    bool answer(int fd, const ReceivedRequest& request, bool keepAlive) {
        const QString path = withoutQuery(request.target);
        Response response;
        MeterScope scope;
        {
            std::lock_guard lock(mutex);
            received.append(request);
            ++counts[path];
            auto route = routes.find(QString::fromUtf8(request.target));
            if (route == routes.end())
                route = routes.find(path);
            if (route != routes.end()) {
                response = route->second;
            } else {
                response.status = 404;
                response.body = "not found\n";
                response.contentType = "text/plain; charset=utf-8";
            }
            scope.meters.push_back(ownMeter);
            if (sharedMeter)
                scope.meters.push_back(*sharedMeter);
            for (auto& meter : scope.meters)
                meter.enter();
        }

        if (response.delayMs > 0 && !sleepUnlessStopped(response.delayMs))
            return false;

        const QByteArray body = response.gzip ? gzipped(response.body) : response.body;
        // Clients read the status code only; any reason phrase will do.
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + " Status\r\n";
        head += "Content-Type: " + response.contentType + "\r\n";
        head += response.endless ? QByteArray("Transfer-Encoding: chunked\r\n")
                                 : "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (response.gzip)
            head += "Content-Encoding: gzip\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";

        if (response.endless && request.method != "HEAD" && !body.isEmpty()) {
            if (!sendAll(fd, head.constData(), head.size()))
                return false;
            const QByteArray chunk = QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n";
            // Ends when a write fails (the client left, or the destructor shut the socket).
            while (pauseWhileConnected(fd, 0) && sendAll(fd, chunk.constData(), chunk.size())) {
            }
            return false;
        }
        if (request.method == "HEAD" || response.dripBytesPerSecond <= 0) {
            const QByteArray whole = request.method == "HEAD" ? head : head + body;
            scope.release();
            return sendAll(fd, whole.constData(), whole.size());
        }
        if (!sendAll(fd, head.constData(), head.size()))
            return false;
        // Small pieces at a steady pace, twenty a second.
        const qsizetype piece = std::max(1, response.dripBytesPerSecond / 20);
        const int pauseMs = int(qint64(piece) * 1000 / response.dripBytesPerSecond);
        for (qsizetype offset = 0; offset < body.size(); offset += piece) {
            if (offset > 0 && !pauseWhileConnected(fd, pauseMs))
                return false;
            const qsizetype size = std::min(piece, body.size() - offset);
            if (offset + size == body.size())
                scope.release();
            if (!sendAll(fd, body.constData() + offset, size))
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
    impl.acceptThread.join(); // from here on only this thread touches connections
    ::close(impl.listenFd);
    // Unblocks connection threads stuck in send() to a client that stopped reading.
    for (auto& connection : impl.connections)
        ::shutdown(connection->fd, SHUT_RDWR);
    for (auto& connection : impl.connections) {
        connection->thread.join();
        ::close(connection->fd);
    }
    ::close(impl.stopPipe[0]);
    ::close(impl.stopPipe[1]);
}

quint16 LoopbackServer::port() const {
    return m_impl->port;
}

QString LoopbackServer::address() const {
    return m_impl->address;
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
    m_impl->sharedMeter = meter;
}

int LoopbackServer::requestCount(const QString& path) const {
    std::lock_guard lock(m_impl->mutex);
    const auto it = m_impl->counts.find(withoutQuery(path.toUtf8()));
    return it == m_impl->counts.end() ? 0 : it->second;
}

int LoopbackServer::totalRequests() const {
    std::lock_guard lock(m_impl->mutex);
    return int(m_impl->received.size());
}

ConcurrencyMeter LoopbackServer::meter() const {
    return m_impl->ownMeter;
}

QList<ReceivedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->received;
}

} // namespace quorvel::test
