#include "sim/sim_command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>

namespace veltrix::sim {
namespace {

std::optional<SaharaRequest> ParseRequest(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto offset = ParseByteSize(text.substr(0, colon));
    const auto length = ParseByteSize(text.substr(colon + 1));
    if (!offset || !length || *offset > 0xFFFFFFFFull || *length > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return SaharaRequest{static_cast<uint32_t>(*offset), static_cast<uint32_t>(*length)};
}

struct RawArguments {
    std::string boot = "auto";
    std::string saharaTarget = "programmer";
    std::string emmcSize = "4G";
    std::string ddrVerdict = "1";
    std::vector<std::string> requests;
    std::vector<std::string> faults;
    std::string randomFaults;
    int64_t reportedSectors = -1;
};

void AddOptions(CLI::App& app, BoardOptions& o, RawArguments& raw) {
    app.add_option("-p,--port", o.portNumber,
                   "COM number to serve, 1 to 99 (link COMn in the ports folder; refused while "
                   "another simulator serves it)")
        ->check(CLI::Range(1, 99))
        ->capture_default_str();
    app.add_option("--ports-folder", o.portsFolder,
                   "folder of the COMn links (default: $VELTRIX_PORTS, else "
                   "$XDG_RUNTIME_DIR/veltrix/ports, else ~/.local/state/veltrix/ports)");
    app.add_option("--loader-family", o.loaderFamily,
                   "loader family: 0 boots through Sahara (SDRAM test partitions sbl1/sbl1), 1 "
                   "DLOAD (sbl2/PrimaryGPT), 2 DLOAD (OEMSBL1/QCSBL)")
        ->check(CLI::Range(0, 2))
        ->capture_default_str();
    app.add_option("--boot", raw.boot, "boot-ROM protocol: auto (by loader family), dload, sahara")
        ->check(CLI::IsMember({"auto", "dload", "sahara"}))
        ->capture_default_str();
    app.add_option("--pmic-family", o.pmicFamily,
                   "PMIC status layout: 4 PM8941+PM8841 (35 bytes), 5 PM8110 (26), 6 PM8226 "
                   "(33), 7 PM8926 (34), 1 raw values (5)")
        ->check(CLI::IsMember({1, 4, 5, 6, 7}))
        ->capture_default_str();
    app.add_option("--emmc", o.emmcPath,
                   "eMMC image file, kept (default: a temporary sparse file "
                   "removed on exit)");
    app.add_option("--emmc-size", raw.emmcSize, "eMMC size in bytes, K/M/G suffixes allowed")
        ->capture_default_str();
    app.add_option("--reported-sectors", raw.reportedSectors,
                   "sector count the partition-info reply reports (default: the eMMC's)");
    app.add_option("--dload-max-write", o.dloadMaxWrite, "largest WRITE_32BIT the ROM accepts")
        ->capture_default_str();
}

void AddSaharaOptions(CLI::App& app, BoardOptions& o, RawArguments& raw) {
    app.add_option("--sahara-mode", o.saharaMode, "mode word of the Sahara HELLO")
        ->capture_default_str();
    app.add_option("--sahara-chunk", o.saharaChunk, "bytes per READ DATA request")
        ->capture_default_str();
    app.add_option("--sahara-request", raw.requests,
                   "OFFSET:LENGTH read first, in the order given (repeatable; out-of-order and "
                   "oversized requests allowed)");
    app.add_option("--sahara-image-size", o.saharaImageSize,
                   "image size the ROM expects (default: found by the first short answer)");
    app.add_option("--sahara-idle-ms", o.saharaDataIdleMs,
                   "a data answer that pauses this long is complete")
        ->capture_default_str();
    app.add_option("--hello-delay-ms", o.helloDelayMs, "delay from the host's open to HELLO")
        ->capture_default_str();
    app.add_option("--hello-repeat-ms", o.helloRepeatMs,
                   "resend an unanswered HELLO this often (0: only after garbage)")
        ->capture_default_str();
    app.add_option("--sahara-target", raw.saharaTarget,
                   "what a Sahara upload runs: programmer or ddr (the DDR-debug image)")
        ->check(CLI::IsMember({"programmer", "ddr"}))
        ->capture_default_str();
    app.add_option("--ddr-image", o.ddrImagePath,
                   "an upload equal to this file runs as the DDR-debug image")
        ->check(CLI::ExistingFile);
}

void AddTestOptions(CLI::App& app, BoardOptions& o, RawArguments& raw, bool& quiet) {
    app.add_option("--ddr-verdict", raw.ddrVerdict,
                   "character the DDR-debug image answers at byte 3 ('1' pass, '0' fail)")
        ->capture_default_str();
    app.add_option("--ddr-delay-ms", o.ddrDelayMs, "time the DDR test takes")
        ->capture_default_str();
    // A negative delay (held away until BringBack) is for tests in-process only.
    app.add_option("--reset-delay-ms", o.resetDelayMs, "time the port stays away after RESET")
        ->check(CLI::Range(0, 3600000))
        ->capture_default_str();
    app.add_option("--reset-grace-ms", o.resetGraceMs,
                   "longest wait for the host to close the port after RESET")
        ->capture_default_str();
    app.add_option("--partition-txt", o.partitionTxt,
                   "partition.txt locating the SDRAM test's boot and verdict partitions")
        ->check(CLI::ExistingFile);
    app.add_option("--verdict", o.verdictRecord,
                   "record the SDRAM test image writes (PASS, FAIL or anything else)")
        ->capture_default_str();
    app.add_option("--sdram-test-image", o.sdramTestImagePath,
                   "test boot image: a reset runs the memory test only when the boot partition "
                   "starts with its first sector")
        ->check(CLI::ExistingFile);
    app.add_option("--fault", raw.faults,
                   "fault to commit (repeatable): KIND[,nth=N][,count=N][,cmd=CODE|any|write]"
                   "[,ms=N][,code=N][,bytes=N][,text=...]; kinds silence, refuse-write, "
                   "corrupt-fcs, wrong-code, stall, vanish, log-message, short-reply, "
                   "other-address");
    app.add_option("--link-latency-us", o.linkLatencyUs,
                   "delay of every answer after its request came whole, as a USB round trip "
                   "makes it (requests are still taken in order, each answered once)")
        ->capture_default_str();
    app.add_option("--link-mbps", o.linkMbps,
                   "megabits per second the line carries each way (0: no cap)")
        ->capture_default_str();
    app.add_flag("--one-request-at-a-time", o.oneRequestAtATime,
                 "drop a request that comes while the answer to the one before is still on its "
                 "way (a programmer that takes no second request; shows with a link latency)");
    app.add_option("--random-faults", raw.randomFaults,
                   "faults drawn at random: seed=N,rate=R (each request struck with chance R by "
                   "silence, a refused write, a bad frame check, a stall, a late reply, a "
                   "vanishing port or a log message; the same seed replays the same faults)");
    app.add_flag("--programmer-running", o.startInProgrammer,
                 "start as a board whose flash programmer still runs from an aborted run (it "
                 "answers the streaming protocol, not the boot ROM's)");
    app.add_flag("-q,--quiet", quiet, "print only the served port, no event lines");
}

std::string Finish(BoardOptions& o, const RawArguments& raw) {
    o.boot = raw.boot == "dload"    ? BootProtocol::kDload
             : raw.boot == "sahara" ? BootProtocol::kSahara
                                    : BootProtocol::kByLoaderFamily;
    o.saharaTarget =
        raw.saharaTarget == "ddr" ? SaharaTarget::kDdrDebug : SaharaTarget::kProgrammer;
    const auto size = ParseByteSize(raw.emmcSize);
    if (!size || *size == 0 || *size % 512 != 0) {
        return "--emmc-size: a non-zero multiple of 512 bytes is needed";
    }
    o.emmcSize = *size;
    if (raw.reportedSectors >= 0) {
        o.reportedSectors = static_cast<uint32_t>(raw.reportedSectors);
    }
    if (raw.ddrVerdict.size() != 1) {
        return "--ddr-verdict: one character is needed";
    }
    o.ddrVerdict = raw.ddrVerdict[0];
    for (const auto& text : raw.requests) {
        const auto r = ParseRequest(text);
        if (!r) {
            return "--sahara-request: OFFSET:LENGTH expected, got " + text;
        }
        o.saharaRequests.push_back(*r);
    }
    for (const auto& text : raw.faults) {
        std::string error;
        const auto f = ParseFault(text, &error);
        if (!f) {
            return "--fault: " + error;
        }
        o.faults.push_back(*f);
    }
    if (!raw.randomFaults.empty()) {
        std::string error;
        o.randomFaults = ParseRandomFaults(raw.randomFaults, &error);
        if (!o.randomFaults) {
            return "--random-faults: " + error;
        }
    }
    return "";
}

}  // namespace

std::optional<uint64_t> ParseByteSize(const std::string& text) {
    std::string digits = text;
    uint64_t scale = 1;
    if (!digits.empty()) {
        switch (digits.back()) {
            case 'K':
            case 'k':
                scale = 1ull << 10;
                break;
            case 'M':
            case 'm':
                scale = 1ull << 20;
                break;
            case 'G':
            case 'g':
                scale = 1ull << 30;
                break;
            default:
                break;
        }
        if (scale != 1) {
            digits.pop_back();
        }
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() ||
        value > UINT64_MAX / scale) {
        return std::nullopt;
    }
    return value * scale;
}

std::optional<SimCommandLine> ParseSimCommandLine(int argc, const char* const* argv, int* exitCode,
                                                  std::string* message) {
    CLI::App app{
        "veltrix-sim: a simulated handset board in emergency-download mode, served on "
        "a pseudo-terminal linked as COMn in the ports folder. Runs until interrupted.",
        "veltrix-sim"};
    SimCommandLine result;
    RawArguments raw;
    AddOptions(app, result.options, raw);
    AddSaharaOptions(app, result.options, raw);
    AddTestOptions(app, result.options, raw, result.quiet);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        *exitCode = e.get_exit_code();
        *message = e.get_exit_code() == 0
                       ? app.help()
                       : std::string(e.what()) + "\nRun with --help for more information.";
        return std::nullopt;
    }
    if (const std::string error = Finish(result.options, raw); !error.empty()) {
        *exitCode = 2;
        *message = error;
        return std::nullopt;
    }
    return result;
}

}  // namespace veltrix::sim
