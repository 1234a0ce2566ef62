#pragma once
// Which test boxes go on or off when the operator ticks one: a run tests either the eMMC and the
// SDRAM, or restores boot images, or switches the PMIC on, and every test needs the AP check.

namespace veltrix::ui {

enum class TestBox { kApCheck, kEmmcTest, kSdramTest, kRestoreBootImage, kDump, kPmicOn };

struct TestBoxStates {
    bool apCheck = false;
    bool emmcTest = false;
    bool sdramTest = false;
    bool restoreBootImage = false;
    bool dump = false;
    bool pmicOn = false;

    bool operator==(const TestBoxStates&) const = default;
};

// The states after `clicked` took the state the operator gave it (already in `states`). The
// clicked box keeps its state; boxes its row does not name stay as they are.
TestBoxStates ApplyInterlock(TestBox clicked, TestBoxStates states);

}  // namespace veltrix::ui
