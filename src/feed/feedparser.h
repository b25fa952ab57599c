#pragma once

#include <atomic>

#include <QByteArray>
#include <QString>
#include <QUrl>

#include "feed/feed.h"

namespace quorvel {

struct FeedParseOptions {
    // The feed entry's article limit: how many items the page lists. At least one item
    // below a channel is listed even for a limit of 0 or less.
    int articleLimit = 10;
    QByteArray httpCharset; // the charset of the answer's Content-Type, if any
    QUrl address;           // where the document came from: the base of relative links
    // When set and true, the parse stops early and the result is Cancelled.
    const std::atomic<bool>* cancel = nullptr;
};

enum class FeedParseStatus {
    Loaded,    // a feed
    NotAFeed,  // a document, but no feed in it: feed holds the defaults
    Failed,    // neither XML nor a JSON Feed, or a damaged document with no readable feed
    Cancelled, // options.cancel was set during the parse
};

struct FeedParseResult {
    FeedParseStatus status = FeedParseStatus::Failed;
    Feed feed;
    QString error; // why it failed, for people
};

// Reads a fetched document as a feed, its format taken from the document itself (the root
// element and its namespace, or a JSON object whose version names jsonfeed.org). XML is
// read as a stream that keeps only what the model needs (at most the listed items), with
// no entity expansion, no network and no file access; a document that is not well-formed
// is read again in recovery mode and counts as loaded only when that finds a feed element
// with at least one item. White space or a byte-order mark before the XML declaration is
// passed over; a document that states no encoding, arrives without a charset and is not
// valid UTF-8 is read as windows-1252.
FeedParseResult parseFeed(const QByteArray& body, const FeedParseOptions& options);

} // namespace quorvel
