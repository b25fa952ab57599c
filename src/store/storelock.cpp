#include "storelock.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quorvel {

namespace {

int openLockFile(const QString& storePath) {
    const QByteArray path = QFile::encodeName(StoreLock::lockPathFor(storePath));
    return ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

} // namespace

StoreLock::StoreLock(const QString& storePath, int timeoutMs) {
    const int fd = openLockFile(storePath);
    if (fd < 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::close(fd);
}

StoreLock::~StoreLock() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

QString StoreLock::lockPathFor(const QString& storePath) {
    const QFileInfo info(storePath);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

bool StoreLock::isHeldElsewhere(const QString& storePath) {
    StoreLock probe(storePath, 0);
    // A folder we cannot create the lock file in cannot hold a writer either.
    return !probe.isLocked() && QFileInfo(storePath).absoluteDir().exists() &&
           QFileInfo(storePath).absoluteDir().isReadable() &&
           QFileInfo::exists(lockPathFor(storePath));
}

} // namespace quorvel
