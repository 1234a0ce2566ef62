#pragma once
// Where the window opens: at the place and size it had when it last closed, and always on a
// screen that exists now (a monitor unplugged since, a laptop off its dock).

#include <QList>
#include <QRect>
#include <QSize>

namespace veltrix::ui {

// The window's frame rectangle for a window stored at `stored` (its frame's top-left and its
// size), at least `minimum` large, on screens whose available areas are `screens` (the primary
// first). Its screen is the one its top-left corner is on (enough of it to take the window by
// its title bar), else the one nearest to where it was. Its size is kept, but never larger than
// that screen, nor smaller than `minimum`; it stays where it was as far as it can while lying
// wholly on that screen (at its top-left corner when it is too large). With no screen at all,
// `stored` at least `minimum` large.
QRect PlaceOnScreens(const QRect& stored, const QSize& minimum, const QList<QRect>& screens);

}  // namespace veltrix::ui
