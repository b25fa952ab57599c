#include "readerwindow.h"

#include <utility>

#include <QAction>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QUrl>

#include "reader/docking.h"
#include "reader/pageview.h"
#include "reader/readerportadapter.h"
#include "reader/refreshintervals.h"
#include "reader/refreshrunner.h"
#include "refresh/connectivity.h"
#include "refresh/settings.h"
#include "store/feedstore.h"
#include "store/settingwriters.h"

namespace quorvel {

namespace {

const char* const productAddress = "https://www.quorvel.example/";

QAction* addItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

void addSeparator(QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QLatin1String(name));
}

QScreen* primaryScreen() {
    return QGuiApplication::primaryScreen();
}

} // namespace

ReaderWindow::ReaderWindow(const FeedStore& store, Fetcher& fetcher, Prompter& prompter,
                           ReaderOptions options, QWidget* parent)
    : QMainWindow(parent), m_store(store), m_prompter(prompter), m_options(std::move(options)) {
    setObjectName(QStringLiteral("rssReader"));
    setWindowIcon(QIcon(QStringLiteral(":/quorvel/quorvel.svg")));
    // The tool style keeps the strip out of the task list; without a notification area the
    // task list is the only way back to a minimised window, so the style stays off there.
    if (m_options.trayAvailable)
        setWindowFlag(Qt::Tool);
    setContextMenuPolicy(Qt::NoContextMenu);

    PageViewContext viewContext;
    viewContext.dataFolder = store.folder();
    m_view = createPageView(m_options.view, viewContext, this);
    setCentralWidget(m_view->widget());
    m_view->linkOpenFailed = [this](const QUrl& url) {
        tell(tr("Quorvel RSS Reader"),
             tr("No program on this desktop opens %1.").arg(url.toDisplayString()));
    };

    buildMenu();
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setObjectName(QStringLiteral("trayIcon"));
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            restoreFromTray();
    });
    if (!m_options.trayAvailable)
        menuBar()->addMenu(m_menu);

    m_refreshTimer.setObjectName(QStringLiteral("refreshTimer"));
    connect(&m_refreshTimer, &QTimer::timeout, this, &ReaderWindow::refreshTimerProc);

#ifndef QT_NO_SESSIONMANAGER
    // At log-off the close must go through, not hide the window.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager&) { m_sessionEnding = true; });
#endif

    // The start-up steps that need no settings: hidden, titled, docked, "Minimize" offered.
    hide();
    setWindowTitle(QStringLiteral("Quorvel RSS Reader ") + shortDateText());
    resize(readerWidthPx, 3060 / twipsPerPixel);
    dockToTaskbarSide();
    showRestoreItem(false);

    m_settleTimer.setInterval(kSettleCheckMs);
    connect(&m_settleTimer, &QTimer::timeout, this, &ReaderWindow::keepDocked);
    // The strip follows the panel: a changed work area, or another primary screen.
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this,
            &ReaderWindow::followPrimaryScreen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, &ReaderWindow::redockAfterScreenChange);
    connect(qGuiApp, &QGuiApplication::screenRemoved, this,
            &ReaderWindow::redockAfterScreenChange);
    followPrimaryScreen(primaryScreen());

    m_port = std::make_unique<ReaderPortAdapter>(*this, m_prompter);
    m_runner = std::make_unique<RefreshRunner>(store, fetcher, *m_port, m_options.probeAddress);
    connect(m_runner.get(), &RefreshRunner::cycleFinished, this, &ReaderWindow::onCycleFinished);
}

ReaderWindow::~ReaderWindow() {
    shutdown();
}

void ReaderWindow::buildMenu() {
    m_menu = new QMenu(tr("&Menu"), this);
    m_menu->setObjectName(QStringLiteral("rssManager"));

    m_gotoManager = addItem(m_menu, "gotoRssManager", tr("RSS &Manager"));
    m_gotoManager->setEnabled(false);
    connect(m_gotoManager, &QAction::triggered, this, &ReaderWindow::managerRequested);
    addSeparator(m_menu, "hr3");

    m_intervalMenu = m_menu->addMenu(tr("R&efresh"));
    m_intervalMenu->setObjectName(QStringLiteral("rTime"));
    m_intervalMenu->menuAction()->setObjectName(QStringLiteral("rTime"));
    // Item 0 only anchors the group; it is never shown and never marked.
    m_intervalItems[0] = addItem(m_intervalMenu, "rTimeItems0", QStringLiteral("holder"));
    m_intervalItems[0]->setVisible(false);
    m_intervalItems[0]->setEnabled(false);
    for (int item = 1; item <= intervalItemCount; ++item) {
        const QString name = QStringLiteral("rTimeItems%1").arg(item);
        QAction* action = addItem(m_intervalMenu, name.toLatin1().constData(),
                                  QString::number(intervalItemMinutes[item - 1]));
        action->setCheckable(true);
        connect(action, &QAction::triggered, this, [this, item] { chooseInterval(item); });
        m_intervalItems[static_cast<std::size_t>(item)] = action;
    }
    addSeparator(m_menu, "hr1");

    m_print = addItem(m_menu, "print", tr("&Print"));
    connect(m_print, &QAction::triggered, this, &ReaderWindow::printPage);
    m_restore = addItem(m_menu, "mPopRestore", tr("Re&store"));
    connect(m_restore, &QAction::triggered, this, &ReaderWindow::restoreFromTray);
    m_minimize = addItem(m_menu, "mPopMin", tr("Mi&nimize"));
    connect(m_minimize, &QAction::triggered, this, &ReaderWindow::hideToTray);
    m_refresh = addItem(m_menu, "refreshReader", tr("&Refresh"));
    connect(m_refresh, &QAction::triggered, this, &ReaderWindow::requestRefresh);
    addSeparator(m_menu, "hr2");

    m_magnetic = addItem(m_menu, "magnetic", tr("S&tick to Edges"));
    m_magnetic->setCheckable(true);
    connect(m_magnetic, &QAction::triggered, this, [this](bool ticked) {
        if (!storeMagneticSetting(m_store, ticked))
            tell(tr("Quorvel RSS Reader"),
                 tr("\"Stick to Edges\" could not be saved in %1.\nThe choice applies until "
                    "the program ends.")
                     .arg(QDir::toNativeSeparators(m_store.storePath())));
    });
    m_about = addItem(m_menu, "about", tr("&About"));
    connect(m_about, &QAction::triggered, this, &ReaderWindow::showAbout);
    m_exit = addItem(m_menu, "mPopExit", tr("E&xit"));
    connect(m_exit, &QAction::triggered, this, &ReaderWindow::exitReader);
}

void ReaderWindow::start() {
    if (m_started)
        return;
    m_started = true;
    // The page of the last run is shown while the worker reads the settings; the first
    // paint does not wait for the store, the network or the images.
    const QString page = m_store.pagePath();
    const QFileInfo file(page);
    if (file.isFile()) {
        m_startPage = ShownFile{page, file.size(), file.lastModified()};
        m_view->showFile(page);
    }
    m_runner->request();
}

void ReaderWindow::showPage(const QString& path) {
    const std::optional<ShownFile> shown = std::exchange(m_startPage, std::nullopt);
    if (shown && shown->path == path && m_view->pageUrl() == QUrl::fromLocalFile(path)) {
        const QFileInfo file(path);
        if (file.size() == shown->size && file.lastModified() == shown->modified)
            return;
    }
    m_view->showFile(path);
}

// --- What the refresh cycle changes.

void ReaderWindow::showTrayTip(const QString& tip) {
    m_trayTip = tip;
    m_tray->setToolTip(tip);
}

void ReaderWindow::keepFeedOutcomes(const FeedOutcomes& outcomes) {
    m_feedOutcomes = outcomes;
    Q_EMIT feedOutcomesChanged();
}

void ReaderWindow::tickStickToEdges(bool ticked) {
    m_magnetic->setChecked(ticked);
}

void ReaderWindow::appear(bool startMinimised) {
    // The first run may wait long on slow feeds or on a question; the strip and its tray
    // icon are there as soon as the settings are known, with the run's progress in the
    // title and the tip.
    if (m_appeared || m_exiting || m_shutDown)
        return;
    m_appeared = true;
    if (!startMinimised) {
        showOnScreen();
    } else if (m_options.trayAvailable) {
        placeOffScreen();
        showRestoreItem(true);
    } else {
        showMinimized();
        showRestoreItem(true);
    }
    if (m_options.trayAvailable)
        m_tray->show();
}

// --- State queries and the manager hook.

bool ReaderWindow::isRefreshing() const {
    return m_runner->isBusy();
}

int ReaderWindow::finishedCycles() const {
    return m_runner->finishedCycles();
}

void ReaderWindow::setManagerAvailable(bool available) {
    m_gotoManager->setEnabled(available);
}

// --- Refresh cycles and the timer.

void ReaderWindow::requestRefresh() {
    if (m_exiting || m_shutDown)
        return;
    m_runner->request();
}

void ReaderWindow::startRefreshTimer(int ms) {
    if (m_exiting || m_shutDown)
        return;
    m_refreshTimer.start(qMax(1, ms));
}

void ReaderWindow::stopRefreshTimer() {
    m_refreshTimer.stop();
}

void ReaderWindow::refreshTimerProc() {
    requestRefresh();
}

void ReaderWindow::chooseInterval(int item) {
    const int ms = intervalItemMs(item);
    if (ms == 0)
        return;
    stopRefreshTimer();
    startRefreshTimer(ms);
    if (!storeRefreshSetting(m_store, ms))
        tell(tr("Quorvel RSS Reader"),
             tr("The refresh interval could not be saved in %1.\nThe new interval applies "
                "until the program ends.")
                 .arg(QDir::toNativeSeparators(m_store.storePath())));
    uncheckIntervalItems();
    m_intervalItems[static_cast<std::size_t>(item)]->setChecked(true);
}

void ReaderWindow::uncheckIntervalItems() {
    for (int item = 1; item <= intervalItemCount; ++item)
        m_intervalItems[static_cast<std::size_t>(item)]->setChecked(false);
}

void ReaderWindow::markInterval(const QString& refreshText) {
    uncheckIntervalItems();
    if (const int item = intervalItemForSetting(refreshText))
        m_intervalItems[static_cast<std::size_t>(item)]->setChecked(true);
}

void ReaderWindow::onCycleFinished(CycleEnd end) {
    if (!m_startUpDone && !m_exiting && !m_shutDown)
        completeStartUp();
    Q_EMIT cycleFinished(end);
}

void ReaderWindow::completeStartUp() {
    m_startUpDone = true;
    const Settings& settings = m_runner->lastSettings();
    appear(settings.startMinimised);
    startRefreshTimer(refreshIntervalFromText(settings.refreshText));
    Q_EMIT startUpFinished();
}

void ReaderWindow::showOnScreen() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    dockToTaskbarSide();
    raise();
    activateWindow();
}

// --- Placement.

int ReaderWindow::dockToTaskbarSide() {
    QScreen* screen = primaryScreen();
    if (!screen)
        return x();
    m_offScreen = false;
    m_dockTarget = dockRect(screen->geometry(), screen->availableGeometry(), readerWidthPx);
    placeFrame(*m_dockTarget);
    if (isVisible())
        settleDock();
    return x();
}

void ReaderWindow::settleDock() {
    // A window manager frames and places a newly shown window on its own time: the
    // decoration's size is known only then, and its placement policy may move the window
    // after ours. For a short while every report of the frame is checked against the dock.
    m_settling.start();
    m_settleTimer.start();
}

bool ReaderWindow::isSettlingDock() const {
    return m_settleTimer.isActive() && !m_settling.hasExpired(kSettleMs);
}

void ReaderWindow::keepDocked() {
    if (!m_dockTarget || m_placing || m_offScreen || !isVisible() ||
        m_settling.hasExpired(kSettleMs)) {
        m_settleTimer.stop();
        return;
    }
    if (frameGeometry() != *m_dockTarget)
        placeFrame(*m_dockTarget);
}

void ReaderWindow::redockAfterScreenChange() {
    // Only a strip that still stands where it was docked follows the panel; one the user
    // moved stays where the user put it, and one off screen is docked when restored.
    if (!m_dockTarget || m_offScreen || m_exiting || m_shutDown)
        return;
    dockToTaskbarSide();
}

void ReaderWindow::followPrimaryScreen(QScreen* screen) {
    for (const QMetaObject::Connection& connection : m_screenConnections)
        disconnect(connection);
    m_screenConnections.clear();
    if (screen) {
        m_screenConnections << connect(screen, &QScreen::availableGeometryChanged, this,
                                       &ReaderWindow::redockAfterScreenChange)
                            << connect(screen, &QScreen::geometryChanged, this,
                                       &ReaderWindow::redockAfterScreenChange);
    }
    redockAfterScreenChange();
}

void ReaderWindow::placeFrame(const QRect& frame) {
    // The frame rectangle includes the window manager's decoration, which is known only
    // once the window has been framed; geometry() is the inside.
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const QMargins decoration(inner.left() - outer.left(), inner.top() - outer.top(),
                              outer.right() - inner.right(), outer.bottom() - inner.bottom());
    m_placing = true;
    m_ownMoveTarget = frame.topLeft();
    // move() places the frame's corner, so the window manager keeps the title bar inside
    // even before the decoration's size is known here.
    resize(frame.size().shrunkBy(decoration));
    move(frame.topLeft());
    // Where the window system answers at once, correct any offset it added.
    const QPoint error = frameGeometry().topLeft() - frame.topLeft();
    if (!error.isNull())
        move(pos() - error);
    m_placing = false;
}

void ReaderWindow::placeOffScreen() {
    QScreen* screen = primaryScreen();
    m_offScreen = true;
    // Wayland lets no client place its windows, and some window managers pull windows back
    // onto the screen; hidden looks the same to the user: only the tray icon.
    if (!screen || QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        hide();
        return;
    }
    const QRect screenGeometry = screen->geometry();
    placeFrame(QRect(QPoint(offScreenLeft(screenGeometry, width()), frameGeometry().y()),
                     frameGeometry().size()));
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    QTimer::singleShot(200, this, [this, screenGeometry] {
        if (m_offScreen && isVisible() && !isBeyondScreenRight(x(), screenGeometry))
            hide();
    });
}

void ReaderWindow::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    if (m_placing)
        return;
    if (isSettlingDock()) {
        keepDocked();
        return;
    }
    if (m_ownMoveTarget) {
        const bool ours = pos() == *m_ownMoveTarget;
        m_ownMoveTarget.reset();
        if (ours)
            return;
    }
    if (!isVisible() || m_offScreen)
        return;
    m_dockTarget.reset(); // the user moved the strip away from its dock
    if (!m_magnetic->isChecked())
        return;
    QScreen* current = screen();
    if (!current)
        return;
    const QPoint clamped =
        clampToWorkArea(QRect(pos(), frameGeometry().size()), current->availableGeometry());
    if (clamped != pos())
        placeFrame(QRect(clamped, frameGeometry().size()));
}

void ReaderWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!m_placing && isSettlingDock())
        keepDocked();
}

void ReaderWindow::toggleStickToEdges() {
    // trigger() flips the mark and runs the same handler as a click: the mark is stored.
    m_magnetic->trigger();
}

// --- Tray and visibility.

void ReaderWindow::showRestoreItem(bool restoreVisible) {
    m_restore->setVisible(restoreVisible);
    m_minimize->setVisible(!restoreVisible);
}

void ReaderWindow::hideToTray() {
    if (!m_options.trayAvailable) {
        showMinimized();
        showRestoreItem(true);
        return;
    }
    hide();
    showRestoreItem(true);
}

void ReaderWindow::restoreFromTray() {
    if (m_shutDown)
        return;
    // Asked for (a second start, a click on the icon) before the first run has shown
    // anything: the user's wish wins over the start-minimised placement.
    const bool firstShow = !m_appeared;
    if (firstShow) {
        m_appeared = true;
        if (m_options.trayAvailable)
            m_tray->show();
    }
    QScreen* screen = primaryScreen();
    const bool dock =
        firstShow || m_offScreen || (screen && isBeyondScreenRight(x(), screen->geometry()));
    if (dock)
        dockToTaskbarSide();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    if (dock)
        dockToTaskbarSide(); // again, now shown: it settles once the window manager frames it
    raise();
    activateWindow();
    showRestoreItem(false);
}

void ReaderWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    if (m_options.trayAvailable) {
        // Minimised any other way than "Minimize": out of the way into the tray, the items
        // left as they were.
        if (isMinimized())
            QTimer::singleShot(0, this, [this] {
                if (isMinimized())
                    hide();
            });
        return;
    }
    // Without a tray the task list restores the window; keep the items in step with it.
    showRestoreItem(isMinimized());
}

void ReaderWindow::mousePressEvent(QMouseEvent* event) {
    // The window's own area around the page reacts to no right-button press.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QMainWindow::mousePressEvent(event);
}

// --- Closing.

void ReaderWindow::closeEvent(QCloseEvent* event) {
    if (!m_exiting && !m_sessionEnding) {
        // The user's close: the program lives on in the tray.
        event->ignore();
        hideToTray();
        return;
    }
    shutdown();
    event->accept();
    Q_EMIT exited();
}

void ReaderWindow::exitReader() {
    if (m_exiting)
        return;
    m_exiting = true;
    stopRefreshTimer();
    Q_EMIT exitRequested();
    close();
}

void ReaderWindow::shutdown() {
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_exiting = true;
    stopRefreshTimer();
    if (m_tray)
        m_tray->hide();
    if (m_port)
        m_port->close();
    if (m_runner)
        m_runner->shutdown();
}

// --- Menu commands.

void ReaderWindow::showAbout() {
    Message about;
    about.title = tr("About Quorvel RSS Reader");
    about.text =
        tr("Quorvel RSS Reader.\nVersion %1\n\n%2\n\nFor more read ReadMe.txt or click 'OK'")
            .arg(QLatin1String(QUORVEL_VERSION_TEXT), QLatin1String(productAddress));
    about.buttons = MessageButtons::OkCancel;
    if (m_prompter.prompt(about) != MessageAnswer::Ok)
        return;
    for (const QString& path : m_options.readmePaths) {
        if (QFileInfo(path).isFile()) {
            openOnDesktop(path);
            return;
        }
    }
}

void ReaderWindow::printPage() {
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(m_printer.get());
    dialog.setWindowTitle(tr("Print the feeds"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    // "Print" stays off until the view has done; the browser engine prints later.
    m_print->setEnabled(false);
    m_view->print(m_printer.get(), [this](bool ok) {
        m_print->setEnabled(true);
        if (!ok)
            tell(tr("Print"),
                 tr("The page could not be printed on %1.").arg(m_printer->printerName()));
    });
}

void ReaderWindow::openOnDesktop(const QString& path) {
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        tell(tr("Quorvel RSS Reader"),
             tr("No program on this desktop opens %1.").arg(QDir::toNativeSeparators(path)));
}

void ReaderWindow::tell(const QString& title, const QString& text) {
    Message message;
    message.title = title;
    message.text = text;
    message.icon = MessageIcon::Exclamation;
    m_prompter.prompt(message);
}

} // namespace quorvel
