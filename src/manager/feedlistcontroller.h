#pragma once

#include <vector>

#include <QHash>
#include <QObject>
#include <QStringList>

#include "manager/feedcheckjob.h"
#include "refresh/feedoutcome.h"
#include "store/feedlistoperations.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidgetItem;
class QListWidget;
class QPushButton;

namespace quorvel {

class FeedStore;
class Prompter;

// The controls of the feeds tab that the controller reads and fills; it owns none of them.
struct FeedListControls {
    QListWidget* feeds = nullptr;
    QLineEdit* newFeed = nullptr;
    QLineEdit* numArticles = nullptr;
    QCheckBox* justHeadings = nullptr;
    QCheckBox* feedDisabled = nullptr;
    QPushButton* edit = nullptr;
    QLabel* checkStatus = nullptr; // what the last check of an address found
};

// Runs the feed list operations for the feeds tab: reads the entry fields and the selection,
// hands plain data to the store's operations, shows their messages and applies the rows they
// changed to the list. An address added or edited is checked at once, off the window thread;
// every row's tooltip shows the last result known for its address and failing rows carry a
// warning mark. A web page that announces feeds brings an offer to use a feed's address.
class FeedListController : public QObject {
    Q_OBJECT

public:
    // store and prompter must outlive the controller.
    FeedListController(const FeedStore& store, Prompter& prompter, FeedListControls controls,
                       QObject* parent = nullptr);

    // How long a change waits for another writer of the store.
    void setStoreWaitMs(int milliseconds);
    // The fetchers the address checks use.
    void setFetcherFactory(FetcherFactory factory);

    // Shows what a load of url found on every row of that address.
    void showFeedCheck(const QString& url, const FeedCheck& check);
    // Shows what a refresh found for each of its feeds on their rows.
    void showFeedOutcomes(const FeedOutcomes& outcomes);
    // Checks url off the window thread, then shows the result.
    void checkAddress(const QString& url);

    // Replaces every row.
    void showRows(const QStringList& rows);
    // Appends rows the store already holds (an import).
    void appendRows(const QStringList& rows);

    // The buttons of the tab. Each tells the user, titled "Error", what it refused.
    void add();
    void editSelected(); // one selected row: every field; several: count and both flags
    void deleteSelected();
    void moveCurrent(int step); // -1 up, +1 down

    // Fills the entry fields from the current row and enables Edit.
    void showCurrentRow();

private:
    void onChecked(const QString& url, const FeedCheck& check);
    // Offers the feeds a web page announces in place of its address, one after another.
    void offerAnnouncedFeeds(const QString& url, const QStringList& feeds);
    void decorate(QListWidgetItem* item) const;
    void decorateRows();
    // Applies a change's rows (or the file's rows after a failure) and tells its error.
    bool apply(const FeedListChange& change);
    std::vector<int> selectedRows() const;
    FeedEntry typedEntry() const;
    void clearEntryFields();
    void tellError(const QString& text);

    const FeedStore& m_store;
    Prompter& m_prompter;
    FeedListControls m_controls;
    int m_storeWaitMs;
    bool m_applying = false;
    FetcherFactory m_fetcherFactory;
    QHash<QString, FeedCheck> m_checks; // by address
};

} // namespace quorvel
