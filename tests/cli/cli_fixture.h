#pragma once
// The scene of veltrix-cli's tests: a work directory with a model folder and a target directory,
// the simulated board on a real pty in the ports folder, and the run view's outputs in files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

#include "cli/commands.h"
#include "diag/device_steps.h"
#include "sim/simulated_board.h"
#include "tests/support/fake_clock.h"

namespace veltrix::cli {

namespace fs = std::filesystem;
inline constexpr int kPort = 13;
inline constexpr const char* kModel = "Tamsin (APQ8064)";

// Everything written to a FILE*, read back as text.
inline std::string Contents(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        text.append(buf, n);
    return text;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

class CliRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/veltrix-cli-XXXXXX";
        folder_ = mkdtemp(templ);
        setenv("VELTRIX_PORTS", (folder_ / "ports").c_str(), 1);
        out_ = std::tmpfile();
        err_ = std::tmpfile();
        summary_ = std::tmpfile();
        view_ = std::make_unique<TerminalView>(out_, err_, false);

        const fs::path model = folder_ / "model" / kModel;
        // A one-record Intel-HEX programmer (4 bytes at 0x1000), its end record.
        WriteText(model / "2nd_loader.hex", ":0410000001020304E2\n:00000001FF\n");
        WriteText(model / "boot_partition_info" / "rawprogram0.xml",
                  "<?xml version=\"1.0\" ?><data><program label=\"sbl2\" start_sector=\"8\" "
                  "num_partition_sectors=\"2\" filename=\"sbl2.mbn\"/></data>");
        // partition.txt: one 80-byte record, sbl2 at sector 8, 2 sectors.
        std::string record(80, '\0');
        record[0] = 8;
        record[4] = 2;
        record.replace(16, 4, "sbl2");
        record.replace(48, 8, "sbl2.mbn");
        WriteText(folder_ / "target" / "partition.txt", record);

        command_.workDir = folder_;
        command_.comPort = std::to_string(kPort);
        command_.selections.model = kModel;
        command_.selections.apCheck = true;
        command_.selections.targetDir = (folder_ / "target").string();
        command_.selections.option = "Read/Write";
        command_.selections.level = "1";
        command_.summary = true;
        command_.summaryOut = summary_;
    }
    void TearDown() override {
        board_.reset();
        std::fclose(out_);
        std::fclose(err_);
        std::fclose(summary_);
        unsetenv("VELTRIX_PORTS");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    void StartBoard(const std::function<void(sim::BoardOptions&)>& tweak = {}) {
        sim::BoardOptions options;
        options.portNumber = kPort;
        options.portsFolder = folder_ / "ports";
        options.emmcSize = 16ull << 20;
        if (tweak) {
            tweak(options);
        }
        board_ = std::make_unique<sim::SimulatedBoard>(options);
        std::string error;
        ASSERT_TRUE(board_->Start(&error)) << error;
    }

    int Run() { return RunTests(command_, *view_, steps_, clock_, console_); }
    // Empties the captured outputs between cases.
    void Truncate() {
        for (std::FILE* f : {out_, err_, summary_}) {
            std::fflush(f);
            ASSERT_EQ(ftruncate(fileno(f), 0), 0);
            std::rewind(f);
        }
        view_->ClearLog();
    }

    fs::path folder_;
    DeviceSteps steps_;
    testing::FakeClock clock_;
    std::ostringstream console_;
    std::FILE* out_ = nullptr;
    std::FILE* err_ = nullptr;
    std::FILE* summary_ = nullptr;
    std::unique_ptr<TerminalView> view_;
    std::unique_ptr<sim::SimulatedBoard> board_;
    RunCommand command_;
};

}  // namespace veltrix::cli
