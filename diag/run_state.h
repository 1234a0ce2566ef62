#pragma once
// The record of the current run: the operator's selections as START took them, the session of
// the run's streaming commands, the model's program list and the flags that carry a run across
// its passes.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "diag/run_record.h"
#include "layout/program_list.h"
#include "protocol/programmer_session.h"

namespace veltrix {

// eMMC test options, from the "Option" text.
inline constexpr int kEmmcReadOnly = 1;
inline constexpr int kEmmcReadWrite = 2;
inline constexpr int kEmmcWriteOnly = 3;
inline constexpr int kEmmcErase = 4;

struct RunState {
    // A run is active. Set by StartRun before the worker starts; cleared by CompleteRun and
    // AbortRun. Read by the user-interface thread, hence atomic.
    std::atomic<bool> running{false};
    // List position at which the next run-log line goes.
    int logLineCount = 0;
    // The session of every streaming command of the run; the AP check sets it up.
    ProgrammerSession session;
    // Entries of the model's "rawprogram0.xml"; loaded by PrepareRun, emptied when the worker ends.
    ProgramList programList;

    // The selections, held as copies of the texts START saw (UTF-8).
    std::string model;
    int comPort = 0;
    bool apCheck = false;
    bool emmcTest = false;
    bool restoreBootImage = false;
    bool sdramTest = false;
    bool dump = false;
    bool pmicOn = false;
    // Phase 1 of the two-phase SDRAM test has started a DDR test on the board and its verdict is
    // still to be collected.
    bool ddrWaiting = false;
    // The SDRAM test has written (some of) its test boot images and the board's own boot images
    // are not back yet: a run that ends now leaves a board that does not boot.
    bool testImagesOnBoard = false;
    std::string partitionLabel;
    // Empty unless "RESTORE BOOT IMG" was selected.
    std::string restoreLabel;
    // The program directory recorded at start-up: base of every model folder.
    std::filesystem::path workDir;
    // Last result of GetPhysicalPartitionInfo: the device's total sector count.
    int64_t totalSectors = 0;
    int emmcOption = 0;
    std::string targetDir;
    // SDRAM test level: 1 when the "Level" text is exactly "1", else 0.
    uint32_t ddrLevel = 0;

    // How the run ended and what its boxes say: emptied by PrepareRun, written by SetResult and
    // the endings, read by the front end once the worker has ended.
    RunRecord record;
};

}  // namespace veltrix
