#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include "loopbackserver.h"
#include "platform/curlfetcher.h"
#include "reader/docking.h"
#include "reader/feedpage.h"
#include "reader/readerwindow.h"
#include "readerfixtures.h"
#include "store/feedstore.h"

namespace quorvel {
namespace {

using test::served;
using test::spin;
using test::waitUntil;

class ReaderWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        server.setRoute("/probe", served("ok"));
        server.setRoute("/a", served(test::rssFeed("Alpha", 3)));
    }

    void writeStore(bool startMinimised = false, const QString& refresh = "60000",
                    const QString& feedPath = "/a", bool magnetic = false) {
        ASSERT_TRUE(test::writeFile(store.storePath(),
                                    test::storeText(test::feedElement(server.url(feedPath)),
                                                    startMinimised, refresh, magnetic)));
    }

    ReaderWindow& makeReader(bool trayAvailable = true) {
        ReaderOptions options;
        options.trayAvailable = trayAvailable;
        options.probeAddress = server.url("/probe");
        window = std::make_unique<ReaderWindow>(store, fetcher, prompter, options);
        return *window;
    }

    // A reader that has run its start-up to the end.
    ReaderWindow& startReader(bool trayAvailable = true) {
        ReaderWindow& reader = makeReader(trayAvailable);
        QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
        reader.start();
        EXPECT_TRUE(waitUntil([&] { return started.count() == 1; }));
        return reader;
    }

    QAction* item(const QString& name) const { return window->findChild<QAction*>(name); }

    // objectName=caption of each entry of a menu, "-" for separators.
    static QStringList entries(const QMenu* menu) {
        QStringList list;
        for (QAction* a : menu->actions())
            list << a->objectName() + "=" + (a->isSeparator() ? "-" : a->text().remove('&'));
        return list;
    }

    QStringList markedIntervals() const {
        QStringList marked;
        for (QAction* action : item("rTime")->menu()->actions())
            if (action->isChecked())
                marked << action->objectName();
        return marked;
    }

    // "Restore" when only it is offered, "Minimize" when only it is, else "both"/"neither".
    QString offered() const {
        const bool restore = item("mPopRestore")->isVisible();
        const bool minimize = item("mPopMin")->isVisible();
        return restore == minimize ? (restore ? "both" : "neither")
                                   : (restore ? "Restore" : "Minimize");
    }

    QRect expectedDock() const {
        QScreen* screen = QGuiApplication::primaryScreen();
        return dockRect(screen->geometry(), screen->availableGeometry(), readerWidthPx);
    }

    QTemporaryDir dir;
    test::LoopbackServer server;
    FeedStore store{dir.path()};
    CurlFetcher fetcher;
    test::AnsweringPrompter prompter;
    std::unique_ptr<ReaderWindow> window;
};

TEST_F(ReaderWindowTest, TheMenuHoldsEveryItemWithItsCaptionInOrder) {
    writeStore();
    ReaderWindow& reader = makeReader();
    EXPECT_EQ(reader.trayIcon()->contextMenu(), reader.menu());
    EXPECT_EQ(
        entries(reader.menu()),
        QStringList({"gotoRssManager=RSS Manager", "hr3=-", "rTime=Refresh", "hr1=-", "print=Print",
                     "mPopRestore=Restore", "mPopMin=Minimize", "refreshReader=Refresh", "hr2=-",
                     "magnetic=Stick to Edges", "about=About", "mPopExit=Exit"}));
    EXPECT_EQ(entries(item("rTime")->menu()),
              QStringList({"rTimeItems0=holder", "rTimeItems1=1", "rTimeItems2=2", "rTimeItems3=5",
                           "rTimeItems4=10", "rTimeItems5=20", "rTimeItems6=30", "rTimeItems7=60",
                           "rTimeItems8=120"}));
    EXPECT_FALSE(item("rTimeItems0")->isVisible());
    EXPECT_EQ(offered(), "Minimize");
}

TEST_F(ReaderWindowTest, WindowShowsWhileTheFirstCycleLoadsTimerAndTrayIconAfterIt) {
    server.setRoute("/a", served(test::rssFeed("Alpha", 3), 1500));
    writeStore(false, "120000", "/a", true);
    ReaderWindow& reader = makeReader();
    QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/a") == 1; }));
    // The window does not wait for slow feeds: it shows the run's progress in its title.
    ASSERT_TRUE(waitUntil([&] { return reader.isVisible(); }));
    EXPECT_EQ(reader.windowTitle(), "Quorvel RSS Reader Loading...");
    EXPECT_EQ(started.count(), 0);
    EXPECT_FALSE(reader.trayIcon()->isVisible());
    EXPECT_FALSE(reader.refreshTimer().isActive());

    ASSERT_TRUE(waitUntil([&] { return started.count() == 1; }));
    EXPECT_TRUE(reader.isVisible());
    EXPECT_EQ(reader.frameGeometry(), expectedDock());
    EXPECT_EQ(reader.refreshTimer().interval(), 120000);
    EXPECT_TRUE(reader.refreshTimer().isActive());
    EXPECT_TRUE(reader.trayIcon()->isVisible());
    EXPECT_EQ(reader.trayIcon()->toolTip(), "Quorvel RSS Reader\r\nAlpha item 1");
    EXPECT_TRUE(reader.windowTitle().endsWith(" v.1.6.0.0")) << reader.windowTitle().toStdString();
    EXPECT_NEAR(reader.windowOpacity(), 230 / 255.0, 0.01);
    EXPECT_TRUE(reader.windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(item("magnetic")->isChecked());
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems2"}));
    EXPECT_EQ(reader.feedPage()->url(), QUrl::fromLocalFile(store.pagePath()));
}

TEST_F(ReaderWindowTest, StartingMinimisedShowsOnlyTheTrayIconAndRestoringDocks) {
    writeStore(true);
    ReaderWindow& reader = startReader();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_TRUE(!reader.isVisible() || isBeyondScreenRight(reader.x(), screen));
    EXPECT_EQ(offered(), "Restore");
    EXPECT_TRUE(reader.trayIcon()->isVisible());
    item("mPopRestore")->trigger();
    EXPECT_TRUE(reader.isVisible());
    EXPECT_EQ(reader.frameGeometry(), expectedDock());
    EXPECT_EQ(offered(), "Minimize");
}

TEST_F(ReaderWindowTest, CloseHidesRequestsQueueOneMoreAndExitEndsPromptlyForGood) {
    writeStore();
    ReaderWindow& reader = startReader();
    QSignalSpy exited(&reader, &ReaderWindow::exited);
    reader.move(100, 80);
    const QPoint placed = reader.pos();
    EXPECT_FALSE(reader.close());
    EXPECT_FALSE(reader.isVisible());
    EXPECT_EQ(offered(), "Restore");
    EXPECT_TRUE(reader.trayIcon()->isVisible());
    EXPECT_TRUE(reader.refreshTimer().isActive());
    EXPECT_EQ(exited.count(), 0);
    reader.restoreFromTray();
    EXPECT_TRUE(reader.isVisible());
    EXPECT_EQ(reader.pos(), placed) << "a window on screen is not docked again";
    EXPECT_EQ(offered(), "Minimize");

    // Requests while a cycle runs queue exactly one more.
    server.setRoute("/a", served(test::rssFeed("Alpha", 3), 700));
    const int before = reader.finishedCycles();
    reader.requestRefresh();
    reader.requestRefresh();
    item("refreshReader")->trigger();
    reader.startRefreshTimer(50); // ticks while the cycle runs
    spin(300);
    reader.stopRefreshTimer();
    ASSERT_TRUE(waitUntil([&] { return !reader.isRefreshing(); }));
    spin(300);
    EXPECT_EQ(reader.finishedCycles() - before, 2);
    EXPECT_EQ(server.requestCount("/a"), 3);

    // Exit while a cycle waits on a slow feed: no waiting for it, and nothing written.
    const QByteArray pageBefore = test::readFile(store.pagePath());
    server.setRoute("/a", served(test::rssFeed("Alpha", 3), 20000));
    reader.requestRefresh();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/a") == 4; }));
    QElapsedTimer clock;
    clock.start();
    item("mPopExit")->trigger();
    EXPECT_LT(clock.elapsed(), 10000) << "exit waited for the slow feed";
    EXPECT_EQ(exited.count(), 1);
    EXPECT_FALSE(reader.isVisible());
    EXPECT_FALSE(reader.trayIcon()->isVisible());

    item("refreshReader")->trigger();
    reader.startRefreshTimer(1);
    spin(500);
    EXPECT_EQ(server.requestCount("/a"), 4);
    EXPECT_FALSE(reader.refreshTimer().isActive());
    EXPECT_EQ(test::readFile(store.pagePath()), pageBefore) << "the cancelled cycle wrote";
}

TEST_F(ReaderWindowTest, IntervalAndStickToEdgesAreStoredAndApplied) {
    // A refresh setting that is no whole number means one minute.
    writeStore(false, "soon");
    ReaderWindow& reader = startReader();
    EXPECT_EQ(reader.refreshTimer().interval(), 60000);
    EXPECT_TRUE(markedIntervals().isEmpty());

    item("rTimeItems3")->trigger();
    EXPECT_EQ(reader.refreshTimer().interval(), 300000);
    EXPECT_TRUE(test::readFile(store.storePath()).contains("refresh=\"300000\""));
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems3"}));

    // What each cycle's settings read does: 30 minutes marks "30"; 45 marks nothing.
    reader.markIntervalForSetting("1800000");
    spin(50);
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems6"}));
    reader.markIntervalForSetting("2700000");
    spin(50);
    EXPECT_TRUE(markedIntervals().isEmpty());

    const QRect workArea = reader.screen()->availableGeometry();
    const auto moveTo = [&](int x, int y) {
        reader.move(x, y);
        spin(50);
        return reader.frameGeometry();
    };
    EXPECT_LT(moveTo(workArea.x() - 60, workArea.y() - 40).x(), workArea.x())
        << "unticked, the window may leave";

    item("magnetic")->trigger();
    EXPECT_TRUE(test::readFile(store.storePath()).contains("magnetic=\"true\""));
    EXPECT_EQ(moveTo(workArea.x() - 60, workArea.y() - 40).topLeft(), workArea.topLeft());
    EXPECT_EQ(moveTo(workArea.right() - 10, workArea.y() + 10).right(), workArea.right());

    item("magnetic")->trigger(); // unticked again
    EXPECT_TRUE(test::readFile(store.storePath()).contains("magnetic=\"false\""));

    // A store that cannot be written: the user is told, the choice still applies, the file
    // is left alone.
    ASSERT_TRUE(test::writeFile(store.storePath(), "<root"));
    item("rTimeItems8")->trigger();
    EXPECT_EQ(reader.refreshTimer().interval(), 7200000);
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems8"}));
    ASSERT_FALSE(prompter.messages.empty());
    EXPECT_TRUE(
        prompter.messages.back().text.contains(QDir::toNativeSeparators(store.storePath())));
    EXPECT_EQ(test::readFile(store.storePath()), "<root");
}

TEST_F(ReaderWindowTest, ExitWhileAQuestionIsOpenDoesNotHang) {
    writeStore(false, "60000", "/missing");
    struct ExitingPrompter : Prompter {
        ReaderWindow* reader = nullptr;
        MessageAnswer prompt(const Message&) override {
            reader->exitReader(); // chosen from the tray while the box is open
            return MessageAnswer::Ok;
        }
    } exiting;
    ReaderOptions options;
    options.probeAddress = server.url("/probe");
    ReaderWindow reader(store, fetcher, exiting, options);
    exiting.reader = &reader;
    QSignalSpy exited(&reader, &ReaderWindow::exited);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return exited.count() == 1; }));
    EXPECT_FALSE(reader.isRefreshing());
}

TEST_F(ReaderWindowTest, AFailedFeedOffersTheErrorLogFromTheWorkerAndOkOpensIt) {
    writeStore(false, "60000", "/missing");
    test::DesktopCatcher desktop({"file"});
    startReader();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].title, "Error");
    ASSERT_TRUE(waitUntil([&] { return desktop.opened.size() == 1; }));
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(store.errorLogPath()));
}

TEST_F(ReaderWindowTest, WithoutANotificationAreaClosingMinimisesAndTheMenuIsInTheWindow) {
    writeStore();
    ReaderWindow& reader = startReader(false);
    EXPECT_FALSE(reader.windowFlags().testFlag(Qt::Tool)) << "it would leave the task list";
    EXPECT_TRUE(reader.menuBar()->actions().contains(reader.menu()->menuAction()));
    EXPECT_FALSE(reader.close());
    EXPECT_TRUE(reader.isVisible());
    EXPECT_TRUE(reader.isMinimized());
    EXPECT_EQ(offered(), "Restore");
    reader.restoreFromTray();
    EXPECT_FALSE(reader.isMinimized());
    EXPECT_EQ(offered(), "Minimize");
}

TEST_F(ReaderWindowTest, TheUiEventLoopKeepsTurningWhileFiftySlowFeedsLoad) {
    QString feeds;
    for (int i = 0; i < 50; ++i)
        feeds += test::feedElement(server.url(QStringLiteral("/f%1").arg(i)));
    ASSERT_TRUE(test::writeFile(store.storePath(), test::storeText(feeds)));
    ReaderWindow& reader = startReader();
    for (int i = 0; i < 50; ++i) {
        const QString path = QStringLiteral("/f%1").arg(i);
        server.setRoute(path, served(test::rssFeed(path, 20), 400));
    }
    QElapsedTimer sinceTick;
    qint64 longestStall = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
    ticker.start(5);
    sinceTick.start();
    reader.requestRefresh();
    ASSERT_TRUE(waitUntil([&] { return !reader.isRefreshing(); }, 60000));
    // The figure to meet is 100 ms (bench/reader_responsiveness); the margin absorbs a loaded
    // build machine.
    EXPECT_LT(longestStall, 400);
}

} // namespace
} // namespace quorvel
