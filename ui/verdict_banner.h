#pragma once
// The verdict area under the tests: the run's outcome in large bold letters (PASS, FAIL with what
// failed, ABORTED with its reason) on a filled background, and under it what the operator must
// do now. The area keeps one height whatever it says, so the run log beside it never jumps: the
// verdict is set smaller until it fits its one line, the advice has room for two lines, and
// only a text that still does not fit makes the area taller (the window grows by as much, so the
// log keeps its height).

#include <QLabel>
#include <QPalette>
#include <QStringList>
#include <QWidget>

#include "ui/result_colours.h"

namespace veltrix::ui {

class VerdictBanner final : public QWidget {
    Q_OBJECT
public:
    explicit VerdictBanner(QWidget* parent = nullptr);

    // Shows `verdict` and `advice` (one sentence a line) filled with `colours`.
    void Show(const QString& verdict, const QStringList& advice, const ResultColours& colours);
    // Empties the area; it keeps its height.
    void Clear();

    QLabel* verdict() const { return verdict_; }
    QLabel* advice() const { return advice_; }
    // The verdict's point size as shown, and the size it has when it fits at full size.
    double VerdictPointSize() const { return verdict_->font().pointSizeF(); }
    double FullPointSize() const { return fullPointSize_; }

Q_SIGNALS:
    // The area had to grow by `pixels` to show its text.
    void grew(int pixels);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Fit();

    QLabel* verdict_;
    QLabel* advice_;
    QPalette normal_;
    double fullPointSize_;
};

}  // namespace veltrix::ui
