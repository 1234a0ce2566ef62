#pragma once
// The SDRAM test as the board runs it: when the host wrote a test boot image into the boot
// partition and then resets the board, the board boots that image, which tests the memory and
// writes its verdict record at the start of the verdict partition before the board returns to
// download mode.
//
// Which boot is a test boot: with a test image given, the boot partition's first bytes must
// equal that image's first sector. Without one, a write to the boot partition's first sector
// arms the test and every reset runs it until the boot partition is written again after a test
// (the host restoring the real boot image).

#include <cstdint>
#include <string>
#include <vector>

#include "sim/board_options.h"
#include "sim/emmc_image.h"
#include "sim/partition_table.h"

namespace veltrix::sim {

struct SdramPartitionNames {
    const char* boot;     // where the test image goes (the first one for family 2)
    const char* verdict;  // where the test image writes its verdict record
};

// Family 0: "sbl1"/"sbl1"; family 2: "OEMSBL1"/"QCSBL"; any other: "sbl2"/"PrimaryGPT".
SdramPartitionNames SdramPartitionsFor(int loaderFamily);

class SdramTestImage {
public:
    // Loads partition.txt and the test image's signature as the options say.
    bool Configure(const BoardOptions& options, std::string* error);

    // The record the next test writes (at most one sector).
    void SetRecord(const std::string& record) { record_ = record.substr(0, kSectorSize); }
    // Told of every eMMC write (byte offset and length).
    void NoteWrite(uint64_t offset, uint64_t length);
    // At a reset: runs the test if a test image would boot; true when a verdict was written.
    bool RunAtReset(EmmcImage& emmc);

private:
    enum class State { kNormal, kArmed, kTested };

    bool TestImageBoots(const EmmcImage& emmc) const;

    const PartitionRecord* boot_ = nullptr;
    const PartitionRecord* verdict_ = nullptr;
    std::vector<PartitionRecord> table_;
    std::vector<uint8_t> signature_;
    std::string record_;
    State state_ = State::kNormal;
};

}  // namespace veltrix::sim
