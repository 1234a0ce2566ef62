#include "tests/support/scene_board.h"

#include <gtest/gtest.h>

#include "diag/model_table.h"

namespace veltrix::testing {

sim::BoardOptions BoardFor(const BenchScene& scene, const std::string& model, int port) {
    sim::BoardOptions options;
    options.portNumber = port;
    options.portsFolder = scene.portsFolder();
    options.loaderFamily = ModelClass(model, ModelQuery::LoaderFamily);
    const int pmic = ModelClass(model, ModelQuery::PmicFamily);
    options.pmicFamily = pmic == kPmicNotSupported ? 1 : pmic;
    // The model's images, where the scene has written them.
    const auto present = [](const std::filesystem::path& p) {
        return std::filesystem::exists(p) ? p : std::filesystem::path();
    };
    options.ddrImagePath = present(scene.ModelFolder(model) / "ddr_debug.mbn");
    options.sdramTestImagePath =
        present(scene.TestImage(model, options.loaderFamily == 0   ? "sbl1.mbn"
                                       : options.loaderFamily == 2 ? "oemsblhd.mbn"
                                                                   : "sbl2.mbn"));
    options.partitionTxt = present(scene.targetDir() / "partition.txt");
    options.emmcPath = scene.root() / "emmc.bin";  // kept across board restarts
    options.emmcSize = 64ull << 20;
    options.resetDelayMs = 20;
    options.resetGraceMs = 300;
    options.helloDelayMs = 5;
    options.saharaDataIdleMs = 60;
    return options;
}

std::unique_ptr<sim::SimulatedBoard> StartBoard(const sim::BoardOptions& options) {
    auto board = std::make_unique<sim::SimulatedBoard>(options);
    std::string error;
    if (!board->Start(&error)) {
        ADD_FAILURE() << "the simulated board did not start: " << error;
        return nullptr;
    }
    return board;
}

void ReadyBoard(std::unique_ptr<sim::SimulatedBoard>& board, const sim::BoardOptions& options) {
    if (board && board->mode() != sim::BoardMode::kDloadRom &&
        board->mode() != sim::BoardMode::kSaharaRom && board->mode() != sim::BoardMode::kAway) {
        board.reset();
    }
    if (!board) {
        board = StartBoard(options);
        ASSERT_NE(board, nullptr);
    }
    ASSERT_TRUE(board->WaitUntil(
        [&] {
            const auto mode = board->mode();
            return (mode == sim::BoardMode::kDloadRom || mode == sim::BoardMode::kSaharaRom) &&
                   !board->linkPath().empty();
        },
        5000));
}

Bytes ReadFlash(const sim::SimulatedBoard& board, uint64_t sector, size_t sectors) {
    Bytes out(sectors * 512);
    EXPECT_TRUE(board.ReadEmmc(sector * 512, out));
    return out;
}

std::vector<Bytes> Requests(const sim::SimulatedBoard& board, uint8_t command) {
    std::vector<Bytes> out;
    for (const Bytes& request : board.RequestJournal()) {
        if (!request.empty() && request[0] == command) {
            out.push_back(request);
        }
    }
    return out;
}

uint32_t Le32(const Bytes& bytes, size_t at) {
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

void SceneRunTest::Run(const RunSelections& selections) {
    ReadyBoard(board, options);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(rig.Run(selections, kBoardPort), kErrorSuccess);
}

}  // namespace veltrix::testing
