#pragma once

#include <memory>
#include <vector>

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QThread>
#include <QUrl>

#include "platform/fetcher.h"

namespace quorvel {

// Loads the page's images with the program's own fetcher: http and https only (also across
// redirects), the fetcher's size and time limits, and only answers that are images (an image
// media type, or none, and bytes QImageReader decodes). data: images are decoded in place.
// Fetching and decoding run on threads of their own; the decoded images stay in a cache
// bounded in bytes, wider images are scaled down to maxDecodeWidth as they are decoded.
class ImageLoader : public QObject {
    Q_OBJECT
public:
    static constexpr int maxDecodeWidth = 1024;
    static constexpr int maxPixels = 4096 * 4096; // larger images are refused, not decoded

    ImageLoader(std::unique_ptr<Fetcher> fetcher, qint64 cacheBytes, QObject* parent = nullptr);
    ~ImageLoader() override; // cancels the transfers and waits for the workers

    // The decoded image of url, or nullptr when it is not (yet) in the cache.
    const QImage* image(const QUrl& url) const;
    // Starts loading url unless it is cached, loading or failed before.
    void request(const QUrl& url);
    // Whether url failed (refused, not an image, too large, timed out...).
    bool hasFailed(const QUrl& url) const { return m_failed.contains(url); }
    // Why url failed, for people; empty when it did not.
    QString failure(const QUrl& url) const { return m_failed.value(url); }
    int pendingCount() const { return int(m_pending.size()); }

    // Decodes bytes as an image (see the class); a null image with *error when they are not one.
    static QImage decode(const QByteArray& bytes, const QByteArray& contentType, QString* error);

Q_SIGNALS:
    // url finished: its image is in the cache now, or it failed.
    void finished(const QUrl& url, bool ok);

private:
    void startBatch();
    void deliver(const QUrl& url, const QImage& image, const QString& error);

    std::unique_ptr<Fetcher> m_fetcher;
    QCache<QUrl, QImage> m_cache;
    QHash<QUrl, QString> m_failed;
    QSet<QUrl> m_pending;
    QList<QUrl> m_queued; // asked for in this event-loop turn; one batch takes them all
    std::vector<std::unique_ptr<QThread>> m_workers;
};

} // namespace quorvel
