// The window as it opens and as the operator sets it up: its lists, the test-box interlock, the
// partition combos (refilled with the target directory), the Level box, the port list, the
// pickers, and the stored settings with the window's place on today's screens.
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "tests/ui/dialog_fixture.h"
#include "ui/result_colours.h"
#include "ui/window_placement.h"

namespace veltrix::testing {
namespace {

using ui::StoredSettings;

constexpr const char* kNoPartitionTxt =
    "partition.txt does not exist. Please extract the file from the total binary image.  ";

TEST_F(DialogTest, OpensWithItsListsAndDefaults) {
    Open();
    EXPECT_EQ(dialog->windowTitle(), "Veltrix v2.99a");
    const QStringList models = Items(*c().model);
    EXPECT_EQ(models.size(), 17);
    EXPECT_TRUE(std::is_sorted(models.begin(), models.end(), [](const auto& a, const auto& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    }));
    EXPECT_EQ(c().model->currentIndex(), 0);
    const QStringList ports = Items(*c().comPort);
    ASSERT_EQ(ports.size(), 99);
    EXPECT_EQ(ports.front() + ports[41] + ports.back(), "14299");
    EXPECT_EQ(Items(*c().option), QStringList({"Erase", "Read only", "Read/Write", "Write only"}));
    EXPECT_EQ(c().option->currentText(), "Read/Write");
    EXPECT_EQ(Items(*c().level), QStringList({"0", "1"}));
    EXPECT_EQ(c().level->currentText(), "1");
    EXPECT_EQ(p().progress->maximum(), 100);
    EXPECT_FALSE(c().stop->isEnabled());
    // The about box sits first in the window's menu (F1); F5 starts a run.
    ASSERT_GE(dialog->actions().size(), 1);
    EXPECT_EQ(dialog->actions()[0]->text(), QString::fromUtf8("Veltrix 정보(&A)..."));
    EXPECT_EQ(p().sdramResult->text(), "N/T");
}

// One row of the interlock: the box clicked, and the boxes after clicking it on from all off and
// off from all on (apCheck, emmcTest, sdramTest, restoreBootImage, dump, pmicOn).
struct InterlockRow {
    const char* name;
    QCheckBox* ui::DialogControls::*clicked;
    ui::TestBoxStates fromOff;
    ui::TestBoxStates fromOn;
};

void PrintTo(const InterlockRow& row, std::ostream* os) {
    *os << row.name;
}

class InterlockTest : public DialogTest, public ::testing::WithParamInterface<InterlockRow> {};

TEST_P(InterlockTest, ClickedBoxSetsItsRow) {
    Open();
    const auto clickFrom = [&](bool all) {
        for (QCheckBox* box : dialog->findChildren<QCheckBox*>()) {
            box->setChecked(all);
        }
        // A check box takes clicks on its indicator and caption only.
        QCheckBox* box = c().*GetParam().clicked;
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
        return ui::TestBoxStates{c().apCheck->isChecked(),   c().emmcTest->isChecked(),
                                 c().sdramTest->isChecked(), c().restoreBootImage->isChecked(),
                                 c().dump->isChecked(),      c().pmicOn->isChecked()};
    };
    EXPECT_EQ(clickFrom(false), GetParam().fromOff);
    EXPECT_EQ(clickFrom(true), GetParam().fromOn);
}

using C = ui::DialogControls;
INSTANTIATE_TEST_SUITE_P(
    Table, InterlockTest,
    ::testing::Values(
        InterlockRow{"Restore", &C::restoreBootImage, {1, 0, 0, 1, 0, 0}, {1, 0, 0, 0, 0, 0}},
        InterlockRow{"Emmc", &C::emmcTest, {1, 1, 0, 0, 0, 0}, {1, 0, 1, 0, 0, 0}},
        InterlockRow{"Sdram", &C::sdramTest, {1, 0, 1, 0, 0, 0}, {1, 1, 0, 0, 0, 0}},
        InterlockRow{"Dump", &C::dump, {1, 1, 0, 0, 1, 0}, {1, 1, 0, 0, 0, 0}},
        InterlockRow{"PmicOn", &C::pmicOn, {1, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 0, 0}},
        InterlockRow{"ApCheck", &C::apCheck, {1, 0, 0, 0, 0, 0}, {0, 1, 1, 1, 1, 1}}),
    [](const ::testing::TestParamInfo<InterlockRow>& info) { return info.param.name; });

// Dropping a list down and leaving it with Escape never changes what the next run uses: an empty
// field (every partition) stays empty, a typed or chosen label stays. The list is the index of
// the target directory; without partition.txt the window says so and START starts nothing, even
// with an index loaded before.
TEST_F(DialogTest, PartitionCombosFillOnDropDownAndKeepTheirText) {
    scene.WritePartitions(
        {{"sbl2", 8, 2}, {"system", 100, 8}, {"system", 200, 8}, {"Aboot", 300, 8}}, false);
    for (const QString& kept : {QString(), QStringLiteral("sys"), QStringLiteral("system")}) {
        SCOPED_TRACE(kept.toStdString());
        Open();
        for (ui::DropDownCombo* combo : {c().partition, c().restorePartition}) {
            combo->setEditText(kept);
            for (int drop = 1; drop <= 2; ++drop) {
                combo->showPopup();
                QTest::keyClick(combo->view(), Qt::Key_Escape);
                EXPECT_FALSE(combo->view()->isVisible());
                EXPECT_EQ(combo->currentText(), kept) << "after drop-down " << drop;
                // The first drop-down after start-up only loads the index; the next one fills.
                EXPECT_EQ(Items(*combo).isEmpty(), drop == 1 && combo == c().partition);
            }
            EXPECT_EQ(Items(*combo), QStringList({"Aboot", "sbl2", "system"}));
            EXPECT_EQ(combo->currentIndex(), combo->findText(kept, Qt::MatchExactly));
        }
    }
    EXPECT_TRUE(messages.empty());

    std::filesystem::remove(scene.targetDir() / "partition.txt");
    SetUpApCheck(14);
    dialog->OnStart();
    c().partition->showPopup();
    c().partition->hidePopup();
    EXPECT_EQ(messages, Lines(2, kNoPartitionTxt));
    EXPECT_FALSE(dialog->engine().InProgress());
    EXPECT_TRUE(script.Calls().empty());
}

// Choosing another target directory refills both partition lists from its partition.txt at once
// (keeping the text in their fields); a folder without one empties them and the status line
// says why. During a run the lists wait for its end: the worker reads the index.
TEST_F(DialogTest, AnotherTargetDirRefillsBothPartitionLists) {
    const std::filesystem::path other = scene.root() / "other";
    const std::filesystem::path empty = scene.root() / "empty";
    std::filesystem::create_directories(empty);
    scene.WritePartitions({{"boot", 8, 2}, {"system", 100, 8}}, false);
    std::filesystem::create_directories(other);
    std::filesystem::copy_file(scene.targetDir() / "partition.txt", other / "partition.txt");
    scene.WritePartitions({{"sbl2", 8, 2}});
    const struct {
        std::filesystem::path folder;
        QStringList items;
        const char* status;  // the start of the status line's words; none: no word
    } rows[] = {
        {other, {"boot", "system"}, nullptr},
        {empty, {}, "No partitions from "},
        {scene.targetDir(), {"sbl2"}, nullptr},
    };
    Open();
    c().partition->setEditText("sbl2");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder.string());
        p().statusLine->clear();
        folderAnswers = {QString::fromStdString(row.folder.string())};
        dialog->OnPickTargetDir();
        EXPECT_EQ(Items(*c().partition), row.items);
        EXPECT_EQ(Items(*c().restorePartition), row.items);
        EXPECT_EQ(c().partition->currentText(), "sbl2");
        const QString said = p().statusLine->count() ? p().statusLine->item(0)->text() : QString();
        EXPECT_EQ(said.startsWith(row.status ? row.status : "-"), row.status != nullptr)
            << said.toStdString();
    }
    EXPECT_TRUE(messages.empty()) << "a folder without partition.txt is said in the status line";

    script.Answer("CheckAp", [](ScriptedCall& call) {
        return call.ctx.Wait(60000) ? kErrorSuccess : kErrorOperationAborted;
    });
    SetUpApCheck(kBoardPort);
    dialog->OnStart();
    folderAnswers = {QString::fromStdString(other.string())};
    dialog->OnPickTargetDir();
    EXPECT_EQ(Items(*c().partition), QStringList({"sbl2"})) << "not under the running worker";
    dialog->OnStop();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Items(*c().partition), QStringList({"boot", "system"}));
}

// The Level box shows the level the SDRAM test will run at: "0", unchangeable, for a model whose
// test always runs at level 0; the operator's choice for a model with the DDR-debug image.
TEST_F(DialogTest, TheLevelBoxShowsTheLevelThatWillRun) {
    Open();
    const struct {
        const char* model;
        const char* choose;  // the operator's choice, where the box takes one
        const char* shown;
        bool enabled;
    } steps[] = {
        {"Amberly (MSM8926)", nullptr, "1", true},
        {kDloadModel, nullptr, "0", false},
        {"Hadley Loxley (MSM8226)", "0", "0", true},
        {kSaharaModel, nullptr, "0", false},
        {"Ysolde Ferrand (MSM8210)", nullptr, "0", true},
        {"Brask (APQ8064)", nullptr, "0", false},
        {"Amberly (MSM8926)", "1", "1", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.model);
        Select(*c().model, step.model);
        if (step.choose) {
            Select(*c().level, step.choose);
        }
        EXPECT_EQ(c().level->currentText(), step.shown);
        EXPECT_EQ(c().level->isEnabled(), step.enabled);
    }
}

TEST_F(DialogTest, PickersTakeTheChoiceAndHandleCancel) {
    Open();
    fileAnswers = {"/images/total.bin", ""};
    dialog->OnPickBin();
    EXPECT_EQ(c().bin->text(), "/images/total.bin");
    dialog->OnPickBin();
    EXPECT_EQ(c().bin->text(), "") << "a cancelled pick empties the BIN path";
    EXPECT_EQ(messages, Lines{"파일지정을 취소하셨습니다."});

    folderAnswers = {"/images/out", "", "/boards/b7", ""};
    dialog->OnPickDir();
    dialog->OnPickDir();
    EXPECT_EQ(c().dir->text(), "/images/out") << "a cancelled folder pick keeps the path";
    dialog->OnPickTargetDir();
    dialog->OnPickTargetDir();
    EXPECT_EQ(c().targetDir->text(), "/boards/b7");
    EXPECT_EQ(dialog->CurrentSettings().targetDir, "/boards/b7");
}

// What a window shows from the stored values and saves at its close: a list without a selection
// (none stored, out of range, or a typed text) is saved as -1; the window comes back where it was
// and at the size it had, and a place beyond today's screens is moved onto one.
TEST_F(DialogTest, SettingsComeBackAndNoSelectionIsSavedAsMinusOne) {
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    const StoredSettings first = ui::ReadStoredSettings(settings);
    EXPECT_EQ(std::tie(first.x, first.y, first.cx, first.cy, first.apIndex, first.portIndex),
              std::make_tuple(0, 0, 556, 632, 0, 0));
#ifdef _WIN32
    EXPECT_EQ(first.targetDir, "C:\\");
#else
    EXPECT_EQ(first.targetDir, QDir::homePath()) << "no C:\\ here";
#endif
    for (const auto& [stored, read] : {std::pair{QVariant(1), 1},
                                       {QVariant(64), 64},
                                       {QVariant(0), 8},
                                       {QVariant(65), 8},
                                       {QVariant("x"), 8}}) {
        settings.setValue("Transfer/ReadWindow", stored);
        EXPECT_EQ(ui::ReadStoredSettings(settings).readWindow, read)
            << stored.toString().toStdString();
    }
    settings.setValue("Transfer/ReadWindow", 3);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const struct {
        int ap, port;
        const char* typedModel;
        int savedAp, savedPort;
        QPoint stored;  // the frame's top-left
    } cases[] = {
        {3, 8, nullptr, 3, 8, {40, 50}},
        {-1, -1, nullptr, -1, -1, {40, 50}},
        {17, 99, nullptr, -1, -1, {screen.right() + 2000, 50}},
        {1000, -5, nullptr, -1, -1, {-3000, -3000}},
        {0, 0, "Some other board", -1, 0, {40, 50}},
    };
    const QSize size(screen.width() - 100, screen.height() - 60);
    for (const auto& row : cases) {
        SCOPED_TRACE(row.ap);
        StoredSettings stored;
        std::tie(stored.x, stored.y) = std::make_tuple(row.stored.x(), row.stored.y());
        std::tie(stored.cx, stored.cy) = std::make_tuple(size.width(), size.height());
        std::tie(stored.apIndex, stored.portIndex) = std::tie(row.ap, row.port);
        stored.targetDir = "/boards/b7";
        stored.readWindow = ui::ReadStoredSettings(settings).readWindow;
        OpenWith(stored);
        EXPECT_EQ(c().model->currentIndex(), row.typedModel ? row.ap : row.savedAp);
        EXPECT_EQ(c().comPort->currentIndex(), row.savedPort);
        EXPECT_EQ(dialog->size(), size);
        if (screen.contains(row.stored)) {
            EXPECT_EQ(dialog->frameGeometry().topLeft(), row.stored);
        } else {
            EXPECT_TRUE(screen.contains(dialog->frameGeometry().topLeft()))
                << dialog->frameGeometry().x() << "," << dialog->frameGeometry().y();
        }
        if (row.typedModel) {
            c().model->setEditText(row.typedModel);
        }
        dialog->move(70, 80);
        dialog->resize(size - QSize(10, 20));
        Close();
        settings.sync();
        const StoredSettings back = ui::ReadStoredSettings(settings);
        EXPECT_EQ(std::tie(back.x, back.y, back.cx, back.cy, back.apIndex, back.portIndex),
                  std::make_tuple(70, 80, size.width() - 10, size.height() - 20, row.savedAp,
                                  row.savedPort));
        EXPECT_EQ(back.targetDir, "/boards/b7");
        EXPECT_EQ(back.readWindow, 3) << "kept though the window does not show it";
    }
}

// Where a stored window goes on today's screens (their available areas, the primary first).
TEST(WindowPlacementTest, AStoredWindowComesBackOnAScreenThatExists) {
    const QRect left(0, 0, 1920, 1040);
    const QRect right(1920, 0, 1280, 984);
    const QSize minimum(560, 650);
    const struct {
        const char* what;
        QRect stored;
        QList<QRect> screens;
        QRect placed;
    } cases[] = {
        {"where it was", {100, 80, 800, 700}, {left, right}, {100, 80, 800, 700}},
        {"on the second screen", {2000, 100, 800, 700}, {left, right}, {2000, 100, 800, 700}},
        {"that screen unplugged", {2000, 100, 800, 700}, {left}, {1120, 100, 800, 700}},
        {"above every screen", {300, -900, 800, 700}, {left, right}, {300, 0, 800, 700}},
        {"title bar just off the edge", {1900, 500, 800, 700}, {left}, {1120, 340, 800, 700}},
        {"larger than its screen", {10, 10, 3000, 2000}, {left}, {0, 0, 1920, 1040}},
        {"smaller than it may be", {10, 10, 300, 200}, {left}, {10, 10, 560, 650}},
        {"a small screen", {500, 500, 800, 700}, {QRect(0, 0, 1024, 728)}, {224, 28, 800, 700}},
        {"no screen at all", {-50, -50, 800, 700}, {}, {-50, -50, 800, 700}},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(ui::PlaceOnScreens(row.stored, minimum, row.screens), row.placed) << row.what;
    }
}

}  // namespace
}  // namespace veltrix::testing
