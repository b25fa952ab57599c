#include "pagemarkup.h"

#include "refresh/htmlsanitizer.h"

namespace quorvel {

namespace {

// A feed URL placed in a single-quoted attribute.
QString urlAttribute(const QString& url, const QUrl& base) {
    return escapeAttribute(safeUrl(url, base));
}

void appendItem(const FeedItem& item, bool headingsOnly, const QUrl& base, QString* page) {
    page->append(QLatin1String("<a href='"));
    page->append(urlAttribute(item.link, base));
    page->append(QLatin1String("' target='_blank'>"));
    page->append(sanitizeHtml(item.title, base));
    page->append(QLatin1String("</a><br /><span class='bDate'>"));
    page->append(sanitizeHtml(item.date, base));
    if (headingsOnly) {
        page->append(QLatin1String("</span><br />"));
    } else {
        page->append(QLatin1String("</span><p>"));
        page->append(sanitizeHtml(item.description,
                                  item.base.isEmpty() ? base : base.resolved(item.base)));
        page->append(QLatin1String("</p><br /><br />"));
    }
}

QString fixedPage(const QString& styleBlock, const QLatin1String& message) {
    return QLatin1String("<html><body>") + styleBlock +
           QLatin1String("<span class='heading'>Quorvel RSS Reader</span><br />") + message +
           QLatin1String("</body></html>");
}

} // namespace

bool appendFeedMarkup(const Feed& feed, bool headingsOnly, bool isFirstSlot, QString* pageText,
                      QString* firstItemTitle, const QUrl& feedAddress,
                      const std::atomic<bool>* cancel, const QString& staleNote) {
    QString& page = *pageText;
    page.append(QLatin1String("<a name='"));
    page.append(escapeAttribute(feed.title));
    page.append(QLatin1String("'></a>"));
    QString safeTitle = sanitizeHtml(feed.title, feedAddress);
    if (!staleNote.isEmpty())
        safeTitle += QLatin1Char(' ') + staleNote.toHtmlEscaped();
    const QString safeDate = sanitizeHtml(feed.buildDate, feedAddress);
    if (!headingsOnly && !feed.imageUrl.isEmpty()) {
        page.append(QLatin1String("<a href='"));
        page.append(urlAttribute(feed.imageLink, feedAddress));
        page.append(QLatin1String("'><img border='0' src='"));
        page.append(urlAttribute(feed.imageUrl, feedAddress));
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

    for (const FeedItem& item : feed.items) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return false;
        appendItem(item, headingsOnly, feedAddress, pageText);
    }
    if (isFirstSlot && !feed.items.empty())
        *firstItemTitle = feed.items.front().title;
    page.append(QLatin1String("<hr>"));
    return true;
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
