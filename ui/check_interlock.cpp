#include "ui/check_interlock.h"

namespace veltrix::ui {

TestBoxStates ApplyInterlock(TestBox clicked, TestBoxStates s) {
    switch (clicked) {
        case TestBox::kRestoreBootImage:
            s.apCheck = true;
            s.emmcTest = s.sdramTest = s.dump = s.pmicOn = false;
            break;
        case TestBox::kEmmcTest:
        case TestBox::kSdramTest:
            // The eMMC and SDRAM tests run together; each leaves the other as it is.
            s.apCheck = true;
            s.restoreBootImage = s.dump = s.pmicOn = false;
            break;
        case TestBox::kDump:
            s.apCheck = s.emmcTest = true;
            s.sdramTest = s.restoreBootImage = s.pmicOn = false;
            break;
        case TestBox::kPmicOn:
            s.apCheck = true;
            s.emmcTest = s.sdramTest = s.restoreBootImage = s.dump = false;
            break;
        case TestBox::kApCheck:
            break;
    }
    return s;
}

}  // namespace veltrix::ui
