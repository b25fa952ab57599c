#include "refreshcycle.h"

#include <memory>
#include <vector>

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include "feed/feedparser.h"
#include "platform/atomicfile.h"
#include "platform/fetcher.h"
#include "platform/xmldocument.h"
#include "refresh/badfeedlog.h"
#include "refresh/connectivity.h"
#include "refresh/pagemarkup.h"
#include "refresh/readerport.h"
#include "store/errorsink.h"
#include "store/feedstore.h"
#include "store/settingsdefaults.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

const QString kTitle = QStringLiteral("Quorvel RSS Reader");

// One feed entry as the cycle reads it. Values that do not read take their defaults, so a
// hand-edited store never stops the cycle.
struct FeedSlot {
    QString url;
    bool hasUrl = false;
    int articleLimit = 10;
    bool headingsOnly = false;
    bool disabled = false;
};

FeedSlot readSlot(const XmlNode& feed) {
    FeedSlot slot;
    const std::optional<QString> url = feed.getAttribute(QStringLiteral("url"));
    slot.hasUrl = url.has_value() && !url->trimmed().isEmpty();
    slot.url = url.value_or(QString()).trimmed();
    bool ok = false;
    if (const auto num = feed.getAttribute(QStringLiteral("num"))) {
        const qint64 limit = readWholeNumber(*num, -32768, 32767, &ok);
        if (ok)
            slot.articleLimit = static_cast<int>(limit);
    }
    if (const auto headers = feed.getAttribute(QStringLiteral("headers"))) {
        const bool value = readBooleanText(*headers, &ok);
        slot.headingsOnly = ok && value;
    }
    if (const auto disabled = feed.getAttribute(QStringLiteral("disabled"))) {
        const bool value = readBooleanText(*disabled, &ok);
        slot.disabled = ok && value;
    }
    return slot;
}

Message errorMessage(const QString& text) {
    return Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation};
}

// The note in the heading of a feed shown from an older copy: the time that copy was last
// found current, with the date when that was not today.
QString staleNoteFor(const QDateTime& confirmedAt) {
    const QLocale locale = QLocale::system();
    const QDateTime local = confirmedAt.toLocalTime();
    QString when = locale.toString(local.time(), QLocale::ShortFormat);
    if (local.date() != QDate::currentDate())
        when = locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') + when;
    return QStringLiteral("(not updated since %1)").arg(when);
}

// Reads a cached copy as the feed it holds, its links resolved against where it came from
// (options receives that address and the copy's charset).
FeedParseResult parseCopy(const QString& url, const CachedFeed& copy, FeedParseOptions* options) {
    options->httpCharset = copy.charset;
    options->address = QUrl(copy.finalUrl.isEmpty() ? url : copy.finalUrl);
    return parseFeed(copy.body, *options);
}

} // namespace

struct RefreshCycle::Loaded {
    FeedParseResult shown; // Loaded or NotAFeed: what the page shows of the feed
    QUrl address;          // what relative links in it are resolved against
    QString staleNote;     // set when an older copy stands in for the feed
    bool failed = false;   // the feed did not load: it goes to error.log
    bool cancelled = false;
    FeedCheck check;       // what the manager shows of this run's look at the feed
};

RefreshCycle::RefreshCycle(const FeedStore& store, Fetcher& fetcher, ReaderPort& port,
                           QString probeAddress)
    : m_store(store), m_fetcher(fetcher), m_port(port), m_probeAddress(std::move(probeAddress)),
      m_cache(FeedCache::ofDataFolder(store.folder())) {}

RefreshCycle::Loaded RefreshCycle::fromCache(const QString& url, bool failed,
                                             FeedParseOptions options,
                                             FetchSummary* summary) const {
    Loaded loaded;
    loaded.failed = failed;
    const std::optional<CachedFeed> copy = m_cache.load(url);
    if (copy && copy->hasBody) {
        FeedParseResult parsed = parseCopy(url, *copy, &options);
        if (parsed.status == FeedParseStatus::Cancelled) {
            loaded.cancelled = true;
            return loaded;
        }
        if (parsed.status == FeedParseStatus::Loaded) {
            loaded.shown = std::move(parsed);
            loaded.address = options.address;
            loaded.staleNote = staleNoteFor(copy->confirmedAt);
            ++summary->fromCache;
            return loaded;
        }
    }
    // Waiting for the server with nothing to show: the feed did not load this time.
    loaded.failed = true;
    return loaded;
}

RefreshCycle::Loaded RefreshCycle::loadFeed(const QString& url, std::optional<FetchResult> result,
                                            const std::optional<CachedFeed>& cached,
                                            FetchSummary* summary,
                                            FeedParseOptions options) const {
    if (!result) { // the server asked us to wait
        Loaded loaded = fromCache(url, false, options, summary);
        loaded.check.ok = !loaded.failed;
        loaded.check.title = loaded.shown.feed.plainTitle;
        loaded.check.items = static_cast<int>(loaded.shown.feed.items.size());
        if (loaded.failed)
            loaded.check.reason = QStringLiteral("the server asked to wait");
        return loaded;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    summary->bytesReceived += result->bytesReceived;
    if (result->ok && !result->notModified) {
        options.httpCharset = result->charset;
        options.address = QUrl(result->finalUrl.isEmpty() ? url : result->finalUrl);
        FeedParseResult parsed = parseFeed(result->body, options);
        Loaded loaded;
        if (parsed.status == FeedParseStatus::Cancelled) {
            loaded.cancelled = true;
            return loaded;
        }
        loaded.check = checkParsedFeed(*result, parsed);
        if (parsed.status == FeedParseStatus::Loaded) {
            loaded.shown = std::move(parsed);
            loaded.address = options.address;
            ++summary->fetched;
            m_cache.store(CachedFeed::fromAnswer(url, std::move(*result), now));
            return loaded;
        }
        // No feed in the answer: an older copy stands in; without one, a document that
        // holds no feed shows as the empty feed it reads as.
        Loaded fallback = fromCache(url, true, options, summary);
        if (fallback.cancelled)
            return fallback;
        fallback.check = loaded.check;
        if (fallback.shown.status != FeedParseStatus::Loaded &&
            parsed.status == FeedParseStatus::NotAFeed) {
            fallback.shown = std::move(parsed);
            fallback.address = options.address;
        }
        return fallback;
    }
    if (result->ok) {
        // 304: the cached copy is current and is shown exactly as a fresh body would be.
        const std::optional<CachedFeed> copy = m_cache.load(url);
        if (copy && copy->hasBody) {
            FeedParseOptions copyOptions = options;
            FeedParseResult parsed = parseCopy(url, *copy, &copyOptions);
            Loaded loaded;
            if (parsed.status == FeedParseStatus::Cancelled) {
                loaded.cancelled = true;
                return loaded;
            }
            if (parsed.status == FeedParseStatus::Loaded) {
                loaded.check = checkParsedFeed(*result, parsed);
                loaded.shown = std::move(parsed);
                loaded.address = copyOptions.address;
                ++summary->unchanged;
                m_cache.confirm(url, now);
                return loaded;
            }
        }
        // The copy turned out damaged: drop it and ask for the whole feed at once.
        m_cache.remove(url);
        return loadFeed(url, m_fetcher.fetch(url), std::nullopt, summary, options);
    }
    if (result->retryAfter) {
        std::optional<CachedFeed> entry = cached && cached->hasBody ? m_cache.load(url) : cached;
        if (!entry) {
            entry = CachedFeed();
            entry->url = url;
        }
        entry->retryAfter = std::min(*result->retryAfter, now.addSecs(kLongestBackOffSeconds));
        m_cache.store(*entry);
    }
    Loaded fallback = fromCache(url, true, options, summary);
    fallback.check = checkParsedFeed(*result, FeedParseResult());
    return fallback;
}

void RefreshCycle::showPageFile(const QString& path) {
    struct stat info {};
    std::optional<PageStamp> stamp;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0)
        stamp = PageStamp{info.st_dev, info.st_ino, qint64(info.st_size),
                          qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
    if (stamp && stamp == m_shownPage) {
        m_port.pageUnchanged(path);
        return;
    }
    m_port.showPage(path);
    m_shownPage = stamp;
}

bool RefreshCycle::writePage(const QString& path, const QString& text, QString* error) {
    const QByteArray bytes = textFileBytes(text, true);
    // Compared piece by piece: the page of thousands of feeds runs to tens of megabytes.
    QFile current(path);
    if (current.open(QIODevice::ReadOnly) && current.size() == bytes.size()) {
        constexpr qint64 piece = 1024 * 1024;
        qint64 offset = 0;
        while (offset < bytes.size()) {
            const QByteArray read = current.read(piece);
            if (read.isEmpty() || QByteArrayView(bytes).sliced(offset, read.size()) != read)
                break;
            offset += read.size();
        }
        if (offset == bytes.size())
            return true;
    }
    return writeFileAtomically(path, bytes, error);
}

void RefreshCycle::cancel() {
    m_cancelled = true;
    m_fetcher.cancel();
}

CycleEnd RefreshCycle::refreshFeeds() {
    if (m_cancelled)
        return CycleEnd::Cancelled;
    const QString pagePath = m_store.pagePath();
    QString error;

    // The final steps every run reaches: show the page on disk and apply the opacity.
    auto finish = [&](CycleEnd end) {
        showPageFile(pagePath);
        m_port.applyOpacity(opacityFromText(m_settings.transText));
        return end;
    };

    // Created under the store lock and only while still missing, so a first start never
    // writes over a feed list another writer (an import) has just made.
    if (!m_store.exists() && !createDefaultStore(m_store, &error)) {
        m_port.prompt(
            errorMessage(QStringLiteral("The feed list could not be created.\n%1").arg(error)));
        return finish(CycleEnd::PageNotWritten);
    }

    QString loadError;
    XmlDocument store = getSettings(m_store, m_port, &m_settings, &m_repairCount, &loadError);
    if (store.isNull()) {
        // The file is there but cannot be read: it is never overwritten, and the user hears
        // of it once per run of the program.
        if (!m_toldUnreadable) {
            m_toldUnreadable = true;
            m_port.prompt(errorMessage(
                QStringLiteral("The feed list cannot be read, so the feeds were not refreshed. "
                               "The file was left as it is; please repair or remove it.\n%1")
                    .arg(loadError)));
        }
        if (!QFileInfo::exists(pagePath))
            writeTextFile(pagePath, noOfflinePage(defaultStyleBlock()), true);
        return finish(CycleEnd::StoreUnreadable);
    }

    m_port.settingsLoaded(m_settings);

    if (!QFileInfo::exists(pagePath) &&
        !writeTextFile(pagePath, noOfflinePage(m_settings.styleBlock), true, &error)) {
        m_port.prompt(
            errorMessage(QStringLiteral("The page could not be written.\n%1").arg(error)));
        return finish(CycleEnd::PageNotWritten);
    }
    showPageFile(pagePath);
    if (!m_settings.startMinimised)
        m_port.setTitle(kTitle + QStringLiteral(" Loading..."));

    if (isOlderStoreVersion(m_settings.versionText)) {
        if (!announceUpdate(m_port, m_store, &error))
            errorSink(error, 0, QStringLiteral("announceUpdate: refreshFeeds"));
        XmlDocument reread = getSettings(m_store, m_port, &m_settings, &m_repairCount);
        if (!reread.isNull())
            store = std::move(reread);
    }

    if (!checkConnection(m_fetcher, m_port, m_settings.versionText, m_probeAddress))
        return finish(m_cancelled ? CycleEnd::Cancelled : CycleEnd::Offline);

    std::vector<FeedSlot> entries;
    QStringList storedUrls;
    for (const XmlNode& feed : queryNodes(store, QStringLiteral("//feed"))) {
        entries.push_back(readSlot(feed));
        storedUrls << entries.back().url;
    }
    releaseStore(store);

    if (entries.empty()) {
        m_cache.prune(storedUrls);
        if (!writePage(pagePath, noFeedsPage(m_settings.styleBlock), &error)) {
            m_port.prompt(
                errorMessage(QStringLiteral("The page could not be written.\n%1").arg(error)));
            return finish(CycleEnd::PageNotWritten);
        }
        return finish(CycleEnd::NoFeeds);
    }

    // Every enabled feed is requested at once; results are consumed in store order, so the
    // page, the log and the progress come out as a one-by-one run would produce them. A feed
    // with a cached copy is asked for with its validators; one whose server asked for a
    // pause is not asked before its time.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::vector<FetchRequest> requests;
    std::vector<int> requestOf(entries.size(), -1);
    std::vector<std::optional<CachedFeed>> cached(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].disabled || !entries[i].hasUrl)
            continue;
        cached[i] = m_cache.load(entries[i].url, false);
        if (cached[i] && cached[i]->retryAfter && *cached[i]->retryAfter > now)
            continue;
        requestOf[i] = static_cast<int>(requests.size());
        FetchRequest request{entries[i].url, {}, {}};
        if (cached[i] && cached[i]->hasBody) {
            request.etag = cached[i]->etag;
            request.lastModified = cached[i]->lastModified;
        }
        requests.push_back(std::move(request));
    }
    std::unique_ptr<FetchBatch> batch = m_fetcher.start(requests);
    BadFeedLog badFeeds(m_store.errorLogPath());
    FetchSummary summary;

    QString pageText;
    QSet<QString> failedFeeds;
    FeedOutcomes outcomes;
    const QString count = QString::number(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (m_cancelled)
            return CycleEnd::Cancelled;
        const FeedSlot& slot = entries[i];
        if (!slot.disabled) {
            FeedParseOptions options;
            options.articleLimit = slot.articleLimit;
            options.cancel = &m_cancelled;
            Loaded loaded;
            loaded.failed = true; // an entry without an address
            if (slot.hasUrl) {
                std::optional<FetchResult> result;
                if (requestOf[i] >= 0) {
                    result = batch->take(static_cast<std::size_t>(requestOf[i]));
                    if (m_cancelled)
                        return CycleEnd::Cancelled;
                }
                loaded = loadFeed(slot.url, std::move(result), cached[i], &summary, options);
                if (loaded.cancelled)
                    return CycleEnd::Cancelled;
                outcomes.push_back(FeedOutcome{slot.url, loaded.check});
            } else {
                outcomes.push_back(missingAddressOutcome(slot.url));
            }
            if (loaded.failed) {
                ++summary.failed;
                failedFeeds.insert(slot.url);
                if (badFeeds.logBadFeed(slot.url))
                    m_errorFlag = true;
            }
            // A document without a feed is shown as the empty feed it reads as (and logged
            // above), so that the user learns of the address that serves no feed.
            if ((loaded.shown.status == FeedParseStatus::Loaded ||
                 loaded.shown.status == FeedParseStatus::NotAFeed) &&
                !appendFeedMarkup(loaded.shown.feed, slot.headingsOnly, i == 0, &pageText,
                                  &m_firstItemTitle, loaded.address, &m_cancelled,
                                  loaded.staleNote))
                return CycleEnd::Cancelled;
        }
        const QString position = QString::number(i + 1);
        m_port.setTitle(kTitle + QLatin1Char(' ') + position + QStringLiteral(" of ") + count);
        m_port.setTrayTip(QStringLiteral("Loading\r\n") + position + QStringLiteral(" of ") +
                          count + QChar(0));
    }
    batch.reset();
    m_port.feedOutcomes(outcomes);
    m_port.fetchSummary(summary);
    m_cache.prune(storedUrls);

    m_port.setTitle(kTitle + QLatin1Char(' ') + shortDateText() + QStringLiteral(" v.") +
                    dottedVersion(m_settings.versionText));
    CycleEnd end = CycleEnd::PageWritten;
    if (!writePage(pagePath, pageSkeleton(m_settings.styleBlock, pageText), &error)) {
        m_port.prompt(
            errorMessage(QStringLiteral("The page could not be written.\n%1").arg(error)));
        end = CycleEnd::PageNotWritten;
    }
    m_port.setTrayTip(kTitle + QStringLiteral("\r\n") + m_firstItemTitle + QChar(0));

    // The new page is on screen before any question about it.
    showPageFile(pagePath);
    // A feed that stays dead would otherwise ask at every tick: the offer comes again only
    // when the failures differ from those the user last answered. A clean run forgets them,
    // so a feed that recovers and fails again is offered anew.
    if (!m_errorFlag)
        m_answeredFailures.clear();
    if (m_errorFlag && failedFeeds != m_answeredFailures) {
        m_answeredFailures = failedFeeds;
        const MessageAnswer answer = m_port.prompt(
            Message{QStringLiteral("Error"),
                    QStringLiteral("There were errors. Click 'OK' to view the error log."),
                    MessageButtons::OkCancel, MessageIcon::None});
        if (answer == MessageAnswer::Ok && QFileInfo::exists(m_store.errorLogPath()))
            m_port.openWithDesktop(m_store.errorLogPath());
    }
    m_errorFlag = false;
    m_settings.styleBlock.clear();
    m_port.applyOpacity(opacityFromText(m_settings.transText));
    return end;
}

} // namespace quorvel
