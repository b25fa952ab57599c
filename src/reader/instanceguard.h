#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace quorvel {

// Keeps one reader running per user. The first instance listens on a local socket; a later
// start connects to it, asks it to bring its window forward and ends. Neither step touches
// any file of the program.
class InstanceGuard : public QObject {
    Q_OBJECT
public:
    // serverName: the local socket's name; defaultServerName() for the program.
    explicit InstanceGuard(QString serverName, QObject* parent = nullptr);
    ~InstanceGuard() override;

    // The per-user socket name: in $XDG_RUNTIME_DIR when that is set, else the user's id
    // in the name of a socket in the temporary folder.
    static QString defaultServerName();

    // Asks a running instance to restore and raise its window. True when one is running
    // (this process should end); false when none answered, including a socket left behind by
    // an instance that crashed.
    bool activatePrevInstance(int timeoutMs = 3000);

    // Becomes the running instance, removing a socket a crashed instance left behind. False
    // when the socket cannot be created (errorString() says why) or another instance
    // took it first.
    bool listen();

    QString serverName() const { return m_serverName; }
    QString errorString() const { return m_error; }

Q_SIGNALS:
    // A later start asked this instance to bring its window forward.
    void activationRequested();

private:
    void onNewConnection();

    QString m_serverName;
    QString m_error;
    QLocalServer* m_server = nullptr;
};

} // namespace quorvel
