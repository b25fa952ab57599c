#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTest>

#include "reader/docking.h"
#include "reader/lightview.h"
#include "reader/pageview.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

struct ReaderWindowTest : ::testing::Test, ReaderRig {
    QAction* item(const QString& name) const { return window->findChild<QAction*>(name); }

    QStringList markedIntervals() const {
        QStringList marked;
        for (QAction* action : item("rTime")->menu()->actions())
            if (action->isChecked())
                marked << action->objectName();
        return marked;
    }

    // Which of Restore and Minimize the menu offers.
    QString offered() const {
        return QString(item("mPopRestore")->isVisible() ? "Restore" : "") +
               (item("mPopMin")->isVisible() ? "Minimize" : "");
    }
};

TEST_F(ReaderWindowTest, StripAndTrayIconShowWhileTheFirstCycleLoadsAndTheTimerStartsAfterIt) {
    server.setRoute("/a", served(rssFeed("Alpha", 3), 1500));
    ASSERT_TRUE(writeStore(false, "120000"));
    ReaderWindow& reader = makeReader();
    EXPECT_EQ(reader.trayIcon()->contextMenu(), reader.menu());
    QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/a") == 1; }));
    // The window does not wait for slow feeds: it shows the run's progress in its title.
    ASSERT_TRUE(
        waitUntil([&] { return reader.windowTitle() == "Quorvel RSS Reader Loading..."; }));
    EXPECT_TRUE(reader.isVisible());
    EXPECT_TRUE(reader.trayIcon()->isVisible()) << "the tray icon comes with the strip";
    // A window manager's placement of the newly shown window is undone (checked below).
    ASSERT_TRUE(reader.isSettlingDock());
    reader.move(0, 0);
    EXPECT_EQ(started.count(), 0);
    EXPECT_FALSE(reader.refreshTimer().isActive());

    ASSERT_TRUE(waitUntil([&] { return started.count() == 1; }));
    const QScreen* screen = reader.screen();
    EXPECT_EQ(reader.frameGeometry(),
              dockRect(screen->geometry(), screen->availableGeometry(), readerWidthPx));
    EXPECT_EQ(reader.refreshTimer().interval(), 120000);
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems2"}));
    EXPECT_TRUE(reader.refreshTimer().isActive());
    EXPECT_TRUE(reader.trayIcon()->isVisible());
    EXPECT_EQ(reader.trayIcon()->toolTip(), "Quorvel RSS Reader\r\nAlpha item 1");
    EXPECT_EQ(reader.pageView()->pageUrl(), QUrl::fromLocalFile(store.pagePath()));
    EXPECT_NEAR(reader.windowOpacity(), 230 / 255.0, 0.01) << "the store's transparency";
}

TEST_F(ReaderWindowTest, TheErrorOfferComesAfterTheNewPageAndTicksWhileItIsOpenQueueOneRun) {
    server.setRoute("/a", served(rssFeed("Alpha", 3), 300));
    ASSERT_TRUE(writeFile(store.storePath(), storeText(feedElement(server.url("/a")) +
                                                       feedElement(server.url("/missing")))));
    // Looks at the window while the question is open, with timer ticks falling meanwhile,
    // as they do while a message box waits for the user.
    struct LookingPrompter : Prompter {
        ReaderWindow* reader = nullptr;
        int asked = 0;
        bool stripAndIconShown = false;
        QString pageText;
        QStringList outcomes;
        MessageAnswer prompt(const Message&) override {
            ++asked;
            for (const FeedOutcome& outcome : reader->feedOutcomes())
                outcomes << feedCheckSummary(outcome.check);
            stripAndIconShown = reader->isVisible() && reader->trayIcon()->isVisible();
            waitUntil(
                [&] {
                    // The reader's default view is the light one, a text browser.
                    if (auto* text = qobject_cast<QTextBrowser*>(reader->pageView()->widget()))
                        pageText = text->toPlainText();
                    return pageText.contains("Alpha item 1");
                },
                5000);
            reader->startRefreshTimer(20);
            QTest::qWait(400);
            reader->stopRefreshTimer();
            return MessageAnswer::Cancel;
        }
    } looking;
    ReaderWindow& reader = makeReader(true, &looking);
    looking.reader = &reader;
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return reader.finishedCycles() == 2 && !reader.isRefreshing(); }));
    QTest::qWait(300);
    EXPECT_EQ(looking.asked, 1) << "the queued run failed the same way: no second question";
    EXPECT_TRUE(looking.stripAndIconShown);
    EXPECT_EQ(looking.outcomes, QStringList({"Alpha: loaded with 3 items", "Failed: HTTP 404"}))
        << "the reader holds what the run found before it asks";
    EXPECT_EQ(reader.feedOutcomes().size(), 2u);
    EXPECT_TRUE(looking.pageText.contains("Alpha item 1")) << "the old page behind the question";
    EXPECT_EQ(reader.finishedCycles(), 2) << "twenty ticks, one queued run";
    EXPECT_EQ(server.requestCount("/a"), 2);
    window.reset(); // before the prompter it uses
}

TEST_F(ReaderWindowTest, AnUnchangedPageIsNotLoadedAgainAndAChangedOneIs) {
    Response feed = served(rssFeed("Alpha", 3));
    feed.etag = "\"1\"";
    server.setRoute("/a", feed);
    ASSERT_TRUE(writeStore());
    ReaderWindow& reader = makeReader();
    QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
    // The reader's default view is the light one; it says when it has shown a page.
    auto* view = qobject_cast<LightView*>(reader.pageView()->widget());
    ASSERT_NE(view, nullptr);
    QSignalSpy shown(view, &LightView::pageShown);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return started.count() == 1 && shown.count() >= 1; }));
    QSignalSpy loads(view, &LightView::pageShown);
    const auto refreshed = [&] {
        reader.requestRefresh();
        return waitUntil([&] { return !reader.isRefreshing(); });
    };

    ASSERT_TRUE(refreshed());
    QTest::qWait(300); // a load the cycle asked for would have started by now
    EXPECT_EQ(loads.count(), 0);

    server.setRoute("/a", served(rssFeed("Alpha", 4)));
    ASSERT_TRUE(refreshed());
    EXPECT_TRUE(waitUntil([&] { return loads.count() >= 1; }));
}

TEST_F(ReaderWindowTest, ThePageOnDiskShowsBeforeTheCycleAndIsBuiltAgainOnlyWhenChanged) {
    Response offline = served("");
    offline.status = 404;
    server.setRoute("/probe", offline); // the cycle shows the page on disk and stops
    ASSERT_TRUE(writeStore());
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed" : "unchanged");
        ASSERT_TRUE(writeFile(store.pagePath(), "<html><body><p>Earlier page</p></body></html>"));
        ReaderWindow& reader = makeReader();
        auto* view = qobject_cast<LightView*>(reader.pageView()->widget());
        ASSERT_NE(view, nullptr);
        QSignalSpy shown(view, &LightView::pageShown);
        QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
        reader.start();
        EXPECT_TRUE(view->toPlainText().contains("Earlier page")) << "before any event";
        if (changed)
            ASSERT_TRUE(writeFile(store.pagePath(), "<html><body><p>Newer page text</p></body></html>"));
        ASSERT_TRUE(waitUntil([&] { return started.count() == 1; }));
        QTest::qWait(100);
        // A changed page is built again (twice when the cycle looked before the change).
        if (changed)
            EXPECT_GE(shown.count(), 2);
        else
            EXPECT_EQ(shown.count(), 1) << "the cycle's look at the same file builds nothing";
        EXPECT_EQ(view->toPlainText().contains("Newer page text"), changed);
        window.reset();
    }
}

TEST_F(ReaderWindowTest, CloseHidesAndExitEndsPromptlyForGood) {
    ASSERT_TRUE(writeStore());
    ReaderWindow& reader = startReader();
    QSignalSpy exited(&reader, &ReaderWindow::exited);
    ASSERT_TRUE(waitUntil([&] { return !reader.isSettlingDock(); }));
    reader.move(100, 80);
    const QPoint placed = reader.pos();
    EXPECT_EQ(placed, QPoint(100, 80)) << "the user's move stands once the dock has settled";
    EXPECT_FALSE(reader.close());
    EXPECT_FALSE(reader.isVisible());
    EXPECT_EQ(offered(), "Restore");
    EXPECT_TRUE(reader.trayIcon()->isVisible());
    EXPECT_TRUE(reader.refreshTimer().isActive());
    EXPECT_EQ(exited.count(), 0);
    Q_EMIT reader.trayIcon()->activated(QSystemTrayIcon::Trigger); // a left click on the icon
    EXPECT_TRUE(reader.isVisible());
    EXPECT_EQ(reader.pos(), placed) << "a window on screen is not docked again";
    EXPECT_EQ(offered(), "Minimize");

    // Exit while a cycle waits on a slow feed: no waiting for it, and nothing written.
    const QByteArray pageBefore = readFile(store.pagePath());
    server.setRoute("/a", served(rssFeed("Alpha", 3), 20000));
    const int requests = server.requestCount("/a");
    item("refreshReader")->trigger();
    ASSERT_TRUE(waitUntil([&] { return server.requestCount("/a") == requests + 1; }));
    QElapsedTimer clock;
    clock.start();
    item("mPopExit")->trigger();
    EXPECT_LT(clock.elapsed(), 10000) << "exit waited for the slow feed";
    EXPECT_EQ(exited.count(), 1);
    EXPECT_FALSE(reader.isVisible());
    EXPECT_FALSE(reader.trayIcon()->isVisible());

    item("refreshReader")->trigger();
    reader.startRefreshTimer(1);
    QTest::qWait(500);
    EXPECT_EQ(server.requestCount("/a"), requests + 1);
    EXPECT_FALSE(reader.refreshTimer().isActive());
    EXPECT_EQ(readFile(store.pagePath()), pageBefore) << "the cancelled cycle wrote";
}

TEST_F(ReaderWindowTest, IntervalAndStickToEdgesAreStoredAndApplied) {
    ASSERT_TRUE(writeStore(false, "soon")); // no whole number: one minute
    ReaderWindow& reader = startReader();
    EXPECT_EQ(reader.refreshTimer().interval(), 60000);
    EXPECT_TRUE(markedIntervals().isEmpty());

    item("rTimeItems3")->trigger();
    EXPECT_EQ(reader.refreshTimer().interval(), 300000);
    EXPECT_TRUE(readFile(store.storePath()).contains("refresh=\"300000\""));
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems3"}));

    const QRect workArea = reader.screen()->availableGeometry();
    ASSERT_TRUE(waitUntil([&] { return !reader.isSettlingDock(); }));
    const auto moveOut = [&] {
        reader.move(workArea.x() - 60, workArea.y() - 40);
        QTest::qWait(50);
        return reader.frameGeometry().topLeft();
    };
    EXPECT_LT(moveOut().x(), workArea.x()) << "unticked, the window may leave";
    item("magnetic")->trigger();
    EXPECT_TRUE(readFile(store.storePath()).contains("magnetic=\"true\""));
    EXPECT_EQ(moveOut(), workArea.topLeft());

    // An unwritable store: the user is told, the choice still applies, the file is left alone.
    ASSERT_TRUE(writeFile(store.storePath(), "<root"));
    item("rTimeItems8")->trigger();
    EXPECT_EQ(reader.refreshTimer().interval(), 7200000);
    EXPECT_EQ(markedIntervals(), QStringList({"rTimeItems8"}));
    ASSERT_FALSE(prompter.prompts.empty());
    EXPECT_TRUE(prompter.prompts.back().text.contains(QDir::toNativeSeparators(store.storePath())));
    EXPECT_EQ(readFile(store.storePath()), "<root");
}

TEST_F(ReaderWindowTest, AFailedFeedOffersTheErrorLogAndExitWhileTheQuestionIsOpenDoesNotHang) {
    ASSERT_TRUE(writeStore(false, "60000", "/missing"));
    DesktopCatcher desktop({"file"});
    startReader();
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "Error");
    ASSERT_TRUE(waitUntil([&] { return desktop.opened.size() == 1; }));
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(store.errorLogPath()));

    struct ExitingPrompter : Prompter {
        ReaderWindow* reader = nullptr;
        MessageAnswer prompt(const Message&) override {
            reader->exitReader(); // chosen from the tray while the box is open
            return MessageAnswer::Ok;
        }
    } exiting;
    ReaderWindow& reader = makeReader(true, &exiting);
    exiting.reader = &reader;
    QSignalSpy exited(&reader, &ReaderWindow::exited);
    reader.start();
    ASSERT_TRUE(waitUntil([&] { return exited.count() == 1; }));
    EXPECT_FALSE(reader.isRefreshing());
    window.reset(); // before the prompter it uses
}

TEST_F(ReaderWindowTest, AFirstStartAnUnreadableFeedListAndAnEarlyRestoreStartOnScreen) {
    ReaderOptions offline; // no feed is ever fetched
    offline.probeAddress = "http://127.0.0.1:1/";
    const auto startsOnScreen = [&](bool restoreAtOnce) {
        window.reset();
        window = std::make_unique<ReaderWindow>(store, fetcher, prompter, offline);
        QSignalSpy started(window.get(), &ReaderWindow::startUpFinished);
        window->start();
        if (restoreAtOnce)
            window->restoreFromTray(); // a second start handed over at once
        EXPECT_TRUE(waitUntil([&] { return started.count() == 1; }));
        QTest::qWait(300);
        const QRect screen = window->screen()->geometry();
        return window->isVisible() && !isBeyondScreenRight(window->x(), screen) &&
               offered() == "Minimize" && window->trayIcon()->isVisible();
    };
    EXPECT_TRUE(startsOnScreen(false)) << "no feed list yet";
    EXPECT_TRUE(readFile(store.storePath()).contains("min=\"false\""));
    ASSERT_TRUE(writeFile(store.storePath(), "<root"));
    EXPECT_TRUE(startsOnScreen(false)) << "a feed list that cannot be read";
    ASSERT_TRUE(writeStore(true));
    EXPECT_TRUE(startsOnScreen(true)) << "a restore before the settings are read beats min";
}

TEST_F(ReaderWindowTest, AboutShowsTheVersionAndOnOkOpensTheReadmeFoundFirst) {
    ASSERT_TRUE(writeStore());
    ReaderOptions options;
    options.probeAddress = server.url("/probe");
    options.readmePaths = {dir.filePath("missing.txt"), dir.filePath("readme.txt")};
    ASSERT_TRUE(writeFile(dir.filePath("readme.txt"), "read me"));
    window = std::make_unique<ReaderWindow>(store, fetcher, prompter, options);
    DesktopCatcher desktop({"file"});
    prompter.answers = {MessageAnswer::Cancel, MessageAnswer::Ok};
    item("about")->trigger();
    ASSERT_EQ(prompter.prompts.size(), 1u);
    EXPECT_EQ(prompter.prompts[0].title, "About Quorvel RSS Reader");
    EXPECT_TRUE(prompter.prompts[0].text.startsWith("Quorvel RSS Reader.\nVersion " QUORVEL_VERSION_TEXT "\n"))
        << prompter.prompts[0].text.toStdString();
    EXPECT_TRUE(desktop.opened.isEmpty()) << "Cancel opens nothing";
    item("about")->trigger();
    EXPECT_EQ(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(dir.filePath("readme.txt"))});
}

TEST_F(ReaderWindowTest, WithoutANotificationAreaClosingMinimisesAndTheMenuIsInTheWindow) {
    ASSERT_TRUE(writeStore());
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

} // namespace
} // namespace quorvel
