// Runs inside xvfbsession.sh: a real X server whose work area the test changes as a panel
// moving from edge to edge would.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include "reader/docking.h"
#include "readerfixtures.h"

namespace quorvel {
namespace {

using namespace test;

// Publishes the work area as a window manager does when a panel moves or resizes.
bool setWorkArea(const QRect& area) {
    const QString value =
        QStringLiteral("%1,%2,%3,%4").arg(area.x()).arg(area.y()).arg(area.width()).arg(
            area.height());
    return QProcess::execute("xprop", {"-root", "-f", "_NET_WORKAREA", "32c", "-set",
                                       "_NET_WORKAREA", value}) == 0;
}

TEST(DockingOnXTest, TheStripFollowsThePanelToEachEdgeUntilTheUserMovesIt) {
    const QRect startArea(0, 0, 1280, 768); // xvfbsession's bottom panel
    ReaderRig rig;
    ASSERT_TRUE(rig.writeStore());
    ReaderWindow& reader = rig.startReader();
    const QScreen* screen = reader.screen();
    ASSERT_EQ(screen->geometry(), QRect(0, 0, 1280, 800));
    const auto dockedAt = [&](const QRect& frame) {
        return waitUntil([&] { return reader.frameGeometry() == frame; }, 5000);
    };
    EXPECT_TRUE(dockedAt(QRect(985, 0, 295, 768))) << "beside the bottom panel";

    // Top, left, right, then a tie between a left and a bottom panel: the bottom one wins.
    const std::pair<QRect, QRect> moves[] = {
        {QRect(0, 32, 1280, 768), QRect(985, 32, 295, 768)},
        {QRect(64, 0, 1216, 800), QRect(64, 0, 295, 800)},
        {QRect(0, 0, 1216, 800), QRect(921, 0, 295, 800)},
        {QRect(40, 0, 1240, 760), QRect(985, 0, 295, 760)},
        {startArea, QRect(985, 0, 295, 768)},
    };
    for (const auto& [area, strip] : moves) {
        ASSERT_TRUE(setWorkArea(area));
        ASSERT_TRUE(waitUntil([&] { return screen->availableGeometry() == area; }, 5000));
        EXPECT_TRUE(dockedAt(strip)) << area.x() << "," << area.y() << " " << area.width();
    }

    // Once the user has put the strip elsewhere, a panel change leaves it there.
    ASSERT_TRUE(waitUntil([&] { return !reader.isSettlingDock(); }));
    reader.move(300, 100);
    ASSERT_TRUE(waitUntil([&] { return reader.pos() == QPoint(300, 100); }, 5000));
    ASSERT_TRUE(setWorkArea(QRect(0, 32, 1280, 768)));
    ASSERT_TRUE(waitUntil([&] { return screen->availableGeometry().y() == 32; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(reader.pos(), QPoint(300, 100));
    setWorkArea(startArea);
}

// A window manager frames and places each new window on its own time, after the program
// placed it; each start must still end with the whole frame, title bar included, docked.
TEST(DockingOnXTest, UnderAWindowManagerEveryStartDocksTheWholeFrame) {
#ifndef QUORVEL_OPENBOX
    GTEST_SKIP() << "no openbox to manage the windows";
#else
    QProcess manager;
    manager.start(QUORVEL_OPENBOX, {"--sm-disable"});
    ASSERT_TRUE(manager.waitForStarted(5000));
    const auto managed = [] {
        QProcess xprop;
        xprop.start("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"});
        xprop.waitForFinished(5000);
        return xprop.readAllStandardOutput().contains("window id");
    };
    ASSERT_TRUE(waitUntil(managed, 10000));
    // openbox has taken over the screen once it has published its own work area (the whole
    // screen: there is no panel here); a window shown before that may go unframed.
    const QScreen* primary = QGuiApplication::primaryScreen();
    ASSERT_TRUE(
        waitUntil([&] { return primary->availableGeometry() == primary->geometry(); }, 10000));
    for (int start = 0; start < 5; ++start) {
        ReaderRig rig;
        ASSERT_TRUE(rig.writeStore());
        ReaderWindow& reader = rig.startReader();
        const QScreen* screen = reader.screen();
        // The window manager takes over the work area when it starts, so the dock is
        // worked out from the work area as it is at each look.
        const auto dock = [&] {
            return dockRect(screen->geometry(), screen->availableGeometry(), readerWidthPx);
        };
        EXPECT_TRUE(waitUntil(
            [&] {
                return reader.frameGeometry() == dock() && reader.geometry() != dock() &&
                       !reader.isSettlingDock();
            },
            10000))
            << "start " << start << ": frame " << reader.frameGeometry().x() << ","
            << reader.frameGeometry().y() << " " << reader.frameGeometry().width() << "x"
            << reader.frameGeometry().height() << ", inside " << reader.geometry().y()
            << ", work area height " << screen->availableGeometry().height();
    }
    manager.terminate();
    manager.waitForFinished(5000);
    setWorkArea(QRect(0, 0, 1280, 768));
#endif
}

} // namespace
} // namespace quorvel
