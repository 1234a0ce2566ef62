// The window on a real X server (Xvfb): after a run against the simulated board it is captured
// from the server with ImageMagick's `import`, kept as a test artefact, and must show more than
// a blank frame. A Korean message box is captured the same way: its text needs a Hangul font.
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QSet>
#include <QTest>
#include <cstdlib>
#include <string>

#include "tests/support/scene_board.h"
#include "tests/ui/dialog_fixture.h"

namespace veltrix::testing {
namespace {

// Fewer colours than this is a blank or unpainted window.
constexpr int kMinColours = 16;

// Captures the X window `id` into `path`; false when `import` fails.
bool Capture(WId id, const std::string& path) {
    const std::string command =
        "import -window " + std::to_string(id) + " '" + path + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

int DistinctColours(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
        }
    }
    return static_cast<int>(colours.size());
}

class ScreenshotTest : public DialogTest {};

TEST_F(ScreenshotTest, DialogAfterARunIsPainted) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb") << "run me under Xvfb (xvfb-run -a)";
    auto board = StartBoard(BoardFor(scene, kDloadModel));
    ASSERT_TRUE(board);
    Open(MakeDeviceTests);
    SetUpApCheck(kBoardPort);
    const ui::DialogControls& c = dialog->controls();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::mouseClick(c.start, Qt::LeftButton);
    ASSERT_TRUE(WaitForRunEnd(20000));
    ASSERT_EQ(c.apResult->text(), "PASS");
    WaitFor([] { return false; }, 300);  // let the window repaint

    const std::string path = VELTRIX_ARTEFACT_DIR "/veltrix-dialog.png";
    ASSERT_TRUE(Capture(dialog->winId(), path));
    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), dialog->width());
    EXPECT_GT(DistinctColours(image), kMinColours);
    // The PASS box is filled green.
    const QImage box =
        image.copy(QRect(c.apResult->mapTo(dialog.get(), QPoint(0, 0)), c.apResult->size()));
    bool green = false;
    for (int y = 0; y < box.height() && !green; ++y) {
        for (int x = 0; x < box.width() && !green; ++x) {
            green = box.pixel(x, y) == qRgb(0, 200, 0);
        }
    }
    EXPECT_TRUE(green);
}

TEST_F(ScreenshotTest, KoreanMessageTextRenders) {
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::Korean).isEmpty())
        << "no Hangul font (fonts-nanum)";
    QMessageBox box(QMessageBox::NoIcon, "Veltrix",
                    QString::fromUtf8("테스트가 진행 중 입니다.  \n\nTest in progress.  "),
                    QMessageBox::Ok);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    WaitFor([] { return false; }, 300);
    const std::string path = VELTRIX_ARTEFACT_DIR "/veltrix-message.png";
    ASSERT_TRUE(Capture(box.winId(), path));
    const QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(DistinctColours(image), kMinColours);
}

}  // namespace
}  // namespace veltrix::testing
