#include "instanceguard.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quorvel {

namespace {

const QByteArray restoreRequest = "restore\n";
const QByteArray restoreAnswer = "ok\n";

} // namespace

InstanceGuard::InstanceGuard(QString serverName, QObject* parent)
    : QObject(parent), m_serverName(std::move(serverName)) {}

InstanceGuard::~InstanceGuard() = default;

QString InstanceGuard::defaultServerName() {
#ifdef Q_OS_UNIX
    // The runtime folder is private to the user, so no other account can squat the name.
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty() && QFileInfo(runtimeDir).isDir())
        return QDir(runtimeDir).filePath(QStringLiteral("quorvel-reader"));
    return QStringLiteral("quorvel-reader-%1").arg(getuid());
#else
    return QStringLiteral("quorvel-reader-%1").arg(qEnvironmentVariable("USERNAME"));
#endif
}

bool InstanceGuard::activatePrevInstance(int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(restoreRequest);
    socket.waitForBytesWritten(timeoutMs);
    // The answer only tells us the request was read; a running instance that is too busy to
    // answer still owns the name, so this start ends either way.
    while (socket.bytesAvailable() < restoreAnswer.size() && socket.waitForReadyRead(timeoutMs)) {
    }
    socket.disconnectFromServer();
    return true;
}

bool InstanceGuard::listen() {
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &InstanceGuard::onNewConnection);
    }
    if (m_server->listen(m_serverName))
        return true;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Nobody answered on the name (activatePrevInstance came first), so the socket file
        // is what a crashed instance left behind.
        QLocalSocket probe;
        probe.connectToServer(m_serverName);
        if (probe.waitForConnected(500)) {
            m_error = tr("Another instance of Quorvel RSS Reader has just started.");
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
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == restoreRequest) {
                socket->write(restoreAnswer);
                socket->flush();
                Q_EMIT activationRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace quorvel
