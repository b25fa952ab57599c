#pragma once

// Feeds and stores the benchmarks serve and read, written the same way by each of them.

#include <QByteArray>
#include <QString>

namespace quorvel::bench {

// How one feed format writes a feed of numbered items. In head, %1 is the feed's number; in
// item, %1 is the item's number. Every fourth feed (0, 4, ...) carries logo after the head.
struct FeedShape {
    const char* head;
    const char* logo;
    const char* open;      // after the head and logo, before the first item
    const char* item;
    const char* separator; // between two items
    const char* tail;
};

inline QByteArray buildFeed(const FeedShape& shape, int feed, int items) {
    QString text = QString::fromLatin1(shape.head).arg(feed);
    if (feed % 4 == 0)
        text += QLatin1String(shape.logo);
    text += QLatin1String(shape.open);
    const QString item = QString::fromLatin1(shape.item);
    for (int i = 0; i < items; ++i) {
        if (i > 0)
            text += QLatin1String(shape.separator);
        text += item.arg(i);
    }
    return (text + QLatin1String(shape.tail)).toUtf8();
}

// RSS 2.0 "Feed N" of items "Story I", each with a one-line summary in markup.
inline constexpr FeedShape storyRss{
    "<rss version=\"2.0\"><channel><title>Feed %1</title><link>http://example.org/</link>",
    "",
    "",
    "<item><title>Story %1</title><link>http://example.org/%1</link><description>&lt;p&gt;A "
    "summary with &lt;b&gt;bold&lt;/b&gt; text.&lt;/p&gt;</description></item>",
    "",
    "</channel></rss>"};

inline QByteArray storyFeed(int feed, int items) {
    return buildFeed(storyRss, feed, items);
}

// A feed store with the default styles, a refresh every refreshMs, and these <feed> elements.
inline QByteArray storeXml(const QByteArray& feeds, int refreshMs) {
    return "<root heading='font-family:arial;font-size:12;color:#000000;font-weight:bold;"
           "font-style:normal;' body='font-family:arial;font-size:11;color:#000000;"
           "font-weight:normal;font-style:normal;background-color:#FFFFFF' link='font-family:"
           "arial;font-size:11;color:#0000FF;font-weight:bold;font-style:normal;' hover='color:"
           "#FF0000;font-weight:bold;font-style:normal;' visited='color:#FF0000;font-weight:bold;"
           "font-style:normal;' bDate='font-family:arial;font-size:11;color:#000000;font-weight:"
           "normal;font-style:italic' magnetic='false' refresh='" +
           QByteArray::number(refreshMs) + "' min='false' trans='255' quorvelVersion='1_6_0_0'>" +
           feeds + "</root>";
}

// A <feed> element of a store for this address, showing ten items.
inline QByteArray feedElement(const QString& url) {
    return "<feed url='" + url.toUtf8() + "' num='10' headers='false' disabled='false'/>";
}

} // namespace quorvel::bench
