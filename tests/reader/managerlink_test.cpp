#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/managerlink.h"
#include "manager/managerwindow.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

// A started reader over the feeds /a, /gone (failing), a refused address and a disabled
// feed, with the manager linked to it.
struct ManagerLinkTest : ::testing::Test, ReaderRig {
    std::unique_ptr<ManagerLink> link;

    ReaderWindow& startLinked() {
        server.setRoute("/gone", {.status = 404, .body = "no"});
        const QString off =
            feedElement(server.url("/off")).replace("disabled='false'", "disabled='true'");
        EXPECT_TRUE(writeFile(store.storePath(),
                              storeText(feedElement(server.url("/a")) +
                                        feedElement(server.url("/gone")) +
                                        feedElement("http://127.0.0.1:1/closed") + off)));
        ReaderWindow& reader = makeReader();
        link = std::make_unique<ManagerLink>(reader, store, prompter);
        QSignalSpy started(&reader, &ReaderWindow::startUpFinished);
        reader.start();
        EXPECT_TRUE(waitUntil([&] { return started.count() == 1 && !reader.isRefreshing(); }));
        return reader;
    }

    // "RSS Manager" in the reader's menu.
    ManagerWindow* chooseManager() {
        QAction* item = window->findChild<QAction*>("gotoRssManager");
        EXPECT_TRUE(item && item->isEnabled());
        if (item)
            item->trigger();
        return link->manager();
    }

    QListWidgetItem* row(int i) const {
        auto* list = link->manager()->findChild<QListWidget*>("Feeds");
        return list && i < list->count() ? list->item(i) : nullptr;
    }

    void click(const char* name) {
        auto* button = link->manager()->findChild<QPushButton*>(name);
        ASSERT_TRUE(button) << name;
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Lets deferred deletes and queued calls run for a moment.
    static void settle() {
        waitUntil([] { return false; }, 300);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(ManagerLinkTest, OneManagerAtATimeDoneRefreshesOnceTheTimerFollowsAndExitClosesIt) {
    ReaderWindow& reader = startLinked();
    const int before = reader.finishedCycles();
    ManagerWindow* first = chooseManager();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(chooseManager(), first) << "a second request brings the open one forward";
    int managers = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        managers += qobject_cast<ManagerWindow*>(widget) != nullptr;
    EXPECT_EQ(managers, 1);
    click("done");
    ASSERT_TRUE(waitUntil([&] { return reader.finishedCycles() == before + 1; }));
    settle();
    EXPECT_FALSE(reader.isRefreshing());
    EXPECT_EQ(reader.finishedCycles(), before + 1) << "exactly one refresh";
    EXPECT_FALSE(link->manager());

    // The display tab's new interval restarts the reader's timer with it.
    ASSERT_TRUE(chooseManager());
    QLineEdit* edit = link->manager()->findChild<QComboBox*>("readerRefresh")->lineEdit();
    edit->clear();
    QTest::keyClicks(edit, "1.5");
    click("display_done");
    EXPECT_EQ(reader.refreshTimer().interval(), 90000);
    EXPECT_TRUE(reader.refreshTimer().isActive());
    ASSERT_TRUE(waitUntil([&] { return reader.finishedCycles() == before + 2; }));

    ASSERT_TRUE(chooseManager());
    reader.exitReader();
    settle();
    EXPECT_FALSE(link->manager()) << "Exit closes the manager, which deletes itself";
}

TEST_F(ManagerLinkTest, ManagerRowsFollowTheReadersOutcomes) {
    ReaderWindow& reader = startLinked();
    ASSERT_EQ(reader.feedOutcomes().size(), 3u);
    // Opened after the first cycle: that cycle's outcomes are there at once.
    ASSERT_TRUE(chooseManager());
    ASSERT_TRUE(row(3));
    EXPECT_EQ(row(0)->toolTip(), server.url("/a") + "\nAlpha: loaded with 3 items");
    EXPECT_TRUE(row(0)->icon().isNull());
    EXPECT_EQ(row(1)->toolTip(), server.url("/gone") + "\nFailed: HTTP 404");
    EXPECT_FALSE(row(1)->icon().isNull()) << "a failing feed is marked";
    EXPECT_TRUE(row(2)->toolTip().endsWith("\nFailed: refused"));
    EXPECT_FALSE(row(2)->icon().isNull());
    EXPECT_EQ(row(3)->toolTip(), server.url("/off") + "\nNot loaded yet")
        << "a disabled feed is not fetched";
    EXPECT_TRUE(row(3)->icon().isNull());
    EXPECT_EQ(row(1)->text().section(" | ", 0, 0), server.url("/gone")) << "the row text stays";

    // A cycle that ends while the manager is open: the recovered feed loses its mark.
    server.setRoute("/gone", served(rssFeed("Back", 1)));
    QSignalSpy changed(&reader, &ReaderWindow::feedOutcomesChanged);
    reader.requestRefresh();
    ASSERT_TRUE(waitUntil([&] { return changed.count() == 1 && !reader.isRefreshing(); }));
    EXPECT_EQ(row(1)->toolTip(), server.url("/gone") + "\nBack: loaded with 1 items");
    EXPECT_TRUE(row(1)->icon().isNull());
}

} // namespace
} // namespace quorvel
