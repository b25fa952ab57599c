#pragma once

#include <functional>
#include <memory>

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "manager/feedcheckjob.h"
#include "refresh/feedoutcome.h"
#include "store/prompter.h"

class QLineEdit;
class QListWidget;
class QProgressDialog;

namespace quorvel {

class FeedListController;
class FeedStore;
class Fetcher;
class OpmlExportJob;

// Asks for a file: the parent, the starting folder and the name filter; empty when cancelled.
using FileChooser =
    std::function<QString(QWidget* parent, const QString& folder, const QString& filter)>;

// The manager's feeds tab `feedSettings`: the feed list with its entry fields and buttons,
// and the OPML import and export. Every change is saved at once; closing the window is left
// to the window, through the signals.
class FeedsTab : public QWidget {
    Q_OBJECT

public:
    // store and prompter must outlive the tab.
    FeedsTab(const FeedStore& store, Prompter& prompter, QWidget* parent = nullptr);
    ~FeedsTab() override;

    void setOpenFileChooser(FileChooser chooser);
    void setSaveFileChooser(FileChooser chooser);
    // The fetchers of the OPML export and of the address checks.
    void setFetcherFactory(FetcherFactory factory);
    void setStoreWaitMs(int milliseconds);

    // Shows these rows, the entry fields as at a fresh opening.
    void showFeeds(const QStringList& rows);
    // Shows what a load of url found on its rows.
    void showFeedCheck(const QString& url, const FeedCheck& check);
    void showFeedOutcomes(const FeedOutcomes& outcomes);

    // Imports the OPML file at path into the store and the list and says what it did.
    void importOpml(const QString& path);
    // Asks for a target file (".opml" added to a name without an extension), then exports
    // behind a progress box whose Cancel writes nothing, and says what it wrote.
    void exportOpml();

Q_SIGNALS:
    void doneClicked();
    void cancelClicked();
    // An import stored the two-hour refresh interval.
    void imported();

private:
    void onImportClicked();
    void onBrowseClicked();
    void onExportFinished(bool written, bool cancelled, const QString& error, int feeds);
    void tell(const QString& title, const QString& text, MessageIcon icon);

    const FeedStore& m_store;
    Prompter& m_prompter;
    FileChooser m_openFileChooser;
    FileChooser m_saveFileChooser;
    FetcherFactory m_fetcherFactory;
    int m_storeWaitMs;
    FeedListController* m_controller = nullptr;
    QListWidget* m_feeds = nullptr;
    QLineEdit* m_numArticles = nullptr;
    QLineEdit* m_loadOpmlText = nullptr;
    QWidget* m_edit = nullptr;
    QPointer<OpmlExportJob> m_exportJob;
    QPointer<QProgressDialog> m_exportProgress;
};

} // namespace quorvel
