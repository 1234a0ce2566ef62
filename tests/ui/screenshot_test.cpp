// The window on a real X server (Xvfb), captured from the server with ImageMagick's `import` after
// a PASS, a FAIL and an ABORTED run against the simulated board: each picture is kept as a test
// artefact and shows its verdict in its fill. Message texts in Korean need a Hangul font.
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QTest>
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

class ScreenshotTest : public DialogTest {};

TEST_F(ScreenshotTest, PassFailAndAbortedRunsArePainted) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run me under Xvfb (xvfb-run -a)";
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Korean).isEmpty())
        << "no Hangul font (fonts-nanum)";
    const struct {
        const char* name;
        const char* option;  // of the eMMC test; none: the AP check alone
        sim::BoardOptions board;
        const char* verdict;
        QRgb fill;
    } runs[] = {
        {"pass", "Read only", BoardFor(scene, kDloadModel), "PASS", qRgb(0, 200, 0)},
        {"fail", "Read/Write", BoardFor(scene, kDloadModel), "FAIL: EMMC", qRgb(200, 0, 0)},
        {"aborted", nullptr, BoardFor(scene, kDloadModel),
         "ABORTED: board still runs an aborted run's programmer", qRgb(255, 191, 0)},
    };
    Open(MakeDeviceTests);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    for (auto run : runs) {
        SCOPED_TRACE(run.name);
        run.board.faults = {FaultOn(sim::FaultKind::kRefuseWrite, 0x07)};
        run.board.startInProgrammer = run.option == nullptr;
        auto board = StartBoard(run.board);
        ASSERT_TRUE(board);
        SetUpApCheck(kBoardPort);
        c().emmcTest->setChecked(run.option != nullptr);
        c().partition->setEditText("sbl2");
        Select(*c().option, run.option ? run.option : "Read only");
        QTest::mouseClick(c().start, Qt::LeftButton);
        ASSERT_TRUE(WaitForRunEnd(20000));
        EXPECT_EQ(c().verdict->text().toStdString(), run.verdict);
        WaitFor([] { return false; }, 300);  // let the window repaint

        const std::string path = VELTRIX_ARTEFACT_DIR "/veltrix-" + std::string(run.name) + ".png";
        ASSERT_TRUE(Capture(dialog->winId(), path));
        const QImage image(QString::fromStdString(path));
        ASSERT_FALSE(image.isNull());
        // The banner's fill, inside its edge: the window was painted.
        const QPoint inside = c().verdict->mapTo(dialog.get(), QPoint(3, 3));
        EXPECT_EQ(image.pixel(inside), run.fill);
    }
}

}  // namespace
}  // namespace veltrix::testing
