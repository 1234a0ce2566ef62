#include "ui/result_colours.h"

#include <algorithm>
#include <cmath>

namespace veltrix::ui {
namespace {

// Green and red keep their meaning; the shades are dark enough for white text (red) or light
// enough for black text (green).
const QColor kPassFill(0, 200, 0);
const QColor kFailFill(200, 0, 0);
const QColor kAbortFill(255, 191, 0);  // amber: the run did not say PASS or FAIL
const QColor kDarkText(0, 0, 0);
const QColor kLightText(255, 255, 255);

double Linear(double channel) {
    return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
    return 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
}

}  // namespace

bool ResultColoursFor(const QString& result, ResultColours* colours) {
    if (result == QLatin1String(kResultPass)) {
        *colours = {kPassFill, kDarkText};
        return true;
    }
    if (result == QLatin1String(kResultFail)) {
        *colours = {kFailFill, kLightText};
        return true;
    }
    return false;
}

ResultColours VerdictColours(RunVerdict::Kind kind) {
    switch (kind) {
        case RunVerdict::Kind::kPass:
            return {kPassFill, kDarkText};
        case RunVerdict::Kind::kFail:
            return {kFailFill, kLightText};
        case RunVerdict::Kind::kAborted:
            return {kAbortFill, kDarkText};
        default:
            return {QColor(), QColor()};
    }
}

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette Filled(QPalette base, const ResultColours& colours) {
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window}) {
        base.setColor(role, colours.background);
    }
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText}) {
        base.setColor(role, colours.text);
    }
    return base;
}

}  // namespace veltrix::ui
