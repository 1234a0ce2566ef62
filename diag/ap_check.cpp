#include "diag/ap_check.h"

#include <algorithm>

#include "base/text_format.h"
#include "diag/model_table.h"
#include "diag/port_doctor.h"
#include "diag/run_context.h"
#include "diag/run_files.h"
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
constexpr std::string_view kUploadStoppedAdvice =
    "the board stopped taking the flash programmer part way: power it off and on in download "
    "mode and start again; if it fails again, check the PMIC first (PMIC ON), then the AP";
constexpr std::string_view kWaitingLine = "Waiting for the device to connect in flash prg\n";
constexpr std::string_view kNoResponseMessage =
    "Device에서 응답이 없습니다. PMIC를 먼저 확인 후, 이상여부에 따라 AP를 교체해 주시기 "
    "바랍니다.  \n\nNo response from the device. Check PMIC first and if still boot problem, "
    "replace AP.  ";
constexpr std::string_view kConnectFailedLine = "Failed to connect to the flash programmer\n";
constexpr std::string_view kConnectedLine = "Connected to flash programmer\n";
constexpr std::string_view kPassLine = "AP CHECK = pass\n";

// The board is back in download mode only when its port exists again: poll every 30 s, with one
// live log line counting the minutes, for up to `boardWaitMs`. 0 when the port is open;
// kErrorOperationAborted when the operator cancelled; kErrorGenFailure when the board did not
// come back in time (logged, the reason noted).
int OpenPortWhenBack(RunContext& ctx, SerialLink& link, uint32_t boardWaitMs) {
    int waits = 0;
    uint32_t waited = 0;
    int result = kErrorSuccess;
    while (link.Open() != kErrorSuccess) {
        if (waited >= boardWaitMs) {
            result = kErrorGenFailure;
            break;
        }
        const uint32_t step = std::min(kDdrPollWaitMs, boardWaitMs - waited);
        if (!ctx.Wait(step)) {
            result = kErrorOperationAborted;
            break;
        }
        waited += step;
        ++waits;
        ctx.ReplaceLiveLine(Format("Elapsed time for DDR test : %dmin\n", waits / 2));
    }
    if (waits > 0) {
        ctx.KeepLiveLine();  // the lines that follow go below it, not above
    }
    if (result == kErrorGenFailure) {
        ctx.Log(Format("The board did not come back within %u s after the DDR test's reset: %s\n",
                       boardWaitMs / 1000, link.FailureText().c_str()));
        ctx.NoteFailure("the board did not come back",
                        "power the board off and on in download mode, then run RESTORE BOOT IMG");
    }
    return result;
}

// "Serial port open FAILED..", then why, in the system's words, with the device, and what to do
// about it.
void LogPortOpenFailed(RunContext& ctx, const SerialLink& link, int code) {
    ctx.Log(kPortOpenFailed);
    ctx.Log(link.FailureText() + "\n");
    const PortFinding finding = ExplainOpenFailure(link, code);
    ctx.Log(finding.todo + "\n");
    ctx.NoteFailure(finding.reason, finding.Line());
}

// The boot ROM did not answer: the box and the line, then what the board does instead (a
// programmer left by an aborted run answers a harmless HELLO) and what to do.
void ReportNotInDownloadMode(RunContext& ctx, SerialLink& link) {
    ctx.ShowMessage(kNotInDloadMessage);
    ctx.Log(kNotInDloadLine);
    if (ctx.Cancelled()) {
        return;
    }
    const PortFinding finding = ExplainSilentBootRom(link);
    ctx.Log(finding.Line() + "\n");
    ctx.NoteFailure(finding.reason, finding.Line());
}

// Probes the boot ROM and uploads the programmer with the protocol of the model's loader
// family. 0 uploaded; kErrorInvalidHandle when the ROM does not answer; another code when the
// upload failed (`*problem`: what is wrong with a file refused before anything was sent).
// `romAnswered` tells the first case from the others.
int ProbeAndUpload(ProgrammerSession& session, const RunFiles& files, bool& romAnswered,
                   std::string* problem) {
    SerialLink& link = *session.link;
    const std::filesystem::path file = files.modelFolder / kProgrammerFile;
    romAnswered = false;
    session.sectorAddressing = false;
    if (ModelClass(files.model, ModelQuery::LoaderFamily) != kSaharaLoader) {
        if (DloadNop(session) != kErrorSuccess) {
            return kErrorInvalidHandle;
        }
        romAnswered = true;
        return UploadHexProgrammer(file, session, problem);
    }
    if (SaharaHello(link) != kErrorSuccess) {
        return kErrorInvalidHandle;
    }
    romAnswered = true;
    return SaharaUploadImage(file, link, problem);
}

// Opens the port, trying every kReopenPollMs on the run's clock for up to `windowMs` while the
// board is away (it re-enumerates after a reset or a drop). 0; the code of the last failed open
// (the link says why); kErrorOperationAborted when the run was cancelled.
int OpenPortWithin(RunContext& ctx, SerialLink& link, uint32_t windowMs) {
    for (uint32_t waited = 0;; waited += kReopenPollMs) {
        const int code = link.Open();
        if (code == kErrorSuccess || waited >= windowMs) {
            return code;
        }
        if (!ctx.Wait(kReopenPollMs)) {
            return kErrorOperationAborted;
        }
    }
}

// Closes the lost port and opens it again once it is back within kReconnectWindowMs. 0 reopened;
// kErrorDeviceNotConnected when it did not come back (logged); kErrorOperationAborted when the
// run was cancelled.
int ReopenWhenBack(RunContext& ctx, SerialLink& link) {
    link.Close();
    const int code = OpenPortWithin(ctx, link, kReconnectWindowMs);
    if (code == kErrorSuccess) {
        ctx.Log(Format("Serial port COM%d reopened\n", link.portNumber()));
        return kErrorSuccess;
    }
    if (code == kErrorOperationAborted) {
        return code;
    }
    ctx.Log(Format("Serial port did not come back within %u s: %s\n", kReconnectWindowMs / 1000,
                   link.FailureText().c_str()));
    ctx.NoteFailure("port lost",
                    "the board dropped off the bus and did not come back: check the cable and the "
                    "board's power, then start again");
    return kErrorDeviceNotConnected;
}

// The programmer's handshake. A board may drop off the bus after the upload and come back under
// the same port: the hang-up is logged with the port's words, the port reopened, and the
// handshake started again.
int ConnectAfterUpload(RunContext& ctx, ProgrammerSession& session) {
    SerialLink& link = *session.link;
    int result = ConnectProgrammer(session);
    for (int i = 0; i < kMaxReconnects && result == kErrorDeviceNotConnected; ++i) {
        ctx.Log(Format("Serial port lost: %s\n", link.FailureText().c_str()));
        if (const int reopened = ReopenWhenBack(ctx, link); reopened != kErrorSuccess) {
            return reopened;
        }
        result = ConnectProgrammer(session);
    }
    return result;
}

// "Failed during loading flash programmer", after lines that say so when the file itself is to
// blame (nothing of it was sent then; `problem` says what is wrong with it); the AP box shows
// FAIL. A fault of the PC is no upload failure: the run ends naming it, the AP box left alone.
void LogUploadFailed(RunContext& ctx, const std::filesystem::path& file, int upload,
                     const std::string& problem) {
    if (IsPcFault(upload)) {
        // Neither the file nor the board is to blame: the AP box keeps its "N/T".
        const std::string what =
            upload == kErrorTooManyOpenFiles ? "no file descriptors" : "no memory";
        ctx.Log(
            Format("%s cannot be read: the PC has %s left\n", file.string().c_str(), what.c_str()));
        ctx.NoteFaultOffBoard("the PC has " + what + " left to read " + file.string(),
                              upload == kErrorTooManyOpenFiles
                                  ? "close other programs or raise the limit of open files "
                                    "(ulimit -n), then start again"
                                  : "close other programs, then start again");
        return;
    }
    const bool fileToBlame = upload == kErrorOpenFailed || upload == kErrorInvalidData;
    if (fileToBlame) {
        ctx.Log(!problem.empty()
                    ? problem + "; nothing was sent\n"
                    : Format("%s cannot be used (missing, empty, damaged, too large or not a "
                             "regular file); nothing was sent\n",
                             file.string().c_str()));
    }
    ctx.Log(kUploadFailedLine);
    ctx.SetResult(ResultBox::kAp, kResultFail);
    // The boot ROM answered, then stopped taking the programmer part way (or the file is bad).
    ctx.NoteFailure("programmer upload failed",
                    fileToBlame ? "put a good copy of " + file.string() + " in place"
                                : std::string(kUploadStoppedAdvice));
}

void LogPassBlock(RunContext& ctx) {
    ctx.SetResult(ResultBox::kAp, kResultPass);
    ctx.Log(kPassLine);
    ctx.Log(kSectionEndLine);
    ctx.Log(kEmptyLine);
}

// Upload, the programmer's start-up wait and the handshake, once the port is open. In the wait
// mode after a DDR test (`quiet`) no pass block follows, and a failed upload gives 21 when
// `mayRetry`.
int LoadProgrammer(RunContext& ctx, ProgrammerSession& session, const RunFiles& files, bool quiet,
                   bool mayRetry) {
    bool romAnswered = false;
    std::string problem;
    const int upload = ProbeAndUpload(session, files, romAnswered, &problem);
    if (upload != kErrorSuccess && ctx.Cancelled()) {
        // STOP cut the probe or the upload short: neither the board nor the file failed.
        return kErrorOperationAborted;
    }
    if (!romAnswered) {
        ReportNotInDownloadMode(ctx, *session.link);
        return kErrorGenFailure;
    }
    if (upload != kErrorSuccess) {
        if (quiet && mayRetry) {
            return kErrorNotReady;
        }
        LogUploadFailed(ctx, files.modelFolder / kProgrammerFile, upload, problem);
        return kErrorGenFailure;
    }
    ctx.record().programmerRunning = true;
    ctx.Log(kWaitingLine);
    if (!ctx.Wait(kProgrammerStartWaitMs)) {
        return kErrorOperationAborted;
    }
    const int connected = ConnectAfterUpload(ctx, session);
    if (connected == kErrorOperationAborted) {
        return kErrorOperationAborted;
    }
    if (connected != kErrorSuccess) {
        ctx.ShowMessage(kNoResponseMessage);
        ctx.Log(kConnectFailedLine);
        ctx.NoteFailure("programmer did not answer",
                        "the board took the flash programmer but does not answer it: check the "
                        "PMIC first (PMIC ON), and if it still fails, the AP");
        return kErrorGenFailure;
    }
    ctx.Log(kConnectedLine);
    if (!quiet) {
        LogPassBlock(ctx);
    }
    return kErrorSuccess;
}

}  // namespace

int RunApCheck(RunContext& ctx, ProgrammerSession& session, const RunFiles& files) {
    if (session.link->portNumber() == 0) {
        return kErrorGenFailure;
    }
    if (const int opened = session.link->Open(); opened != kErrorSuccess) {
        LogPortOpenFailed(ctx, *session.link, opened);
        return kErrorGenFailure;
    }
    ctx.Log(kStartLine);
    return LoadProgrammer(ctx, session, files, /*quiet=*/false, /*mayRetry=*/false);
}

int RunApCheckAfterDdrWait(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                           bool mayRetry, uint32_t boardWaitMs) {
    if (session.link->portNumber() == 0) {
        return kErrorGenFailure;
    }
    if (const int back = OpenPortWhenBack(ctx, *session.link, boardWaitMs); back != kErrorSuccess) {
        return back;
    }
    return LoadProgrammer(ctx, session, files, /*quiet=*/true, mayRetry);
}

int RunDdrApCheck(RunContext& ctx, ProgrammerSession& session, const RunFiles& files,
                  uint32_t portWaitMs) {
    if (session.link->portNumber() == 0) {
        return kErrorGenFailure;
    }
    SerialLink& link = *session.link;
    if (const int opened = OpenPortWithin(ctx, link, portWaitMs); opened != kErrorSuccess) {
        if (opened == kErrorOperationAborted) {
            return opened;
        }
        LogPortOpenFailed(ctx, link, opened);
        return kErrorGenFailure;
    }
    ctx.Log(kStartLine);
    const std::filesystem::path file = files.modelFolder / kDdrImageFile;
    if (SaharaHello(link) != kErrorSuccess) {
        ReportNotInDownloadMode(ctx, link);
        return kErrorGenFailure;
    }
    std::string problem;
    const int upload = SaharaUploadImage(file, link, &problem);
    session.sectorAddressing = false;
    if (upload != kErrorSuccess) {
        LogUploadFailed(ctx, file, upload, problem);
        return kErrorGenFailure;
    }
    ctx.record().programmerRunning = true;
    ctx.Log(kWaitingLine);
    if (!ctx.Wait(kProgrammerStartWaitMs)) {
        return kErrorOperationAborted;
    }
    LogPassBlock(ctx);
    return kErrorSuccess;
}

}  // namespace veltrix
