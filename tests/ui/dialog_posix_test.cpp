// The window's tests that need a POSIX system: the simulated board on a pseudo-terminal, ports as
// links in a folder, symbolic links. The Windows build leaves them out.
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "link/port_list.h"
#include "tests/support/bench_scene.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scene_board.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/console_log.h"
#include "ui/port_choices.h"

namespace veltrix::testing {
namespace {

// The 15 s the board tests its memory after the hand-over count down on the bar ("13 s left"),
// never the 100% of the step before; after it the bar shows percent again. The Level box of a
// two-phase model says 0, and so does the run.
TEST_F(DialogTest, TheDdrWaitCountsDownOnTheBar) {
    sim::BoardOptions options = BoardFor(scene, kDloadModel);
    options.startInProgrammer = true;
    auto board = StartBoard(options);
    ASSERT_TRUE(board);
    FakeClock fake;
    clock = &fake;
    QString barDuringWait;
    int maximumDuringWait = 0;
    fake.CueAt(1000, 3, [&] {
        QMetaObject::invokeMethod(
            dialog.get(),
            [&] {
                barDuringWait = p().progress->text();
                maximumDuringWait = p().progress->maximum();
            },
            Qt::BlockingQueuedConnection);
    });
    script.Answer("SdramTestPhase1", [](ScriptedCall& call) {
        call.ctx.Progress(100);
        return kErrorSuccess;
    });
    Open();
    SetUpApCheck(kBoardPort);
    c().sdramTest->setChecked(true);
    EXPECT_EQ(c().level->currentText(), "0");
    dialog->OnStart();
    ASSERT_TRUE(WaitForRunEnd(20000));
    EXPECT_EQ(p().verdict->text(), "PASS") << ::testing::PrintToString(LogLines());
    EXPECT_EQ(barDuringWait.toStdString(), "13 s left");
    EXPECT_EQ(maximumDuringWait, 15);
    EXPECT_EQ(p().progress->maximum(), 100);
    EXPECT_EQ(p().progress->format(), "%p%");
    EXPECT_EQ(LastRecord()["selections"].toObject()["level"].toString(), "0");
}

// The shipped tests against the simulated board, started with F5 on the port chosen from the list
// as it opens, marking what is behind each port (a typed port is kept): the programmer uploaded,
// the eMMC read, both boxes PASS, the board reset at the end, and the run's record. A dump run
// after it names its folder and each file under its log.
TEST_F(DialogTest, WholeRunsAgainstTheSimulatedBoardAreRecordedAndNameTheirDumps) {
    auto board = StartBoard(BoardFor(scene, kDloadModel));
    ASSERT_TRUE(board);
    std::filesystem::create_symlink(scene.root() / "gone", scene.portsFolder() / "COM40");
    Open(MakeDeviceTests);
    SetUpApCheck(kBoardPort);
    c().emmcTest->setChecked(true);
    Select(*c().option, "Read/Write");
    yesNoAnswers = {true};  // the pattern may stay
    c().comPort->setEditText("COM 7");
    c().comPort->showPopup();
    c().comPort->hidePopup();
    EXPECT_EQ(c().comPort->currentText(), "COM 7");
    EXPECT_TRUE(p().statusLine->findItems(ui::kNoBoardFound, Qt::MatchExactly).isEmpty())
        << "a board is behind COM14";
    const QStringList ports = Items(*c().comPort);
    EXPECT_EQ((ports[0] + "|" + ports[39]).toStdString(), "1|40  missing");
    EXPECT_TRUE(ports[13].contains(QRegularExpression("^14  pts/[0-9]+$")))
        << ports[13].toStdString();
    c().comPort->setCurrentIndex(13);
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    QTest::keyClick(dialog.get(), Qt::Key_F5);
    ASSERT_TRUE(WaitForRunEnd(20000));
    EXPECT_EQ(p().apResult->text() + p().emmcResult->text() + p().sdramResult->text(),
              "PASSPASSN/T");
    EXPECT_EQ(p().verdict->text(), "PASS");
    // Under the verdict: where the pattern stays and what puts the images back.
    EXPECT_TRUE(p().advice->text().startsWith("the test pattern is in "))
        << p().advice->text().toStdString();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(board->WaitUntil([&] { return board->resets() == 1; }, 5000));
    const QJsonObject record = LastRecord();
    EXPECT_EQ(record["results"].toObject()["emmc"].toString(), "PASS");
    EXPECT_EQ(record["selections"].toObject()["option"].toString(), "Read/Write");
    EXPECT_FALSE(record["patternLeftIn"].toArray().isEmpty());
    EXPECT_EQ(record["log"].toArray().size(), qsizetype(LogLines().size()));

    ReadyBoard(board, BoardFor(scene, kDloadModel));
    c().dump->click();
    c().partition->setEditText("sbl2");
    dialog->OnStart();
    ASSERT_TRUE(WaitForRunEnd(20000));
    EXPECT_EQ(p().verdict->text(), "PASS");
    const std::filesystem::path dumps = scene.ModelFolder(kDloadModel) / "dump";
    const Lines lines = LogLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Lines(lines.end() - 2, lines.end()),
              (Lines{"Dump files in " + dumps.string() + ":", "  sbl2.dump (1024 bytes)"}));
    EXPECT_EQ(ReadBytes(dumps / "sbl2.dump"), ReadFlash(*board, 8, 2));
}

// START offers the one board in download mode present when the chosen port has nothing behind it.
TEST_F(DialogTest, OneBoardInDownloadModeIsOfferedForAPortWithNothingBehindIt) {
    WriteText(scene.root() / "device", "");
    std::filesystem::create_symlink(scene.root() / "device", scene.portsFolder() / "COM5");
    // Ports 7 and 3 hold a board in download mode, 8 held one that is gone, 9 holds another device.
    const int numbers[] = {7, 3, 8, 9};
    std::vector<PortInfo> all(4);
    for (int i = 0; i < 4; ++i) {
        all[i].number = numbers[i];
        all[i].usbId = i < 3 ? kDownloadModeUsbId : "1a86:7523";
        all[i].target = i == 2 ? "" : "/dev/ttyUSB0";
    }
    const struct {
        int chosen;
        std::vector<PortInfo> ports;
        int offer;
    } cases[] = {{4, {all[3], all[0]}, 7},
                 {0, {all[2], all[0]}, 7},
                 {5, {all[0]}, 0},
                 {4, {all[1], all[0]}, 0},
                 {4, {all[3], all[2]}, 0}};
    for (const auto& row : cases) {
        EXPECT_EQ(ui::DownloadModePortToOffer(row.chosen, row.ports), row.offer) << row.chosen;
    }

    // With nothing behind any port, the list says what to do as it opens.
    Open();
    for (const bool device : {true, false}) {
        if (!device) {
            std::filesystem::remove(scene.portsFolder() / "COM5");
        }
        const std::vector<PortInfo> ports = ListSerialPorts();
        const bool none = std::none_of(ports.begin(), ports.end(),
                                       [](const PortInfo& port) { return !port.target.empty(); });
        c().comPort->showPopup();
        c().comPort->hidePopup();
        const bool said = !p().statusLine->findItems(ui::kNoBoardFound, Qt::MatchExactly).isEmpty();
        EXPECT_EQ(said, none) << (device ? "COM5 there" : "no COM5");
    }
}

// The panel's console log: each line whole with its time, the file bounded (past the limit it
// becomes "<name>.1" and a new one starts; where it cannot be put aside it starts afresh), a
// line without its end written at the close, never through a link in its place, and lines from
// two threads never mixed.
TEST(ConsoleLogTest, LinesGoWholeIntoABoundedFile) {
    const std::regex stamped(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ (line \d+|partial)\n)");
    const auto linesOf = [&](const std::filesystem::path& file) {
        const Bytes bytes = ReadBytes(file);
        Lines lines;
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        for (std::string line; std::getline(in, line);) {
            EXPECT_TRUE(std::regex_match(line + "\n", stamped)) << line;
            lines.push_back(line.substr(line.find(' ') + 1));
        }
        return lines;
    };
    const struct {
        const char* what;
        const char* planted;  // "link", "folder.1" or none
        int lines;
        uint64_t limit;
        bool partial;  // a last line without its end
        Lines current;
        bool older;  // console.log.1 there
        bool refused;
    } rows[] = {
        {"a few lines", nullptr, 3, 1000, false, {"line 0", "line 1", "line 2"}, false, false},
        {"past the limit", nullptr, 12, 100, false, {"line 9", "line 10", "line 11"}, true, false},
        {"an unfinished line", nullptr, 1, 1000, true, {"line 0", "partial"}, false, false},
        {"a link in its place", "link", 2, 1000, false, {}, false, true},
        {"a folder in the older one's place",
         "folder.1",
         12,
         100,
         false,
         {"line 9", "line 10", "line 11"},
         false,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempFolder folder;
        const std::filesystem::path file = folder / "logs/console.log";
        const std::filesystem::path aside = folder / "aside.txt";
        std::filesystem::create_directories(file.parent_path());
        if (row.planted != nullptr && std::string_view(row.planted) == "link") {
            WriteText(aside, "kept\n");
            std::filesystem::create_symlink(aside, file);
        } else if (row.planted != nullptr) {
            std::filesystem::create_directories(folder / "logs/console.log.1");
        }
        {
            ui::ConsoleLog log(file, row.limit);
            for (int i = 0; i < row.lines; ++i) {
                log.stream() << "line " << i << "\n";
            }
            if (row.partial) {
                log.stream() << "partial" << std::flush;
            }
            EXPECT_EQ(log.problem().empty(), !row.refused) << log.problem();
        }
        if (row.refused) {
            EXPECT_EQ(ReadBytes(aside), Bytes({'k', 'e', 'p', 't', '\n'}));
            continue;
        }
        EXPECT_EQ(linesOf(file), row.current);
        EXPECT_LE(std::filesystem::file_size(file), row.limit);
        EXPECT_EQ(std::filesystem::is_regular_file(folder / "logs/console.log.1"), row.older);
    }

    TempFolder folder;
    {
        ui::ConsoleLog log(folder / "console.log");
        const auto write = [&log] {
            for (int i = 0; i < 500; ++i) {
                log.stream() << "line " << i << "\n";
            }
        };
        std::thread other(write);
        write();
        other.join();
    }
    EXPECT_EQ(linesOf(folder / "console.log").size(), 1000u);
}

}  // namespace
}  // namespace veltrix::testing
