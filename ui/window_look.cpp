#include "ui/window_look.h"

#include <QApplication>
#include <QPainter>

namespace veltrix::ui {
namespace {

const QColor kSelection(0, 84, 166);        // white text on it: 7.6:1
const QColor kDisabledText(100, 100, 100);  // on the window's grey: 5:1

}  // namespace

QPalette AccessiblePalette(QPalette base) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        base.setColor(group, QPalette::Highlight, kSelection);
        base.setColor(group, QPalette::HighlightedText, Qt::white);
    }
    for (QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText}) {
        base.setColor(QPalette::Disabled, role, kDisabledText);
    }
    base.setColor(QPalette::Disabled, QPalette::Highlight, kDisabledText);
    base.setColor(QPalette::Disabled, QPalette::HighlightedText, Qt::white);
    return base;
}

QPalette ProgressPalette(QPalette base, const QColor& fill, const QColor& text) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        base.setColor(group, QPalette::Highlight, fill);
        base.setColor(group, QPalette::HighlightedText, text);
    }
    return base;
}

FocusRing::FocusRing(QWidget& window) : QFocusFrame(&window), window_(window) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    hide();  // until a control of the window has the focus
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { Follow(now); });
}

void FocusRing::Follow(QWidget* now) {
    // Only the window's own controls: a message box or a combo's list has its own look.
    const bool ours = now != nullptr && now->window() == &window_ && now != &window_;
    setWidget(ours ? now : nullptr);
    setVisible(ours);
}

void FocusRing::paintEvent(QPaintEvent*) {
    if (widget() == nullptr) {
        return;
    }
    QPainter painter(this);
    QPen pen(kFocusRingColour, kFocusRingWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    const int half = kFocusRingWidth / 2;
    painter.drawRect(rect().adjusted(half, half, -half, -half));
}

}  // namespace veltrix::ui
