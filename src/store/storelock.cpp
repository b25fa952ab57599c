#include "storelock.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quorvel {

namespace {

// O_NOFOLLOW: a link planted under the lock file's name is refused, never opened; a
// FIFO or device in its place is refused too (O_NONBLOCK keeps the open from hanging).
int openLockFile(const QString& lockPath) {
    const QByteArray path = QFile::encodeName(lockPath);
    const int fd =
        ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

} // namespace

StoreLock::StoreLock(const QString& storePath, int timeoutMs) : m_lockPath(lockPathFor(storePath)) {
    const int fd = openLockFile(m_lockPath);
    if (fd < 0) {
        m_errorNumber = errno;
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            m_errorNumber = errno;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            m_timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
}

StoreLock::~StoreLock() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

QString StoreLock::errorText() const {
    const QString lockFile = QDir::toNativeSeparators(m_lockPath);
    if (isLocked())
        return QString();
    if (m_timedOut)
        return QStringLiteral("%1 is held by another writer").arg(lockFile);
    return QStringLiteral("the lock file %1 cannot be opened: %2")
        .arg(lockFile, QString::fromLocal8Bit(std::strerror(m_errorNumber)));
}

QString StoreLock::lockPathFor(const QString& storePath) {
    const QFileInfo info(storePath);
    const QString canonical = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QString folder = canonical.isEmpty() ? info.absolutePath() : canonical;
    return folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock");
}

bool StoreLock::isHeldElsewhere(const QString& storePath) {
    return StoreLock(storePath, 0).timedOut();
}

} // namespace quorvel
