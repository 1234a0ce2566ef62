#pragma once
// The operator's choices for a run, as START hands them over (UTF-8).

#include <string>

namespace veltrix {

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
};

}  // namespace veltrix
