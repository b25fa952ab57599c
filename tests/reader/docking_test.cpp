#include <gtest/gtest.h>

#include "reader/docking.h"

namespace quorvel {
namespace {

const QRect screen(0, 0, 1920, 1080);

struct PanelCase {
    const char* what;
    QRect screen;
    QRect available;
    PanelEdge edge;
    int thickness;
    QRect strip;
};

// The 295 px (4425 twip) strip beside a panel on each edge, and where there is none.
const PanelCase panelCases[] = {
    {"bottom: right edge, from the top down to the panel", screen, QRect(0, 0, 1920, 1040),
     PanelEdge::Bottom, 40, QRect(1625, 0, 295, 1040)},
    {"top: right edge, just below it", screen, QRect(0, 32, 1920, 1048), PanelEdge::Top, 32,
     QRect(1625, 32, 295, 1048)},
    {"left: just right of it, full height", screen, QRect(64, 0, 1856, 1080), PanelEdge::Left, 64,
     QRect(64, 0, 295, 1080)},
    {"right: just left of it, full height", screen, QRect(0, 0, 1870, 1080), PanelEdge::Right, 50,
     QRect(1575, 0, 295, 1080)},
    {"none: right edge, full height", screen, screen, PanelEdge::Right, 0,
     QRect(1625, 0, 295, 1080)},
    {"a thin top bar and a wide left dock: beside the dock, clear of the bar", screen,
     QRect(70, 27, 1850, 1053), PanelEdge::Left, 70, QRect(70, 27, 295, 1053)},
    {"a second screen right of the first", QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 984),
     PanelEdge::Bottom, 40, QRect(2905, 0, 295, 984)},
};

TEST(DockingTest, TheStripStandsBesideThePanel) {
    for (const PanelCase& c : panelCases) {
        SCOPED_TRACE(c.what);
        const TaskbarEdge panel = taskbarEdge(c.screen, c.available, readerWidthPx);
        EXPECT_EQ(panel.edge, c.edge);
        EXPECT_EQ(panel.thickness, c.thickness);
        EXPECT_EQ(panel.x, c.strip.x());
        EXPECT_EQ(dockRect(c.screen, c.available, readerWidthPx), c.strip);
    }
}

TEST(ClampTest, UserMovesStayInsideTheWorkAreaRightAndBottomEdgesWinning) {
    const QRect workArea(0, 0, 1920, 1040); // a 40 px panel at the bottom
    const struct {
        const char* what;
        QRect requested;
        QPoint clamped;
    } cases[] = {
        {"inside: left alone", QRect(100, 200, 295, 600), QPoint(100, 200)},
        {"past the left edge", QRect(-40, 100, 295, 600), QPoint(0, 100)},
        {"past the top", QRect(40, -100, 295, 600), QPoint(40, 0)},
        {"down over the panel: bottom on its top", QRect(300, 700, 295, 600), QPoint(300, 440)},
        {"past the right edge", QRect(1800, 10, 295, 600), QPoint(1625, 10)},
        {"larger than the area, from above left", QRect(-10, -10, 2000, 1100), QPoint(-80, -60)},
        {"larger than the area, from inside", QRect(50, 50, 2000, 1100), QPoint(-80, -60)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(clampToWorkArea(c.requested, workArea), c.clamped) << c.what;
    EXPECT_EQ(clampToWorkArea(QRect(0, 0, 295, 600), QRect(64, 32, 1856, 1048)), QPoint(64, 32));
}

TEST(OffScreenTest, TheStartMinimisedPlaceLiesBeyondTheRightEdge) {
    const int x = offScreenLeft(screen, readerWidthPx);
    EXPECT_GT(x, 1920 + 295);
    EXPECT_TRUE(isBeyondScreenRight(x, screen));
    EXPECT_FALSE(isBeyondScreenRight(1920, screen)); // on the edge is not beyond it
}

} // namespace
} // namespace quorvel
