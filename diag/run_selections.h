#pragma once
// The operator's choices for a run, as START hands them over (UTF-8).

#include <cstdint>
#include <string>

#include "protocol/programmer_session.h"

namespace veltrix {

inline constexpr uint32_t kDefaultBoardWaitSeconds = 600;

struct RunSelections {
    bool apCheck = false;
    bool emmcTest = false;
    bool restoreBootImage = false;
    bool sdramTest = false;
    bool dump = false;
    std::string model;
    std::string partitionLabel;
    std::string restoreLabel;
    std::string option;  // "Read only", "Read/Write", "Write only" or "Erase"
    bool pmicOn = false;
    std::string targetDir;
    std::string level;  // "0" or "1"
    // How long the SDRAM test waits for the board to come back after its reset before the run
    // ends as aborted.
    uint32_t boardWaitSeconds = kDefaultBoardWaitSeconds;
    // READs a dump keeps in flight when the programmer takes them; 1 asks one sector per exchange.
    int readWindow = kDefaultReadWindow;
};

}  // namespace veltrix
