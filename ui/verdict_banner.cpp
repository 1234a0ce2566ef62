#include "ui/verdict_banner.h"

#include <QVBoxLayout>
#include <algorithm>

namespace veltrix::ui {
namespace {

constexpr double kVerdictScale = 2.2;  // of the window's font: readable from two metres
constexpr double kSmallestScale = 1.15;
constexpr int kAdviceLines = 2;
constexpr int kSpacing = 2;

QLabel* MakeLabel(QWidget* parent, double scale) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * scale);
    label->setFont(font);
    return label;
}

}  // namespace

VerdictBanner::VerdictBanner(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    normal_ = palette();
    verdict_ = MakeLabel(this, kVerdictScale);
    advice_ = MakeLabel(this, 1.0);
    fullPointSize_ = verdict_->font().pointSizeF();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(0);
    // The texts together in the middle of the area, whatever its height.
    layout->addStretch(1);
    layout->addWidget(verdict_);
    layout->addSpacing(kSpacing);
    layout->addWidget(advice_);
    layout->addStretch(1);
    const QMargins m = layout->contentsMargins();
    // One line of the verdict at full size and two of advice.
    setFixedHeight(verdict_->fontMetrics().height() + 8 +
                   kAdviceLines * advice_->fontMetrics().lineSpacing() + kSpacing + m.top() +
                   m.bottom());
}

void VerdictBanner::Show(const QString& verdict, const QStringList& advice,
                         const ResultColours& colours) {
    verdict_->setText(verdict);
    advice_->setText(advice.join(QLatin1Char('\n')));
    setPalette(Filled(normal_, colours));
    Fit();
}

void VerdictBanner::Clear() {
    verdict_->clear();
    advice_->clear();
    setPalette(normal_);
    Fit();
}

void VerdictBanner::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Fit();
}

// The verdict at the largest size (down to the smallest) at which it takes one line; then the
// area's height for both texts at this width.
void VerdictBanner::Fit() {
    const QMargins m = layout()->contentsMargins();
    const int width = std::max(1, this->width() - m.left() - m.right());
    QFont font = verdict_->font();
    font.setPointSizeF(fullPointSize_);
    const double smallest = fullPointSize_ * kSmallestScale / kVerdictScale;
    while (font.pointSizeF() > smallest &&
           QFontMetrics(font).horizontalAdvance(verdict_->text()) > width - 8) {
        font.setPointSizeF(std::max(smallest, font.pointSizeF() - 0.5));
    }
    if (font != verdict_->font()) {
        verdict_->setFont(font);
    }
    const int needed = std::max(QFontMetrics(font).height() + 8, verdict_->heightForWidth(width)) +
                       kSpacing + std::max(0, advice_->heightForWidth(width)) + m.top() +
                       m.bottom();
    if (needed > height()) {
        const int more = needed - height();
        setFixedHeight(needed);
        Q_EMIT grew(more);
    }
}

}  // namespace veltrix::ui
