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

int ConcurrencyMeter::current() const {
    return m_state->current.load();
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
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out;
    out.resize(qsizetype(deflateBound(&stream, uLong(data.size()))) + 64);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("deflate did not finish");
    return out;
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString withoutQuery(const QByteArray& target) {
    const qsizetype question = target.indexOf('?');
    return QString::fromUtf8(question < 0 ? target : target.left(question));
}

// Holds a request in every meter it belongs to while it is handled.
class MeterScope {
public:
    explicit MeterScope(std::vector<ConcurrencyMeter> meters) : m_meters(std::move(meters)) {
        for (auto& meter : m_meters)
            meter.enter();
    }
    ~MeterScope() {
        for (auto& meter : m_meters)
            meter.leave();
    }
    MeterScope(const MeterScope&) = delete;
    MeterScope& operator=(const MeterScope&) = delete;

private:
    std::vector<ConcurrencyMeter> m_meters;
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
    int total = 0;
    ConcurrencyMeter ownMeter;
    std::optional<ConcurrencyMeter> sharedMeter;
    std::list<std::unique_ptr<Connection>> connections;

    std::thread acceptThread;

    // Waits until fd is readable; false once the server stops or poll fails.
    bool waitReadable(int fd) const {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || fds[1].revents != 0)
                return false;
            return true;
        }
    }

    // Sleeps for ms; false when the server stops meanwhile.
    bool sleepUnlessStopped(int ms) const {
        pollfd fd = {stopPipe[0], POLLIN, 0};
        return ::poll(&fd, 1, ms) == 0;
    }

    static bool sendAll(int fd, const char* data, qsizetype size) {
        while (size > 0) {
            const ssize_t sent = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR)
                continue;
            if (sent <= 0)
                return false;
            data += sent;
            size -= sent;
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
            reapFinished();
            auto connection = std::make_unique<Connection>();
            connection->fd = fd;
            Connection* raw = connection.get();
            connections.push_back(std::move(connection));
            raw->thread = std::thread([this, raw] {
                serve(raw->fd);
                raw->finished = true;
            });
        }
    }

    // The socket is closed only after its thread is joined, so shutdown() in the destructor
    // never hits a descriptor number that was reused meanwhile.
    void reapFinished() {
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                ::close((*it)->fd);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
    }

    void serve(int fd) {
        QByteArray buffer;
        for (;;) {
            qsizetype headEnd;
            while ((headEnd = buffer.indexOf("\r\n\r\n")) < 0) {
                if (!waitReadable(fd))
                    return;
                char chunk[16384];
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                if (got <= 0)
                    return;
                buffer.append(chunk, got);
                if (buffer.size() > 1024 * 1024)
                    return;
            }
            const QByteArray head = buffer.left(headEnd);
            buffer.remove(0, headEnd + 4);

            ReceivedRequest request;
            const QList<QByteArray> lines = head.split('\n');
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            if (requestLine.size() < 3)
                return;
            request.method = requestLine[0];
            request.target = requestLine[1];
            const QByteArray version = requestLine[2];
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.append(
                        {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
            }
            if (!skipBody(fd, buffer, request.header("Content-Length").toLongLong()))
                return;

            const QByteArray connectionHeader = request.header("Connection").toLower();
            const bool keepAlive = version == "HTTP/1.1" ? connectionHeader != "close"
                                                         : connectionHeader == "keep-alive";
            if (!answer(fd, request, keepAlive) || !keepAlive)
                return;
        }
    }

    bool skipBody(int fd, QByteArray& buffer, qint64 length) {
        while (length > 0) {
            if (buffer.isEmpty()) {
                if (!waitReadable(fd))
                    return false;
                char chunk[16384];
                const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
                if (got <= 0)
                    return false;
                buffer.append(chunk, got);
            }
            const qsizetype used = qsizetype(std::min<qint64>(length, buffer.size()));
            buffer.remove(0, used);
            length -= used;
        }
        return true;
    }

    bool answer(int fd, const ReceivedRequest& request, bool keepAlive) {
        const QString path = withoutQuery(request.target);
        Response response;
        std::vector<ConcurrencyMeter> meters;
        {
            std::lock_guard lock(mutex);
            received.append(request);
            ++total;
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
            meters.push_back(ownMeter);
            if (sharedMeter)
                meters.push_back(*sharedMeter);
        }
        MeterScope scope(std::move(meters));

        if (response.delayMs > 0 && !sleepUnlessStopped(response.delayMs))
            return false;

        const QByteArray body = response.gzip ? gzipped(response.body) : response.body;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                          reasonPhrase(response.status) + "\r\n";
        head += "Content-Type: " + response.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        if (response.gzip)
            head += "Content-Encoding: gzip\r\n";
        for (const auto& [name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";

        if (request.method == "HEAD")
            return sendAll(fd, head.constData(), head.size());
        if (response.dripBytesPerSecond <= 0) {
            const QByteArray whole = head + body;
            return sendAll(fd, whole.constData(), whole.size());
        }
        if (!sendAll(fd, head.constData(), head.size()))
            return false;
        // Small pieces at a steady pace, twenty a second.
        const qsizetype piece = std::max(1, response.dripBytesPerSecond / 20);
        const int pauseMs = int(qint64(piece) * 1000 / response.dripBytesPerSecond);
        for (qsizetype offset = 0; offset < body.size(); offset += piece) {
            if (offset > 0 && !sleepUnlessStopped(pauseMs))
                return false;
            if (!sendAll(fd, body.constData() + offset, std::min(piece, body.size() - offset)))
                return false;
        }
        return true;
    }
};

LoopbackServer::LoopbackServer(const QString& address) : m_impl(std::make_unique<Impl>()) {
    Impl& impl = *m_impl;
    impl.address = address;
    if (::pipe2(impl.stopPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = 0;
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &socketAddress.sin_addr) != 1)
        throw std::runtime_error("not an IPv4 address: " + address.toStdString());
    impl.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (impl.listenFd < 0)
        throw std::runtime_error("socket failed");
    const int one = 1;
    ::setsockopt(impl.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(impl.listenFd, reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress) !=
            0 ||
        ::listen(impl.listenFd, SOMAXCONN) != 0) {
        ::close(impl.listenFd);
        throw std::runtime_error("cannot listen on " + address.toStdString());
    }
    socklen_t length = sizeof socketAddress;
    ::getsockname(impl.listenFd, reinterpret_cast<sockaddr*>(&socketAddress), &length);
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
    std::list<std::unique_ptr<Impl::Connection>> connections;
    {
        std::lock_guard lock(impl.mutex);
        connections.swap(impl.connections);
    }
    // Unblocks connection threads stuck in send() to a client that stopped reading.
    for (auto& connection : connections)
        ::shutdown(connection->fd, SHUT_RDWR);
    for (auto& connection : connections) {
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
    return m_impl->total;
}

ConcurrencyMeter LoopbackServer::meter() const {
    return m_impl->ownMeter;
}

QList<ReceivedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->received;
}

} // namespace quorvel::test
