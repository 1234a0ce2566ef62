#include "diag/ap_check.h"

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/run_log.h"
#include "diag/run_worker.h"
#include "diag/workbench.h"
#include "link/serial_link.h"
#include "protocol/dload.h"
#include "protocol/sahara.h"
#include "protocol/streaming.h"

namespace veltrix {
namespace {

constexpr const char* kProgrammerFile = "2nd_loader.hex";
constexpr const char* kDdrImageFile = "ddr_debug.mbn";

constexpr std::string_view kPortOpenFailed = "Serial port open FAILED..\n";
constexpr std::string_view kStartLine = "======== AP CHECK START\n";
constexpr std::string_view kNotInDloadLine =
    "Device was not found in dload trying flash programmer\n";
constexpr std::string_view kNotInDloadMessage =
    "Device가 DLOAD mode 상태가 아닙니다.  \n\nDevice was not found in dload trying flash "
    "programmer.  ";
constexpr std::string_view kUploadFailedLine = "Failed during loading flash programmer\n";
constexpr std::string_view kWaitingLine = "Waiting for the device to connect in flash prg\n";
constexpr std::string_view kNoResponseMessage =
    "Device에서 응답이 없습니다. PMIC를 먼저 확인 후, 이상여부에 따라 AP를 교체해 주시기 "
    "바랍니다.  \n\nNo response from the device. Check PMIC first and if still boot problem, "
    "replace AP.  ";
constexpr std::string_view kConnectFailedLine = "Failed to connect to the flash programmer\n";
constexpr std::string_view kConnectedLine = "Connected to flash programmer\n";
constexpr std::string_view kPassLine = "AP CHECK = pass\n";

// The board is back in download mode only when its port exists again: poll every 30 s, with one
// live log line counting the minutes. There is no limit, as the test may take long; only the
// operator's cancel ends the wait (false).
bool OpenPortWhenBack(Workbench& bench, int comPort) {
    int waits = 0;
    while (OpenPort(bench.link, comPort) != kErrorSuccess) {
        if (!RunWait(bench, kDdrPollWaitMs)) {
            if (waits > 0) {
                KeepLiveLogLine(bench);  // the lines of the ending go below it, not above
            }
            return false;
        }
        ++waits;
        ReplaceLiveLogLine(bench, Format("Elapsed time for DDR test : %dmin\n", waits / 2));
    }
    if (waits > 0) {
        KeepLiveLogLine(bench);
    }
    return true;
}

// "Serial port open FAILED..", then why, in the system's words, with the device.
void LogPortOpenFailed(Workbench& bench) {
    AppendLog(bench, kPortOpenFailed);
    AppendLog(bench, PortFailureText(bench.link) + "\n");
}

void ResetSession(Workbench& bench) {
    bench.state.session.link = &bench.link;
    bench.state.session.sectorAddressing = false;
}

void ReportNotInDownloadMode(Workbench& bench) {
    ShowRunMessage(bench, std::string(kNotInDloadMessage));
    AppendLog(bench, kNotInDloadLine);
}

// Probes the boot ROM and uploads the programmer with the protocol of the model's loader
// family. 0 uploaded; kErrorInvalidHandle when the ROM does not answer (already reported);
// another code when the upload failed.
int ProbeAndUpload(Workbench& bench, const std::filesystem::path& file, bool& romAnswered) {
    romAnswered = false;
    if (ModelClass(bench.state.model, ModelQuery::LoaderFamily) != kSaharaLoader) {
        ResetSession(bench);
        if (DloadNop(bench.state.session) != kErrorSuccess) {
            return kErrorInvalidHandle;
        }
        romAnswered = true;
        return UploadHexProgrammer(file, bench.state.session);
    }
    if (SaharaHello(bench.link) != kErrorSuccess) {
        return kErrorInvalidHandle;
    }
    romAnswered = true;
    const int result = SaharaUploadImage(file, bench.link);
    ResetSession(bench);
    return result;
}

// Opens the port, trying every kReopenPollMs on the run's clock for up to `windowMs` while the
// board is away (it re-enumerates after a reset or a drop). 0; the code of the last failed open
// (the link says why); kErrorOperationAborted when the run was cancelled.
int OpenPortWithin(Workbench& bench, int comPort, uint32_t windowMs) {
    for (uint32_t waited = 0;; waited += kReopenPollMs) {
        const int code = OpenPort(bench.link, comPort);
        if (code == kErrorSuccess || waited >= windowMs) {
            return code;
        }
        if (!RunWait(bench, kReopenPollMs)) {
            return kErrorOperationAborted;
        }
    }
}

// Closes the lost port and opens it again once it is back within kReconnectWindowMs. 0 reopened;
// kErrorDeviceNotConnected when it did not come back (logged); kErrorOperationAborted when the
// run was cancelled.
int ReopenWhenBack(Workbench& bench, int comPort) {
    ClosePort(bench.link);
    const int code = OpenPortWithin(bench, comPort, kReconnectWindowMs);
    if (code == kErrorSuccess) {
        AppendLog(bench, Format("Serial port COM%d reopened\n", comPort));
        return kErrorSuccess;
    }
    if (code == kErrorOperationAborted) {
        return code;
    }
    AppendLog(bench, Format("Serial port did not come back within %u s: %s\n",
                            kReconnectWindowMs / 1000, PortFailureText(bench.link).c_str()));
    return kErrorDeviceNotConnected;
}

// The programmer's handshake. A board may drop off the bus after the upload and come back under
// the same port: the hang-up is logged with the port's words, the port reopened, and the
// handshake started again.
int ConnectAfterUpload(Workbench& bench, int comPort) {
    int result = ConnectProgrammer(bench.state.session);
    for (int i = 0; i < kMaxReconnects && result == kErrorDeviceNotConnected; ++i) {
        AppendLog(bench, Format("Serial port lost: %s\n", PortFailureText(bench.link).c_str()));
        if (const int reopened = ReopenWhenBack(bench, comPort); reopened != kErrorSuccess) {
            return reopened;
        }
        result = ConnectProgrammer(bench.state.session);
    }
    return result;
}

// "Failed during loading flash programmer", after a line that says so when the file itself is
// to blame (nothing of it was sent then); the AP box shows FAIL.
void LogUploadFailed(Workbench& bench, const std::filesystem::path& file, int upload) {
    if (upload == kErrorOpenFailed || upload == kErrorInvalidData) {
        AppendLog(bench, Format("%s cannot be used (missing, damaged, too large or not a regular "
                                "file); nothing was sent\n",
                                file.string().c_str()));
    }
    AppendLog(bench, kUploadFailedLine);
    SetResult(bench, ResultBox::kAp, kResultFail);
}

void LogPassBlock(Workbench& bench) {
    SetResult(bench, ResultBox::kAp, kResultPass);
    AppendLog(bench, kPassLine);
    AppendLog(bench, kSectionEndLine);
    AppendLog(bench, kEmptyLine);
}

}  // namespace

int RunApCheck(Workbench& bench, int comPort) {
    RunState& state = bench.state;
    if (comPort == 0) {
        return kErrorGenFailure;
    }
    if (state.ddrWaiting) {
        if (!OpenPortWhenBack(bench, comPort)) {
            return kErrorOperationAborted;
        }
    } else if (OpenPort(bench.link, comPort) != kErrorSuccess) {
        LogPortOpenFailed(bench);
        return kErrorGenFailure;
    } else {
        AppendLog(bench, kStartLine);
    }

    bool romAnswered = false;
    const auto file = ModelFolder(state.workDir, state.model) / kProgrammerFile;
    const int upload = ProbeAndUpload(bench, file, romAnswered);
    if (!romAnswered) {
        ReportNotInDownloadMode(bench);
        return kErrorGenFailure;
    }
    if (upload != kErrorSuccess) {
        if (state.ddrWaiting && !bench.apRetried) {
            bench.apRetried = true;
            return kErrorNotReady;
        }
        LogUploadFailed(bench, file, upload);
        return kErrorGenFailure;
    }

    AppendLog(bench, kWaitingLine);
    if (!RunWait(bench, kProgrammerStartWaitMs)) {
        return kErrorOperationAborted;
    }
    const int connected = ConnectAfterUpload(bench, comPort);
    if (connected == kErrorOperationAborted) {
        return kErrorOperationAborted;
    }
    if (connected != kErrorSuccess) {
        ShowRunMessage(bench, std::string(kNoResponseMessage));
        AppendLog(bench, kConnectFailedLine);
        return kErrorGenFailure;
    }
    AppendLog(bench, kConnectedLine);
    if (!state.ddrWaiting) {
        LogPassBlock(bench);
    }
    return kErrorSuccess;
}

int RunDdrApCheck(Workbench& bench, int comPort, uint32_t portWaitMs) {
    if (comPort == 0) {
        return kErrorGenFailure;
    }
    if (const int opened = OpenPortWithin(bench, comPort, portWaitMs); opened != kErrorSuccess) {
        if (opened == kErrorOperationAborted) {
            return opened;
        }
        LogPortOpenFailed(bench);
        return kErrorGenFailure;
    }
    AppendLog(bench, kStartLine);
    const auto file = ModelFolder(bench.state.workDir, bench.state.model) / kDdrImageFile;
    if (SaharaHello(bench.link) != kErrorSuccess) {
        ReportNotInDownloadMode(bench);
        return kErrorGenFailure;
    }
    const int upload = SaharaUploadImage(file, bench.link);
    ResetSession(bench);
    if (upload != kErrorSuccess) {
        LogUploadFailed(bench, file, upload);
        return kErrorGenFailure;
    }
    AppendLog(bench, kWaitingLine);
    if (!RunWait(bench, kProgrammerStartWaitMs)) {
        return kErrorOperationAborted;
    }
    LogPassBlock(bench);
    return kErrorSuccess;
}

}  // namespace veltrix
