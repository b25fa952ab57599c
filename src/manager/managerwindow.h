#pragma once

#include <QWidget>

#include "manager/colourpicker.h"
#include "manager/feedstab.h"

class QTabWidget;

namespace quorvel {

class DisplayTab;
class FeedStore;
class Prompter;

// The feed manager window `rssEditor`: the "Feeds" tab edits the feed list (every change is
// saved at once), the "Display" tab edits the page's look and the reader's settings. Each tab
// scrolls when the screen is too small for it. It does not run refreshes itself: it asks for
// them through its signals.
class ManagerWindow : public QWidget {
    Q_OBJECT

public:
    // A window over the store; every message goes through prompter. Both must outlive it.
    ManagerWindow(const FeedStore& store, Prompter& prompter, QWidget* parent = nullptr);
    ~ManagerWindow() override;

    // Replace the colour and file dialogs (tests answer them).
    void setColourChooser(ColourChooser chooser);
    void setFileChooser(FileChooser chooser);
    // Replace the save dialog of the OPML export and the fetcher of its title look-ups.
    void setSaveFileChooser(FileChooser chooser);
    void setFetcherFactory(FetcherFactory factory);
    // How long to wait for another writer of the store (5 s unless set).
    void setStoreWaitMs(int milliseconds);

    // Shows what a load of url found (its title and item count, or why it failed) in the
    // tooltip of its rows; failing rows are marked.
    void showFeedCheck(const QString& url, const FeedCheck& check);
    // The same for every feed a refresh cycle fetched; rows of other addresses keep theirs.
    void showFeedOutcomes(const FeedOutcomes& outcomes);

    // Fills the window from the store, shows it within the screen's work area and brings it
    // forward.
    void openWindow();

    // Fills the choice lists, then the feed list and the display tab from the store. When the
    // store stays busy or cannot be read the window stays empty and the user is told why;
    // values that cannot be read are listed in one message.
    void loadManagerSettings();

Q_SIGNALS:
    // One refresh cycle is due now that the window has closed.
    void refreshRequested();
    // The reader window should come to the foreground.
    void raiseReaderRequested();
    // The display tab saved a new refresh interval: stop the timer, then start it anew.
    void refreshTimerStopRequested();
    void refreshTimerRestartRequested(int intervalMs);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void restartRefreshTimer(int intervalMs);
    void closeSkippingRefresh();
    void tellError(const QString& text);

    const FeedStore& m_store;
    Prompter& m_prompter;
    int m_storeWaitMs;
    bool m_skipRefresh = false;
    QTabWidget* m_settings = nullptr;
    FeedsTab* m_feedsTab = nullptr;
    DisplayTab* m_displayTab = nullptr;
};

} // namespace quorvel
