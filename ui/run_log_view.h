#pragma once
// The run log as the window shows it: one line per line the run writes (a line written without
// its line feed is a line of its own all the same), long lines wrapped at the right edge, the
// newest line kept in view whole after every change of layout unless the operator has scrolled
// back to read. Lines can be selected and copied (Ctrl+A, Ctrl+C) just as they show; nothing is
// kept selected by the run.

#include <QPlainTextEdit>
#include <QString>
#include <QStringList>

namespace veltrix::ui {

class RunLogView final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit RunLogView(QWidget* parent = nullptr);

    int LineCount() const { return lines_; }
    QString Line(int row) const;
    QStringList Lines() const;
    // Puts `text` (its line feed dropped) at `row` (0..LineCount()); a row out of range appends.
    void InsertLine(int row, const QString& text);
    void DeleteLine(int row);
    void ClearLines();
    // Brings the newest line into view and follows it again.
    void ShowNewest();
    // True while the view follows the newest line.
    bool FollowsNewest() const { return follow_; }
    // The whole log as it shows, each line with its line feed (what Save writes).
    QString Text() const;

Q_SIGNALS:
    // The context menu's "Save run log..." was chosen.
    void saveRequested();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void KeepNewestInView();

    int lines_ = 0;
    bool follow_ = true;
    bool scrolling_ = false;
};

}  // namespace veltrix::ui
