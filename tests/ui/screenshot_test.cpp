// The window on a real X server (Xvfb), captured from the server with ImageMagick's `import`:
// a PASS, a FAIL, an ABORTED run with its advice, a dump under way and the window at 1024×768,
// against the simulated board. Each picture is kept as a test artefact; with each, the layout is
// checked for what the operator could not read: a verdict or advice cut, a log whose newest line
// is hidden or whose long lines run off its edge, a status line squeezed by an empty rate, a
// caption cut. Message texts in Korean need a Hangul font.
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <cstdlib>
#include <string>

#include "tests/support/scene_board.h"
#include "tests/ui/dialog_fixture.h"

namespace veltrix::testing {
namespace {

// Captures the X window `id` into `path`; false when `import` fails.
bool Capture(WId id, const std::string& path) {
    const std::string command =
        "import -window " + std::to_string(id) + " '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

class ScreenshotTest : public DialogTest {
protected:
    // Lets the window repaint, captures it as veltrix-<name>.png and checks that the verdict
    // area shows `fill` inside its edge (the window was painted).
    void Picture(const std::string& name, QRgb fill) {
        WaitFor([] { return false; }, 300);
        const std::string path = VELTRIX_ARTEFACT_DIR "/veltrix-" + name + ".png";
        ASSERT_TRUE(Capture(dialog->winId(), path));
        const QImage image(QString::fromStdString(path));
        ASSERT_FALSE(image.isNull());
        const QPoint inside = p().banner->mapTo(dialog.get(), QPoint(3, 3));
        EXPECT_EQ(image.pixel(inside), fill) << name;
    }

    // Nothing the operator must read is cut: the verdict on one line, the advice whole, the
    // newest log line whole, no log line wider than the log, the status line as wide as the log
    // when there is no rate, and every caption whole.
    void ExpectNothingCut() {
        const QLabel& verdict = *p().verdict;
        EXPECT_LE(verdict.fontMetrics().horizontalAdvance(verdict.text()), verdict.width())
            << verdict.text().toStdString();
        EXPECT_LE(p().advice->heightForWidth(p().advice->width()), p().advice->height());
        EXPECT_TRUE(NewestLineShowsWhole());
        const ui::RunLogView& log = *p().runLog;
        const int room = log.viewport()->width();
        for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next()) {
            const QTextLayout* layout = block.layout();
            for (int i = 0; layout != nullptr && i < layout->lineCount(); ++i) {
                EXPECT_LE(layout->lineAt(i).naturalTextWidth(), room) << block.text().toStdString();
            }
        }
        if (!p().rate->isVisible()) {
            EXPECT_EQ(p().statusLine->width(), p().runLog->width());
        }
        for (QWidget* widget : dialog->findChildren<QWidget*>()) {
            if (!widget->isVisible() || widget->inherits("QFocusFrame")) {
                continue;
            }
            const QRect inWindow(widget->mapTo(dialog.get(), QPoint(0, 0)), widget->size());
            EXPECT_TRUE(dialog->rect().contains(inWindow)) << widget->metaObject()->className();
            if (qobject_cast<QLabel*>(widget) != nullptr ||
                qobject_cast<QAbstractButton*>(widget) != nullptr) {
                EXPECT_LE(widget->sizeHint().width(), widget->width())
                    << widget->property("text").toString().toStdString();
            }
        }
    }
};

TEST_F(ScreenshotTest, RunsAreReadableWhole) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run me under Xvfb (xvfb-run -a)";
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Korean).isEmpty())
        << "no Hangul font (fonts-nanum)";
    // A partition of 1 MiB that the board reads out slowly, for the dump under way.
    scene.WritePartitions({{"sbl2", 8, 2}, {"userdata", 4096, 2048}});
    const struct {
        const char* name;
        const char* option;  // of the eMMC test; none: the AP check alone
        bool inProgrammer;   // the board still runs an aborted run's programmer
        const char* verdict;
        QRgb fill;
    } runs[] = {
        {"pass", "Read only", false, "PASS", qRgb(0, 200, 0)},
        {"fail", "Read/Write", false, "FAIL: EMMC", qRgb(200, 0, 0)},
        {"aborted", nullptr, true, "ABORTED: board still runs an aborted run's programmer",
         qRgb(255, 191, 0)},
    };
    Open(MakeDeviceTests);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    EXPECT_LE(dialog->minimumSizeHint().width(), 1024);
    EXPECT_LE(dialog->minimumSizeHint().height(), 768 - 48) << "a 1024×768 screen with a panel";
    int logHeight = p().runLog->height();
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        sim::BoardOptions options = BoardFor(scene, kDloadModel);
        options.faults = {FaultOn(sim::FaultKind::kRefuseWrite, 0x07)};
        options.startInProgrammer = run.inProgrammer;
        auto board = StartBoard(options);
        ASSERT_TRUE(board);
        SetUpApCheck(kBoardPort);
        c().emmcTest->setChecked(run.option != nullptr);
        c().partition->setEditText("sbl2");
        Select(*c().option, run.option ? run.option : "Read only");
        QTest::mouseClick(c().start, Qt::LeftButton);
        ASSERT_TRUE(WaitForRunEnd(20000));
        EXPECT_EQ(p().verdict->text().toStdString(), run.verdict);
        Picture(run.name, run.fill);
        ExpectNothingCut();
        // The verdict area keeps its height, or the window grew by as much: the log keeps its.
        EXPECT_EQ(p().runLog->height(), logHeight);
        logHeight = p().runLog->height();
    }
    EXPECT_GE(p().advice->height(), 2 * p().advice->fontMetrics().lineSpacing())
        << "an advice of two lines or more";

    // A dump under way: its partition, percentage, rate and time left.
    sim::BoardOptions options = BoardFor(scene, kDloadModel);
    sim::Fault slow = FaultOn(sim::FaultKind::kStall, 0x03);
    slow.ms = 3;
    slow.count = 1 << 20;
    options.faults = {slow};
    auto board = StartBoard(options);
    ASSERT_TRUE(board);
    c().emmcTest->setChecked(true);
    c().dump->click();
    c().partition->setEditText("userdata");
    QTest::mouseClick(c().start, Qt::LeftButton);
    ASSERT_TRUE(
        WaitFor([&] { return p().progress->value() >= 20 && p().rate->isVisible(); }, 20000));
    Picture("dump", dialog->palette().color(QPalette::Window).rgb());
    ExpectNothingCut();
    EXPECT_TRUE(dialog->engine().InProgress());
    QTest::mouseClick(c().stop, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(20000));

    // The window at 1024×768, after a passing run.
    board.reset();
    board = StartBoard(BoardFor(scene, kDloadModel));
    ASSERT_TRUE(board);
    c().partition->setEditText("sbl2");
    QTest::mouseClick(c().start, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(20000));
    dialog->resize(1024, 768);
    Picture("1024x768", p().verdict->text() == "PASS" ? qRgb(0, 200, 0) : 0);
    ExpectNothingCut();
}

}  // namespace
}  // namespace veltrix::testing
