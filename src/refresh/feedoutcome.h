#pragma once

#include <vector>

#include <QString>

#include "feed/feedparser.h"
#include "refresh/feedcheck.h"

namespace quorvel {

// What the last refresh found for one enabled feed of the store: loaded with its title and
// item count, or the reason it failed ("HTTP 404", "refused", "timed out", "not a feed",
// "not well-formed", "no address" and the like).
struct FeedOutcome {
    QString url;     // the address as the store holds it
    FeedCheck check; // never lists announced feeds: the cycle does not look for them
};

// One entry per enabled feed, in store order.
using FeedOutcomes = std::vector<FeedOutcome>;

// The outcome of a fetched feed, from the fetch and the document the cycle parsed of it.
inline FeedOutcome feedOutcome(const QString& url, const FetchResult& fetched,
                               const FeedParseResult& parsed) {
    return FeedOutcome{url, checkParsedFeed(fetched, parsed)};
}

// The outcome of an enabled entry that has no address to fetch.
inline FeedOutcome missingAddressOutcome(const QString& url) {
    FeedOutcome outcome{url, {}};
    outcome.check.reason = QStringLiteral("no address");
    return outcome;
}

} // namespace quorvel
