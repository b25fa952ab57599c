#pragma once

#include <QString>
#include <QStringList>

#include "platform/fetcher.h"

namespace quorvel {

struct FeedParseResult;

// What one look at a feed's address found.
struct FeedCheck {
    bool ok = false;   // a feed was loaded
    QString title;     // the feed's title, when it has one
    int items = 0;     // its items (entries)
    QString reason;    // why it is no feed, when !ok: "HTTP 404", "refused", "timed out",
                       // "host not found", "not a feed", "not well-formed" and the like
    QStringList feeds; // when the address is a web page: the feed addresses it announces
};

// Judges a fetched address: an RSS (0.9x to 2.0, 1.0), Atom or JSON Feed document is a
// feed; an HTML page is not, but the addresses of the feeds it announces
// (<link rel="alternate"> with an RSS, Atom or JSON Feed type; web addresses only, resolved
// against the page's address) are listed.
FeedCheck checkFetchedFeed(const FetchResult& fetched, const QString& url);

// Judges a fetch and the feed parsed from its body as the refresh cycle has them: the same
// verdicts, without parsing again and without the feeds a web page announces. The item
// count is that of the parse, so at most the article limit it was given.
FeedCheck checkParsedFeed(const FetchResult& fetched, const FeedParseResult& parsed);

// One line for people: "Title: loaded with 3 items" or "Failed: HTTP 404".
QString feedCheckSummary(const FeedCheck& check);

} // namespace quorvel
