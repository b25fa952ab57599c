#include <gtest/gtest.h>

#include "reader/docking.h"

namespace quorvel {
namespace {

const QRect screen(0, 0, 1920, 1080);

TEST(DockingTest, TheStripStandsBesideThePanel) {
    // Screen, work area, strip: a panel at each edge, none, bar plus dock, a second screen.
    const QRect cases[][3] = {
        {screen, QRect(0, 0, 1920, 1040), QRect(1625, 0, 295, 1040)},
        {screen, QRect(0, 32, 1920, 1048), QRect(1625, 32, 295, 1048)},
        {screen, QRect(64, 0, 1856, 1080), QRect(64, 0, 295, 1080)},
        {screen, QRect(0, 0, 1870, 1080), QRect(1575, 0, 295, 1080)},
        {screen, screen, QRect(1625, 0, 295, 1080)},
        {screen, QRect(70, 27, 1850, 1053), QRect(70, 27, 295, 1053)},
        {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 984), QRect(2905, 0, 295, 984)}};
    for (const auto& c : cases)
        EXPECT_EQ(dockRect(c[0], c[1], readerWidthPx), c[2]) << "case " << &c - cases;
}

TEST(DockingTest, ATieBetweenPanelEdgesGoesToTheBottomThenTopThenLeftPanel) {
    // Equal insets at two edges: a panel across the screen wins over one at its side, and
    // a left panel over a right one.
    const std::pair<QRect, PanelEdge> cases[] = {
        {QRect(40, 0, 1880, 1040), PanelEdge::Bottom}, // left and bottom, 40 px each
        {QRect(0, 30, 1890, 1050), PanelEdge::Top},    // top and right
        {QRect(0, 30, 1920, 1020), PanelEdge::Bottom}, // top and bottom
        {QRect(50, 0, 1820, 1080), PanelEdge::Left},   // left and right
    };
    for (const auto& [workArea, edge] : cases) {
        const TaskbarEdge panel = taskbarEdge(screen, workArea, readerWidthPx);
        EXPECT_EQ(panel.edge, edge) << workArea.x() << "," << workArea.y();
        const int expectedX = edge == PanelEdge::Left ? workArea.x()
                                                      : workArea.x() + workArea.width() - 295;
        EXPECT_EQ(dockRect(screen, workArea, readerWidthPx),
                  QRect(expectedX, workArea.y(), 295, workArea.height()));
    }
}

TEST(DockingTest, TheDockFollowsAChangingWorkArea) {
    // The panel moves from the bottom to the left, grows, and goes away; then a smaller
    // screen (scaled, or another one made primary).
    const std::pair<QRect, QRect> steps[] = {
        {QRect(0, 0, 1920, 1040), QRect(1625, 0, 295, 1040)},
        {QRect(48, 0, 1872, 1080), QRect(48, 0, 295, 1080)},
        {QRect(96, 0, 1824, 1080), QRect(96, 0, 295, 1080)},
        {screen, QRect(1625, 0, 295, 1080)},
    };
    for (const auto& [workArea, strip] : steps)
        EXPECT_EQ(dockRect(screen, workArea, readerWidthPx), strip) << workArea.x();
    const QRect small(0, 0, 1024, 600);
    EXPECT_EQ(dockRect(small, QRect(0, 0, 1024, 570), readerWidthPx), QRect(729, 0, 295, 570));
}

TEST(DockingTest, MovesStayInsideTheWorkAreaAndTheStartMinimisedPlaceIsBeyondTheScreen) {
    const QRect workArea(0, 0, 1920, 1040); // a 40 px panel at the bottom
    // Inside, past each edge, and larger than the area: the right and bottom edges win.
    const std::pair<QRect, QPoint> cases[] = {{QRect(100, 200, 295, 600), QPoint(100, 200)},
                                              {QRect(-40, 100, 295, 600), QPoint(0, 100)},
                                              {QRect(40, -100, 295, 600), QPoint(40, 0)},
                                              {QRect(300, 700, 295, 600), QPoint(300, 440)},
                                              {QRect(1800, 10, 295, 600), QPoint(1625, 10)},
                                              {QRect(-10, -10, 2000, 1100), QPoint(-80, -60)}};
    for (const auto& [requested, clamped] : cases)
        EXPECT_EQ(clampToWorkArea(requested, workArea), clamped) << requested.x();
    EXPECT_EQ(clampToWorkArea(QRect(0, 0, 295, 600), QRect(64, 32, 1856, 1048)), QPoint(64, 32));

    const int x = offScreenLeft(screen, readerWidthPx);
    EXPECT_TRUE(isBeyondScreenRight(x, screen));
    EXPECT_FALSE(isBeyondScreenRight(1920, screen)); // on the edge is not beyond it
}

} // namespace
} // namespace quorvel
