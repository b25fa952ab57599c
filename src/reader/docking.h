#pragma once

#include <QPoint>
#include <QRect>

namespace quorvel {

// Window geometry is laid out in twips in the original design: 15 twips make one pixel.
inline constexpr int twipsPerPixel = 15;
// The reader strip's width: 4425 twips.
inline constexpr int readerWidthPx = 4425 / twipsPerPixel;

// The screen edge a desktop panel sits on.
enum class PanelEdge { Left, Top, Right, Bottom };

// Where the reader strip goes beside the panel: x is the strip's left edge, thickness the
// panel's thickness across its edge (0 when there is no panel), edge the panel's side.
struct TaskbarEdge {
    int x = 0;
    int thickness = 0;
    PanelEdge edge = PanelEdge::Right;
};

// Derives the panel from what the screen's available geometry leaves out of its geometry:
// the widest strip left out names the edge (ties: bottom, top, left, right). No panel counts
// as a right panel of thickness 0. x puts a strip of windowWidth just right of a left panel,
// or with its right edge on the available area's right edge otherwise.
TaskbarEdge taskbarEdge(const QRect& screenGeometry, const QRect& availableGeometry,
                        int windowWidth);

// The docked strip's frame rectangle: windowWidth wide at taskbarEdge's x, reaching from the
// available area's top to its bottom (full screen height beside a left or right panel, below
// a top panel, above a bottom panel).
QRect dockRect(const QRect& screenGeometry, const QRect& availableGeometry, int windowWidth);

// Where a window asked to move to `requested` stays inside workArea, applying in this order:
// left edge up to the area's left, top up to its top, right edge back to the area's right,
// bottom back to its bottom. A window larger than the area ends with its right or bottom
// edge on the area's edge, since those rules come last.
QPoint clampToWorkArea(const QRect& requested, const QRect& workArea);

// The left edge that places a window of windowWidth just beyond the screen's right edge.
int offScreenLeft(const QRect& screenGeometry, int windowWidth);

// True when a window whose left edge is x lies beyond the screen's right edge.
bool isBeyondScreenRight(int x, const QRect& screenGeometry);

} // namespace quorvel
