#include <gtest/gtest.h>

#include "reader/docking.h"

namespace quorvel {
namespace {

const QRect screen(0, 0, 1920, 1080);

TEST(DockingTest, TheStripStandsBesideTheThickestPanelAndTiesGoBottomTopLeftRight) {
    const struct {
        QRect screen, workArea, strip;
        PanelEdge edge;
    } cases[] = {
        {screen, QRect(0, 0, 1920, 1040), QRect(1625, 0, 295, 1040), PanelEdge::Bottom},
        {screen, QRect(0, 32, 1920, 1048), QRect(1625, 32, 295, 1048), PanelEdge::Top},
        {screen, QRect(64, 0, 1856, 1080), QRect(64, 0, 295, 1080), PanelEdge::Left},
        {screen, QRect(0, 0, 1870, 1080), QRect(1575, 0, 295, 1080), PanelEdge::Right},
        {screen, screen, QRect(1625, 0, 295, 1080), PanelEdge::Right}, // no panel
        {screen, QRect(70, 27, 1850, 1053), QRect(70, 27, 295, 1053), PanelEdge::Left},
        // Equal insets at two edges.
        {screen, QRect(40, 0, 1880, 1040), QRect(1625, 0, 295, 1040), PanelEdge::Bottom},
        {screen, QRect(0, 30, 1890, 1050), QRect(1595, 30, 295, 1050), PanelEdge::Top},
        {screen, QRect(0, 30, 1920, 1020), QRect(1625, 30, 295, 1020), PanelEdge::Bottom},
        {screen, QRect(50, 0, 1820, 1080), QRect(50, 0, 295, 1080), PanelEdge::Left},
        // A second screen, and a small one.
        {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 984), QRect(2905, 0, 295, 984),
         PanelEdge::Bottom},
        {QRect(0, 0, 1024, 600), QRect(0, 0, 1024, 570), QRect(729, 0, 295, 570),
         PanelEdge::Bottom},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dockRect(c.screen, c.workArea, readerWidthPx), c.strip) << "case " << &c - cases;
        EXPECT_EQ(taskbarEdge(c.screen, c.workArea, readerWidthPx).edge, c.edge)
            << "case " << &c - cases;
    }
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
