#pragma once
// The shipped device steps: the streaming commands, the program list and the link as the
// protocol, layout and link folders supply them, and the tests of the diag folder: the AP check,
// the eMMC test, the boot-image restore, the SDRAM test and PMIC control.

#include "diag/run_steps.h"

namespace veltrix {

class DeviceSteps final : public RunSteps {
public:
    int RunApCheck(Workbench& bench, int comPort) override;
    int RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs) override;
    int OpenPartition(Workbench& bench) override;
    int ClosePartition(Workbench& bench) override;
    int ResetTarget(Workbench& bench) override;
    int64_t GetPhysicalPartitionInfo(Workbench& bench) override;
    int RunEmmcTest(Workbench& bench, int emmcOption) override;
    int WriteBootImages(Workbench& bench, const std::string& label) override;
    int RunSdramImageTest(Workbench& bench) override;
    int RunSdramLevelTest(Workbench& bench, int comPort) override;
    int RunPmicControl(Workbench& bench) override;
    int LoadProgramList(Workbench& bench, const std::filesystem::path& path) override;
    int ClosePort(Workbench& bench) override;
    int Transact(Workbench& bench, const uint8_t* request, int requestLength, uint8_t* reply,
                 int& replyLength) override;
};

}  // namespace veltrix
