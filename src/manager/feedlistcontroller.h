#pragma once

#include <vector>

#include <QObject>
#include <QStringList>

#include "store/feedlistoperations.h"

class QCheckBox;
class QLineEdit;
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
};

// Runs the feed list operations for the feeds tab: reads the entry fields and the selection,
// hands plain data to the store's operations, shows their messages and applies the rows they
// changed to the list.
class FeedListController : public QObject {
    Q_OBJECT

public:
    // store and prompter must outlive the controller.
    FeedListController(const FeedStore& store, Prompter& prompter, FeedListControls controls,
                       QObject* parent = nullptr);

    // How long a change waits for another writer of the store.
    void setStoreWaitMs(int milliseconds);

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
};

} // namespace quorvel
