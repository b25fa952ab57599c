#include "feedcache.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>

#include "platform/atomicfile.h"
#include "store/errorsink.h"

namespace quorvel {

namespace {

const QByteArray kMagic = QByteArrayLiteral("quorvel feed cache 1");
const QString kSuffix = QStringLiteral(".feed");
// A header line longer than this means the file is not one of ours.
constexpr qint64 kMaxHeaderLine = 16 * 1024;
// Temporary files of a write that never finished are removed once they are this old; a
// younger one may belong to a run that is still writing.
constexpr qint64 kStaleTemporarySeconds = 3600;

quint32 checksum(const QByteArray& bytes) {
    return quint32(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                         uInt(bytes.size())));
}

QByteArray timeText(const QDateTime& time) {
    return time.isValid() ? QByteArray::number(time.toMSecsSinceEpoch()) : QByteArray("-");
}

QDateTime timeOf(const QByteArray& text) {
    bool ok = false;
    const qint64 ms = text.toLongLong(&ok);
    return ok ? QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC) : QDateTime();
}

QDateTime modificationTime(const struct stat& info) {
    return QDateTime::fromMSecsSinceEpoch(
        qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

bool setModificationTime(const QByteArray& path, const QDateTime& when) {
    const qint64 ms = when.toMSecsSinceEpoch();
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ms / 1000), long(ms % 1000) * 1000000}};
    return ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// The header block: one "name value" line each, values percent-encoded, an empty line last.
QByteArray headerOf(const CachedFeed& entry) {
    QByteArray out = kMagic + '\n';
    auto line = [&](const char* name, const QByteArray& value) {
        out += name;
        out += ' ';
        out += value.toPercentEncoding();
        out += '\n';
    };
    line("url", entry.url.toUtf8());
    line("final-url", entry.finalUrl.toUtf8());
    line("charset", entry.charset);
    line("etag", entry.etag);
    line("last-modified", entry.lastModified);
    line("fetched", timeText(entry.fetchedAt));
    line("retry-after", entry.retryAfter ? timeText(*entry.retryAfter) : QByteArray("-"));
    out += "body ";
    out += entry.hasBody ? QByteArray::number(entry.body.size()) + ' ' +
                               QByteArray::number(checksum(entry.body), 16)
                         : QByteArray("-");
    out += "\n\n";
    return out;
}

// Opens path for reading without following a link; -1 unless it is a plain file.
int openPlainFile(const QString& path, struct stat* info) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

FeedCache::FeedCache(QString folder, qint64 limitBytes)
    : m_folder(std::move(folder)), m_limit(limitBytes) {}

QString FeedCache::pathFor(const QString& url) const {
    return m_folder + QLatin1Char('/') +
           QString::fromLatin1(
               QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex()) +
           kSuffix;
}

std::optional<CachedFeed> FeedCache::load(const QString& url, bool withBody) const {
    struct stat info {};
    const int fd = openPlainFile(pathFor(url), &info);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
    if (file.readLine(kMaxHeaderLine).chopped(1) != kMagic)
        return std::nullopt;
    CachedFeed entry;
    entry.confirmedAt = modificationTime(info);
    qint64 bodySize = -1;
    quint32 bodySum = 0;
    for (;;) {
        const QByteArray line = file.readLine(kMaxHeaderLine);
        if (!line.endsWith('\n'))
            return std::nullopt; // cut short, or a line too long to be ours
        if (line == "\n")
            break;
        const qsizetype space = line.indexOf(' ');
        if (space < 0)
            return std::nullopt;
        const QByteArray name = line.left(space);
        const QByteArray value = QByteArray::fromPercentEncoding(line.mid(space + 1).chopped(1));
        if (name == "url")
            entry.url = QString::fromUtf8(value);
        else if (name == "final-url")
            entry.finalUrl = QString::fromUtf8(value);
        else if (name == "charset")
            entry.charset = value;
        else if (name == "etag")
            entry.etag = value;
        else if (name == "last-modified")
            entry.lastModified = value;
        else if (name == "fetched")
            entry.fetchedAt = timeOf(value);
        else if (name == "retry-after" && value != "-")
            entry.retryAfter = timeOf(value);
        else if (name == "body" && value != "-") {
            const QList<QByteArray> parts = value.split(' ');
            bool sizeOk = false, sumOk = false;
            bodySize = parts.value(0).toLongLong(&sizeOk);
            bodySum = parts.value(1).toUInt(&sumOk, 16);
            if (!sizeOk || !sumOk || parts.size() != 2 || bodySize < 0)
                return std::nullopt;
        }
    }
    // The hash names the file; the address inside tells the entry is really url's.
    if (entry.url != url || (entry.retryAfter && !entry.retryAfter->isValid()))
        return std::nullopt;
    entry.hasBody = bodySize >= 0;
    if (!entry.hasBody) {
        entry.etag.clear(); // validators without a body to go with them are no use
        entry.lastModified.clear();
        return entry;
    }
    if (file.pos() + bodySize != file.size())
        return std::nullopt;
    if (withBody) {
        entry.body = file.read(bodySize);
        if (entry.body.size() != bodySize || checksum(entry.body) != bodySum)
            return std::nullopt;
    }
    return entry;
}

bool FeedCache::ensureFolder() const {
    const QByteArray path = QFile::encodeName(m_folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    // Only a real folder of the user's: never a link planted in its place.
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == ::getuid();
}

bool FeedCache::store(const CachedFeed& entry) const {
    QString error;
    if (!ensureFolder()) {
        errorSink(QStringLiteral("cannot use the feed cache folder %1")
                      .arg(QDir::toNativeSeparators(m_folder)),
                  0, QStringLiteral("FeedCache::store"));
        return false;
    }
    const QString path = pathFor(entry.url);
    QByteArray bytes = headerOf(entry);
    if (entry.hasBody)
        bytes += entry.body;
    if (!writeFileAtomically(path, bytes, &error, FileAccess::OwnerOnly, nullptr,
                             Durability::Replaceable)) {
        errorSink(error, 0, QStringLiteral("FeedCache::store"));
        return false;
    }
    if (entry.confirmedAt.isValid())
        setModificationTime(QFile::encodeName(path), entry.confirmedAt);
    return true;
}

void FeedCache::confirm(const QString& url, const QDateTime& when) const {
    setModificationTime(QFile::encodeName(pathFor(url)), when);
}

void FeedCache::remove(const QString& url) const {
    ::unlink(QFile::encodeName(pathFor(url)).constData());
}

CachedFeed CachedFeed::fromAnswer(const QString& url, FetchResult answer, const QDateTime& when) {
    CachedFeed entry;
    entry.url = url;
    entry.hasBody = true;
    entry.body = std::move(answer.body);
    entry.charset = std::move(answer.charset);
    entry.finalUrl = std::move(answer.finalUrl);
    entry.etag = std::move(answer.etag);
    entry.lastModified = std::move(answer.lastModified);
    entry.fetchedAt = when;
    entry.confirmedAt = when;
    return entry;
}

FetchResult CachedFeed::answer() const {
    FetchResult answer;
    answer.ok = true;
    answer.body = body;
    answer.charset = charset;
    answer.finalUrl = finalUrl;
    answer.etag = etag;
    answer.lastModified = lastModified;
    return answer;
}

std::optional<FetchResult> FeedCache::answerFor(const QString& url) const {
    const std::optional<CachedFeed> entry = load(url);
    if (!entry || !entry->hasBody)
        return std::nullopt;
    return entry->answer();
}

std::function<std::optional<FetchResult>(const QString& url)> FeedCache::keptAnswers() const {
    return [cache = *this](const QString& url) { return cache.answerFor(url); };
}

FeedCache FeedCache::ofDataFolder(const QString& dataFolder) {
    return FeedCache(dataFolder + QStringLiteral("/cache"));
}

void FeedCache::prune(const QStringList& keep) const {
    QSet<QString> kept;
    for (const QString& url : keep)
        kept.insert(QFileInfo(pathFor(url)).fileName());
    struct Entry {
        QByteArray path;
        qint64 size;
        qint64 mtime;
    };
    std::vector<Entry> entries;
    qint64 total = 0;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QDir folder(m_folder);
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        const bool temporary = name.startsWith(QLatin1Char('.')) && name.contains(kSuffix);
        if (temporary) {
            if (now - info.st_mtim.tv_sec > kStaleTemporarySeconds)
                ::unlink(path.constData());
            continue;
        }
        if (!name.endsWith(kSuffix))
            continue;
        if (!kept.contains(name)) {
            ::unlink(path.constData());
            continue;
        }
        entries.push_back({path, qint64(info.st_size), qint64(info.st_mtim.tv_sec)});
        total += info.st_size;
    }
    if (total <= m_limit)
        return;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.mtime < b.mtime; });
    for (const Entry& entry : entries) {
        if (total <= m_limit)
            break;
        if (::unlink(entry.path.constData()) == 0)
            total -= entry.size;
    }
}

} // namespace quorvel
