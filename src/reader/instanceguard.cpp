#include "instanceguard.h"

#include <algorithm>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvel {

namespace {

const QByteArray restoreRequest = "restore\n";
const QByteArray restoreAnswer = "ok\n";
const QString socketName = QStringLiteral("quorvel-reader");

#ifdef Q_OS_UNIX
// A directory itself (not a link to one), owned by uid, that no one else may enter or
// change: only its owner can put a socket there or replace the one there.
bool isPrivateFolder(const QString& path, uid_t uid) {
    struct stat info {};
    return lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == uid && (info.st_mode & 077) == 0;
}

// The folder at path, made private to this user when it does not exist yet; empty when it
// exists and is not such a folder.
QString privateFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    if (mkdir(name.constData(), 0700) == 0)
        chmod(name.constData(), 0700); // a strict umask must not lock the owner out
    else if (errno != EEXIST)
        return QString();
    return isPrivateFolder(path, getuid()) ? path : QString();
}
#endif

} // namespace

InstanceGuard::InstanceGuard(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName)),
#ifdef Q_OS_UNIX
      m_trustedUser(getuid())
#else
      m_trustedUser(0)
#endif
{
}

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::defaultServerName(QString* error) {
    return serverNameIn(qEnvironmentVariable("XDG_RUNTIME_DIR"), QDir::tempPath(), error);
}

QString InstanceGuard::serverNameIn(const QString& runtimeDir, const QString& tempDir,
                                    QString* error) {
#ifdef Q_OS_UNIX
    if (!runtimeDir.isEmpty() && isPrivateFolder(runtimeDir, getuid()))
        return QDir(runtimeDir).filePath(socketName);
    // Another user may have taken the usual name in the shared temporary folder; a few
    // numbered names keep the reader single all the same, and then it gives up.
    const QString base = QDir(tempDir).filePath(QStringLiteral("quorvel-%1").arg(getuid()));
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString folder =
            privateFolder(attempt == 0 ? base : QStringLiteral("%1-%2").arg(base).arg(attempt));
        if (!folder.isEmpty())
            return QDir(folder).filePath(socketName);
    }
    if (error)
        *error = tr("no private folder for the single-instance socket: %1 is not a folder of "
                    "this user closed to others")
                     .arg(base);
    return QString();
#else
    Q_UNUSED(runtimeDir);
    Q_UNUSED(tempDir);
    Q_UNUSED(error);
    return QStringLiteral("quorvel-reader-%1").arg(qEnvironmentVariable("USERNAME"));
#endif
}

std::optional<uint> InstanceGuard::peerUser(const QLocalSocket& socket) {
#ifdef Q_OS_UNIX
    const qintptr descriptor = socket.socketDescriptor();
    if (descriptor < 0)
        return std::nullopt;
#ifdef SO_PEERCRED
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
        size == sizeof credentials)
        return credentials.uid;
#else
    uid_t uid = 0;
    gid_t gid = 0;
    if (getpeereid(int(descriptor), &uid, &gid) == 0)
        return uid;
#endif
#else
    Q_UNUSED(socket);
#endif
    return std::nullopt;
}

bool InstanceGuard::trusted(const QLocalSocket& socket) const {
#ifdef Q_OS_UNIX
    const std::optional<uint> user = peerUser(socket);
    return user && *user == m_trustedUser;
#else
    Q_UNUSED(socket);
    return true; // the pipe's name is per session there
#endif
}

bool InstanceGuard::activatePrevInstance(int timeoutMs) {
    if (m_serverName.isEmpty())
        return false;
    const QDeadlineTimer deadline(std::max(0, timeoutMs));
    auto left = [&] { return int(std::max<qint64>(0, deadline.remainingTime())); };
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    // A listener of another user is never handed over to.
    if (!socket.waitForConnected(left()) || !trusted(socket))
        return false;
    socket.write(restoreRequest);
    socket.waitForBytesWritten(left());
    // Only an instance that answers takes over; a listener that keeps silent is not a
    // working reader, and this start goes on.
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < kMaxLineBytes &&
           socket.waitForReadyRead(left()))
        answer += socket.read(kMaxLineBytes - answer.size());
    socket.abort();
    return answer == restoreAnswer;
}

bool InstanceGuard::listen() {
    if (m_serverName.isEmpty()) {
        m_error = tr("no private folder for the single-instance socket");
        return false;
    }
    if (!m_server) {
        // No socket options: with them Qt binds elsewhere and renames the socket over the
        // name, replacing a running instance's socket instead of failing. The private
        // folder keeps other users out.
        m_server = new QLocalServer(this);
        connect(m_server, &QLocalServer::newConnection, this, &InstanceGuard::onNewConnection);
    }
    if (m_server->listen(m_serverName))
        return true;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered on the name (activatePrevInstance came first), so the socket file
        // is what a crashed instance left behind; the folder is this user's alone.
        QLocalSocket probe;
        probe.connectToServer(m_serverName);
        if (probe.waitForConnected(500)) {
            m_error = tr("Another instance of Quorvel RSS Reader is listening but did not "
                         "answer.");
            return false;
        }
        QLocalServer::removeServer(m_serverName);
        if (m_server->listen(m_serverName))
            return true;
    }
    m_error = m_server->errorString();
    return false;
}

void InstanceGuard::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (trusted(*socket)) {
            serve(socket);
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
}

// One request line per client. The read buffer holds no more than the longest line, so a
// client that never sends a line end costs at most that much before it is dropped, as is
// one that takes too long.
void InstanceGuard::serve(QLocalSocket* socket) {
    socket->setReadBufferSize(kMaxLineBytes);
    auto drop = [socket] {
        socket->abort();
        socket->deleteLater();
    };
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, drop);
    idle->start(m_idleTimeoutMs);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, drop] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() >= kMaxLineBytes)
                drop();
            return;
        }
        if (socket->readLine(kMaxLineBytes + 1) == restoreRequest) {
            socket->write(restoreAnswer);
            socket->flush();
            Q_EMIT activationRequested();
        }
        socket->disconnectFromServer();
    });
}

} // namespace quorvel
