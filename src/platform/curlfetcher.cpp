#include "curlfetcher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <QRegularExpression>
#include <QUrl>
#include <curl/curl.h>
#include <zlib.h>

#ifndef QUORVEL_VERSION_TEXT
#define QUORVEL_VERSION_TEXT "0.0.0"
#endif

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

// How many connections a batch may hold open for each transfer it may run at once.
constexpr long kIdleConnectionsPerTransfer = 2;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

FetchResult failure(const QString& error, long httpStatus = 0) {
    FetchResult result;
    result.error = error;
    result.httpStatus = httpStatus;
    return result;
}

QString sizeText(qint64 bytes) {
    constexpr qint64 kib = 1024;
    constexpr qint64 mib = 1024 * kib;
    if (bytes > 0 && bytes % mib == 0)
        return QStringLiteral("%1 MiB").arg(bytes / mib);
    if (bytes > 0 && bytes % kib == 0)
        return QStringLiteral("%1 KiB").arg(bytes / kib);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString tooLargeText(qint64 maxBytes) {
    return QStringLiteral("response larger than %1").arg(sizeText(maxBytes));
}

// Only web addresses are fetched. Paths, file: URLs and every other scheme are refused
// before anything is opened: reading a device or a FIFO named by a feed could block a
// refresh for ever, and a local file's content would end up on the page.
bool isWebAddress(const QString& url) {
    static const QRegularExpression web(QStringLiteral("^https?://"),
                                        QRegularExpression::CaseInsensitiveOption);
    return web.match(url).hasMatch();
}

// A gzip or deflate body decoded, at most maxBytes of it; false with *error when it does
// not decode or decodes to more. Bodies are kept compressed until they are taken, so a
// batch of large compressed feeds holds only their compressed bytes meanwhile.
bool decodeBody(const QByteArray& encoded, bool rawDeflateFallback, qint64 maxBytes,
                QByteArray* decoded, QString* error) {
    z_stream stream{};
    // 15 + 32: a gzip or zlib header, whichever the data has; -15: raw deflate data, which
    // some servers send as "deflate".
    if (inflateInit2(&stream, rawDeflateFallback ? -15 : 15 + 32) != Z_OK) {
        *error = QStringLiteral("cannot decompress the response");
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(encoded.constData()));
    stream.avail_in = uInt(encoded.size());
    QByteArray out;
    char chunk[64 * 1024];
    int code = Z_OK;
    while (code == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        code = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - stream.avail_out);
        if (out.size() + produced > maxBytes) {
            inflateEnd(&stream);
            *error = tooLargeText(maxBytes);
            return false;
        }
        out.append(chunk, produced);
        if (code == Z_BUF_ERROR && stream.avail_in == 0)
            break; // the data ends without its end marker: keep what it held
    }
    inflateEnd(&stream);
    if (code != Z_STREAM_END && code != Z_BUF_ERROR) {
        *error = QStringLiteral("the response does not decompress: %1")
                     .arg(QString::fromUtf8(stream.msg ? stream.msg : "bad data"));
        return false;
    }
    out.squeeze();
    *decoded = std::move(out);
    return true;
}

QString notWebAddressText(const QString& url) {
    return QStringLiteral("not a web address: %1").arg(url);
}

QString batchTimeLimitText(long limitMs) {
    return QStringLiteral("not done within the time limit of %1 s for all requests together")
        .arg(limitMs / 1000.0);
}

} // namespace

class CurlBatch;

struct CurlFetcher::Registry {
    std::mutex mutex;
    std::vector<CurlBatch*> batches;
    // The multi handle of the batch that ended last, with the connections it keeps open:
    // the next batch takes it, so a refresh reuses the connections of the one before
    // (without new handshakes) where the server has kept them open. One is kept, the
    // freshest; curl closes a connection idle for longer than two minutes instead of
    // reusing it.
    CURLM* idleMulti = nullptr;

    ~Registry() {
        if (idleMulti)
            curl_multi_cleanup(idleMulti);
    }

    CURLM* takeMulti() {
        {
            std::lock_guard lock(mutex);
            if (CURLM* multi = std::exchange(idleMulti, nullptr))
                return multi;
        }
        return curl_multi_init();
    }

    // Takes back multi, which runs no transfer any more.
    void giveBack(CURLM* multi) {
        std::unique_lock lock(mutex);
        CURLM* older = std::exchange(idleMulti, multi);
        lock.unlock();
        if (older)
            curl_multi_cleanup(older);
    }
};

namespace {

struct Transfer {
    std::size_t index = 0;
    CURL* easy = nullptr;
    qint64 maxBodyBytes = 0;
    QByteArray body;
    bool tooLarge = false;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr; // the conditional request's validators
};

// The value of the last answer's header name (after redirects), or empty.
QByteArray headerOf(CURL* easy, const char* name) {
    curl_header* header = nullptr;
    if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK || !header)
        return QByteArray();
    return QByteArray(header->value).trimmed();
}

// A validator goes back to the server as it came; one that could break the request's
// header block is not sent at all.
bool isSendable(const QByteArray& value) {
    return !value.isEmpty() && value.size() <= 4096 && !value.contains('\r') &&
           !value.contains('\n') && !value.contains('\0');
}

} // namespace

// One start(): the requests, their results and the thread that drives the transfers.
class CurlBatch : public FetchBatch {
public:
    CurlBatch(std::vector<FetchRequest> requests, const FetchLimits& limits,
              std::shared_ptr<std::atomic<int>> generation,
              std::shared_ptr<CurlFetcher::Registry> registry)
        : m_wanted(std::move(requests)), m_urls(urlsOf(m_wanted)), m_limits(limits),
          m_generation(std::move(generation)), m_startGeneration(m_generation->load()),
          m_registry(std::move(registry)), m_slots(m_wanted.size()) {
        m_limits.maxConcurrent = std::max(1, m_limits.maxConcurrent);
        m_limits.maxPerHost = std::max(1, m_limits.maxPerHost);
        m_limits.maxBodyBytes = std::max<qint64>(0, m_limits.maxBodyBytes);
        if (m_urls.isEmpty())
            return;
        m_multi = m_registry->takeMulti();
        if (m_multi) {
            // startPending() keeps to maxConcurrent transfers; curl may keep more connections
            // open, idle, so that requests taking turns between hosts reuse them instead of
            // closing one and opening (and for https, handshaking) another per request.
            const long open = long(m_limits.maxConcurrent) * kIdleConnectionsPerTransfer;
            curl_multi_setopt(m_multi, CURLMOPT_MAX_TOTAL_CONNECTIONS, open);
            curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(m_limits.maxPerHost));
            curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, open);
        }
        {
            std::lock_guard lock(m_registry->mutex);
            m_registry->batches.push_back(this);
        }
        try {
            m_thread = std::thread([this] { run(); });
        } catch (...) {
            unregister(); // the destructor does not run when the constructor throws
            if (m_multi)
                m_registry->giveBack(m_multi);
            throw;
        }
    }

    ~CurlBatch() override {
        unregister();
        m_stopping = true;
        wake();
        if (m_thread.joinable())
            m_thread.join();
        if (m_multi)
            m_registry->giveBack(m_multi); // every transfer of it has been removed by now
    }

    std::size_t size() const override { return m_slots.size(); }

    FetchResult take(std::size_t index) override {
        if (index >= m_slots.size())
            return failure(QStringLiteral("no request %1 in this batch").arg(index));
        std::unique_lock lock(m_mutex);
        Slot& slot = m_slots[index];
        // The transfer thread is woken only when the memory budget holds requests back:
        // otherwise it has nothing new to do, and waking it at every take() costs a pass
        // over every running transfer. (finish() changes m_heldBytes under m_mutex, too.)
        const bool heldBack = m_heldBytes.load() >= m_limits.maxHeldBytes;
        if (!slot.done && m_waitingFor.exchange(qint64(index)) != qint64(index) && heldBack &&
            m_multi)
            curl_multi_wakeup(m_multi); // it may be a request held back by the budget
        m_finished.wait(lock, [&] { return slot.done || stopRequested(); });
        if (slot.taken)
            return failure(QStringLiteral("result already taken"));
        slot.taken = true;
        if (!slot.done)
            return failure(QStringLiteral("cancelled"));
        if (m_heldBytes.fetch_sub(slot.result.body.size()) >= m_limits.maxHeldBytes && m_multi)
            curl_multi_wakeup(m_multi); // the memory handed out may let more requests start
        FetchResult result = std::move(slot.result);
        const QByteArray encoding = std::move(slot.encoding);
        lock.unlock();
        return decoded(std::move(result), encoding);
    }

    // The result with its body decoded as its Content-Encoding says.
    FetchResult decoded(FetchResult result, const QByteArray& encoding) const {
        if (!result.ok || encoding.isEmpty() || encoding == "identity")
            return result;
        QString error = QStringLiteral("unsupported content encoding %1")
                            .arg(QString::fromLatin1(encoding));
        QByteArray body;
        const bool gzip = encoding == "gzip" || encoding == "x-gzip";
        const bool deflate = encoding == "deflate";
        if ((gzip || deflate) &&
            (decodeBody(result.body, false, m_limits.maxBodyBytes, &body, &error) ||
             (deflate && error != tooLargeText(m_limits.maxBodyBytes) &&
              decodeBody(result.body, true, m_limits.maxBodyBytes, &body, &error)))) {
            result.body = std::move(body);
            return result;
        }
        return failure(error, result.httpStatus);
    }

    // Called by cancel() and the destructor: interrupts curl_multi_poll and wakes take().
    void wake() {
        std::lock_guard lock(m_mutex);
        if (m_multi)
            curl_multi_wakeup(m_multi);
        m_finished.notify_all();
    }

    static size_t onWrite(char* data, size_t size, size_t count, void* user) {
        auto* transfer = static_cast<Transfer*>(user);
        const size_t bytes = size * count;
        if (qint64(transfer->body.size()) + qint64(bytes) > transfer->maxBodyBytes) {
            transfer->tooLarge = true;
            return 0; // makes curl abort the transfer with a write error
        }
        transfer->body.append(data, qsizetype(bytes));
        return bytes;
    }

private:
    struct Slot {
        FetchResult result;
        QByteArray encoding; // the body's Content-Encoding, lower case; decoded by take()
        bool done = false;
        bool taken = false;
    };

    struct Request {
        QString address; // the URL without surrounding white space
        QByteArray encodedUrl;
        std::string hostKey;
    };

    static QStringList urlsOf(const std::vector<FetchRequest>& requests) {
        QStringList urls;
        urls.reserve(qsizetype(requests.size()));
        for (const FetchRequest& request : requests)
            urls << request.url;
        return urls;
    }

    void unregister() {
        std::lock_guard lock(m_registry->mutex);
        auto& batches = m_registry->batches;
        batches.erase(std::remove(batches.begin(), batches.end(), this), batches.end());
    }

    bool stopRequested() const { return m_stopping || m_generation->load() != m_startGeneration; }

    void finish(std::size_t index, FetchResult result, QByteArray encoding = QByteArray()) {
        std::lock_guard lock(m_mutex);
        m_heldBytes += result.body.size();
        m_slots[index].encoding = std::move(encoding);
        m_slots[index].result = std::move(result);
        m_slots[index].done = true;
        m_finished.notify_all();
    }

    void run() {
        prepare();
        if (!m_multi) {
            for (std::size_t index : m_pending)
                finish(index, failure(QStringLiteral("cannot start transfers: %1")
                                          .arg(m_urls[qsizetype(index)])));
            m_pending.clear();
        }
        startPending();
        QString abortReason = QStringLiteral("cancelled");
        while ((!m_running.empty() || !m_pending.empty()) && !stopRequested()) {
            int stillRunning = 0;
            const CURLMcode code = curl_multi_perform(m_multi, &stillRunning);
            if (code != CURLM_OK) {
                abortReason = QString::fromUtf8(curl_multi_strerror(code));
                break;
            }
            collectFinished();
            if (startPending())
                continue; // new transfers need a perform before there is anything to poll
            if (m_running.empty() && m_pending.empty())
                break;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
            if (left.count() <= 0) {
                abortReason = batchTimeLimitText(m_limits.batchTimeoutMs);
                break;
            }
            // Also woken by cancel() and by a take() that frees memory or waits.
            curl_multi_poll(m_multi, nullptr, 0, int(std::min<long long>(left.count(), 1000)),
                            nullptr);
        }
        failRunning(abortReason);
        for (std::size_t index : m_pending)
            finish(index, failure(abortReason));
        m_pending.clear();
    }

    void prepare() {
        m_requests.resize(m_slots.size());
        for (std::size_t index = 0; index < m_requests.size(); ++index) {
            Request& request = m_requests[index];
            request.address = m_urls[qsizetype(index)].trimmed();
            if (!isWebAddress(request.address)) {
                finish(index, failure(notWebAddressText(m_urls[qsizetype(index)])));
                continue;
            }
            const QUrl parsed(request.address);
            // Percent-encodes spaces and non-ASCII characters, and turns international host
            // names into their ASCII form, which curl's URL parser requires.
            request.encodedUrl = parsed.toEncoded();
            const int defaultPort = parsed.scheme().toLower() == QLatin1String("https") ? 443 : 80;
            request.hostKey = parsed.host().toLower().toStdString() + ':' +
                              std::to_string(parsed.port(defaultPort));
            m_pending.push_back(index);
        }
    }

    // Starts the earliest pending requests whose host has room, so results arrive roughly
    // in request order; true when it started any. While the bodies held for take() exceed
    // their budget only the request a take() waits for may start: taking frees memory, so
    // the batch never stalls.
    bool startPending() {
        bool started = false;
        auto it = m_pending.begin();
        while (it != m_pending.end() && int(m_running.size()) < m_limits.maxConcurrent &&
               !stopRequested()) {
            const std::size_t index = *it;
            if ((m_heldBytes.load() >= m_limits.maxHeldBytes && qint64(index) != m_waitingFor) ||
                m_perHost[m_requests[index].hostKey] >= m_limits.maxPerHost) {
                ++it;
                continue;
            }
            it = m_pending.erase(it);
            startTransfer(index);
            started = true;
        }
        return started;
    }

    void startTransfer(std::size_t index) {
        const Request& request = m_requests[index];
        auto transfer = std::make_unique<Transfer>();
        transfer->index = index;
        transfer->maxBodyBytes = m_limits.maxBodyBytes;
        transfer->easy = curl_easy_init();
        CURL* easy = transfer->easy;
        if (!easy) {
            const QString& url = m_urls[qsizetype(index)];
            finish(index, failure(QStringLiteral("cannot start transfer: %1").arg(url)));
            return;
        }
        curl_easy_setopt(easy, CURLOPT_URL, request.encodedUrl.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, m_limits.maxRedirects);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, m_limits.connectTimeoutMs);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, m_limits.totalTimeoutMs);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_limits.lowSpeedBytesPerSec);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_limits.lowSpeedSeconds);
        // Compressed bodies stay compressed until take() (see decodeBody).
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
        curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        // An announced length over the cap is refused before the body comes.
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(m_limits.maxBodyBytes));
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        // Removing a transfer whose name lookup still runs would otherwise wait for the
        // resolver thread; with this it is left to finish on its own and cancel stays prompt.
        curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, m_userAgent.constData());
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CurlBatch::onWrite);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->errorBuffer);
        curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer.get());
        const FetchRequest& wanted = m_wanted[index];
        if (isSendable(wanted.etag))
            transfer->headers =
                curl_slist_append(transfer->headers, ("If-None-Match: " + wanted.etag).constData());
        if (isSendable(wanted.lastModified))
            transfer->headers = curl_slist_append(
                transfer->headers, ("If-Modified-Since: " + wanted.lastModified).constData());
        if (transfer->headers)
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
        const CURLMcode code = curl_multi_add_handle(m_multi, easy);
        if (code != CURLM_OK) {
            curl_easy_cleanup(easy);
            curl_slist_free_all(transfer->headers);
            finish(index,
                   failure(QStringLiteral("%1: %2").arg(
                       QString::fromUtf8(curl_multi_strerror(code)), m_urls[qsizetype(index)])));
            return;
        }
        ++m_perHost[request.hostKey];
        m_running.push_back(std::move(transfer));
    }

    bool collectFinished() {
        bool any = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            const CURLcode code = message->data.result;
            FetchResult result = resultOf(*transfer, code);
            QByteArray encoding;
            curl_header* header = nullptr;
            if (result.ok && curl_easy_header(transfer->easy, "Content-Encoding", 0, CURLH_HEADER,
                                              -1, &header) == CURLHE_OK)
                encoding = QByteArray(header->value).trimmed().toLower();
            const std::size_t index = transfer->index;
            release(transfer);
            finish(index, std::move(result), std::move(encoding));
            any = true;
        }
        return any;
    }

    FetchResult resultOf(Transfer& transfer, CURLcode code) const {
        FetchResult result = answerOf(transfer, code);
        curl_off_t body = 0;
        long headers = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_SIZE_DOWNLOAD_T, &body);
        curl_easy_getinfo(transfer.easy, CURLINFO_HEADER_SIZE, &headers);
        result.bytesReceived = qint64(body) + headers;
        return result;
    }

    FetchResult answerOf(Transfer& transfer, CURLcode code) const {
        const QString& url = m_urls[qsizetype(transfer.index)];
        long status = 0;
        curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
        if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED)
            return failure(tooLargeText(m_limits.maxBodyBytes), status);
        if (code != CURLE_OK) {
            const QString reason = QString::fromUtf8(curl_easy_strerror(code));
            const QString detail = QString::fromUtf8(transfer.errorBuffer);
            if (detail.isEmpty() || detail == reason)
                return failure(QStringLiteral("%1: %2").arg(reason, url), status);
            return failure(QStringLiteral("%1 (%2): %3").arg(reason, detail, url), status);
        }
        // A 304 means something only as the answer to validators this request sent.
        const bool notModified = status == 304 && transfer.headers != nullptr;
        if ((status < 200 || status > 299) && !notModified) {
            FetchResult failed =
                failure(QStringLiteral("HTTP %1: %2").arg(status).arg(url), status);
            if (status == 429 || status == 503)
                failed.retryAfter = retryAfterTime(headerOf(transfer.easy, "Retry-After"),
                                                   QDateTime::currentDateTimeUtc());
            return failed;
        }
        FetchResult result;
        result.ok = true;
        result.httpStatus = status;
        result.notModified = notModified;
        result.etag = headerOf(transfer.easy, "ETag");
        result.lastModified = headerOf(transfer.easy, "Last-Modified");
        if (!notModified)
            result.body = std::move(transfer.body);
        const char* contentType = nullptr;
        if (curl_easy_getinfo(transfer.easy, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK &&
            contentType != nullptr) {
            const QByteArray value(contentType);
            result.charset = charsetOfContentType(value);
            result.contentType = value.split(';').constFirst().trimmed().toLower();
        }
        const char* finalUrl = nullptr;
        if (curl_easy_getinfo(transfer.easy, CURLINFO_EFFECTIVE_URL, &finalUrl) == CURLE_OK &&
            finalUrl != nullptr)
            result.finalUrl = QString::fromUtf8(finalUrl);
        return result;
    }

    void release(Transfer* transfer) {
        curl_multi_remove_handle(m_multi, transfer->easy);
        curl_easy_cleanup(transfer->easy);
        curl_slist_free_all(transfer->headers);
        --m_perHost[m_requests[transfer->index].hostKey];
        m_running.erase(std::find_if(m_running.begin(), m_running.end(),
                                     [&](const auto& owned) { return owned.get() == transfer; }));
    }

    void failRunning(const QString& error) {
        while (!m_running.empty()) {
            Transfer* transfer = m_running.back().get();
            const std::size_t index = transfer->index;
            release(transfer);
            finish(index, failure(error));
        }
    }

    const std::vector<FetchRequest> m_wanted;
    const QStringList m_urls;
    FetchLimits m_limits;
    const QByteArray m_userAgent = CurlFetcher::userAgent();
    const Clock::time_point m_deadline =
        Clock::now() + std::chrono::milliseconds(std::max(0L, m_limits.batchTimeoutMs));
    const std::shared_ptr<std::atomic<int>> m_generation;
    const int m_startGeneration;
    const std::shared_ptr<CurlFetcher::Registry> m_registry;
    std::atomic<bool> m_stopping = false;

    std::mutex m_mutex; // guards m_slots and the wake-up of m_multi
    std::condition_variable m_finished;
    std::vector<Slot> m_slots;

    // Owned by the batch thread once it runs.
    CURLM* m_multi = nullptr;
    std::vector<Request> m_requests;
    std::vector<std::size_t> m_pending;
    std::atomic<qint64> m_heldBytes{0};   // bodies of finished requests not yet taken
    std::atomic<qint64> m_waitingFor{-1}; // the request take() waits for, if any
    std::vector<std::unique_ptr<Transfer>> m_running;
    std::map<std::string, int> m_perHost;
    std::thread m_thread;
};

CurlFetcher::CurlFetcher(FetchLimits limits)
    : m_limits(limits), m_cancelGeneration(std::make_shared<std::atomic<int>>(0)),
      m_registry(std::make_shared<Registry>()) {
    initCurlOnce();
}

CurlFetcher::~CurlFetcher() = default;

std::unique_ptr<FetchBatch> CurlFetcher::start(const QStringList& urls) {
    std::vector<FetchRequest> requests;
    requests.reserve(std::size_t(urls.size()));
    for (const QString& url : urls)
        requests.push_back(FetchRequest{url, {}, {}});
    return start(requests);
}

std::unique_ptr<FetchBatch> CurlFetcher::start(const std::vector<FetchRequest>& requests) {
    return std::make_unique<CurlBatch>(requests, m_limits, m_cancelGeneration, m_registry);
}

void CurlFetcher::cancel() {
    ++*m_cancelGeneration;
    std::lock_guard lock(m_registry->mutex);
    for (CurlBatch* batch : m_registry->batches)
        batch->wake();
}

QByteArray CurlFetcher::userAgent() {
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return QByteArrayLiteral("QuorvelRSSReader/" QUORVEL_VERSION_TEXT
                             " (desktop feed reader; libcurl/") +
           QByteArray(info ? info->version : "unknown") + ')';
}

} // namespace quorvel
