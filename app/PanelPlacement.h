#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

// Where the panel goes and how tall it is: plain geometry, so it is tested without a display.
namespace PanelPlacement {

inline constexpr int panelWidth = 320;
inline constexpr int gap = 4;     // between the icon and the panel
inline constexpr int margin = 4;  // kept free at the screen's edges

struct Screen {
    QRect geometry;   // the whole screen
    QRect available;  // without the desktop's panels and docks
};

// Top-left corner of a panel of `size` anchored at `anchor` (the tray icon's rectangle, or a
// 1x1 rectangle at the cursor): centred under the anchor, or above it when the anchor is in
// the lower half of its screen, and kept inside that screen's available area. Without an
// anchor the panel is centred on the first screen.
QPoint position(const std::optional<QRect> &anchor, const QSize &size, const QList<Screen> &screens);

// The reported content height rounded to the nearest half point, halves away from zero.
double halfPointHeight(double height);

// The height to apply when content reports `reported` while `applied` is in effect: nothing
// for a height that is not finite or not above 1, or that moves by half a point or less.
std::optional<double> heightToApply(double reported, double applied);

// Window height in whole pixels for an applied half-point height.
int pixelHeight(double height);

}  // namespace PanelPlacement
