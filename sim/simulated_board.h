#pragma once
// The simulated board: a pseudo-terminal linked as COMn in the ports folder and one board thread
// that plays the AP's boot ROM (DLOAD or Sahara), the uploaded flash programmer over a sparse-file
// eMMC, the DDR-debug image, RESET with the SDRAM test image, and the faults it is told to
// commit. Tests drive it in-process; veltrix-sim wraps it for people.
//
// Thread safety: every public member may be called from any thread while the board runs.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/framing/frame_codec.h"
#include "sim/board_options.h"
#include "sim/ddr_debug_image.h"
#include "sim/dload_rom.h"
#include "sim/emmc_image.h"
#include "sim/fault_plan.h"
#include "sim/flash_programmer.h"
#include "sim/link_model.h"
#include "sim/port_lock.h"
#include "sim/pty_port.h"
#include "sim/request_journal.h"
#include "sim/sahara_rom.h"
#include "sim/sdram_test_image.h"
#include "sim/target_memory.h"
#include "sim/wake_signal.h"

namespace veltrix::sim {

enum class BoardMode { kDloadRom, kSaharaRom, kProgrammer, kDdrDebug, kAway };

const char* BoardModeName(BoardMode mode);

class SimulatedBoard {
public:
    explicit SimulatedBoard(BoardOptions options);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Opens the eMMC and the port (the COMn link exists when this returns) and starts the board
    // thread in download mode. False with `error` set when something cannot be set up: a port
    // number outside 1..99, or a port another running board serves (see PortLock).
    bool Start(std::string* error);
    // Stops the board thread (joined; no hang), removes the link, closes the port, and removes
    // a temporary eMMC file. Safe to call twice.
    void Stop();

    // Receives one line per notable event ("host opened the port", "RESET", ...), on the board
    // thread; it must not call back into the board. Set it before Start.
    void SetEventSink(std::function<void(const std::string&)> sink) { events_ = std::move(sink); }

    // Faults, counted from the next request on.
    void InjectFault(const Fault& fault);
    void ClearFaults();
    // Settings that may change while the board runs.
    void SetDdrVerdict(char verdict);
    void SetVerdictRecord(const std::string& record);
    // Ends the absence of a board that was reset with a negative reset delay: it comes back in
    // download mode. Counts from the RESET answer on; harmless at any other time.
    void BringBack();

    // Observations.
    BoardMode mode() const;
    int portNumber() const { return options_.portNumber; }
    std::filesystem::path linkPath() const;
    std::filesystem::path emmcPath() const;
    uint64_t emmcSize() const;
    std::vector<uint8_t> ReadMemory(uint32_t address, size_t length) const;
    std::vector<std::pair<uint64_t, uint64_t>> MemoryRanges() const;
    uint32_t goAddress() const;
    std::vector<uint8_t> SaharaImage() const;  // the last image uploaded through Sahara
    std::vector<SaharaServed> SaharaRequestsServed() const;
    std::vector<uint8_t> SaharaHelloResponse() const;
    bool ReadEmmc(uint64_t offset, std::span<uint8_t> out) const;
    bool WriteEmmc(uint64_t offset, std::span<const uint8_t> bytes);  // preload for tests
    bool pmicOn() const;
    int requestsServed() const;  // framed requests taken (faulted ones included)
    // The first bytes (up to 16) of the latest framed requests with a good FCS, oldest first: at
    // most the last 4096 since the start or ClearRequestJournal.
    std::vector<std::vector<uint8_t>> RequestJournal() const;
    void ClearRequestJournal();
    int resets() const;
    int verdictsWritten() const;
    int ddrTestsRun() const;

    // Polls `done` every few milliseconds until it holds or `timeoutMs` passes.
    bool WaitUntil(const std::function<bool()>& done, int timeoutMs) const;

private:
    void Run();
    bool EnsurePort();
    void OnHostAbsent();
    void ServeFrames();
    void RunSahara();
    void HandleFrame(std::span<const uint8_t> raw);
    bool AnswerFault(const Fault& fault);
    Bytes Answer(std::span<const uint8_t> request, bool* reset, int* delayMs);
    Bytes BadFcsAnswer() const;
    void SendReply(const Bytes& body, const Fault* fault);
    // Writes the queued answers that are due, or all of them (waiting until each is due).
    void WriteAnswers(bool all);
    void Reset();
    void WaitToComeBack();
    void Vanish(uint32_t ms);
    BoardMode BootMode() const;
    void Event(const std::string& text);

    BoardOptions options_;
    std::function<void(const std::string&)> events_;
    WakeSignal wake_;
    std::thread thread_;
    bool started_ = false;

    PortLock portLock_;  // held from Start to Stop, across RESET and vanishing
    PtyPort port_;       // used by the board thread only once it runs
    bool hostPresent_ = false;
    std::vector<uint8_t> frameStorage_;
    FrameCollector collector_;

    mutable std::mutex mutex_;  // guards everything below
    BoardMode mode_ = BoardMode::kDloadRom;
    std::filesystem::path linkPath_;
    EmmcImage emmc_;
    TargetMemory memory_;
    SdramTestImage sdram_;
    DloadRom dload_;
    std::unique_ptr<FlashProgrammer> programmer_;
    DdrDebugImage ddr_;
    FaultPlan faults_;
    SaharaSession lastSahara_;
    int requests_ = 0;
    JournalRing journal_;
    Bytes unstuffed_;  // the request being handled, unstuffed
    Bytes wire_;       // the reply being sent, framed
    LinkModel link_;   // the line's latency and rate, used by the board thread alone
    int resets_ = 0;
    int verdicts_ = 0;
    bool broughtBack_ = false;
};

}  // namespace veltrix::sim
