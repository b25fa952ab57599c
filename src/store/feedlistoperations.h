#pragma once

#include <map>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "store/feedstore.h"

namespace quorvel {

class XmlDocument;

// The address to store for a typed URL: the trimmed text as typed when it already starts with
// a scheme (letters and "://", any letter case), otherwise "http://" and the text.
QString withUrlScheme(const QString& typed);

// An article count: a whole number from 0 to 32767, surrounding white space allowed;
// nullopt for anything else.
std::optional<int> readArticleCount(const QString& text);

// The message for a count text that readArticleCount refuses.
QString articleCountProblem();

// One feed as the list shows it and the entry fields edit it. countText is the count as typed
// (the row shows it so; the store gets its number).
struct FeedEntry {
    QString url;
    QString countText;
    bool headingsOnly = false;
    bool disabled = false;
};

// One row of the feed list: url " | " count, then " | H" when headings only, then " | D"
// when disabled.
QString feedListRow(const FeedEntry& entry);

// Splits a row at " | " (URL, count) and finds the markers by the substrings "| H" and "| D";
// nullopt when the text holds no " | ".
std::optional<FeedEntry> parseFeedListRow(const QString& row);

// One row per feed entry of the store (the root's `feed` children, in document order).
// Values that cannot be read are described in *problems; their rows show what the file holds.
QStringList feedListRows(const XmlDocument& document, QStringList* problems = nullptr);

// What one change of the feed list did, as a delta for the rows: the list applies `removed`
// (highest row first), then `rewritten`, then `appended`, then makes `current` the current
// and only selected row when it is not -1. When the change failed, `error` says why for the
// user (empty when nothing was tried, as for a move past either end) and, when the rows may
// no longer match the file, `refill` holds the rows the file holds.
struct FeedListChange {
    bool ok = false;
    QString error;
    std::optional<QStringList> refill;
    std::vector<int> removed;
    std::map<int, QString> rewritten;
    QStringList appended;
    int current = -1;
};

// The changes below take the number of rows the list shows (row i stands for the root's i-th
// `feed` child) and change the store in one transaction (FeedStore::modify: lock, load,
// change, save). When the store is busy past the wait, cannot be loaded or saved, or holds
// another number of feeds than the list shows, the file is left as it was and the result
// says why; after a failed save or a mismatch it carries the file's rows.

// Appends an entry for `entry` (url as given, its count as a number, the two flags). Refuses
// an address that is not a web address (isWebAddress) and a count that is not 0 to 32767.
FeedListChange addFeed(const FeedStore& store, int rowCount, const FeedEntry& entry,
                       int waitMs = kStoreWaitMs);

// Rewrites the entries of `rows`. With one row: url, count and both flags from `entry`;
// with several: the count and both flags, each entry keeping its own address. Refuses no
// rows, a bad count and, for one row, an address that is not a web address.
FeedListChange editFeeds(const FeedStore& store, int rowCount, const std::vector<int>& rows,
                         const FeedEntry& entry, int waitMs = kStoreWaitMs);

// Removes the entries of `rows`, keeping the others in order.
FeedListChange deleteFeeds(const FeedStore& store, int rowCount, const std::vector<int>& rows,
                           int waitMs = kStoreWaitMs);

// Swaps the entry of `row` with the one above (step -1) or below (step +1); the moved row
// becomes current. A move past either end, or of no row, does nothing and touches no file.
FeedListChange moveFeed(const FeedStore& store, int rowCount, int row, int step,
                        int waitMs = kStoreWaitMs);

} // namespace quorvel
