#include "tests/diag/board_run_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "layout/partition_index.h"
#include "layout/partition_txt.h"

namespace veltrix::testing {
namespace fs = std::filesystem;

namespace {

constexpr int kBoardPort = 14;

template <size_t N>
void PutField(std::array<char, N>& field, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

}  // namespace

Bytes Noise(size_t size, unsigned seed) {
    Bytes b(size);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

uint32_t Le32(const Bytes& bytes, size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<uint32_t>(bytes[at + 3]) << 24;
}

void BoardRunFixture::SetUp() {
    char templ[] = "/tmp/veltrix-emmc-run-XXXXXX";
    folder = mkdtemp(templ);
    setenv("VELTRIX_PORTS", (folder / "ports").c_str(), 1);
    options.portNumber = kBoardPort;
    options.portsFolder = folder / "ports";
    options.emmcSize = 64ull << 20;
    options.emmcPath = folder / "emmc.bin";  // kept across board restarts
    options.resetDelayMs = 20;
    options.helloDelayMs = 5;
    bench.state.workDir = folder / "work";
    const fs::path model = bench.state.workDir / "model" / kBoardModel;
    fs::create_directories(model / "boot_partition_info");
    fs::create_directories(model / "dump");
    targetDir = folder / "target";
    fs::create_directories(targetDir);
    WriteFile(folder / "programmer.bin", Noise(700, 3));
    const std::string command = "objcopy -I binary -O ihex --change-addresses 0x10000 '" +
                                (folder / "programmer.bin").string() + "' '" +
                                (model / "2nd_loader.hex").string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    UseProgramList({});
}

void BoardRunFixture::TearDown() {
    view.Release();
    JoinWorker(bench);
    ClosePort(bench.link);
    board.reset();
    unsetenv("VELTRIX_PORTS");
    std::error_code ec;
    fs::remove_all(folder, ec);
}

void BoardRunFixture::UsePartitions(const std::vector<PartitionSpec>& partitions) {
    std::vector<PartitionTxtRecord> records;
    for (const PartitionSpec& p : partitions) {
        PartitionTxtRecord r;
        r.startSector = p.start;
        r.sectorCount = p.count;
        PutField(r.label, p.label);
        PutField(r.fileName, p.fileName.empty() ? p.label + ".mbn" : p.fileName);
        records.push_back(r);
    }
    ASSERT_EQ(WritePartitionTxt(targetDir, records), 0);
}

void BoardRunFixture::UseProgramList(const std::vector<std::string>& labels) {
    std::ofstream xml(bench.state.workDir / "model" / kBoardModel / "boot_partition_info" /
                      "rawprogram0.xml");
    xml << "<?xml version=\"1.0\" ?>\n<data>\n";
    for (const std::string& label : labels) {
        xml << "  <program filename=\"" << label << ".mbn\" label=\"" << label
            << "\" num_partition_sectors=\"1\" start_sector=\"0\"/>\n";
    }
    xml << "</data>\n";
}

void BoardRunFixture::StartBoard() {
    board = std::make_unique<sim::SimulatedBoard>(options);
    std::string error;
    ASSERT_TRUE(board->Start(&error)) << error;
}

void BoardRunFixture::ReadyBoard() {
    const fs::path port = options.portsFolder / ("COM" + std::to_string(kBoardPort));
    if (board->mode() == sim::BoardMode::kProgrammer) {
        board.reset();
        StartBoard();
    }
    ASSERT_TRUE(board->WaitUntil(
        [&] { return board->mode() == sim::BoardMode::kDloadRom && fs::exists(port); }, 5000));
}

void BoardRunFixture::Run(const RunSelections& selections) {
    ReadyBoard();
    view.ClearLog();
    ResetRunDisplay(bench);
    ASSERT_EQ(LoadPartitionIndex(bench.index, targetDir, view), 0);
    ASSERT_EQ(PrepareRun(bench, selections, kBoardPort), kPrepareReady);
    ASSERT_EQ(StartRun(bench), 0);
    JoinWorker(bench);
    ASSERT_FALSE(RunInProgress(bench));
}

RunSelections BoardRunFixture::EmmcTest(const std::string& option, const std::string& label,
                                        bool dump) const {
    RunSelections s;
    s.apCheck = true;
    s.emmcTest = true;
    s.dump = dump;
    s.model = kBoardModel;
    s.partitionLabel = label;
    s.option = option;
    s.targetDir = targetDir.string();
    return s;
}

RunSelections BoardRunFixture::Restore(const std::string& label) const {
    RunSelections s;
    s.apCheck = true;
    s.restoreBootImage = true;
    s.model = kBoardModel;
    s.restoreLabel = label;
    s.option = "Read only";
    s.targetDir = targetDir.string();
    return s;
}

Lines BoardRunFixture::TestLines() const {
    const Lines all = view.Lines();
    auto from = std::find_if(all.begin(), all.end(), [](const std::string& line) {
        return line.starts_with("total sector size") || line.starts_with("======== BOOT IMAGE");
    });
    if (from == all.end() || all.empty()) {
        return all;
    }
    return Lines(std::next(from), all.end() - 1);
}

std::vector<Bytes> BoardRunFixture::Requests(uint8_t code) const {
    std::vector<Bytes> out;
    for (const Bytes& request : board->RequestJournal()) {
        if (!request.empty() && request[0] == code) {
            out.push_back(request);
        }
    }
    return out;
}

Bytes BoardRunFixture::ReadFlash(uint64_t sector, size_t sectors) const {
    Bytes out(sectors * 512);
    EXPECT_TRUE(board->ReadEmmc(sector * 512, out));
    return out;
}

void BoardRunFixture::WriteFlash(uint64_t sector, const Bytes& bytes) {
    ASSERT_TRUE(board->WriteEmmc(sector * 512, bytes));
}

Bytes BoardRunFixture::ReadFile(const fs::path& path) const {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void BoardRunFixture::WriteFile(const fs::path& path, const Bytes& bytes) const {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

fs::path BoardRunFixture::DumpFolder() const {
    return bench.state.workDir / "model" / kBoardModel / "dump";
}

}  // namespace veltrix::testing
