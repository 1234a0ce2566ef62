#pragma once
// The tests on the board, as the sequencer reaches them: one operation each, with its own
// arguments. The shipped ones (MakeDeviceTests) run against the programmer session and the run
// context; tests of the sequencer stand in for them. Everything else the sequencer sends (open,
// close, reset, the sector count, the endings) goes to the board over the session itself.
// Results are the system's int codes; every operation may give kErrorOperationAborted once the
// run is cancelled.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrix {

class RunContext;
struct ProgrammerSession;
struct RunFiles;

// The eMMC test as the operator chose it.
struct EmmcChoice {
    int option = 0;         // 1 "Read only", 2 "Read/Write", 3 "Write only", 4 "Erase"
    std::string partition;  // empty: every partition of the program list
    bool dump = false;      // read into dump files
    int64_t totalSectors = 0;
};

// What the two-phase SDRAM test has written over the board's own images and not yet put back,
// kept across the passes of a run: a run that ends with any of it names the partitions.
struct SdramLeftovers {
    // Labels (as the partition index has them) in the order phase 1 wrote them: the test images'
    // partitions and the verdict's.
    std::vector<std::string> partitions;
    // The verdict partition's first sector as phase 1 found it on the board, put back in phase 2
    // when the target directory has no image of that partition.
    std::vector<uint8_t> verdictSector;

    bool Any() const { return !partitions.empty(); }
};

class BoardTests {
public:
    virtual ~BoardTests() = default;

    // Opens the run's port (the link is bound to it) and starts the flash programmer: 0 (the
    // port stays open), 31 fail (logged).
    virtual int CheckAp() = 0;
    // The same after the DDR wait: waits up to `boardWaitMs` for the board's port to come back
    // (31, logged, when it does not), then reloads the programmer without a start line or pass
    // block. 21 when the upload failed and `mayRetry`.
    virtual int ReconnectAfterDdrTest(bool mayRetry, uint32_t boardWaitMs) = 0;
    // Starts the DDR-debug image (Sahara, no handshake); the port is tried for up to
    // `portWaitMs` while the board comes back from a reset. 0 or 31.
    virtual int CheckApWithDdrImage(uint32_t portWaitMs) = 0;
    // 0 pass, 6 fail (logged).
    virtual int TestEmmc(const EmmcChoice& choice) = 0;
    // The image of `label`, or of every program-list label when it is empty. 0, or 6 (logged).
    virtual int RestoreBootImages(const std::string& label) = 0;
    // Phase 1 of the two-phase SDRAM test: the test images written, the verdict place cleared
    // and the board reset (0), 29 a boot-image write failed, 31 a test image failed. `leftovers`
    // says what the board holds instead of its own images.
    virtual int SdramTestPhase1(SdramLeftovers& leftovers) = 0;
    // Phase 2: the verdict shown (or its absence) and everything phase 1 wrote put back (0); 29
    // the restore failed; 30 the verdict could not be read (the images are put back all the same).
    virtual int SdramTestPhase2(SdramLeftovers& leftovers) = 0;
    // The level test through the DDR-debug image: 0 when the exchange ran to its end.
    virtual int SdramLevelTest(uint32_t level) = 0;
    // PMIC status and PMIC ON: 0, or 6 when an exchange failed (logged).
    virtual int PmicControl() = 0;
};

// Makes the tests of one run.
using MakeBoardTests = std::function<std::unique_ptr<BoardTests>(
    RunContext& context, ProgrammerSession& session, const RunFiles& files)>;

// The shipped tests.
std::unique_ptr<BoardTests> MakeDeviceTests(RunContext& context, ProgrammerSession& session,
                                            const RunFiles& files);

}  // namespace veltrix
