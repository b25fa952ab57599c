#include "feedlistoperations.h"

#include <functional>
#include <limits>
#include <vector>

#include <QDir>
#include <QRegularExpression>

#include "platform/xmldocument.h"
#include "store/displaysettings.h"
#include "store/feedlistview.h"
#include "store/feedstore.h"
#include "store/prompter.h"
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

void tellError(Prompter& prompter, const QString& text) {
    prompter.prompt(
        Message{QStringLiteral("Error"), text, MessageButtons::Ok, MessageIcon::Exclamation});
}

// After a failed change the rows may no longer match the file; showing what the file holds
// is the only state the user can trust.
void tellAndReload(const FeedStore& store, FeedListView& view, Prompter& prompter,
                   const QString& reason) {
    tellError(prompter,
              reason + QStringLiteral("\n\nNothing was changed; the list now shows the feeds "
                                      "the file holds."));
    reloadFeedList(store, view);
}

// One change of the feed entries as a store transaction. change gets the root and its feed
// entries in list order; it runs only when they still match the rows, since rows address
// entries by position and a file changed behind the window's back would make the change hit
// the wrong entry.
using FeedChange =
    std::function<void(XmlDocument& document, XmlNode& root, std::vector<XmlNode>& feeds)>;

bool changeFeeds(const FeedStore& store, FeedListView& view, Prompter& prompter, int waitMs,
                 const FeedChange& change) {
    const int rows = view.rowCount();
    QString error;
    StoreProblem problem = StoreProblem::None;
    const bool saved = store.modify(
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
            change(document, root, feeds);
            return true;
        },
        &error, waitMs, &problem);
    if (saved)
        return true;
    switch (problem) {
    case StoreProblem::Busy:
        tellError(prompter, QStringLiteral("The feed store %1 is being written elsewhere and did "
                                           "not become free within %2 seconds.\n\nNothing was "
                                           "changed; please try again.")
                                .arg(nativeStorePath(store))
                                .arg(waitMs / 1000.0));
        break;
    case StoreProblem::Unreadable:
        tellError(prompter, QStringLiteral("The feed store %1 could not be read: %2\n\nNothing "
                                           "was changed.")
                                .arg(nativeStorePath(store), error));
        break;
    case StoreProblem::Refused:
        tellAndReload(store, view, prompter, error);
        break;
    default:
        tellAndReload(store, view, prompter,
                      QStringLiteral("The feed store %1 could not be saved: %2")
                          .arg(nativeStorePath(store), error));
        break;
    }
    return false;
}

// Feeds are fetched from the web only; any other address is refused where it is typed.
bool isWebAddressOrTell(const QString& url, Prompter& prompter) {
    if (isWebAddress(url))
        return true;
    tellError(prompter, QStringLiteral("\"%1\" is not a web address. Only addresses that start "
                                       "with http:// or https:// and name a host can be feeds.")
                            .arg(url));
    return false;
}

void setFlags(XmlNode& feed, bool headingsOnly, bool disabled) {
    feed.setAttribute(QStringLiteral("headers"), trueFalse(headingsOnly));
    feed.setAttribute(QStringLiteral("disabled"), trueFalse(disabled));
}

// Puts the entry at row `moved` before the entry at row `before`.
bool moveFeed(const FeedStore& store, FeedListView& view, Prompter& prompter, int moved,
              int before) {
    return changeFeeds(store, view, prompter, kStoreWaitMs,
                       [&](XmlDocument&, XmlNode& root, std::vector<XmlNode>& feeds) {
                           root.insertBefore(feeds[moved], feeds[before]);
                       });
}

void swapRows(FeedListView& view, int row, int other) {
    const QString kept = view.rowText(row);
    view.setRowText(row, view.rowText(other));
    view.setRowText(other, kept);
    view.setCurrentRow(other);
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

std::optional<int> articleCountOrTell(const QString& text, Prompter& prompter) {
    const std::optional<int> count = readArticleCount(text);
    if (!count)
        tellError(prompter, QStringLiteral("The number of articles should be a whole number "
                                           "from 0 to 32767"));
    return count;
}

std::optional<FeedRowFields> parseFeedListRow(const QString& row) {
    if (!row.contains(kRowSeparator))
        return std::nullopt;
    const QStringList pieces = row.split(kRowSeparator);
    FeedRowFields fields;
    fields.url = pieces.at(0);
    fields.countText = pieces.at(1);
    fields.headingsOnly = row.contains(QStringLiteral("| H"));
    fields.disabled = row.contains(QStringLiteral("| D"));
    return fields;
}

QStringList feedListRows(const XmlDocument& document, QStringList* problems) {
    QStringList rows;
    if (document.isNull())
        return rows;
    int position = 0;
    for (const XmlNode& feed : document.documentElement().childElements(kFeed)) {
        ++position;
        const QString url = feed.getAttribute(QStringLiteral("url")).value_or(QString());
        if (url.isEmpty() && problems)
            *problems << QStringLiteral("feed %1 has no address").arg(position);
        QString countText = feed.getAttribute(QStringLiteral("num")).value_or("10");
        bool ok = false;
        const qint64 count = readWholeNumber(countText, std::numeric_limits<qint32>::min(),
                                             std::numeric_limits<qint32>::max(), &ok);
        if (ok)
            countText = QString::number(count);
        else if (problems)
            *problems << QStringLiteral("feed %1: the article count \"%2\" is not a whole number")
                             .arg(position)
                             .arg(countText);
        const bool headingsOnly = readFlag(feed, QStringLiteral("headers"), position, problems);
        const bool disabled = readFlag(feed, QStringLiteral("disabled"), position, problems);
        rows << feedListRow(url, countText, headingsOnly, disabled);
    }
    return rows;
}

bool reloadFeedList(const FeedStore& store, FeedListView& view, QString* error) {
    const XmlDocument document = store.load(error);
    if (document.isNull())
        return false;
    view.clearRows();
    for (const QString& row : feedListRows(document))
        view.appendRow(row);
    view.repaint();
    return true;
}

bool addFeed(const FeedStore& store, FeedListView& view, Prompter& prompter, const QString& url,
             int count) {
    if (!isWebAddressOrTell(url, prompter))
        return false;
    const bool headingsOnly = view.justHeadings();
    const bool disabled = view.feedDisabled();
    if (!changeFeeds(store, view, prompter, kStoreWaitMs,
                     [&](XmlDocument& document, XmlNode& root, std::vector<XmlNode>&) {
                         XmlNode feed = document.createElement(kFeed);
                         feed.setAttribute(QStringLiteral("url"), url);
                         feed.setAttribute(QStringLiteral("num"), QString::number(count));
                         setFlags(feed, headingsOnly, disabled);
                         root.appendChild(feed);
                     }))
        return false;
    view.appendRow(feedListRow(url, view.numArticlesText().trimmed(), headingsOnly, disabled));
    view.repaint();
    return true;
}

bool editSelectedFeed(const FeedStore& store, FeedListView& view, Prompter& prompter,
                      int storeWaitMs) {
    const int row = view.currentRow();
    if (row < 0 || row >= view.rowCount()) {
        tellError(prompter, QStringLiteral("Please select a feed to edit"));
        return false;
    }
    if (view.newFeedText().trimmed().isEmpty()) {
        tellError(prompter, QStringLiteral("Please type in a valid RSS URL"));
        return false;
    }
    const std::optional<int> count = articleCountOrTell(view.numArticlesText(), prompter);
    if (!count)
        return false;
    const QString url = withUrlScheme(view.newFeedText());
    view.setNewFeedText(url);
    if (!isWebAddressOrTell(url, prompter))
        return false;
    const bool headingsOnly = view.justHeadings();
    const bool disabled = view.feedDisabled();
    if (!changeFeeds(store, view, prompter, storeWaitMs,
                     [&](XmlDocument&, XmlNode&, std::vector<XmlNode>& feeds) {
                         XmlNode& feed = feeds[row];
                         feed.setAttribute(QStringLiteral("url"), url);
                         // The number, not the typed text, goes to the file: the refresh
                         // reads `num` as a number.
                         feed.setAttribute(QStringLiteral("num"), QString::number(*count));
                         setFlags(feed, headingsOnly, disabled);
                     }))
        return false;
    view.removeRow(row);
    view.insertRow(row, feedListRow(url, view.numArticlesText().trimmed(), headingsOnly, disabled));
    view.repaint();
    return true;
}

bool deleteSelectedFeeds(const FeedStore& store, FeedListView& view, Prompter& prompter) {
    std::vector<int> selected; // highest first, so lower rows keep their index while removed
    for (int row = view.rowCount() - 1; row >= 0; --row)
        if (view.isRowSelected(row))
            selected.push_back(row);
    if (selected.empty())
        return false;
    if (!changeFeeds(store, view, prompter, kStoreWaitMs,
                     [&](XmlDocument&, XmlNode& root, std::vector<XmlNode>& feeds) {
                         for (int row : selected)
                             root.removeChild(feeds[row]);
                     }))
        return false;
    for (int row : selected)
        view.removeRow(row);
    view.repaint();
    return true;
}

bool moveSelectedFeedUp(const FeedStore& store, FeedListView& view, Prompter& prompter) {
    const int row = view.currentRow();
    if (row <= 0 || row >= view.rowCount())
        return false;
    if (!moveFeed(store, view, prompter, row, row - 1))
        return false;
    swapRows(view, row, row - 1);
    return true;
}

bool moveSelectedFeedDown(const FeedStore& store, FeedListView& view, Prompter& prompter) {
    const int row = view.currentRow();
    if (row < 0 || row >= view.rowCount() - 1)
        return false;
    if (!moveFeed(store, view, prompter, row + 1, row))
        return false;
    swapRows(view, row, row + 1);
    return true;
}

} // namespace quorvel
