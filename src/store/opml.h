#pragma once

#include <functional>

#include <QString>

namespace quorvel {

class FeedListView;
class FeedStore;
class Fetcher;
class XmlDocument;

// What an OPML import did.
struct OpmlImportResult {
    bool ok = false; // false: the file could not be read as XML, or the store not saved
    int added = 0;   // feed entries appended
    QString error;   // why it failed, naming the file
};

// The message shown when a file cannot be imported.
inline constexpr const char* kInvalidOpmlMessage =
    "This does not seem to be a valid OPML file.  Please try again";

// Appends one feed entry (url, num "1", headers "True", disabled "False") for every outline
// with an xmlUrl below an opml element, sets `refresh` to two hours, and saves the store
// once. Appends the matching rows to view when one is given. Grouping outlines without an
// xmlUrl are skipped.
OpmlImportResult importOpml(const FeedStore& store, const QString& opmlPath, FeedListView* view);

// The channel title of a fetched feed document: the first title of the last channel,
// "No Title" when that channel has none, empty without a channel.
QString lookUpFeedTitle(const XmlDocument& feed);
// Fetches url and looks its title up; "url not found" when it cannot be fetched or parsed.
QString lookUpFeedTitle(Fetcher& fetcher, const QString& url);

// The OPML text of every enabled feed of the store, titles looked up concurrently through
// fetcher. progress(done, total) is called as titles arrive. Returns false with *error when
// the store cannot be read.
bool buildOpmlExport(const FeedStore& store, Fetcher& fetcher, QString* text, QString* error,
                     const std::function<void(int, int)>& progress = {});

// buildOpmlExport, then writes the text to targetPath in one piece (atomically).
bool exportOpml(const FeedStore& store, Fetcher& fetcher, const QString& targetPath, QString* error,
                const std::function<void(int, int)>& progress = {});

} // namespace quorvel
