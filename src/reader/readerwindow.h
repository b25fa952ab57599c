#pragma once

#include <array>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include <QMainWindow>
#include <QPoint>
#include <QStringList>
#include <QTimer>

#include "refresh/readerport.h"
#include "refresh/refreshcycle.h"

class QAction;
class QMenu;
class QPrinter;
class QSystemTrayIcon;
class QWebEngineView;

namespace quorvel {

class FeedPage;
class FeedStore;
class Fetcher;
class RefreshRunner;

// How the reader window is set up beyond its store and fetcher.
struct ReaderOptions {
    // Whether the desktop has a notification area. Without one, closing minimises the
    // window and the menu sits in a menu bar, so the program stays reachable.
    bool trayAvailable = true;
    // The connectivity probe's address (probeUrl()).
    QString probeAddress;
    // Where "About" looks for readme.txt, first hit wins.
    QStringList readmePaths;
};

// The reader window: a narrow strip at the screen's side showing feeds.htm, living in the
// notification area. It is the refresh cycle's ReaderPort; the port functions may be called
// from any thread and take effect on the UI thread.
class ReaderWindow : public QMainWindow, public ReaderPort {
    Q_OBJECT
public:
    // prompter shows every message box (on the UI thread). Hidden until start() has run its
    // first refresh cycle.
    ReaderWindow(const FeedStore& store, Fetcher& fetcher, Prompter& prompter,
                 ReaderOptions options, QWidget* parent = nullptr);
    ~ReaderWindow() override;

    // Runs the first refresh cycle on the worker. When it ends: the window appears (docked,
    // or only the tray icon when the store says start minimised), the refresh timer starts
    // with the stored interval, and the tray icon appears with the cycle's last tip.
    void start();

    // ReaderPort, callable from any thread.
    void setTitle(const QString& title) override;
    void setTrayTip(const QString& tipField) override;
    void showPage(const QString& path) override;
    void pageUnchanged(const QString& path) override;
    void applyOpacity(int alpha) override;
    void openWithDesktop(const QString& path) override;
    void setMagneticTicked(bool ticked) override;
    void markIntervalForSetting(const QString& refreshText) override;
    void settingsLoaded(const Settings& settings) override;
    // From the worker: waits until the user has answered on the UI thread; Cancel once the
    // window is shutting down.
    MessageAnswer prompt(const Message& message) override;

    // The menu "Menu" (rssManager): the tray icon's context menu.
    QMenu* menu() const { return m_menu; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QWebEngineView* feeder() const { return m_feeder; }
    FeedPage* feedPage() const { return m_page; }
    const QTimer& refreshTimer() const { return m_refreshTimer; }
    // True while a refresh cycle runs or one is queued.
    bool isRefreshing() const;
    // Refresh cycles finished so far.
    int finishedCycles() const;
    // The tip as the tray shows it.
    QString trayTip() const { return m_trayTip; }

    // Enables "RSS Manager"; it emits managerRequested() when chosen.
    void setManagerAvailable(bool available);

    // Places the window as the full-height strip beside the panel of the primary screen and
    // returns its left edge.
    int dockToTaskbarSide();
    // Hides the window; the tray offers "Restore" instead of "Minimize". Without a
    // notification area the window is minimised instead.
    void hideToTray();
    // "Stick to Edges": flips the mark and stores it in the store's `magnetic` setting.
    void toggleStickToEdges();
    // An interval item 1..8 was chosen: restarts the timer with its interval, stores it
    // as the `refresh` setting and leaves only that item marked.
    void chooseInterval(int item);
    // Clears the marks of the interval items 1..8.
    void uncheckIntervalItems();
    // "Exit": stops the timer, lets the manager close (exitRequested), cancels a running
    // cycle and closes the window for good; exited() follows.
    void exitReader();
    // "About": the about box; on OK, readme.txt opens on the desktop when it exists.
    void showAbout();
    // "Print": the print dialog, then the page goes to the chosen printer.
    void printPage();

public Q_SLOTS:
    // Runs a refresh cycle, or queues one more when one is running. Ignored after Exit.
    void requestRefresh();
    // (Re)starts the periodic refresh timer with interval ms.
    void startRefreshTimer(int ms);
    void stopRefreshTimer();
    // Shows the window (docked again when it lies beyond the screen's right edge), raises
    // and activates it; the tray offers "Minimize" instead of "Restore".
    void restoreFromTray();

Q_SIGNALS:
    // "RSS Manager" was chosen.
    void managerRequested();
    // "Exit" was chosen: the manager window should close now.
    void exitRequested();
    // The reader has closed for good (timer stopped, tray icon gone, no cycle running).
    void exited();
    // The first cycle has ended and the window, timer and tray icon are set up.
    void startUpFinished();
    // A refresh cycle has ended.
    void cycleFinished(quorvel::CycleEnd end);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void buildMenu();
    void refreshTimerProc();
    void onCycleFinished(CycleEnd end);
    void completeStartUp();
    void showOnScreen();
    void placeOffScreen();
    void placeFrame(const QRect& frame);
    void showRestoreItem(bool restoreVisible);
    void markInterval(const QString& refreshText);
    void openOnDesktop(const QString& path);
    void tell(const QString& title, const QString& text);
    void shutdown();
    // Runs f on the UI thread after the current event.
    template <typename F> void post(F f);

    const FeedStore& m_store;
    Prompter& m_prompter;
    ReaderOptions m_options;

    FeedPage* m_page = nullptr;
    QWebEngineView* m_feeder = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_gotoManager = nullptr;
    QMenu* m_intervalMenu = nullptr;
    std::array<QAction*, 9> m_intervalItems{};
    QAction* m_print = nullptr;
    QAction* m_restore = nullptr;
    QAction* m_minimize = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_magnetic = nullptr;
    QAction* m_about = nullptr;
    QAction* m_exit = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
    QString m_trayTip;
    QTimer m_refreshTimer;
    std::unique_ptr<QPrinter> m_printer;

    bool m_started = false;
    bool m_startUpDone = false;
    bool m_shownEarly = false; // shown when the first run had read the settings
    bool m_exiting = false;
    bool m_sessionEnding = false;
    bool m_shutDown = false;
    bool m_offScreen = false;
    bool m_placing = false; // inside placeFrame: the moves are ours
    // Where our own last placement put the frame; a move there is not the user's.
    std::optional<QPoint> m_ownMoveTarget;

    std::mutex m_promptMutex;
    std::condition_variable m_promptAnswered;
    bool m_portClosed = false;

    // Last: its worker reports through this window, so it goes first.
    std::unique_ptr<RefreshRunner> m_runner;
};

} // namespace quorvel
