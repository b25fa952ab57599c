#pragma once

#include <optional>

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace quorvel {

// Keeps one reader running per user. The first instance listens on a local socket in a
// folder only its user can enter; a later start connects to it, asks it to bring its window
// forward and ends. Neither step touches any file of the program. Each end checks that the
// other runs as the same user before it trusts it.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    // The longest request line a client may send, its line end included; a longer one gets
    // the client dropped without its bytes piling up.
    static constexpr int kMaxLineBytes = 256;

    // serverName: the local socket's path; defaultServerName() for the program. An empty
    // name makes the guard inert: no hand-off, and listen() fails.
    explicit InstanceGuard(QString serverName, QObject* parent = nullptr);
    ~InstanceGuard() override;

    // The program's socket: serverNameIn($XDG_RUNTIME_DIR, the temporary folder). Empty, with
    // *error saying why, when no private folder can be had.
    static QString defaultServerName(QString* error = nullptr);
    // The socket path in runtimeDir when that is a private folder of this user (a real
    // directory, not a link, owned by the user, no access for group or others); else in a
    // private folder "quorvel-<uid>" made in tempDir (or, when that name is taken by
    // something else, one of a few numbered alternatives). Empty, with *error, when none
    // qualifies.
    static QString serverNameIn(const QString& runtimeDir, const QString& tempDir,
                                QString* error = nullptr);

    // The user id of the process at the other end of a connected socket, when the system
    // tells it.
    static std::optional<uint> peerUser(const QLocalSocket& socket);

    // Asks a running instance to restore and raise its window. True only when an instance of
    // the trusted user (this one's by default) answered within timeoutMs in all (this
    // process should end); false when none did, including a socket left behind by an
    // instance that crashed and a listener that does not speak the protocol.
    bool activatePrevInstance(int timeoutMs = 3000);

    // Becomes the running instance, removing a socket a crashed instance left behind. False
    // when the socket cannot be created (errorString() says why) or another instance
    // took it first.
    bool listen();

    QString serverName() const { return m_serverName; }
    QString errorString() const { return m_error; }

    // The user whose instances and clients are trusted; this process's user by default.
    void setTrustedUser(uint uid) { m_trustedUser = uid; }
    // A client that has not sent its request this long after connecting is dropped.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

Q_SIGNALS:
    // A later start asked this instance to bring its window forward.
    void activationRequested();

private:
    void onNewConnection();
    void serve(QLocalSocket* socket);
    bool trusted(const QLocalSocket& socket) const;

    QString m_serverName;
    QString m_error;
    QLocalServer* m_server = nullptr;
    uint m_trustedUser;
    int m_idleTimeoutMs = 3000;
};

} // namespace quorvel
