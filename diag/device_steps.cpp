#include "diag/device_steps.h"

#include "diag/ap_check.h"
#include "diag/boot_restore.h"
#include "diag/emmc_test.h"
#include "diag/pmic_control.h"
#include "diag/sdram_level_test.h"
#include "diag/sdram_test.h"
#include "diag/workbench.h"
#include "layout/program_list.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix {

int DeviceSteps::RunApCheck(Workbench& bench, int comPort) {
    return veltrix::RunApCheck(bench, comPort);
}

int DeviceSteps::RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs) {
    return veltrix::RunDdrApCheck(bench, comPort, portWaitMs);
}

int DeviceSteps::OpenPartition(Workbench& bench) {
    return veltrix::OpenPartition(bench.state.session);
}

int DeviceSteps::ClosePartition(Workbench& bench) {
    return veltrix::ClosePartition(bench.state.session);
}

int DeviceSteps::ResetTarget(Workbench& bench) {
    return veltrix::ResetTarget(bench.state.session);
}

int64_t DeviceSteps::GetPhysicalPartitionInfo(Workbench& bench) {
    return veltrix::GetPhysicalPartitionInfo(bench.state.session);
}

int DeviceSteps::RunEmmcTest(Workbench& bench, int emmcOption) {
    return veltrix::RunEmmcTest(bench, emmcOption);
}

int DeviceSteps::WriteBootImages(Workbench& bench, const std::string& label) {
    return veltrix::WriteBootImages(bench, label);
}

int DeviceSteps::RunSdramImageTest(Workbench& bench) {
    return veltrix::RunSdramImageTest(bench);
}

int DeviceSteps::RunSdramLevelTest(Workbench& bench, int comPort) {
    return veltrix::RunSdramLevelTest(bench, comPort);
}

int DeviceSteps::RunPmicControl(Workbench& bench) {
    return veltrix::RunPmicControl(bench);
}

int DeviceSteps::LoadProgramList(Workbench& bench, const std::filesystem::path& path) {
    return veltrix::LoadProgramList(bench.state.programList, path);
}

int DeviceSteps::ClosePort(Workbench& bench) {
    return veltrix::ClosePort(bench.link);
}

int DeviceSteps::Transact(Workbench& bench, const uint8_t* request, int requestLength,
                          uint8_t* reply, int& replyLength) {
    return veltrix::Transact(request, requestLength, bench.link, reply, replyLength);
}

}  // namespace veltrix
