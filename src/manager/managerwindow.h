#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include <QStringList>
#include <QWidget>

#include "manager/colourpicker.h"
#include "store/displaysettings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QProgressDialog;
class QPushButton;
class QTabWidget;

namespace quorvel {

class FeedListWidgetView;
class FeedStore;
class Fetcher;
class Prompter;

// The feed manager window `rssEditor`: the "Feeds" tab edits the feed list (every change is
// saved at once), the "Display" tab edits the page's look and the reader's settings. It does
// not run refreshes itself: it asks for them through its signals.
class ManagerWindow : public QWidget {
    Q_OBJECT

public:
    // Asks for a file to open: the starting folder and the name filter; empty when cancelled.
    using FileChooser =
        std::function<QString(QWidget* parent, const QString& folder, const QString& filter)>;

    // A window over the store; every message goes through prompter. Both must outlive it.
    ManagerWindow(const FeedStore& store, Prompter& prompter, QWidget* parent = nullptr);
    ~ManagerWindow() override;

    // Replace the colour and file dialogs (tests answer them).
    void setColourChooser(ColourChooser chooser);
    void setFileChooser(FileChooser chooser);
    // Replace the save dialog of the OPML export and the fetcher of its title look-ups.
    void setSaveFileChooser(FileChooser chooser);
    void setFetcher(std::unique_ptr<Fetcher> fetcher);
    // How long to wait for another writer of the store (5 s unless set).
    void setStoreWaitMs(int milliseconds);

    // Fills the window from the store, shows it and brings it forward.
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildFeedsPage();
    QWidget* buildDisplayPage();

    void onAddClicked();
    void onEditClicked();
    void onDeleteClicked();
    void onMoveFeedUpClicked();
    void onMoveFeedDownClicked();
    void onFeedsRowSelected();
    void onBrowseClicked();
    void onImportClicked();
    void onExportClicked();
    void onDoneClicked();
    void onFeedCancelClicked();
    void onDisplayDoneClicked();
    void onDisplayCancelClicked();
    void onColourBoxClicked(QLineEdit* box);

    // Adds the feeds of the OPML file at path to the list and the store; on success the
    // refresh timer restarts at two hours, as the import also stores.
    void importOpml(const QString& path);
    // Asks for a target file, then looks the enabled feeds' titles up on a worker thread
    // with a progress dialog (cancel writes nothing) and writes the OPML file.
    void exportOpml();
    void finishExport(bool built, const QString& text, const QString& error,
                      const QString& target);

    void fillRefreshList(QComboBox* list);
    void fillSizeList(const QString& prefix);
    void fillFontList(const QString& prefix);
    void showDisplaySettings(const DisplaySettings& settings);
    DisplaySettings displaySettingsFromControls() const;
    // After an edit: empties the URL, puts back the default count, clears "Headings".
    void clearEntryFields();
    // Runs a feed list operation with the row-selection handler held off, since the
    // operation moves the current row about while it works.
    bool runListOperation(const std::function<bool()>& operation);
    void tellError(const QString& text);
    void closeSkippingRefresh();

    template <typename T> T* control(const QString& name) const;

    const FeedStore& m_store;
    Prompter& m_prompter;
    ColourChooser m_colourChooser;
    FileChooser m_fileChooser;
    FileChooser m_saveFileChooser;
    std::unique_ptr<Fetcher> m_fetcher;
    std::thread m_exportThread;
    std::shared_ptr<std::atomic<bool>> m_exportCancelled;
    QProgressDialog* m_exportProgress = nullptr;
    int m_storeWaitMs;
    bool m_skipRefresh = false;
    bool m_listOperationRunning = false;
    bool m_displayLoaded = false;
    QStringList m_fontFamilies;

    QTabWidget* m_settings = nullptr;
    QListWidget* m_feeds = nullptr;
    QLineEdit* m_newFeed = nullptr;
    QLineEdit* m_numArticles = nullptr;
    QCheckBox* m_justHeadings = nullptr;
    QCheckBox* m_feedDisabled = nullptr;
    QPushButton* m_edit = nullptr;
    QLineEdit* m_loadOpmlText = nullptr;
    QLineEdit* m_trans = nullptr;
    QComboBox* m_readerRefresh = nullptr;
    QCheckBox* m_setMinCheck = nullptr;
    std::unique_ptr<FeedListWidgetView> m_feedListView;
};

} // namespace quorvel
