#pragma once

#include <atomic>

#include <QString>
#include <QUrl>

#include "feed/feed.h"

namespace quorvel {

// Appends one parsed feed to the page text: anchor, heading (linked image or plain), its
// items in full or headings-only form, then "<hr>". Feed texts are sanitised; texts inside
// attribute values are escaped; relative URLs in them are resolved against feedAddress.
// When isFirstSlot and an item is listed, *firstItemTitle receives the first item's title.
// A staleNote (such as "(not updated since 14:05)") follows the feed's title in its heading.
// Returns false, the page text half-written, when *cancel turned true between items.
bool appendFeedMarkup(const Feed& feed, bool headingsOnly, bool isFirstSlot, QString* pageText,
                      QString* firstItemTitle, const QUrl& feedAddress = QUrl(),
                      const std::atomic<bool>* cancel = nullptr,
                      const QString& staleNote = QString());

// "<html><body>" + style block + feed markup + "</body></html>".
QString pageSkeleton(const QString& styleBlock, const QString& pageText);
// Written when feeds.htm is missing at the start of a run.
QString noOfflinePage(const QString& styleBlock);
// Written when the store holds no feed entry.
QString noFeedsPage(const QString& styleBlock);

} // namespace quorvel
