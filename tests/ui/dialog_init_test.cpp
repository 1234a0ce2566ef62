// The window as it opens and as the operator sets it up: its lists, the test-box interlock,
// the result-box colours, the partition combos, the pickers and the stored settings.
#include <QDir>
#include <QSettings>
#include <QTest>
#include <algorithm>

#include "diag/model_table.h"
#include "tests/ui/dialog_fixture.h"

namespace veltrix::testing {
namespace {

using ui::CVeltrixDlg;
using ui::StoredSettings;

constexpr const char* kNoPartitionTxt =
    "partition.txt does not exist. Please extract the file from the total binary image.  ";

TEST_F(DialogTest, InitialisationFillsTheLists) {
    const ui::DialogControls& c = OpenDialog().controls();
    EXPECT_EQ(dialog->windowTitle(), "Veltrix v2.99a");

    QStringList models;
    for (const ModelRow& row : ModelTable()) {
        models << QString::fromUtf8(row.displayText.data(), qsizetype(row.displayText.size()));
    }
    std::sort(models.begin(), models.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    ASSERT_EQ(models.size(), 17);
    EXPECT_EQ(Items(*c.model), models);
    EXPECT_EQ(c.model->currentIndex(), 0);

    const QStringList ports = Items(*c.comPort);
    ASSERT_EQ(ports.size(), 99);
    for (int i = 0; i < 99; ++i) {
        EXPECT_EQ(ports[i], QString::number(i + 1));
    }
    EXPECT_EQ(c.comPort->currentText(), "1");

    EXPECT_EQ(Items(*c.option), QStringList({"Erase", "Read only", "Read/Write", "Write only"}));
    EXPECT_EQ(c.option->currentText(), "Read/Write");
    EXPECT_EQ(Items(*c.level), QStringList({"0", "1"}));
    EXPECT_EQ(c.level->currentText(), "1");

    for (const QLineEdit* box : {c.apResult, c.emmcResult, c.sdramResult}) {
        EXPECT_EQ(box->text(), "N/T");
    }
    EXPECT_EQ(c.progress->minimum(), 0);
    EXPECT_EQ(c.progress->maximum(), 100);
    EXPECT_EQ(c.progress->value(), 0);
    EXPECT_EQ(c.targetDir->text().toStdString(), target.string());
    EXPECT_EQ(dialog->bench().index.imagePartitionCount, 0u);
    EXPECT_FALSE(c.stop->isEnabled());

    const QList<QAction*> actions = dialog->actions();
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Veltrix 정보(&A)..."));
}

// One row of the interlock table: the box clicked, from all boxes off and from all boxes on.
struct InterlockRow {
    ui::TestBox clicked;
    ui::TestBoxStates fromOff;  // after clicking it on, the others off
    ui::TestBoxStates fromOn;   // after clicking it off, the others on
};

class InterlockTest : public DialogTest, public ::testing::WithParamInterface<InterlockRow> {
protected:
    QCheckBox* Box(ui::TestBox which) {
        const ui::DialogControls& c = dialog->controls();
        switch (which) {
            case ui::TestBox::kApCheck:
                return c.apCheck;
            case ui::TestBox::kEmmcTest:
                return c.emmcTest;
            case ui::TestBox::kSdramTest:
                return c.sdramTest;
            case ui::TestBox::kRestoreBootImage:
                return c.restoreBootImage;
            case ui::TestBox::kDump:
                return c.dump;
            case ui::TestBox::kPmicOn:
                return c.pmicOn;
        }
        return nullptr;
    }
    void SetAll(bool on) {
        for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
            box->setChecked(on);
    }
    // A click on the box itself (a check box takes clicks on its indicator and caption only).
    void Click(ui::TestBox which) {
        QCheckBox* box = Box(which);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
    }
    ui::TestBoxStates States() {
        const ui::DialogControls& c = dialog->controls();
        return {c.apCheck->isChecked(),          c.emmcTest->isChecked(), c.sdramTest->isChecked(),
                c.restoreBootImage->isChecked(), c.dump->isChecked(),     c.pmicOn->isChecked()};
    }
};

// apCheck, emmcTest, sdramTest, restoreBootImage, dump, pmicOn
const InterlockRow kInterlockRows[] = {
    {ui::TestBox::kRestoreBootImage,
     {true, false, false, true, false, false},
     {true, false, false, false, false, false}},
    {ui::TestBox::kEmmcTest,
     {true, true, false, false, false, false},
     {true, false, true, false, false, false}},
    {ui::TestBox::kSdramTest,
     {true, false, true, false, false, false},
     {true, true, false, false, false, false}},
    {ui::TestBox::kDump,
     {true, true, false, false, true, false},
     {true, true, false, false, false, false}},
    {ui::TestBox::kPmicOn,
     {true, false, false, false, false, true},
     {true, false, false, false, false, false}},
    {ui::TestBox::kApCheck,
     {true, false, false, false, false, false},
     {false, true, true, true, true, true}},
};

TEST_P(InterlockTest, ClickedBoxSetsItsRow) {
    OpenDialog();
    const InterlockRow& row = GetParam();
    SetAll(false);
    Click(row.clicked);
    EXPECT_EQ(States(), row.fromOff);
    SetAll(true);
    Click(row.clicked);
    EXPECT_EQ(States(), row.fromOn);
}

INSTANTIATE_TEST_SUITE_P(Table, InterlockTest, ::testing::ValuesIn(kInterlockRows));

TEST_F(DialogTest, ResultBoxColourFollowsItsText) {
    const ui::DialogControls& c = OpenDialog().controls();
    const QColor normal = c.apResult->palette().color(QPalette::Text);
    dialog->SetResultBox(ResultBox::kAp, "PASS");
    dialog->SetResultBox(ResultBox::kEmmc, "FAIL");
    EXPECT_EQ(c.apResult->palette().color(QPalette::Text), QColor(0, 255, 0));
    EXPECT_EQ(c.emmcResult->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(c.sdramResult->palette().color(QPalette::Text), normal);
    dialog->SetResultBox(ResultBox::kAp, "N/T");
    EXPECT_EQ(c.apResult->text(), "N/T");
    EXPECT_EQ(c.apResult->palette().color(QPalette::Text), normal);
    for (const QLineEdit* box : {c.apResult, c.emmcResult, c.sdramResult}) {
        EXPECT_EQ(box->palette().color(QPalette::Base), dialog->palette().color(QPalette::Window));
    }
}

// Dropping a list down and leaving it with Escape never changes what the next run uses: an empty
// field (every partition) stays empty, a typed or chosen label stays.
TEST_F(DialogTest, PartitionCombosFillOnDropDownAndKeepTheirText) {
    WriteFile(target / "partition.txt", PartitionRecord(8, 2, "sbl2", "sbl2.mbn") +
                                            PartitionRecord(100, 8, "system", "system.mbn") +
                                            PartitionRecord(200, 8, "system", "system.mbn") +
                                            PartitionRecord(300, 8, "Aboot", "Aboot.mbn"));
    for (const QString& kept : {QString(), QStringLiteral("sys"), QStringLiteral("system")}) {
        SCOPED_TRACE(kept.toStdString());
        const ui::DialogControls& c = OpenDialog().controls();
        for (ui::DropDownCombo* combo : {c.partition, c.restorePartition}) {
            combo->setEditText(kept);
            for (int drop = 1; drop <= 2; ++drop) {
                combo->showPopup();
                QTest::keyClick(combo->view(), Qt::Key_Escape);
                EXPECT_FALSE(combo->view()->isVisible());
                EXPECT_EQ(combo->currentText(), kept) << "after drop-down " << drop;
                // The first drop-down after start-up only loads the index; the next one fills.
                EXPECT_EQ(Items(*combo).isEmpty(), drop == 1 && combo == c.partition);
            }
            EXPECT_EQ(dialog->bench().index.imagePartitionCount, 4u);
            EXPECT_EQ(Items(*combo), QStringList({"Aboot", "sbl2", "system"}));
            EXPECT_EQ(combo->currentIndex(), combo->findText(kept, Qt::MatchExactly));
        }
        CloseDialog();
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(DialogTest, PartitionDropDownWithoutPartitionTxtSaysSo) {
    std::filesystem::remove(target / "partition.txt");
    const ui::DialogControls& c = OpenDialog().controls();
    c.partition->showPopup();
    c.partition->hidePopup();
    EXPECT_EQ(messages, std::vector<std::string>({kNoPartitionTxt}));
    EXPECT_TRUE(Items(*c.partition).isEmpty());
}

TEST_F(DialogTest, PickersTakeTheChoiceAndHandleCancel) {
    const ui::DialogControls& c = OpenDialog().controls();
    fileAnswers = {"/images/total.bin", ""};
    dialog->OnPickBin();
    EXPECT_EQ(c.bin->text(), "/images/total.bin");
    EXPECT_TRUE(messages.empty());
    dialog->OnPickBin();
    EXPECT_EQ(c.bin->text(), "") << "a cancelled pick empties the BIN path";
    EXPECT_EQ(messages, std::vector<std::string>({"파일지정을 취소하셨습니다."}));

    folderAnswers = {"/images/out", "", "/boards/b7", ""};
    dialog->OnPickDir();
    dialog->OnPickDir();
    EXPECT_EQ(c.dir->text(), "/images/out") << "a cancelled folder pick keeps the path";
    dialog->OnPickTargetDir();
    dialog->OnPickTargetDir();
    EXPECT_EQ(c.targetDir->text(), "/boards/b7");
    EXPECT_EQ(dialog->CurrentSettings().targetDir, "/boards/b7");
}

TEST_F(DialogTest, FirstStartTakesTheDefaults) {
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    const StoredSettings stored = ui::ReadStoredSettings(settings);
    EXPECT_EQ(stored.x, 0);
    EXPECT_EQ(stored.y, 0);
    EXPECT_EQ(stored.cx, 556);
    EXPECT_EQ(stored.cy, 632);
    EXPECT_EQ(stored.apIndex, 0);
    EXPECT_EQ(stored.portIndex, 0);
    EXPECT_EQ(stored.targetDir, QDir::homePath()) << "no C:\\ here";
    OpenDialogWith(stored);
    const ui::DialogControls& c = dialog->controls();
    EXPECT_EQ(c.model->currentIndex(), 0);
    EXPECT_EQ(c.comPort->currentText(), "1");
    EXPECT_EQ(c.targetDir->text(), QDir::homePath());
}

TEST_F(DialogTest, SettingsRoundTrip) {
    StoredSettings stored;
    stored.x = 40;
    stored.y = 50;
    stored.cx = 900;
    stored.cy = 700;
    stored.apIndex = 3;
    stored.portIndex = 8;
    stored.targetDir = "/boards/b7";
    OpenDialogWith(stored);
    const ui::DialogControls& c = dialog->controls();
    EXPECT_EQ(c.model->currentIndex(), 3);
    EXPECT_EQ(c.comPort->currentText(), "9");
    EXPECT_EQ(dialog->frameGeometry().topLeft(), QPoint(40, 50));
    EXPECT_EQ(dialog->width(), 556) << "the stored size is recorded, not applied";

    c.model->setCurrentIndex(5);
    c.comPort->setCurrentIndex(12);
    dialog->move(70, 80);
    const QSize size = dialog->frameGeometry().size();
    CloseDialog();

    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    EXPECT_EQ(settings.value("location/X").toInt(), 70);
    EXPECT_EQ(settings.value("location/Y").toInt(), 80);
    EXPECT_EQ(settings.value("size/CX").toInt(), size.width());
    EXPECT_EQ(settings.value("size/CY").toInt(), size.height());
    EXPECT_EQ(settings.value("AP/AP").toInt(), 5);
    EXPECT_EQ(settings.value("COMport/port").toInt(), 12);
    EXPECT_EQ(settings.value("TargetDir/dir").toString(), "/boards/b7");
    const StoredSettings back = ui::ReadStoredSettings(settings);
    EXPECT_EQ(back.apIndex, 5);
    EXPECT_EQ(back.targetDir, "/boards/b7");
}

TEST_F(DialogTest, NoOrOutOfRangeIndexLeavesAListWithoutSelection) {
    for (const auto& [ap, port] : {std::pair{-1, -1}, std::pair{17, 99}, std::pair{1000, -5}}) {
        StoredSettings stored;
        stored.apIndex = ap;
        stored.portIndex = port;
        OpenDialogWith(stored);
        const ui::DialogControls& c = dialog->controls();
        EXPECT_EQ(c.model->currentIndex(), -1) << ap;
        EXPECT_EQ(c.model->currentText(), "") << ap;
        EXPECT_EQ(c.comPort->currentIndex(), -1) << port;
        CloseDialog();
        QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
        EXPECT_EQ(settings.value("AP/AP").toInt(), -1) << "no selection is saved as -1";
        EXPECT_EQ(settings.value("COMport/port").toInt(), -1);
    }
}

TEST_F(DialogTest, TypedModelTextIsSavedAsNoSelection) {
    const ui::DialogControls& c = OpenDialog().controls();
    c.model->setEditText("Some other board");
    CloseDialog();
    QSettings settings(QStringLiteral("Norvane"), QStringLiteral("Veltrix"));
    EXPECT_EQ(settings.value("AP/AP").toInt(), -1);
    EXPECT_EQ(settings.value("COMport/port").toInt(), 0);
}

}  // namespace
}  // namespace veltrix::testing
