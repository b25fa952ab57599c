#pragma once

#include <QString>
#include <QUrl>

namespace quorvel {

class XmlDocument;

// Appends one fetched feed to the page text: anchor, heading (linked image or plain),
// at most articleLimit items (at least one when any is below a channel) in full or
// headings-only form, then "<hr>". Feed texts are sanitised; texts inside attribute
// values are escaped; relative URLs in them are resolved against feedAddress. When
// isFirstSlot and an item is listed, *firstItemTitle receives the first item's title.
// A staleNote (such as "(not updated since 14:05)") follows the feed's title in its heading.
void appendFeedMarkup(const XmlDocument& feed, int articleLimit, bool headingsOnly,
                      bool isFirstSlot, QString* pageText, QString* firstItemTitle,
                      const QUrl& feedAddress = QUrl(), const QString& staleNote = QString());

// "<html><body>" + style block + feed markup + "</body></html>".
QString pageSkeleton(const QString& styleBlock, const QString& pageText);
// Written when feeds.htm is missing at the start of a run.
QString noOfflinePage(const QString& styleBlock);
// Written when the store holds no feed entry.
QString noFeedsPage(const QString& styleBlock);

} // namespace quorvel
