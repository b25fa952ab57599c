#pragma once

#include <functional>
#include <optional>

#include <QString>
#include <QStringList>

#include "platform/fetcher.h"
#include "store/feedstore.h"

namespace quorvel {

class FeedStore;
class XmlDocument;

// A feed's last answer kept from an earlier fetch (the refresh's feed cache), as the fetcher
// gave it; nothing when none is kept.
using KeptAnswer = std::function<std::optional<FetchResult>(const QString& url)>;

// Why an OPML import added nothing.
enum class OpmlImportFailure {
    None,
    NotOpml,         // the file is missing or not XML
    StoreUnreadable, // the feed list cannot be read
    StoreBusy,       // another writer kept the feed list locked for the whole wait
    DiskFull,        // no room left to save the feed list
    StoreReadOnly,   // the feed list's file or folder cannot be written
    StoreNotSaved,   // any other failure to save
};

// What an OPML import did.
struct OpmlImportResult {
    bool ok = false;       // false: nothing was imported (failure says why)
    int added = 0;         // feed entries appended
    int alreadyListed = 0; // outlines whose address the store already holds, left out
    int skipped = 0;       // outlines whose xmlUrl is not a web address (isWebAddress), left out
    QStringList rows;      // the feed list rows of the entries appended
    OpmlImportFailure failure = OpmlImportFailure::None;
    QString error; // the details, naming the file
};

// The message shown when a file cannot be imported.
inline constexpr const char* kInvalidOpmlMessage =
    "This does not seem to be a valid OPML file.  Please try again";

// Appends one feed entry (url, num "1", headers "True", disabled "False") for every outline
// with a web address as xmlUrl below an opml element, sets `refresh` to two hours, and saves
// the store once, in one transaction (FeedStore::modify, waiting at most waitMs for another
// writer). Grouping outlines without an xmlUrl are passed over; outlines with another address
// are counted in `skipped`; an address the store already holds (compared as URLs: letter case
// of scheme and host aside), or one met earlier in the same file, is counted in
// `alreadyListed` and not added again.
OpmlImportResult importOpml(const FeedStore& store, const QString& opmlPath,
                            int waitMs = kStoreWaitMs);

// The message for a failed import: the invalid-file message for a file that is not OPML,
// otherwise what kept the feed list from taking the feeds (busy, full disk, read-only...).
QString opmlImportFailureText(const OpmlImportResult& result);

// "Imported N feeds" (" into " and into when given), then "; M were already in the list;
// K were not web addresses".
QString opmlImportSummary(const OpmlImportResult& result, const QString& into = QString());

// The channel title of a fetched feed (any format) as the feed writes it: "No Title" when
// the feed has none, empty for a document that holds no feed, "url not found" when the
// fetch failed or the document does not read.
QString lookUpFeedTitle(const FetchResult& result);
// Fetches url and looks its title up; "url not found" when it cannot be fetched or parsed.
QString lookUpFeedTitle(Fetcher& fetcher, const QString& url);

// The OPML text of every enabled feed of the store. A feed's title comes from its kept
// answer when kept has one that reads as a feed; the others are looked up concurrently
// through fetcher. progress(done, total) is called as titles arrive. Returns false with
// *error when the store cannot be read.
bool buildOpmlExport(const FeedStore& store, Fetcher& fetcher, QString* text, QString* error,
                     const std::function<void(int, int)>& progress = {},
                     const KeptAnswer& kept = {});

// buildOpmlExport, then writes the text to targetPath in one piece (atomically).
bool exportOpml(const FeedStore& store, Fetcher& fetcher, const QString& targetPath, QString* error,
                const std::function<void(int, int)>& progress = {}, const KeptAnswer& kept = {});

} // namespace quorvel
