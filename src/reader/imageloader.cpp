#include "imageloader.h"

#include <QBuffer>
#include <QImageReader>
#include <QTimer>

#include "reader/linkpolicy.h"

namespace quorvel {

namespace {

// Media types an image may come with besides image/*: servers that do not know it.
bool isImageMediaType(const QByteArray& type) {
    return type.isEmpty() || type.startsWith("image/") || type == "application/octet-stream" ||
           type == "binary/octet-stream";
}

qint64 costOf(const QImage& image) {
    return qMax<qint64>(1, image.sizeInBytes());
}

} // namespace

ImageLoader::ImageLoader(std::unique_ptr<Fetcher> fetcher, qint64 cacheBytes, QObject* parent)
    : QObject(parent), m_fetcher(std::move(fetcher)), m_cache(qMax<qint64>(1, cacheBytes)) {}

ImageLoader::~ImageLoader() {
    m_fetcher->cancel();
    for (auto& worker : m_workers)
        worker->wait();
}

const QImage* ImageLoader::image(const QUrl& url) const {
    return m_cache.object(url);
}

QImage ImageLoader::decode(const QByteArray& bytes, const QByteArray& contentType,
                           QString* error) {
    if (!isImageMediaType(contentType)) {
        *error = QStringLiteral("not an image (%1)").arg(QString::fromLatin1(contentType));
        return {};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid()) {
        *error = QStringLiteral("not an image");
        return {};
    }
    if (qint64(size.width()) * size.height() > maxPixels) {
        *error = QStringLiteral("image too large (%1x%2)").arg(size.width()).arg(size.height());
        return {};
    }
    if (size.width() > maxDecodeWidth)
        reader.setScaledSize(size.scaled(maxDecodeWidth, maxDecodeWidth * size.height() /
                                                             qMax(1, size.width()) + 1,
                                         Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull())
        *error = QStringLiteral("not an image: %1").arg(reader.errorString());
    return image;
}

void ImageLoader::request(const QUrl& url) {
    if (m_pending.contains(url) || m_failed.contains(url) || m_cache.contains(url))
        return;
    if (!isImageAddressAllowed(url)) {
        m_failed.insert(url, QStringLiteral("not a web address"));
        return;
    }
    m_pending.insert(url);
    if (url.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        // data: images are in the page already; decode them without the network.
        QString error;
        QImage image;
        const QString text = url.toString(QUrl::FullyEncoded);
        const int comma = text.indexOf(QLatin1Char(','));
        const QString header = text.mid(5, comma - 5);
        if (comma > 0 && header.startsWith(QLatin1String("image/"), Qt::CaseInsensitive)) {
            const QByteArray payload = QByteArray::fromPercentEncoding(text.mid(comma + 1).toLatin1());
            const bool base64 = header.endsWith(QLatin1String(";base64"), Qt::CaseInsensitive);
            image = decode(base64 ? QByteArray::fromBase64(payload) : payload, QByteArray(), &error);
        } else {
            error = QStringLiteral("not an image");
        }
        QTimer::singleShot(0, this, [this, url, image, error] { deliver(url, image, error); });
        return;
    }
    m_queued << url;
    if (m_queued.size() == 1)
        QTimer::singleShot(0, this, &ImageLoader::startBatch);
}

void ImageLoader::startBatch() {
    if (m_queued.isEmpty())
        return;
    const QList<QUrl> urls = std::exchange(m_queued, {});
    QStringList addresses;
    for (const QUrl& url : urls)
        addresses << url.toString(QUrl::FullyEncoded);
    // Finished workers go; the ones still running stay until they end or the loader does.
    std::erase_if(m_workers, [](const auto& worker) { return worker->isFinished(); });
    std::shared_ptr<FetchBatch> batch = m_fetcher->start(addresses);
    QThread* worker = QThread::create([this, batch, urls] {
        for (std::size_t i = 0; i < batch->size(); ++i) {
            FetchResult result = batch->take(i);
            QString error = result.error;
            QImage image;
            if (result.ok)
                image = decode(result.body, result.contentType, &error);
            QMetaObject::invokeMethod(
                this, [this, url = urls[qsizetype(i)], image, error] { deliver(url, image, error); },
                Qt::QueuedConnection);
        }
    });
    m_workers.emplace_back(worker);
    worker->start(QThread::LowPriority);
}

void ImageLoader::deliver(const QUrl& url, const QImage& image, const QString& error) {
    m_pending.remove(url);
    if (image.isNull()) {
        m_failed.insert(url, error.isEmpty() ? QStringLiteral("not an image") : error);
        Q_EMIT finished(url, false);
        return;
    }
    if (!m_cache.insert(url, new QImage(image), costOf(image))) {
        // Larger than the whole cache: refused for good, or every layout would fetch it again.
        m_failed.insert(url, QStringLiteral("image too large"));
        Q_EMIT finished(url, false);
        return;
    }
    Q_EMIT finished(url, true);
}

} // namespace quorvel
