#include "opml.h"

#include <memory>

#include <QSet>
#include <QUrl>

#include "feed/feedparser.h"
#include "platform/atomicfile.h"
#include "platform/fetcher.h"
#include "platform/xmldocument.h"
#include "store/feedlistoperations.h"
#include "store/feedstore.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

const QString kNotFound = QStringLiteral("url not found");

// Feed titles and URLs go into double-quoted attributes of the export.
QString xmlAttribute(QString text) {
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    text.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return text;
}

OpmlImportFailure failureOf(StoreProblem problem) {
    switch (problem) {
    case StoreProblem::Busy:
        return OpmlImportFailure::StoreBusy;
    case StoreProblem::Unreadable:
        return OpmlImportFailure::StoreUnreadable;
    case StoreProblem::DiskFull:
        return OpmlImportFailure::DiskFull;
    case StoreProblem::ReadOnly:
        return OpmlImportFailure::StoreReadOnly;
    default:
        return OpmlImportFailure::StoreNotSaved;
    }
}

// Two spellings of one feed's address give one key: QUrl lowers the scheme and the host.
QString addressKey(const QString& url) {
    return QUrl(url.trimmed()).toString(QUrl::NormalizePathSegments);
}

} // namespace

OpmlImportResult importOpml(const FeedStore& store, const QString& opmlPath, int waitMs) {
    OpmlImportResult result;
    const XmlDocument opml = XmlDocument::fromFile(opmlPath, &result.error);
    if (opml.isNull()) {
        result.failure = OpmlImportFailure::NotOpml;
        return result;
    }
    QStringList urls;
    for (const XmlNode& outline : opml.selectNodes(QStringLiteral("//opml//outline"))) {
        const QString url = outline.getAttribute(QStringLiteral("xmlUrl")).value_or(QString());
        if (url.trimmed().isEmpty())
            continue; // a grouping outline
        if (isWebAddress(url))
            urls << url.trimmed();
        else
            ++result.skipped;
    }
    StoreProblem problem = StoreProblem::None;
    // One transaction for the whole file: either every outline is in the store or none is,
    // and feeds another writer adds meanwhile are kept.
    const bool saved = store.modify(
        [&](XmlDocument& document, QString*) {
            XmlNode root = document.documentElement();
            QSet<QString> listed;
            for (const XmlNode& feed : root.childElements(QStringLiteral("feed")))
                listed << addressKey(feed.getAttribute(QStringLiteral("url")).value_or(QString()));
            result.alreadyListed = 0;
            result.rows.clear();
            for (const QString& url : urls) {
                if (listed.contains(addressKey(url))) {
                    ++result.alreadyListed;
                    continue;
                }
                listed << addressKey(url);
                result.rows << feedListRow(FeedEntry{url, QStringLiteral("1"), true, false});
                XmlNode feed = document.createElement(QStringLiteral("feed"));
                feed.setAttribute(QStringLiteral("url"), url);
                feed.setAttribute(QStringLiteral("num"), QStringLiteral("1"));
                feed.setAttribute(QStringLiteral("headers"), QStringLiteral("True"));
                feed.setAttribute(QStringLiteral("disabled"), QStringLiteral("False"));
                root.appendChild(feed);
            }
            for (XmlNode r : queryNodes(document, QStringLiteral("//root")))
                r.setAttribute(QStringLiteral("refresh"), QStringLiteral("7200000"));
            return true;
        },
        &result.error, waitMs, &problem);
    if (!saved) {
        result.failure = failureOf(problem);
        return result;
    }
    result.ok = true;
    result.added = static_cast<int>(result.rows.size());
    return result;
}

QString opmlImportFailureText(const OpmlImportResult& result) {
    switch (result.failure) {
    case OpmlImportFailure::None:
        return QString();
    case OpmlImportFailure::NotOpml:
        return QLatin1String(kInvalidOpmlMessage);
    case OpmlImportFailure::StoreBusy:
        return QStringLiteral("The feed list is busy: another program is changing it. Nothing "
                              "was imported; please try again in a moment.");
    case OpmlImportFailure::DiskFull:
        return QStringLiteral("The disk is full, so the feed list could not be saved. Nothing "
                              "was imported; please free some space and try again.");
    case OpmlImportFailure::StoreReadOnly:
        return QStringLiteral("The feed list cannot be changed: its file or folder is "
                              "read-only. Nothing was imported.");
    case OpmlImportFailure::StoreUnreadable:
        return QStringLiteral("The feed list could not be read, so nothing was imported. The "
                              "file was left as it is.");
    case OpmlImportFailure::StoreNotSaved:
        break;
    }
    return QStringLiteral("The feed list could not be saved. Nothing was imported.");
}

QString opmlImportSummary(const OpmlImportResult& result, const QString& into) {
    QString text = QStringLiteral("Imported %1 feeds").arg(result.added);
    if (!into.isEmpty())
        text += QStringLiteral(" into ") + into;
    text += QStringLiteral("; %1 were already in the list; %2 were not web addresses")
                .arg(result.alreadyListed)
                .arg(result.skipped);
    return text;
}

QString lookUpFeedTitle(const FetchResult& result) {
    if (!result.ok)
        return kNotFound;
    FeedParseOptions options;
    options.articleLimit = 0; // the title is all the export reads
    options.httpCharset = result.charset;
    const FeedParseResult parsed = parseFeed(result.body, options);
    switch (parsed.status) {
    case FeedParseStatus::Loaded:
        return parsed.feed.plainTitle;
    case FeedParseStatus::NotAFeed:
        return QString();
    default:
        return kNotFound;
    }
}

QString lookUpFeedTitle(Fetcher& fetcher, const QString& url) {
    return lookUpFeedTitle(fetcher.fetch(url));
}

bool buildOpmlExport(const FeedStore& store, Fetcher& fetcher, QString* text, QString* error,
                     const std::function<void(int, int)>& progress, const KeptAnswer& kept) {
    const XmlDocument document = store.load(error);
    if (document.isNull())
        return false;
    QStringList urls;
    for (const XmlNode& feed : queryNodes(document, QStringLiteral("//feed"))) {
        const std::optional<QString> disabled = feed.getAttribute(QStringLiteral("disabled"));
        bool ok = false;
        if (!disabled || readBooleanText(*disabled, &ok) || !ok)
            continue;
        urls << feed.getAttribute(QStringLiteral("url")).value_or(QString());
    }
    const QString crlf = QStringLiteral("\r\n");
    QString out = QStringLiteral("<opml version=\"1.0\">") + crlf +
                  QStringLiteral("<head><title>Quorvel RSS Reader OPML Export</title><ownerName>"
                                 "Quorvel</ownerName><ownerEmail>feedback@quorvel.example"
                                 "</ownerEmail></head>") +
                  crlf + QStringLiteral("<body>") + crlf;
    // A feed with a kept answer is not asked for again; every other title is fetched at
    // once. The lines still come out in store order.
    std::vector<std::optional<QString>> keptTitles(static_cast<std::size_t>(urls.size()));
    std::vector<std::size_t> requestOf(keptTitles.size(), 0);
    QStringList requests;
    for (int i = 0; i < urls.size(); ++i) {
        std::optional<QString>& title = keptTitles[static_cast<std::size_t>(i)];
        if (kept)
            if (const std::optional<FetchResult> answer = kept(urls.at(i)))
                if (QString found = lookUpFeedTitle(*answer); found != kNotFound)
                    title = std::move(found);
        if (!title) {
            requestOf[static_cast<std::size_t>(i)] = static_cast<std::size_t>(requests.size());
            requests << urls.at(i);
        }
    }
    std::unique_ptr<FetchBatch> batch;
    if (!requests.isEmpty())
        batch = fetcher.start(requests);
    for (int i = 0; i < urls.size(); ++i) {
        const std::size_t index = static_cast<std::size_t>(i);
        const QString title = xmlAttribute(
            keptTitles[index] ? *keptTitles[index] : lookUpFeedTitle(batch->take(requestOf[index])));
        out += QStringLiteral("<outline text=\"") + title + QStringLiteral("\" title=\"") + title +
               QStringLiteral("\" xmlUrl = \"") + xmlAttribute(urls.at(i)) +
               QStringLiteral("\" />") + crlf;
        if (progress)
            progress(i + 1, static_cast<int>(urls.size()));
    }
    out += QStringLiteral("</body></opml>");
    *text = out;
    return true;
}

bool exportOpml(const FeedStore& store, Fetcher& fetcher, const QString& targetPath, QString* error,
                const std::function<void(int, int)>& progress, const KeptAnswer& kept) {
    QString text;
    if (!buildOpmlExport(store, fetcher, &text, error, progress, kept))
        return false;
    // The export is a file the user hands on, so it is created like any of the user's files.
    return writeFileAtomically(targetPath, text.toUtf8(), error, FileAccess::Shared);
}

} // namespace quorvel
