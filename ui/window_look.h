#pragma once
// The window's colours for what the style draws on its own: selections and the progress bar's
// fill (white text on a blue dark enough to read), disabled text, and a focus ring drawn around
// whichever control has the keyboard focus, in a colour that stands out from the window. Every
// text these colours carry reads at 4.5:1 at least, the ring at 3:1 against the window.

#include <QColor>
#include <QFocusFrame>
#include <QPalette>

namespace veltrix::ui {

// The ring around the focused control.
inline const QColor kFocusRingColour(0, 84, 166);
inline constexpr int kFocusRingWidth = 2;

// `base` with the window's selection, disabled-text and progress colours, in every colour group.
QPalette AccessiblePalette(QPalette base);

// The progress bar's colours for a fill of `fill` with `text` on it; the rest of the bar keeps
// the palette's text on its base.
QPalette ProgressPalette(QPalette base, const QColor& fill, const QColor& text);

// Follows the keyboard focus inside `window` and draws a ring around the focused control
// (outside it, so nothing of the control is hidden). Owned by the window.
class FocusRing final : public QFocusFrame {
    Q_OBJECT
public:
    explicit FocusRing(QWidget& window);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Follow(QWidget* now);

    QWidget& window_;
};

}  // namespace veltrix::ui
