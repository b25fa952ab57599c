#include "opml.h"

#include <memory>

#include "platform/atomicfile.h"
#include "platform/fetcher.h"
#include "platform/xmldocument.h"
#include "store/feedlistview.h"
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

} // namespace

OpmlImportResult importOpml(const FeedStore& store, const QString& opmlPath, FeedListView* view) {
    OpmlImportResult result;
    const XmlDocument opml = XmlDocument::fromFile(opmlPath, &result.error);
    if (opml.isNull())
        return result;
    XmlDocument document = store.load(&result.error);
    if (document.isNull())
        return result;
    XmlNode root = document.documentElement();
    QStringList rows;
    for (const XmlNode& outline : opml.selectNodes(QStringLiteral("//opml//outline"))) {
        const std::optional<QString> url = outline.getAttribute(QStringLiteral("xmlUrl"));
        if (!url || url->trimmed().isEmpty())
            continue;
        XmlNode feed = document.createElement(QStringLiteral("feed"));
        feed.setAttribute(QStringLiteral("url"), url->trimmed());
        feed.setAttribute(QStringLiteral("num"), QStringLiteral("1"));
        feed.setAttribute(QStringLiteral("headers"), QStringLiteral("True"));
        feed.setAttribute(QStringLiteral("disabled"), QStringLiteral("False"));
        root.appendChild(feed);
        rows << feedListRow(url->trimmed(), QStringLiteral("1"), true, false);
    }
    for (XmlNode r : queryNodes(document, QStringLiteral("//root")))
        r.setAttribute(QStringLiteral("refresh"), QStringLiteral("7200000"));
    // One save for the whole file: either every outline is in the store or none is.
    if (!store.save(document, &result.error))
        return result;
    if (view)
        for (const QString& row : rows)
            view->appendRow(row);
    result.ok = true;
    result.added = static_cast<int>(rows.size());
    return result;
}

QString lookUpFeedTitle(const XmlDocument& feed) {
    QString title;
    for (const XmlNode& channel : feed.selectNodes(QStringLiteral("//channel")))
        title = nodeTextOr(channel.firstChildElement(QStringLiteral("title")),
                           QStringLiteral("No Title"));
    return title;
}

QString lookUpFeedTitle(Fetcher& fetcher, const QString& url) {
    const FetchResult result = fetcher.fetch(url);
    const XmlDocument feed = result.ok ? XmlDocument::parse(result.body, nullptr, result.charset) : XmlDocument();
    return feed.isNull() ? kNotFound : lookUpFeedTitle(feed);
}

bool buildOpmlExport(const FeedStore& store, Fetcher& fetcher, QString* text, QString* error,
                     const std::function<void(int, int)>& progress) {
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
    // Every title is fetched at once; the lines still come out in store order.
    std::unique_ptr<FetchBatch> batch = fetcher.start(urls);
    for (int i = 0; i < urls.size(); ++i) {
        const FetchResult result = batch->take(static_cast<std::size_t>(i));
        const XmlDocument feed = result.ok ? XmlDocument::parse(result.body, nullptr, result.charset) : XmlDocument();
        const QString title = xmlAttribute(feed.isNull() ? kNotFound : lookUpFeedTitle(feed));
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
                const std::function<void(int, int)>& progress) {
    QString text;
    if (!buildOpmlExport(store, fetcher, &text, error, progress))
        return false;
    return writeFileAtomically(targetPath, text.toUtf8(), error);
}

} // namespace quorvel
