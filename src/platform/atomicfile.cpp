#include "atomicfile.h"

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QSaveFile>

namespace quorvel {

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    QSaveFile file(path);
    // Unbuffered: QSaveFile (Qt 6.4) commits even when its buffered flush failed, which
    // would put a truncated file in place of the old one on a full disk.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(file.errorString());
    errno = 0;
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        const int code = errno;
        QString why = file.errorString();
        if (why.isEmpty() || why == QLatin1String("Unknown error"))
            why = code != 0 ? QString::fromLocal8Bit(std::strerror(code))
                            : QStringLiteral("the file could not be written completely");
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    if (error)
        error->clear();
    return true;
}

} // namespace quorvel
