#pragma once
// The colours that say PASS and FAIL: green and red as ever, now as a filled box with dark or
// white text so the verdict reads from a step away (contrast of at least 4.5:1).

#include <QColor>
#include <QPalette>
#include <QString>

#include "diag/run_record.h"

namespace veltrix::ui {

struct ResultColours {
    QColor background;
    QColor text;
};

// The fill and the text of a result box for its text ("PASS", "FAIL"); nothing for any other
// text (the box keeps the dialog's own colours).
bool ResultColoursFor(const QString& result, ResultColours* colours);
// The fill and the text of the verdict banner.
ResultColours VerdictColours(RunVerdict::Kind kind);

// The contrast ratio of two colours as the accessibility guidelines define it (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);

// `base` with its Base/Window and Text/WindowText roles set to `colours`.
QPalette Filled(QPalette base, const ResultColours& colours);

}  // namespace veltrix::ui
