#include "atomicfile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace quorvel {

namespace {

// Retries a system call that a signal interrupted.
template <typename Call> auto retried(Call call) {
    decltype(call()) result;
    do
        result = call();
    while (result < 0 && errno == EINTR);
    return result;
}

// Creates a new, empty file beside target. O_EXCL and O_NOFOLLOW make the call fail rather
// than open anything someone else planted under the chosen name.
int createTemporaryBeside(const QString& target, FileAccess access, QByteArray* tempPath) {
    const QFileInfo info(target);
    const QString stem =
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".tmp-");
    const mode_t mode = access == FileAccess::OwnerOnly ? 0600 : 0666;
    for (int attempt = 0; attempt < 16; ++attempt) {
        *tempPath =
            QFile::encodeName(stem + QString::number(QRandomGenerator::system()->generate64(), 36));
        const int fd = retried([&] {
            return ::open(tempPath->constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        });
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = retried([&] { return ::write(fd, data, std::size_t(left)); });
        if (written < 0)
            return false;
        if (written == 0) {
            errno = EIO;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// The rename is durable only once the folder's entry is on the disk; a failure here loses
// nothing that a reader could see, so it is not reported.
void syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error,
                         FileAccess access, int* errorNumber, Durability durability) {
    QByteArray tempPath;
    auto fail = [&](int code, int fd) {
        if (fd >= 0)
            ::close(fd);
        if (!tempPath.isEmpty())
            ::unlink(tempPath.constData());
        if (error)
            *error = QStringLiteral("Cannot write %1: %2")
                         .arg(QDir::toNativeSeparators(path),
                              QString::fromLocal8Bit(std::strerror(code)));
        if (errorNumber)
            *errorNumber = code;
        return false;
    };
    const int fd = createTemporaryBeside(path, access, &tempPath);
    if (fd < 0) {
        const int code = errno;
        tempPath.clear(); // nothing of ours to remove
        return fail(code, -1);
    }
    // write(2) straight to the file: a buffered stream can report success while its final
    // flush failed, which would put a truncated file in place of the old one on a full disk.
    const bool flushed = durability == Durability::Flushed;
    if (!writeAll(fd, bytes) || (flushed && retried([&] { return ::fsync(fd); }) != 0))
        return fail(errno, fd);
    if (::close(fd) != 0)
        return fail(errno, -1);
    const QByteArray target = QFile::encodeName(path);
    // rename(2) replaces whatever the name points at, a planted link included, and never
    // writes to a link's target.
    if (::rename(tempPath.constData(), target.constData()) != 0)
        return fail(errno, -1);
    if (flushed)
        syncFolder(QFile::encodeName(QFileInfo(path).absolutePath()));
    if (error)
        error->clear();
    if (errorNumber)
        *errorNumber = 0;
    return true;
}

} // namespace quorvel
