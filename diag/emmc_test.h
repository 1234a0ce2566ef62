#pragma once
// The eMMC test, behind the flash programmer the AP check started: the chosen partition (or every
// partition of the program list) is read, written with a test pattern and read back, or the
// whole flash is erased.

#include <array>
#include <cstdint>
#include <string_view>

namespace veltrix {

class RunContext;
struct ProgrammerSession;
struct RunFiles;
struct EmmcChoice;
struct ImagePartition;

// 256 pairs AA 55, then 256 pairs 55 AA: the first sector of the pattern, then the second.
inline constexpr std::array<uint8_t, 1024> emmcTestPattern = [] {
    std::array<uint8_t, 1024> pattern{};
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool firstSector = i < 512;
        pattern[i] = (i % 2 == 0) == firstSector ? 0xAA : 0x55;
    }
    return pattern;
}();

// eMMC test options, from the "Option" text.
inline constexpr int kEmmcReadOnly = 1;
inline constexpr int kEmmcReadWrite = 2;
inline constexpr int kEmmcWriteOnly = 3;
inline constexpr int kEmmcErase = 4;

// The test with the chosen option (1 "Read only", 2 "Read/Write", 3 "Write only", 4 "Erase") on
// the chosen partition, or on every program-list label in order when none is chosen; partitions
// are found in the partition index. Erase takes the whole flash, whatever the partition. Stops
// at the first failure. 0 pass; 6 fail (logged); kErrorOperationAborted when the run was
// cancelled.
int RunEmmcTest(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                const EmmcChoice& choice);

// Writes the pattern into the first sector of the partition, and into its second when the
// partition and the device (`totalSectors`) have one, then reads the sectors back and compares.
// 0 with "%s partition write & verify done..\n"; 6 for a failed write, read or comparison
// (logged); kErrorOperationAborted when the run was cancelled. A partition of no sectors is
// reported and left alone (0). The pattern stays: the partition is listed in the record's
// patternLeftIn from the moment its write is sent.
int WriteVerifyPartition(RunContext& ctx, ProgrammerSession& session, const ImagePartition& entry,
                         int64_t totalSectors);

}  // namespace veltrix
