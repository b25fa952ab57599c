#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "store/feedstore.h"

namespace quorvel {

class FeedListView;
class Prompter;
class XmlDocument;

// The address to store for a typed URL: the trimmed text as typed when it already starts with
// a scheme (letters and "://", any letter case), otherwise "http://" and the text.
QString withUrlScheme(const QString& typed);

// An article count: a whole number from 0 to 32767, surrounding white space allowed;
// nullopt for anything else.
std::optional<int> readArticleCount(const QString& text);

// readArticleCount; when the text is no valid count it tells the user (titled "Error") and
// returns nullopt.
std::optional<int> articleCountOrTell(const QString& text, Prompter& prompter);

// The fields of one feed list row read back from its text.
struct FeedRowFields {
    QString url;
    QString countText;
    bool headingsOnly = false;
    bool disabled = false;
};

// Splits a row at " | " (URL, count) and finds the markers by the substrings "| H" and "| D";
// nullopt when the text holds no " | ".
std::optional<FeedRowFields> parseFeedListRow(const QString& row);

// One row per feed entry of the store (the root's `feed` children, in document order).
// Values that cannot be read are described in *problems; their rows show what the file holds.
QStringList feedListRows(const XmlDocument& document, QStringList* problems = nullptr);

// Replaces every row of the view by the rows of the store file. Returns false, leaving the
// view as it was, when the store cannot be loaded (*error says why).
bool reloadFeedList(const FeedStore& store, FeedListView& view, QString* error = nullptr);

// The five changes below change the store in one transaction (FeedStore::modify: lock, load,
// change, save), then change the view the same way; row i stands for the root's i-th `feed`
// child. When the store is busy past the wait, cannot be loaded or saved, or the view and the
// file no longer match, the user is told (titled "Error", naming the file and the reason) and
// the file is left as it was; after a failed save or a mismatch the rows are filled again
// from the file. Each returns true when the store was changed.

// Appends an entry url/count with the view's check boxes as `headers`/`disabled`, and a row
// showing the count text as typed. Refuses, with a message, a url that is not a web address
// (isWebAddress).
bool addFeed(const FeedStore& store, FeedListView& view, Prompter& prompter, const QString& url,
             int count);

// Rewrites the entry of the current row from the entry fields: a URL without a scheme gets
// "http://" in front (in the text box too). Refuses, with a message, no current row, an empty
// URL, a count that is not 0 to 32767, an address that is not a web address, and a store
// still busy after storeWaitMs.
bool editSelectedFeed(const FeedStore& store, FeedListView& view, Prompter& prompter,
                      int storeWaitMs = kStoreWaitMs);

// Removes the entries of all selected rows, keeping the others in order.
bool deleteSelectedFeeds(const FeedStore& store, FeedListView& view, Prompter& prompter);

// Swaps the current entry with the one above (below) and makes the moved row current. Without
// a current row, or at the top (bottom), nothing happens and no file is touched.
bool moveSelectedFeedUp(const FeedStore& store, FeedListView& view, Prompter& prompter);
bool moveSelectedFeedDown(const FeedStore& store, FeedListView& view, Prompter& prompter);

} // namespace quorvel
