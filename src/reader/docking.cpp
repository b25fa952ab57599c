#include "docking.h"

#include <array>
#include <utility>

namespace quorvel {

namespace {

// QRect::right() and bottom() are inclusive; the edges below are exclusive, like the work
// area rectangles the rules were written for.
int rightEdge(const QRect& r) {
    return r.x() + r.width();
}
int bottomEdge(const QRect& r) {
    return r.y() + r.height();
}

} // namespace

TaskbarEdge taskbarEdge(const QRect& screenGeometry, const QRect& availableGeometry,
                        int windowWidth) {
    const std::array<std::pair<PanelEdge, int>, 4> insets{{
        {PanelEdge::Bottom, bottomEdge(screenGeometry) - bottomEdge(availableGeometry)},
        {PanelEdge::Top, availableGeometry.y() - screenGeometry.y()},
        {PanelEdge::Left, availableGeometry.x() - screenGeometry.x()},
        {PanelEdge::Right, rightEdge(screenGeometry) - rightEdge(availableGeometry)},
    }};
    TaskbarEdge result;
    for (const auto& [edge, thickness] : insets) {
        if (thickness > result.thickness) {
            result.edge = edge;
            result.thickness = thickness;
        }
    }
    result.x = result.edge == PanelEdge::Left ? availableGeometry.x()
                                              : rightEdge(availableGeometry) - windowWidth;
    return result;
}

QRect dockRect(const QRect& screenGeometry, const QRect& availableGeometry, int windowWidth) {
    const TaskbarEdge panel = taskbarEdge(screenGeometry, availableGeometry, windowWidth);
    return QRect(panel.x, availableGeometry.y(), windowWidth, availableGeometry.height());
}

QPoint clampToWorkArea(const QRect& requested, const QRect& workArea) {
    int x = requested.x();
    int y = requested.y();
    if (x < workArea.x())
        x = workArea.x();
    if (y < workArea.y())
        y = workArea.y();
    if (x > rightEdge(workArea) - requested.width())
        x = rightEdge(workArea) - requested.width();
    if (y > bottomEdge(workArea) - requested.height())
        y = bottomEdge(workArea) - requested.height();
    return QPoint(x, y);
}

int offScreenLeft(const QRect& screenGeometry, int windowWidth) {
    // 10 twips beyond the width, rounded up to a whole pixel.
    return rightEdge(screenGeometry) + windowWidth + 1;
}

bool isBeyondScreenRight(int x, const QRect& screenGeometry) {
    return x > rightEdge(screenGeometry);
}

} // namespace quorvel
