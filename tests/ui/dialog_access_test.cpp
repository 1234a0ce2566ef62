// The window from the keyboard and through a screen reader, in-process through Qt's
// accessibility interface: every control named after its visible label, labels that take Alt+
// their letter to their field, Tab along the layout past the read-only result boxes, Enter on a
// focused button, a focus ring on every control that stands out from the window, and every text
// at a contrast of 4.5:1 on its background, computed from the colours the code sets, in every
// state a run leaves the window in.
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QTest>
#include <functional>

#include "tests/ui/dialog_fixture.h"
#include "ui/result_colours.h"
#include "ui/window_look.h"

namespace veltrix::testing {
namespace {

// What a screen reader speaks as the control's label: its accessible name; for a drop-down, whose
// name Qt makes its current text on Linux, the label it is "labelled by" (beside its group box,
// which labels whatever is in it; the name elsewhere).
QString AccessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (face == nullptr) {
        return QStringLiteral("<no interface>");
    }
    if (face->role() == QAccessible::ComboBox) {
        QStringList labels;
        for (const auto& [label, relation] : face->relations(QAccessible::Label)) {
            if (label->role() == QAccessible::StaticText) {
                labels << label->text(QAccessible::Name).remove('&');
            }
        }
        return labels.size() == 1 ? labels[0] : QStringLiteral("<%1 labels>").arg(labels.size());
    }
    return face->text(QAccessible::Name);
}

class AccessTest : public DialogTest {
protected:
    void OpenActive() {
        Open();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    // The names of the controls Tab visits from `first` until it comes back there.
    Lines TabRound(QWidget* first) {
        first->setFocus(Qt::TabFocusReason);
        Lines names;
        for (int i = 0; i < 60; ++i) {
            names.push_back(AccessibleName(QApplication::focusWidget()).toStdString());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == first) {
                break;
            }
        }
        return names;
    }
};

// Each control's name for a screen reader is its visible label; a label's Alt+letter moves the
// focus to its field.
TEST_F(AccessTest, EveryControlIsNamedAfterItsLabelAndReachedByIt) {
    OpenActive();
    const ui::DialogControls& d = c();
    const ui::PanelControls& q = p();
    const struct {
        QWidget* control;
        const char* name;
        Qt::Key altKey;  // Qt::Key_unknown: no letter of its own
    } rows[] = {
        {d.model, "AP Chipset", Qt::Key_C},
        {d.comPort, "Com Port", Qt::Key_P},
        {d.targetDir, "Target Dir", Qt::Key_T},
        {d.targetDirPick, "Choose Target Dir", Qt::Key_unknown},
        {d.start, "START", Qt::Key_unknown},
        {d.stop, "STOP", Qt::Key_unknown},
        {d.apCheck, "AP check", Qt::Key_unknown},
        {d.partition, "Partition", Qt::Key_A},
        {d.option, "Option", Qt::Key_O},
        {d.level, "Level", Qt::Key_L},
        {d.restoreBootImage, "RESTORE BOOT IMG", Qt::Key_unknown},
        {d.restorePartition, "Restore partition", Qt::Key_R},
        {d.bin, "BIN", Qt::Key_B},
        {d.binPick, "Choose BIN file", Qt::Key_unknown},
        {d.dir, "DIR", Qt::Key_D},
        {d.dirPick, "Choose DIR folder", Qt::Key_unknown},
        {q.apResult, "AP", Qt::Key_unknown},
        {q.emmcResult, "EMMC", Qt::Key_unknown},
        {q.sdramResult, "SDRAM", Qt::Key_unknown},
        {q.runLog, "Run log", Qt::Key_unknown},
        {q.statusLine, "Status", Qt::Key_unknown},
        {q.progress, "Progress", Qt::Key_unknown},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(AccessibleName(row.control).toStdString(), row.name);
        if (row.altKey != Qt::Key_unknown) {
            q.runLog->setFocus();
            QTest::keyClick(dialog.get(), row.altKey, Qt::AltModifier);
            EXPECT_EQ(QApplication::focusWidget(), row.control) << "Alt+ for " << row.name;
        }
    }
}

// Tab goes along the layout, row by row, past the disabled STOP and the read-only result boxes;
// Enter presses the focused button (START starts a run, ".." opens the picker) and nothing in a
// field.
TEST_F(AccessTest, TabFollowsTheLayoutAndEnterPressesTheFocusedButton) {
    OpenActive();
    EXPECT_EQ(
        TabRound(c().model),
        Lines({"AP Chipset", "Com Port",        "START",   "Target Dir",        "Choose Target Dir",
               "AP check",   "EMMC TEST",       "dump",    "Partition",         "Option",
               "SDRAM TEST", "Level",           "PMIC ON", "RESTORE BOOT IMG",  "Restore partition",
               "BIN",        "Choose BIN file", "DIR",     "Choose DIR folder", "Extract",
               "Run log",    "Status"}));

    folderAnswers = {""};
    c().targetDir->setFocus();
    QTest::keyClick(c().targetDir, Qt::Key_Return);
    EXPECT_EQ(folderAnswers.size(), 1u) << "Enter in a field presses no button";
    c().targetDirPick->setFocus();
    QTest::keyClick(c().targetDirPick, Qt::Key_Return);
    EXPECT_TRUE(folderAnswers.empty()) << "the picker was asked";

    SetUpApCheck(kBoardPort);
    script.Answer("CheckAp", kErrorGenFailure);
    c().model->setFocus();
    QTest::keyClick(c().model, Qt::Key_Enter);
    EXPECT_TRUE(script.Calls().empty());
    c().start->setFocus();
    QTest::keyClick(c().start, Qt::Key_Enter);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(script.CallCount("CheckAp"), 1);
}

// Whichever control has the keyboard focus, a ring is drawn around it, outside it, in a colour
// at 3:1 at least against the window.
TEST_F(AccessTest, TheFocusShowsOnEveryControl) {
    OpenActive();
    ui::FocusRing* ring = dialog->findChild<ui::FocusRing*>();
    ASSERT_NE(ring, nullptr);
    const QColor window = dialog->palette().color(QPalette::Window);
    EXPECT_GE(ui::ContrastRatio(ui::kFocusRingColour, window), 3.0);
    QWidget* control = c().model;
    do {
        SCOPED_TRACE(AccessibleName(control).toStdString());
        control->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        ASSERT_TRUE(ring->isVisible());
        EXPECT_EQ(ring->widget(), control);
        const QRect around(ring->mapTo(dialog.get(), QPoint(0, 0)), ring->size());
        const QRect inside(control->mapTo(dialog.get(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(around.contains(inside.adjusted(-1, -1, 1, 1)));
        // Painted, and not under a neighbour: the middle of its left and top edges.
        const QImage image = dialog->grab().toImage();
        const qreal scale = image.devicePixelRatio();
        for (const QPoint& at : {QPoint(around.left(), around.center().y()),
                                 QPoint(around.center().x(), around.top())}) {
            EXPECT_EQ(QColor(image.pixel(at * scale)), ui::kFocusRingColour);
        }
        control = control->nextInFocusChain();
        while (!control->isEnabled() || !control->isVisible() ||
               control->focusPolicy() == Qt::NoFocus || control->focusProxy() != nullptr) {
            control = control->nextInFocusChain();
        }
    } while (control != c().model);
}

// Every text on its background at 4.5:1 at least, as the code colours them: idle, after each
// ending (boxes, banner and bar filled), during the DDR wait, with STOP and Level disabled, and
// selected text in the log and the lists.
TEST_F(AccessTest, EveryTextReadsOnItsBackground) {
    const struct Pair {
        QPalette::ColorRole text;
        QPalette::ColorRole background;
    } window{QPalette::WindowText, QPalette::Window}, field{QPalette::Text, QPalette::Base},
        button{QPalette::ButtonText, QPalette::Button},
        selection{QPalette::HighlightedText, QPalette::Highlight};
    const auto pairsOf = [&](QWidget* widget) -> std::vector<Pair> {
        if (widget->inherits("QAbstractButton") && !widget->inherits("QCheckBox")) {
            return {button};
        }
        if (widget->inherits("QLineEdit") || widget->inherits("QComboBox") ||
            widget->inherits("QAbstractScrollArea") || widget->inherits("QProgressBar")) {
            return {field, selection};
        }
        return {window};
    };
    const auto expectReadable = [&](const char* state) {
        for (QWidget* widget : dialog->findChildren<QWidget*>()) {
            const bool isField = pairsOf(widget)[0].text == QPalette::Text;
            const bool captioned = !widget->property("text").toString().isEmpty() ||
                                   !widget->property("title").toString().isEmpty();
            if (!widget->isVisible() || !(isField || captioned)) {
                continue;
            }
            const QPalette::ColorGroup group =
                widget->isEnabled() ? QPalette::Active : QPalette::Disabled;
            for (const Pair& pair : pairsOf(widget)) {
                const QPalette& palette = widget->palette();
                EXPECT_GE(ui::ContrastRatio(palette.color(group, pair.text),
                                            palette.color(group, pair.background)),
                          4.5)
                    << state << ": " << widget->metaObject()->className() << " "
                    << AccessibleName(widget).toStdString() << " role " << pair.text;
            }
        }
    };
    Open();
    SetUpApCheck(kBoardPort);
    Select(*c().model, kDloadModel);
    EXPECT_FALSE(c().level->isEnabled());
    expectReadable("idle");
    const struct {
        const char* state;
        ScriptedTests::Action check;
    } endings[] = {
        {"PASS",
         [](ScriptedCall& call) {
             call.ctx.SetResult(ResultBox::kAp, kResultPass);
             call.ctx.Progress(100);
             return kErrorSuccess;
         }},
        {"FAIL",
         [](ScriptedCall& call) {
             call.ctx.SetResult(ResultBox::kAp, kResultFail);
             call.ctx.Progress(40);
             return kErrorGenFailure;
         }},
        {"ABORTED",
         [](ScriptedCall& call) {
             call.ctx.Progress(60);
             call.ctx.NoteFailure("board not in download mode", "put it in download mode");
             return kErrorGenFailure;
         }},
    };
    for (const auto& ending : endings) {
        script.Answer("CheckAp", ending.check);
        dialog->OnStart();
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_TRUE(p().verdict->text().startsWith(ending.state));
        expectReadable(ending.state);
    }
    dialog->panel().ShowWait(12, 15);
    expectReadable("DDR wait");
}

}  // namespace
}  // namespace veltrix::testing
