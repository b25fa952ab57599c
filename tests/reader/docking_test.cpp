#include <gtest/gtest.h>

#include "reader/docking.h"

namespace quorvel {
namespace {

const QRect screen(0, 0, 1920, 1080);
const int width = readerWidthPx;

TEST(DockingTest, TheStripIs4425TwipsWide) {
    EXPECT_EQ(readerWidthPx, 295);
}

struct PanelCase {
    const char* what;
    QRect available;
    PanelEdge edge;
    int thickness;
    QRect strip;
};

// One panel on each edge of a 1920x1080 screen, and the strip the reader docks into.
const PanelCase panelCases[] = {
    {"bottom panel: right edge, from the top down to the panel", QRect(0, 0, 1920, 1040),
     PanelEdge::Bottom, 40, QRect(1625, 0, 295, 1040)},
    {"top panel: right edge, just below it", QRect(0, 32, 1920, 1048), PanelEdge::Top, 32,
     QRect(1625, 32, 295, 1048)},
    {"left panel: just right of it, full height", QRect(64, 0, 1856, 1080), PanelEdge::Left, 64,
     QRect(64, 0, 295, 1080)},
    {"right panel: just left of it, full height", QRect(0, 0, 1870, 1080), PanelEdge::Right, 50,
     QRect(1575, 0, 295, 1080)},
};

TEST(DockingTest, TheStripStandsBesideAPanelOnEachEdge) {
    for (const PanelCase& c : panelCases) {
        SCOPED_TRACE(c.what);
        const TaskbarEdge panel = taskbarEdge(screen, c.available, width);
        EXPECT_EQ(panel.edge, c.edge);
        EXPECT_EQ(panel.thickness, c.thickness);
        EXPECT_EQ(panel.x, c.strip.x());
        EXPECT_EQ(dockRect(screen, c.available, width), c.strip);
    }
}

TEST(DockingTest, NoPanelCountsAsARightPanelOfNoThickness) {
    const TaskbarEdge panel = taskbarEdge(screen, screen, width);
    EXPECT_EQ(panel.edge, PanelEdge::Right);
    EXPECT_EQ(panel.thickness, 0);
    EXPECT_EQ(dockRect(screen, screen, width), QRect(1625, 0, 295, 1080));
}

TEST(DockingTest, TheWidestPanelNamesTheEdgeWhenThereAreSeveral) {
    // A thin top bar and a wide dock on the left: the strip stands beside the dock and
    // still keeps clear of the top bar.
    const QRect available(70, 27, 1850, 1053);
    EXPECT_EQ(taskbarEdge(screen, available, width).edge, PanelEdge::Left);
    EXPECT_EQ(dockRect(screen, available, width), QRect(70, 27, 295, 1053));
}

TEST(DockingTest, ASecondScreenIsMeasuredFromItsOwnOrigin) {
    const QRect right(1920, 0, 1280, 1024);
    const QRect available(1920, 0, 1280, 984);
    EXPECT_EQ(taskbarEdge(right, available, width).edge, PanelEdge::Bottom);
    EXPECT_EQ(dockRect(right, available, width), QRect(3200 - 295, 0, 295, 984));
}

const QRect workArea(0, 0, 1920, 1040); // a 40 px panel at the bottom

TEST(ClampTest, AMoveInsideTheWorkAreaIsLeftAlone) {
    EXPECT_EQ(clampToWorkArea(QRect(100, 200, 295, 600), workArea), QPoint(100, 200));
}

TEST(ClampTest, AMovePastTheLeftOrTopEdgeStopsOnIt) {
    EXPECT_EQ(clampToWorkArea(QRect(-40, 100, 295, 600), workArea), QPoint(0, 100));
    EXPECT_EQ(clampToWorkArea(QRect(40, -100, 295, 600), workArea), QPoint(40, 0));
}

TEST(ClampTest, AMoveDownOverTheBottomPanelStopsOnThePanelsTop) {
    EXPECT_EQ(clampToWorkArea(QRect(300, 700, 295, 600), workArea), QPoint(300, 440));
}

TEST(ClampTest, AMovePastTheRightEdgeStopsWithTheRightEdgeOnIt) {
    EXPECT_EQ(clampToWorkArea(QRect(1800, 10, 295, 600), workArea), QPoint(1625, 10));
}

TEST(ClampTest, AnOversizedWindowEndsWithItsRightAndBottomEdgesOnTheWorkArea) {
    // The left/top rules put it at the origin first; the right/bottom rules come last and win.
    EXPECT_EQ(clampToWorkArea(QRect(-10, -10, 2000, 1100), workArea), QPoint(-80, -60));
    EXPECT_EQ(clampToWorkArea(QRect(50, 50, 2000, 1100), workArea), QPoint(-80, -60));
}

TEST(ClampTest, AWorkAreaAwayFromTheOriginIsHonoured) {
    const QRect shifted(64, 32, 1856, 1048);
    EXPECT_EQ(clampToWorkArea(QRect(0, 0, 295, 600), shifted), QPoint(64, 32));
    EXPECT_EQ(clampToWorkArea(QRect(1900, 900, 295, 600), shifted), QPoint(1625, 480));
}

TEST(OffScreenTest, TheStartMinimisedPlaceLiesBeyondTheRightEdgeByMoreThanTheWidth) {
    const int x = offScreenLeft(screen, width);
    EXPECT_GT(x, 1920 + 295);
    EXPECT_TRUE(isBeyondScreenRight(x, screen));
    EXPECT_FALSE(isBeyondScreenRight(1625, screen));
    EXPECT_FALSE(isBeyondScreenRight(1920, screen)); // on the edge is not beyond it
}

} // namespace
} // namespace quorvel
