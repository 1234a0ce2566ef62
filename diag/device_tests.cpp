// The shipped tests on the board: each operation of BoardTests runs the test of its own file
// against the run's context, session and files.
#include "diag/ap_check.h"
#include "diag/board_tests.h"
#include "diag/boot_restore.h"
#include "diag/emmc_test.h"
#include "diag/model_table.h"
#include "diag/pmic_control.h"
#include "diag/run_files.h"
#include "diag/sdram_level_test.h"
#include "diag/sdram_test.h"

namespace veltrix {
namespace {

class DeviceTests final : public BoardTests {
public:
    DeviceTests(RunContext& ctx, ProgrammerSession& session, const RunFiles& files)
        : ctx_(ctx), session_(session), files_(files) {}

    int CheckAp() override { return RunApCheck(ctx_, session_, files_); }
    int ReconnectAfterDdrTest(bool mayRetry, uint32_t boardWaitMs) override {
        return RunApCheckAfterDdrWait(ctx_, session_, files_, mayRetry, boardWaitMs);
    }
    int CheckApWithDdrImage(uint32_t portWaitMs) override {
        return RunDdrApCheck(ctx_, session_, files_, portWaitMs);
    }
    int TestEmmc(const EmmcChoice& choice) override {
        return RunEmmcTest(ctx_, session_, files_, choice);
    }
    int RestoreBootImages(const std::string& label) override {
        return WriteBootImages(ctx_, session_, files_, label);
    }
    int SdramTestPhase1(SdramLeftovers& leftovers) override {
        return RunSdramTestPhase1(ctx_, session_, files_, leftovers);
    }
    int SdramTestPhase2(SdramLeftovers& leftovers) override {
        return RunSdramTestPhase2(ctx_, session_, files_, leftovers);
    }
    int SdramLevelTest(uint32_t level) override { return RunSdramLevelTest(ctx_, session_, level); }
    int PmicControl() override {
        return RunPmicControl(ctx_, session_, ModelClass(files_.model, ModelQuery::PmicFamily));
    }

private:
    RunContext& ctx_;
    ProgrammerSession& session_;
    const RunFiles& files_;
};

}  // namespace

std::unique_ptr<BoardTests> MakeDeviceTests(RunContext& context, ProgrammerSession& session,
                                            const RunFiles& files) {
    return std::make_unique<DeviceTests>(context, session, files);
}

}  // namespace veltrix
