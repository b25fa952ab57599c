#include "refreshcycle.h"

#include <memory>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "feed/feedparser.h"
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

} // namespace

RefreshCycle::RefreshCycle(const FeedStore& store, Fetcher& fetcher, ReaderPort& port,
                           QString probeAddress)
    : m_store(store), m_fetcher(fetcher), m_port(port), m_probeAddress(std::move(probeAddress)) {}

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
        m_port.showPage(pagePath);
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
    m_port.showPage(pagePath);
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
    for (const XmlNode& feed : queryNodes(store, QStringLiteral("//feed")))
        entries.push_back(readSlot(feed));
    releaseStore(store);

    if (entries.empty()) {
        if (!writeTextFile(pagePath, noFeedsPage(m_settings.styleBlock), true, &error)) {
            m_port.prompt(
                errorMessage(QStringLiteral("The page could not be written.\n%1").arg(error)));
            return finish(CycleEnd::PageNotWritten);
        }
        return finish(CycleEnd::NoFeeds);
    }

    // Every enabled feed is requested at once; results are consumed in store order, so the
    // page, the log and the progress come out as a one-by-one run would produce them.
    QStringList urls;
    std::vector<int> requestOf(entries.size(), -1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].disabled && entries[i].hasUrl) {
            requestOf[i] = static_cast<int>(urls.size());
            urls << entries[i].url;
        }
    }
    std::unique_ptr<FetchBatch> batch = m_fetcher.start(urls);
    BadFeedLog badFeeds(m_store.errorLogPath());

    QString pageText;
    QSet<QString> failedFeeds;
    FeedOutcomes outcomes;
    const QString count = QString::number(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (m_cancelled)
            return CycleEnd::Cancelled;
        const FeedSlot& slot = entries[i];
        if (!slot.disabled) {
            FeedParseResult parsed;
            FeedParseOptions options;
            options.articleLimit = slot.articleLimit;
            options.cancel = &m_cancelled;
            if (requestOf[i] >= 0) {
                const FetchResult result = batch->take(static_cast<std::size_t>(requestOf[i]));
                if (m_cancelled)
                    return CycleEnd::Cancelled;
                options.httpCharset = result.charset;
                options.address = QUrl(result.finalUrl.isEmpty() ? slot.url : result.finalUrl);
                if (result.ok)
                    parsed = parseFeed(result.body, options);
                outcomes.push_back(feedOutcome(slot.url, result, parsed));
            } else {
                outcomes.push_back(missingAddressOutcome(slot.url));
            }
            if (parsed.status == FeedParseStatus::Cancelled)
                return CycleEnd::Cancelled;
            // A document without a feed is shown as the empty feed it reads as, and logged,
            // so that the user learns of the address that serves no feed.
            if (parsed.status == FeedParseStatus::Failed ||
                parsed.status == FeedParseStatus::NotAFeed) {
                failedFeeds.insert(slot.url);
                if (badFeeds.logBadFeed(slot.url))
                    m_errorFlag = true;
            }
            if ((parsed.status == FeedParseStatus::Loaded ||
                 parsed.status == FeedParseStatus::NotAFeed) &&
                !appendFeedMarkup(parsed.feed, slot.headingsOnly, i == 0, &pageText,
                                  &m_firstItemTitle, options.address, &m_cancelled))
                return CycleEnd::Cancelled;
        }
        const QString position = QString::number(i + 1);
        m_port.setTitle(kTitle + QLatin1Char(' ') + position + QStringLiteral(" of ") + count);
        m_port.setTrayTip(QStringLiteral("Loading\r\n") + position + QStringLiteral(" of ") +
                          count + QChar(0));
    }
    batch.reset();
    m_port.feedOutcomes(outcomes);

    m_port.setTitle(kTitle + QLatin1Char(' ') + shortDateText() + QStringLiteral(" v.") +
                    dottedVersion(m_settings.versionText));
    CycleEnd end = CycleEnd::PageWritten;
    if (!writeTextFile(pagePath, pageSkeleton(m_settings.styleBlock, pageText), true, &error)) {
        m_port.prompt(
            errorMessage(QStringLiteral("The page could not be written.\n%1").arg(error)));
        end = CycleEnd::PageNotWritten;
    }
    m_port.setTrayTip(kTitle + QStringLiteral("\r\n") + m_firstItemTitle + QChar(0));

    // The new page is on screen before any question about it.
    m_port.showPage(pagePath);
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
