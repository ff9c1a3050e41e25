#include "PanelPlacement.h"

#include <algorithm>
#include <cmath>

namespace PanelPlacement {

namespace {

// Squared distance from a point to a rectangle; 0 inside.
qint64 distanceSquared(const QRect &rect, const QPoint &point)
{
    const qint64 dx = point.x() < rect.left() ? rect.left() - point.x() : std::max(0, point.x() - rect.right());
    const qint64 dy = point.y() < rect.top() ? rect.top() - point.y() : std::max(0, point.y() - rect.bottom());
    return dx * dx + dy * dy;
}

const Screen &screenFor(const QPoint &point, const QList<Screen> &screens)
{
    return *std::min_element(screens.cbegin(), screens.cend(), [&](const Screen &a, const Screen &b) {
        return distanceSquared(a.geometry, point) < distanceSquared(b.geometry, point);
    });
}

// Keeps [start, start + length) inside [low, high) with `margin` to spare where there is
// room for it; a panel larger than the area starts at its low edge.
int clampSpan(int start, int length, int low, int high)
{
    const int first = low + margin;
    const int last = high - margin - length;
    if (last < first)
        return std::max(low, std::min(start, high - length));
    return std::clamp(start, first, last);
}

}  // namespace

QPoint position(const std::optional<QRect> &anchor, const QSize &size, const QList<Screen> &screens)
{
    if (screens.isEmpty())
        return anchor ? QPoint(anchor->center().x() - size.width() / 2, anchor->bottom() + 1 + gap) : QPoint();
    if (!anchor) {
        const QRect area = screens.first().available;
        return {area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2};
    }

    const QPoint centre = anchor->center();
    const Screen &screen = screenFor(centre, screens);
    const QRect &area = screen.available;
    const bool below = centre.y() < screen.geometry.top() + screen.geometry.height() / 2;
    const int x = anchor->left() + (anchor->width() - size.width()) / 2;
    const int y = below ? anchor->bottom() + 1 + gap : anchor->top() - gap - size.height();
    return {clampSpan(x, size.width(), area.left(), area.left() + area.width()),
            clampSpan(y, size.height(), area.top(), area.top() + area.height())};
}

double halfPointHeight(double height)
{
    return std::round(height * 2) / 2;
}

std::optional<double> heightToApply(double reported, double applied)
{
    if (!std::isfinite(reported) || reported <= 1)
        return std::nullopt;
    const double rounded = halfPointHeight(reported);
    if (std::abs(rounded - applied) > 0.5)
        return rounded;
    return std::nullopt;
}

int pixelHeight(double height)
{
    return int(std::ceil(height));
}

}  // namespace PanelPlacement
