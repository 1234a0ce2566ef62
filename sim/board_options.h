#pragma once
// Everything a simulated board can be set up with. Every delay is in milliseconds so tests can
// keep their real time small.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "sim/fault_plan.h"

namespace veltrix::sim {

enum class BootProtocol { kByLoaderFamily, kDload, kSahara };
enum class SaharaTarget { kProgrammer, kDdrDebug };

// One READ DATA request the boot ROM sends: `length` bytes from `offset` of the image.
struct SaharaRequest {
    uint32_t offset = 0;
    uint32_t length = 0;
};

inline constexpr uint64_t kDefaultEmmcSize = 4ull << 30;  // 4 GiB, sparse

struct BoardOptions {
    int portNumber = 9;
    std::filesystem::path portsFolder;  // empty: the ports folder of the host (PortsFolder())

    // Loader family 0 boots through Sahara, 1 and 2 through DLOAD (unless `boot` says otherwise);
    // it also names the SDRAM test's boot and verdict partitions.
    int loaderFamily = 1;
    BootProtocol boot = BootProtocol::kByLoaderFamily;
    int pmicFamily = 1;  // 1, 4, 5, 6 or 7: the layout of the PMIC status reply
    // When not empty: the status bytes every PMIC reply carries after its code byte, in place of
    // the family's own (a short list makes a short reply).
    std::vector<uint8_t> pmicStatus;

    // DLOAD boot ROM: writes outside [ramBase, ramBase + ramSize) and writes longer than
    // `dloadMaxWrite` data bytes are refused with a NAK.
    uint32_t dloadRamBase = 0;
    uint64_t dloadRamSize = 1ull << 32;
    uint32_t dloadMaxWrite = 1024;

    // Sahara boot ROM.
    uint32_t saharaMode = 0;
    uint32_t saharaVersion = 2;
    uint32_t saharaChunk = 4096;                // bytes per READ DATA after the scripted ones
    std::vector<SaharaRequest> saharaRequests;  // asked first, in this order
    uint64_t saharaImageSize = 0;               // 0: unknown, the end is found by a short answer
    int saharaDataIdleMs = 250;                 // a data answer that pauses this long is complete
    int helloDelayMs = 20;                      // from the host opening the port to HELLO
    int helloRepeatMs = 0;  // resend an unanswered HELLO this often; 0: only on garbage
    SaharaTarget saharaTarget = SaharaTarget::kProgrammer;
    std::filesystem::path ddrImagePath;  // an upload equal to this file runs as the DDR image

    // eMMC behind the flash programmer: a sparse file. An empty path makes a temporary file
    // that is removed on stop; a given file is kept (and grown to `emmcSize` if smaller).
    std::filesystem::path emmcPath;
    uint64_t emmcSize = kDefaultEmmcSize;
    std::optional<uint32_t> reportedSectors;  // GET PHYSICAL PARTITION INFO answer override

    // DDR-debug image: the character at byte 3 of the answer to a test start, and its delay.
    char ddrVerdict = '1';
    int ddrDelayMs = 0;

    // RESET: the port goes away, the board waits `resetDelayMs` and comes back in download mode;
    // with a negative delay it stays away until BringBack().
    // It first waits up to `resetGraceMs` for the host to close the port (so the RESET answer is
    // read before the line drops).
    int resetDelayMs = 500;
    int resetGraceMs = 1000;

    // SDRAM test image: partitions come from this partition.txt; the record written at the start
    // of the verdict partition; optional test image whose first sector identifies a test boot.
    std::filesystem::path partitionTxt;
    std::string verdictRecord = "PASS";
    std::filesystem::path sdramTestImagePath;

    // The line to the host as a USB link makes it: every answer `linkLatencyUs` after its request
    // came whole, and at most `linkMbps` megabits per second each way (0: no cap). The board
    // still takes requests in order and answers each once.
    uint32_t linkLatencyUs = 0;
    uint32_t linkMbps = 0;
    // A programmer that does not take a request while its answer to the one before is still on
    // the line: such a request is dropped (it shows with a link latency).
    bool oneRequestAtATime = false;

    std::vector<Fault> faults;
    // Faults drawn at random after the scripted ones (a soak's day of misbehaving boards).
    std::optional<RandomFaults> randomFaults;

    // The board starts with its flash programmer running, as after an upload (for tests that
    // stand in for the AP check); after a RESET it comes back in download mode as ever.
    bool startInProgrammer = false;
};

}  // namespace veltrix::sim
