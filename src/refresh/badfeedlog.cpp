#include "badfeedlog.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTime>

#include "platform/atomicfile.h"
#include "refresh/connectivity.h"
#include "store/errorsink.h"

namespace quorvel {

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

// A URL longer than this is cut in the log; no feed address comes near it.
constexpr qsizetype kLoggedUrlMaxBytes = 8192;

// The system's time format with seconds, without a time zone.
QString timeText() {
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale::system().toString(QTime::currentTime(), format.trimmed());
}

QString withoutUserInfo(const QString& url) {
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    if (schemeEnd < 0)
        return url;
    const qsizetype hostStart = schemeEnd + 3;
    qsizetype authorityEnd = url.size();
    for (const QChar end : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = url.indexOf(end, hostStart);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const qsizetype at = url.lastIndexOf(QLatin1Char('@'), authorityEnd - 1);
    if (at < hostStart)
        return url;
    return url.left(hostStart) + url.mid(at + 1);
}

void appendEscaped(QByteArray* out, unsigned char byte) {
    static const char hex[] = "0123456789ABCDEF";
    *out += '%';
    *out += hex[byte >> 4];
    *out += hex[byte & 0xF];
}

bool writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QByteArray loggedUrl(const QString& url) {
    const QByteArray bytes = withoutUserInfo(url).toUtf8();
    QByteArray out;
    out.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        auto at = [&](qsizetype k) {
            return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0u;
        };
        const unsigned char byte = at(i), next = at(i + 1), third = at(i + 2);
        if (byte <= 0x20 || byte == 0x7F) {
            appendEscaped(&out, byte);
        } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) { // C1 controls
            appendEscaped(&out, byte);
            appendEscaped(&out, next);
            i += 1;
        } else if (byte == 0xE2 && next == 0x80 && (third == 0xA8 || third == 0xA9)) {
            for (const unsigned char b : {byte, next, third})
                appendEscaped(&out, b);
            i += 2;
        } else {
            out += char(byte);
        }
    }
    if (out.size() > kLoggedUrlMaxBytes) {
        out.truncate(kLoggedUrlMaxBytes);
        // Never leave half an escape at the end.
        const qsizetype percent = out.lastIndexOf('%');
        if (percent >= out.size() - 2)
            out.truncate(percent);
    }
    return out;
}

BadFeedLog::BadFeedLog(QString path, qint64 limitBytes)
    : m_path(std::move(path)), m_limit(limitBytes) {}

BadFeedLog::~BadFeedLog() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void BadFeedLog::fail(const QString& why) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_failed = true;
    errorSink(why, 0, QStringLiteral("logBadFeed: ") + QDir::toNativeSeparators(m_path));
}

bool BadFeedLog::open() {
    const QByteArray path = QFile::encodeName(m_path);
    // O_NOFOLLOW: a link planted under the log's name is never written through; O_NONBLOCK:
    // a FIFO there cannot hang the cycle (it is refused below).
    const int flags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    bool created = false;
    m_fd = ::open(path.constData(), flags);
    if (m_fd < 0 && errno == ELOOP) {
        // The name is a link: replace it by a file of our own rather than give up the log.
        if (::unlink(path.constData()) != 0) {
            fail(QStringLiteral("a link stands in the log's place and cannot be removed: ") +
                 errnoText());
            return false;
        }
        errno = ENOENT;
    }
    if (m_fd < 0 && errno == ENOENT) {
        m_fd = ::open(path.constData(), flags | O_CREAT | O_EXCL, 0600);
        created = m_fd >= 0;
    }
    if (m_fd < 0) {
        fail(errnoText());
        return false;
    }
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        fail(QStringLiteral("not a plain file of this user; it is left alone"));
        return false;
    }
    m_size = info.st_size;
    if (created) {
        const QByteArray heading = QByteArray(kErrorLogHeading) + kLineEnd;
        if (!writeAll(m_fd, heading)) {
            fail(errnoText());
            return false;
        }
        m_size = heading.size();
    }
    return true;
}

bool BadFeedLog::makeRoomFor(qint64 incoming) {
    QByteArray content(m_size, Qt::Uninitialized);
    const ssize_t got = ::pread(m_fd, content.data(), std::size_t(content.size()), 0);
    if (got < 0) {
        fail(errnoText());
        return false;
    }
    content.truncate(got);
    // Trim to three quarters of the limit, so that trimming (a rewrite of the whole file)
    // happens once per many lines rather than on every line.
    const qint64 target = m_limit * 3 / 4 - incoming;
    const QByteArray headingLine = QByteArray(kErrorLogHeading) + kLineEnd;
    const qsizetype headingSize = content.startsWith(headingLine) ? headingLine.size() : 0;
    qsizetype cut = headingSize;
    while (cut < content.size() && content.size() - cut + headingSize > target) {
        const qsizetype end = content.indexOf('\n', cut);
        cut = end < 0 ? content.size() : end + 1;
    }
    const QByteArray kept = content.left(headingSize) + content.mid(cut);
    QString error;
    if (!writeFileAtomically(m_path, kept, &error)) {
        fail(error);
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    return open();
}

bool BadFeedLog::logBadFeed(const QString& url) {
    if (m_failed || (m_fd < 0 && !open()))
        return false;
    const QByteArray line = (shortDateText() + QLatin1Char('-') + timeText()).toUtf8() + ' ' +
                            loggedUrl(url) + kLineEnd;
    if (m_size + line.size() > m_limit && !makeRoomFor(line.size()))
        return false;
    if (!writeAll(m_fd, line)) {
        fail(errnoText());
        return false;
    }
    m_size += line.size();
    return true;
}

QByteArray textFileBytes(const QString& text, bool withBom) {
    QByteArray bytes = text.toUtf8();
    if (withBom)
        bytes.prepend("\xEF\xBB\xBF");
    return bytes;
}

bool writeTextFile(const QString& path, const QString& text, bool withBom, QString* error) {
    return writeFileAtomically(path, textFileBytes(text, withBom), error);
}

} // namespace quorvel
