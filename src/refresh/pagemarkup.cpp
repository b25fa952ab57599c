#include "pagemarkup.h"

#include <unordered_set>

#include "platform/xmldocument.h"
#include "refresh/htmlsanitizer.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

QString childText(const XmlNode& parent, const QString& name, const QString& fallback) {
    return nodeTextOr(parent.firstChildElement(name), fallback);
}

// A channel's or item's title: its plain <title>, else a namespaced one such as <dc:title>,
// which some feeds carry instead.
QString titleText(const XmlNode& parent, const QString& fallback) {
    XmlNode title = parent.firstChildElement(QStringLiteral("title"));
    if (title.isNull()) {
        for (const XmlNode& child : parent.childElements()) {
            if (child.name() == QLatin1String("title")) {
                title = child;
                break;
            }
        }
    }
    return nodeTextOr(title, fallback);
}

// A feed URL placed in a single-quoted attribute.
QString urlAttribute(const QString& url, const QUrl& base) {
    return escapeAttribute(safeUrl(url, base));
}

struct ItemWriter {
    const QUrl& base;
    int articleLimit;
    bool headingsOnly;
    bool isFirstSlot;
    QString* page;
    QString* firstItemTitle;
    int counter = 1;

    // Appends one item; false once the article limit is reached.
    bool write(const XmlNode& item) {
        const QString title = titleText(item, QString());
        const QString link = childText(item, QStringLiteral("link"), QStringLiteral("#"));
        const QString date = childText(item, QStringLiteral("pubDate"), QString());
        page->append(QLatin1String("<a href='"));
        page->append(urlAttribute(link, base));
        page->append(QLatin1String("' target='_blank'>"));
        page->append(sanitizeHtml(title, base));
        page->append(QLatin1String("</a><br /><span class='bDate'>"));
        page->append(sanitizeHtml(date, base));
        if (headingsOnly) {
            page->append(QLatin1String("</span><br />"));
        } else {
            const QString description =
                childText(item, QStringLiteral("description"), QStringLiteral("No Description"));
            page->append(QLatin1String("</span><p>"));
            page->append(sanitizeHtml(description, base));
            page->append(QLatin1String("</p><br /><br />"));
        }
        if (isFirstSlot && counter == 1)
            *firstItemTitle = title;
        ++counter;
        return counter <= articleLimit;
    }
};

QString fixedPage(const QString& styleBlock, const QLatin1String& message) {
    return QLatin1String("<html><body>") + styleBlock +
           QLatin1String("<span class='heading'>Quorvel RSS Reader</span><br />") + message +
           QLatin1String("</body></html>");
}

} // namespace

void appendFeedMarkup(const XmlDocument& feed, int articleLimit, bool headingsOnly,
                      bool isFirstSlot, QString* pageText, QString* firstItemTitle,
                      const QUrl& feedAddress, const QString& staleNote) {
    QString channelTitle = QStringLiteral("No Title");
    QString buildDate = QStringLiteral("No Date");
    for (const XmlNode& channel : queryNodes(feed, QStringLiteral("//channel"))) {
        channelTitle = titleText(channel, QStringLiteral("No Title"));
        buildDate = childText(channel, QStringLiteral("lastBuildDate"), QStringLiteral("No Date"));
    }
    QString imageUrl;
    QString imageLink;
    for (const XmlNode& image : queryNodes(feed, QStringLiteral("//channel//image"))) {
        imageUrl = childText(image, QStringLiteral("url"), QString());
        imageLink = childText(image, QStringLiteral("link"), QStringLiteral("#"));
    }

    QString& page = *pageText;
    page.append(QLatin1String("<a name='"));
    page.append(escapeAttribute(channelTitle));
    page.append(QLatin1String("'></a>"));
    QString safeTitle = sanitizeHtml(channelTitle, feedAddress);
    if (!staleNote.isEmpty())
        safeTitle += QLatin1Char(' ') + staleNote.toHtmlEscaped();
    const QString safeDate = sanitizeHtml(buildDate, feedAddress);
    if (!headingsOnly && !imageUrl.isEmpty()) {
        page.append(QLatin1String("<a href='"));
        page.append(urlAttribute(imageLink, feedAddress));
        page.append(QLatin1String("'><img border='0' src='"));
        page.append(urlAttribute(imageUrl, feedAddress));
        page.append(QLatin1String("'></a><br />"));
        page.append(safeTitle);
        page.append(QLatin1String("<br />"));
    } else {
        page.append(QLatin1String("<span class='heading'>"));
        page.append(safeTitle);
        page.append(QLatin1String("</span><br />"));
    }
    page.append(QLatin1String("<span class='bDate'>"));
    page.append(safeDate);
    page.append(QLatin1String("</span><br /><br />"));

    ItemWriter writer{feedAddress, articleLimit, headingsOnly,
                      isFirstSlot, pageText,     firstItemTitle};
    // Items below a channel come first; then items anywhere else (RSS 1.0 keeps them beside
    // the channel). An item already listed is not listed twice.
    std::unordered_set<const void*> listed;
    for (const XmlNode& item : queryNodes(feed, QStringLiteral("//channel//item"))) {
        listed.insert(item.handle());
        if (!writer.write(item))
            break;
    }
    if (writer.counter <= articleLimit) {
        for (const XmlNode& item : queryNodes(feed, QStringLiteral("//item"))) {
            if (listed.count(item.handle()))
                continue;
            if (!writer.write(item))
                break;
        }
    }
    page.append(QLatin1String("<hr>"));
}

QString pageSkeleton(const QString& styleBlock, const QString& pageText) {
    // One allocation and one copy of the (often megabytes long) page text.
    const QLatin1String head("<html><body>");
    const QLatin1String tail("</body></html>");
    QString page;
    page.reserve(head.size() + styleBlock.size() + pageText.size() + tail.size());
    page.append(head).append(styleBlock).append(pageText).append(tail);
    return page;
}

QString noOfflinePage(const QString& styleBlock) {
    return fixedPage(styleBlock,
                     QLatin1String("There are currently no offline files and are unable to "
                                   "connect to the internet or have no feeds set up."));
}

QString noFeedsPage(const QString& styleBlock) {
    return fixedPage(styleBlock, QLatin1String("There are currently no feeds set up."));
}

} // namespace quorvel
