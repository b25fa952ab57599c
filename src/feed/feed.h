#pragma once

#include <vector>

#include <QString>
#include <QUrl>

namespace quorvel {

// What a fetched document turned out to be.
enum class FeedFormat {
    None,     // it loaded, but holds no feed (an HTML page, a sitemap, other XML)
    Rss,      // RSS 0.9x, 1.0 or 2.0, or any XML read by the RSS rules
    Atom,     // Atom 1.0 or 0.3
    JsonFeed, // JSON Feed 1.0 or 1.1
};

// One article as the page lists it. Every text is an HTML fragment (plain text arrives
// escaped), which the page sanitises; the defaults of a missing part are filled in.
struct FeedItem {
    QString title;                                    // empty when missing
    QString link = QStringLiteral("#");               // a URL, possibly relative
    QString date;                                     // shown as it stands; empty when missing
    QString description = QStringLiteral("No Description");
    // What relative URLs in the description resolve against, itself relative to the feed's
    // address (an Atom entry's xml:base); empty: the feed's address.
    QUrl base;
};

// One fetched feed, whatever its format: what the page and the OPML export read of it.
struct Feed {
    FeedFormat format = FeedFormat::None;
    QString title = QStringLiteral("No Title"); // HTML fragment, for the page
    // The title as the document writes it (no escaping added), for plain-text uses such
    // as an OPML export; empty when the document holds no feed.
    QString plainTitle;
    QString buildDate = QStringLiteral("No Date");
    QString imageUrl;                       // empty: no image
    QString imageLink = QStringLiteral("#");
    // The items the page lists, in order, already cut to the article limit the parse
    // was given.
    std::vector<FeedItem> items;
};

} // namespace quorvel
