#include "feedlistoperations.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

#include <QDir>
#include <QRegularExpression>

#include "platform/xmldocument.h"
#include "store/displaysettings.h"
#include "store/feedstore.h"
#include "store/storeaccess.h"

namespace quorvel {

namespace {

const QString kRowSeparator = QStringLiteral(" | ");
const QString kFeed = QStringLiteral("feed");

QString trueFalse(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString nativeStorePath(const FeedStore& store) {
    return QDir::toNativeSeparators(store.storePath());
}

// Feeds are fetched from the web only; any other address is refused where it is typed.
QString webAddressProblem(const QString& url) {
    if (isWebAddress(url))
        return QString();
    return QStringLiteral("\"%1\" is not a web address. Only addresses that start with http:// "
                          "or https:// and name a host can be feeds.")
        .arg(url);
}

void setFlags(XmlNode& feed, bool headingsOnly, bool disabled) {
    feed.setAttribute(QStringLiteral("headers"), trueFalse(headingsOnly));
    feed.setAttribute(QStringLiteral("disabled"), trueFalse(disabled));
}

// Reads a Boolean attribute; a missing one means false, an unreadable one is reported.
bool readFlag(const XmlNode& feed, const QString& name, int position, QStringList* problems) {
    const std::optional<QString> text = feed.getAttribute(name);
    if (!text)
        return false;
    bool ok = false;
    const bool value = readBooleanText(*text, &ok);
    if (!ok && problems)
        *problems << QStringLiteral("feed %1: \"%2\" is not true or false (%3)")
                         .arg(position)
                         .arg(*text, name);
    return ok && value;
}

// The row of one stored entry; position (from 1) names it in *problems.
QString storedRow(const XmlNode& feed, int position, QStringList* problems) {
    FeedEntry entry;
    entry.url = feed.getAttribute(QStringLiteral("url")).value_or(QString());
    if (entry.url.isEmpty() && problems)
        *problems << QStringLiteral("feed %1 has no address").arg(position);
    entry.countText = feed.getAttribute(QStringLiteral("num")).value_or("10");
    bool ok = false;
    const qint64 count = readWholeNumber(entry.countText, std::numeric_limits<qint32>::min(),
                                         std::numeric_limits<qint32>::max(), &ok);
    if (ok)
        entry.countText = QString::number(count);
    else if (problems)
        *problems << QStringLiteral("feed %1: the article count \"%2\" is not a whole number")
                         .arg(position)
                         .arg(entry.countText);
    entry.headingsOnly = readFlag(feed, QStringLiteral("headers"), position, problems);
    entry.disabled = readFlag(feed, QStringLiteral("disabled"), position, problems);
    return feedListRow(entry);
}

// Why an entry cannot be stored (empty when it can), its count in *count. Only a new or a
// rewritten address is checked.
QString entryProblem(const FeedEntry& entry, bool checkAddress, int* count) {
    if (checkAddress)
        if (const QString problem = webAddressProblem(entry.url); !problem.isEmpty())
            return problem;
    const std::optional<int> number = readArticleCount(entry.countText);
    if (!number)
        return articleCountProblem();
    *count = *number;
    return QString();
}

// The number, not the typed text, goes to the file: the refresh reads `num` as a number.
void writeEntry(XmlNode& feed, int count, const FeedEntry& entry) {
    feed.setAttribute(QStringLiteral("num"), QString::number(count));
    setFlags(feed, entry.headingsOnly, entry.disabled);
}

// The row of an entry as typed: the count shows as the user wrote it.
QString typedRow(FeedEntry entry, const QString& url) {
    entry.url = url;
    entry.countText = entry.countText.trimmed();
    return feedListRow(entry);
}

FeedListChange refused(const QString& error) {
    FeedListChange change;
    change.error = error;
    return change;
}

// One change of the feed entries as a store transaction. change gets the root and its feed
// entries in list order and fills the delta; it runs only when they still match the rows,
// since rows address entries by position and a file changed behind the list's back would
// make the change hit the wrong entry.
using EntriesChange = std::function<void(XmlDocument& document, XmlNode& root,
                                         std::vector<XmlNode>& feeds, FeedListChange& delta)>;

FeedListChange changeFeeds(const FeedStore& store, int rows, int waitMs,
                           const EntriesChange& change) {
    FeedListChange delta;
    QString error;
    StoreProblem problem = StoreProblem::None;
    delta.ok = store.modify(
        [&](XmlDocument& document, QString* why) {
            XmlNode root = document.documentElement();
            std::vector<XmlNode> feeds = root.childElements(kFeed);
            if (static_cast<int>(feeds.size()) != rows) {
                *why = QStringLiteral("The feed store %1 holds %2 feeds but the list shows %3; "
                                      "the file was changed outside this window.")
                           .arg(nativeStorePath(store))
                           .arg(feeds.size())
                           .arg(rows);
                return false;
            }
            change(document, root, feeds, delta);
            return true;
        },
        &error, waitMs, &problem);
    if (delta.ok)
        return delta;
    FeedListChange failed;
    switch (problem) {
    case StoreProblem::Busy:
        failed.error = QStringLiteral("The feed store %1 is being written elsewhere and did not "
                                      "become free within %2 seconds.\n\nNothing was changed; "
                                      "please try again.")
                           .arg(nativeStorePath(store))
                           .arg(waitMs / 1000.0);
        return failed;
    case StoreProblem::Unreadable:
        failed.error = QStringLiteral("The feed store %1 could not be read: %2\n\nNothing was "
                                      "changed.")
                           .arg(nativeStorePath(store), error);
        return failed;
    case StoreProblem::Refused:
        failed.error = error;
        break;
    default:
        failed.error = QStringLiteral("The feed store %1 could not be saved: %2")
                           .arg(nativeStorePath(store), error);
        break;
    }
    // After a failed change the rows may no longer match the file; what the file holds is
    // the only state the user can trust.
    failed.error += QStringLiteral("\n\nNothing was changed; the list now shows the feeds the "
                                   "file holds.");
    const XmlDocument document = store.load();
    if (!document.isNull())
        failed.refill = feedListRows(document);
    return failed;
}

} // namespace

QString withUrlScheme(const QString& typed) {
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z]+://"));
    const QString url = typed.trimmed();
    return scheme.match(url).hasMatch() ? url : QStringLiteral("http://") + url;
}

std::optional<int> readArticleCount(const QString& text) {
    bool ok = false;
    const qint64 count = readWholeNumber(text, 0, std::numeric_limits<qint16>::max(), &ok);
    return ok ? std::optional<int>(static_cast<int>(count)) : std::nullopt;
}

QString articleCountProblem() {
    return QStringLiteral("The number of articles should be a whole number from 0 to 32767");
}

QString feedListRow(const FeedEntry& entry) {
    QString row = entry.url + kRowSeparator + entry.countText;
    if (entry.headingsOnly)
        row += QStringLiteral(" | H");
    if (entry.disabled)
        row += QStringLiteral(" | D");
    return row;
}

std::optional<FeedEntry> parseFeedListRow(const QString& row) {
    if (!row.contains(kRowSeparator))
        return std::nullopt;
    const QStringList pieces = row.split(kRowSeparator);
    FeedEntry entry;
    entry.url = pieces.at(0);
    entry.countText = pieces.at(1);
    entry.headingsOnly = row.contains(QStringLiteral("| H"));
    entry.disabled = row.contains(QStringLiteral("| D"));
    return entry;
}

QStringList feedListRows(const XmlDocument& document, QStringList* problems) {
    QStringList rows;
    if (document.isNull())
        return rows;
    int position = 0;
    for (const XmlNode& feed : document.documentElement().childElements(kFeed))
        rows << storedRow(feed, ++position, problems);
    return rows;
}

FeedListChange addFeed(const FeedStore& store, int rowCount, const FeedEntry& entry, int waitMs) {
    int count = 0;
    if (const QString problem = entryProblem(entry, true, &count); !problem.isEmpty())
        return refused(problem);
    return changeFeeds(
        store, rowCount, waitMs,
        [&](XmlDocument& document, XmlNode& root, std::vector<XmlNode>&, FeedListChange& delta) {
            XmlNode feed = document.createElement(kFeed);
            feed.setAttribute(QStringLiteral("url"), entry.url);
            writeEntry(feed, count, entry);
            root.appendChild(feed);
            delta.appended << typedRow(entry, entry.url);
        });
}

FeedListChange editFeeds(const FeedStore& store, int rowCount, const std::vector<int>& rows,
                         const FeedEntry& entry, int waitMs) {
    const bool outside =
        std::any_of(rows.begin(), rows.end(), [&](int row) { return row < 0 || row >= rowCount; });
    if (rows.empty() || outside)
        return refused(QStringLiteral("Please select a feed to edit"));
    const bool one = rows.size() == 1;
    if (one && entry.url.trimmed().isEmpty())
        return refused(QStringLiteral("Please type in a valid RSS URL"));
    int count = 0;
    if (const QString problem = entryProblem(entry, one, &count); !problem.isEmpty())
        return refused(problem);
    return changeFeeds(
        store, rowCount, waitMs,
        [&](XmlDocument&, XmlNode&, std::vector<XmlNode>& feeds, FeedListChange& delta) {
            for (int row : rows) {
                XmlNode& feed = feeds[row];
                // Several rows keep their own addresses.
                if (one)
                    feed.setAttribute(QStringLiteral("url"), entry.url);
                writeEntry(feed, count, entry);
                delta.rewritten[row] =
                    typedRow(entry, feed.getAttribute(QStringLiteral("url")).value_or(""));
            }
        });
}

FeedListChange deleteFeeds(const FeedStore& store, int rowCount, const std::vector<int>& rows,
                           int waitMs) {
    std::vector<int> doomed; // highest first, so lower rows keep their index while removed
    for (int row : rows)
        if (row >= 0 && row < rowCount)
            doomed.push_back(row);
    std::sort(doomed.begin(), doomed.end(), std::greater<>());
    doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
    if (doomed.empty())
        return refused(QStringLiteral("Please select a feed to remove"));
    return changeFeeds(
        store, rowCount, waitMs,
        [&](XmlDocument&, XmlNode& root, std::vector<XmlNode>& feeds, FeedListChange& delta) {
            for (int row : doomed)
                root.removeChild(feeds[row]);
            delta.removed = doomed;
        });
}

FeedListChange moveFeed(const FeedStore& store, int rowCount, int row, int step, int waitMs) {
    const int target = row + step;
    if (row < 0 || row >= rowCount || target < 0 || target >= rowCount || step == 0)
        return FeedListChange{};
    return changeFeeds(
        store, rowCount, waitMs,
        [&](XmlDocument&, XmlNode& root, std::vector<XmlNode>& feeds, FeedListChange& delta) {
            const int upper = std::min(row, target);
            const int lower = std::max(row, target);
            root.insertBefore(feeds[lower], feeds[upper]);
            delta.rewritten[upper] = storedRow(feeds[lower], upper + 1, nullptr);
            delta.rewritten[lower] = storedRow(feeds[upper], lower + 1, nullptr);
            delta.current = target;
        });
}

} // namespace quorvel
