#pragma once
// The device operations a run reaches, behind one seam: the sequencer and run preparation call
// them through RunSteps, so the tests can script every branch and the shipped build can supply
// each operation as its own work lands (DeviceSteps). Results are the system's int codes.

#include <cstdint>
#include <filesystem>
#include <string>

namespace veltrix {

struct Workbench;

class RunSteps {
public:
    virtual ~RunSteps() = default;

    // AP check: 0 the flash programmer runs and the session refers to the open link; 21 the
    // upload failed during a DDR wait and one retry pass is wanted; else failure (logged).
    virtual int RunApCheck(Workbench& bench, int comPort) = 0;
    // AP check with the DDR-debug image: 0 the image runs on the board; else failure.
    virtual int RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs) = 0;
    // Streaming commands on the run's session: 0 for success.
    virtual int OpenPartition(Workbench& bench) = 0;
    virtual int ClosePartition(Workbench& bench) = 0;
    virtual int ResetTarget(Workbench& bench) = 0;
    // The device's total sector count, or 6 when the exchange fails.
    virtual int64_t GetPhysicalPartitionInfo(Workbench& bench) = 0;
    // eMMC test with the option (1..4): 0 pass, else fail (logged).
    virtual int RunEmmcTest(Workbench& bench, int emmcOption) = 0;
    // Boot-image restore of one label, or of the whole program list when it is empty.
    virtual int WriteBootImages(Workbench& bench, const std::string& label) = 0;
    // Two-phase SDRAM test: 0 with ddrWaiting set (phase 1 done, hand over) or clear (verdict
    // collected); 29 a boot-image write failed; 30 the verdict cannot be read; 31 other failure.
    virtual int RunSdramImageTest(Workbench& bench) = 0;
    // Level test through the DDR-debug image: 0 the exchange ran to its end; never sets ddrWaiting.
    virtual int RunSdramLevelTest(Workbench& bench, int comPort) = 0;
    // PMIC status and PMIC ON; the sequencer does not use the result.
    virtual int RunPmicControl(Workbench& bench) = 0;
    // Loads "rawprogram0.xml" into the run's program list: 0 or more success, negative failure.
    virtual int LoadProgramList(Workbench& bench, const std::filesystem::path& path) = 0;
    // Closes the COM port if open; always 0.
    virtual int ClosePort(Workbench& bench) = 0;
    // One framed exchange on the run's link. `replyLength` is the capacity on entry and the
    // reply length on return.
    virtual int Transact(Workbench& bench, const uint8_t* request, int requestLength,
                         uint8_t* reply, int& replyLength) = 0;
};

}  // namespace veltrix
