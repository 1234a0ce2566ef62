#include "ui/run_log_view.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <algorithm>

namespace veltrix::ui {
namespace {

QString WithoutLineEnd(QString text) {
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) {
        text.chop(1);
    }
    // A line feed inside a line would make two blocks of one line: show it as a space.
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

}  // namespace

RunLogView::RunLogView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    setUndoRedoEnabled(false);
    QScrollBar* bar = verticalScrollBar();
    // Any change of layout (the window resized, the banner grown, lines wrapped anew) changes the
    // range: the newest line comes back into view whole while the view follows it.
    connect(bar, &QScrollBar::rangeChanged, this, [this] { KeepNewestInView(); });
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        if (!scrolling_) {
            follow_ = value >= bar->maximum();
        }
    });
}

QString RunLogView::Line(int row) const {
    return row >= 0 && row < lines_ ? document()->findBlockByNumber(row).text() : QString();
}

QStringList RunLogView::Lines() const {
    QStringList lines;
    for (int row = 0; row < lines_; ++row) {
        lines << Line(row);
    }
    return lines;
}

void RunLogView::InsertLine(int row, const QString& text) {
    const QString shown = WithoutLineEnd(text);
    row = row < 0 || row > lines_ ? lines_ : row;
    QTextCursor cursor(document());
    if (lines_ == 0) {
        cursor.insertText(shown);
    } else if (row == lines_) {
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        cursor.insertText(shown);
    } else {
        cursor.setPosition(document()->findBlockByNumber(row).position());
        cursor.insertText(shown);
        cursor.insertBlock();
    }
    ++lines_;
    KeepNewestInView();
}

void RunLogView::DeleteLine(int row) {
    if (row < 0 || row >= lines_) {
        return;
    }
    QTextCursor cursor(document());
    if (lines_ == 1) {
        cursor.select(QTextCursor::Document);
        cursor.removeSelectedText();
    } else {
        const QTextBlock block = document()->findBlockByNumber(row);
        // The block and the separator after it (before it, for the last line).
        const bool last = row == lines_ - 1;
        cursor.setPosition(last ? block.position() - 1 : block.position());
        cursor.setPosition(
            last ? block.position() + block.length() - 1 : block.position() + block.length(),
            QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    --lines_;
    KeepNewestInView();
}

void RunLogView::ClearLines() {
    clear();
    lines_ = 0;
    follow_ = true;
}

void RunLogView::ShowNewest() {
    follow_ = true;
    KeepNewestInView();
}

QString RunLogView::Text() const {
    QString text;
    for (int row = 0; row < lines_; ++row) {
        text += Line(row) + QLatin1Char('\n');
    }
    return text;
}

void RunLogView::KeepNewestInView() {
    if (!follow_) {
        return;
    }
    scrolling_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setValue(bar->maximum());
    scrolling_ = false;
}

void RunLogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu(event->pos());
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Save run log...")), &QAction::triggered, this,
            &RunLogView::saveRequested);
    menu->exec(event->globalPos());
    delete menu;
}

}  // namespace veltrix::ui
