#pragma once

#include <array>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QRect>
#include <QStringList>
#include <QTimer>

#include "refresh/feedoutcome.h"
#include "refresh/refreshcycle.h"
#include "store/prompter.h"
#include "store/viewsetting.h"

class QAction;
class QMenu;
class QPrinter;
class QScreen;
class QSystemTrayIcon;

namespace quorvel {

class FeedStore;
class PageView;
class Fetcher;
class ReaderPortAdapter;
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
    // The page view: the light one or the browser engine's.
    PageViewKind view = defaultPageViewKind;
};

// The reader window: a narrow strip at the screen's side showing feeds.htm, living in the
// notification area. The refresh cycle reaches it through a ReaderPortAdapter, which
// brings the cycle's calls from the worker thread to the functions below.
class ReaderWindow : public QMainWindow {
    Q_OBJECT
public:
    // prompter shows every message box (on the UI thread). Hidden until start()'s first
    // refresh cycle has read the settings.
    ReaderWindow(const FeedStore& store, Fetcher& fetcher, Prompter& prompter,
                 ReaderOptions options, QWidget* parent = nullptr);
    ~ReaderWindow() override;

    // Shows the page on disk, then runs the first refresh cycle on the worker: the page is
    // there before anything is read or fetched. As soon as the cycle has read the settings the
    // window appears (docked, or only the tray icon when the store says start minimised)
    // together with the tray icon; when it ends the refresh timer starts with the stored
    // interval.
    void start();

    // What the refresh cycle changes, on the UI thread.
    // Shows the window and the tray icon as the settings say, once: docked on screen, or
    // beyond the screen's right edge with "Restore" offered (minimised where there is no
    // notification area). Does nothing after Exit.
    void appear(bool startMinimised);
    void showTrayTip(const QString& tip);
    // Keeps what the last cycle that fetched the feeds found for each, for the manager.
    void keepFeedOutcomes(const FeedOutcomes& outcomes);
    void tickStickToEdges(bool ticked);
    // Leaves exactly the interval item marked whose interval equals the setting, or none.
    void markInterval(const QString& refreshText);
    // Shows the page file the cycle gives. The page shown at start is not built again when
    // the cycle's first page is that file, unchanged since.
    void showPage(const QString& path);
    // Opens a file with the desktop's handler; tells the user when there is none.
    void openOnDesktop(const QString& path);

    // The menu "Menu" (rssManager): the tray icon's context menu.
    QMenu* menu() const { return m_menu; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    PageView* pageView() const { return m_view; }
    const QTimer& refreshTimer() const { return m_refreshTimer; }
    // True while a refresh cycle runs or one is queued.
    bool isRefreshing() const;
    // Refresh cycles finished so far.
    int finishedCycles() const;
    // The tip as the tray shows it.
    QString trayTip() const { return m_trayTip; }
    // What the last cycle that fetched the feeds found for each enabled feed; empty before.
    const FeedOutcomes& feedOutcomes() const { return m_feedOutcomes; }

    // Enables "RSS Manager"; it emits managerRequested() when chosen.
    void setManagerAvailable(bool available);

    // Places the window's frame, title bar included, as the full-height strip beside the
    // panel inside the primary screen's work area, and returns its left edge. A shown
    // window is held there while the window manager frames and places it (a short while);
    // the strip follows when the work area or the primary screen changes until the user
    // moves it away.
    int dockToTaskbarSide();
    // True while a freshly shown strip is held at its dock (a few seconds); moves then are
    // taken for the window manager's, not the user's.
    bool isSettlingDock() const;
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
    // A cycle has fetched the feeds; feedOutcomes() holds what it found.
    void feedOutcomesChanged();
    // A refresh cycle has ended.
    void cycleFinished(quorvel::CycleEnd end);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void buildMenu();
    void refreshTimerProc();
    void onCycleFinished(CycleEnd end);
    void completeStartUp();
    void showOnScreen();
    void placeOffScreen();
    void placeFrame(const QRect& frame);
    void settleDock();
    void keepDocked();
    void redockAfterScreenChange();
    void followPrimaryScreen(QScreen* screen);
    void showRestoreItem(bool restoreVisible);
    void tell(const QString& title, const QString& text);
    void shutdown();

    const FeedStore& m_store;
    Prompter& m_prompter;
    ReaderOptions m_options;

    PageView* m_view = nullptr;
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
    FeedOutcomes m_feedOutcomes;
    QTimer m_refreshTimer;
    std::unique_ptr<QPrinter> m_printer;

    bool m_started = false;
    // The page file start() showed, as it was then, until the cycle shows its first page.
    struct ShownFile {
        QString path;
        qint64 size = 0;
        QDateTime modified;
    };
    std::optional<ShownFile> m_startPage;
    bool m_startUpDone = false;
    bool m_appeared = false;
    bool m_exiting = false;
    bool m_sessionEnding = false;
    bool m_shutDown = false;
    bool m_offScreen = false;
    bool m_placing = false; // inside placeFrame: the moves are ours
    // Where our own last placement put the frame; a move there is not the user's.
    std::optional<QPoint> m_ownMoveTarget;
    // The docked frame while the strip stands docked; empty once the user moved it.
    std::optional<QRect> m_dockTarget;
    static constexpr int kSettleMs = 3000;
    static constexpr int kSettleCheckMs = 200;
    QElapsedTimer m_settling;
    QTimer m_settleTimer;
    QList<QMetaObject::Connection> m_screenConnections;

    // Last, in this order: the runner's worker reports through the port, so the runner goes
    // first.
    std::unique_ptr<ReaderPortAdapter> m_port;
    std::unique_ptr<RefreshRunner> m_runner;
};

} // namespace quorvel
