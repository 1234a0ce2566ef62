#include "ui/window_placement.h"

#include <algorithm>
#include <limits>

namespace veltrix::ui {
namespace {

// The part of the title bar that must show to take the window by it.
constexpr int kGripWidth = 120;
constexpr int kGripHeight = 24;

// How far `point` lies from `area` (0 inside), squared.
long long DistanceSquared(const QPoint& point, const QRect& area) {
    const long long dx = std::max({area.left() - point.x(), 0, point.x() - area.right()});
    const long long dy = std::max({area.top() - point.y(), 0, point.y() - area.bottom()});
    return dx * dx + dy * dy;
}

// `value` moved into [low, high]; `low` when the range is empty.
int Clamp(int value, int low, int high) {
    return high < low ? low : std::clamp(value, low, high);
}

}  // namespace

QRect PlaceOnScreens(const QRect& stored, const QSize& minimum, const QList<QRect>& screens) {
    QSize size = stored.size().expandedTo(minimum);
    if (screens.isEmpty()) {
        return QRect(stored.topLeft(), size);
    }
    const QRect grip(stored.topLeft(), QSize(std::min(kGripWidth, size.width()),
                                             std::min(kGripHeight, size.height())));
    const QRect* home = nullptr;
    for (const QRect& screen : screens) {
        if (screen.contains(grip)) {
            home = &screen;
            break;
        }
    }
    if (home == nullptr) {
        long long nearest = std::numeric_limits<long long>::max();
        for (const QRect& screen : screens) {
            const long long distance = DistanceSquared(stored.center(), screen);
            if (distance < nearest) {
                nearest = distance;
                home = &screen;
            }
        }
    }
    size = size.boundedTo(home->size()).expandedTo(minimum);
    const int x = Clamp(stored.x(), home->left(), home->right() + 1 - size.width());
    const int y = Clamp(stored.y(), home->top(), home->bottom() + 1 - size.height());
    return QRect(QPoint(x, y), size);
}

}  // namespace veltrix::ui
