#pragma once
// The record of the current run: the operator's selections as START took them (one value) and
// what follows from them, the model's program list, and the flags that carry a run across its
// passes. Owned by the run engine.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "diag/board_tests.h"
#include "diag/run_selections.h"
#include "layout/program_list.h"

namespace veltrix {

struct RunState {
    // A run is active: set by START before the worker starts, cleared by the endings. Read by the
    // front end's thread, hence atomic.
    std::atomic<bool> running{false};

    // The selections as START took them; `apCheck` is forced on when a program list is loaded.
    RunSelections selections;
    int comPort = 0;
    // The eMMC option (1..4, "Read only" whenever dump is chosen) and the SDRAM level (0 or 1).
    int emmcOption = 0;
    uint32_t ddrLevel = 0;
    // The program directory: base of every model folder.
    std::filesystem::path workDir;
    // Entries of the model's "rawprogram0.xml": loaded by preparation, emptied when the worker
    // ends.
    ProgramList programList;
    // Why preparation refused the program list (kPrepareProgramListUnusable), in a few words.
    std::string programListProblem;

    // Phase 1 of the two-phase SDRAM test has started a DDR test on the board and its verdict is
    // still to be collected.
    bool ddrWaiting = false;
    // During a DDR wait the AP check has already asked for its one retry pass.
    bool apRetried = false;
    // What the SDRAM test has written over the board's own images and not put back yet: a run
    // that ends with any of it leaves a board that does not boot.
    SdramLeftovers sdramLeftovers;
    // Last result of GetPhysicalPartitionInfo: the device's total sector count.
    int64_t totalSectors = 0;
};

}  // namespace veltrix
