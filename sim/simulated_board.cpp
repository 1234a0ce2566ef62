#include "sim/simulated_board.h"

#include <chrono>
#include <thread>

#include "link/ports/port_names.h"
#include "sim/file_bytes.h"

namespace veltrix::sim {
namespace {

constexpr int kIdlePollMs = 5;     // how often an absent host is looked for
constexpr int kPortRetryMs = 200;  // a port that cannot be re-created is retried this often
constexpr size_t kFrameStorage = 0x20000 + 16;
constexpr int kHighestPortNumber = 99;  // "COM n" as the host resolves it

}  // namespace

const char* BoardModeName(BoardMode mode) {
    switch (mode) {
        case BoardMode::kDloadRom:
            return "boot ROM (DLOAD)";
        case BoardMode::kSaharaRom:
            return "boot ROM (Sahara)";
        case BoardMode::kProgrammer:
            return "flash programmer";
        case BoardMode::kDdrDebug:
            return "DDR-debug image";
        case BoardMode::kAway:
            return "away";
    }
    return "?";
}

SimulatedBoard::SimulatedBoard(BoardOptions options)
    : options_(std::move(options)),
      frameStorage_(kFrameStorage),
      collector_(frameStorage_),
      dload_(options_, memory_),
      programmer_(std::make_unique<FlashProgrammer>(options_, emmc_, sdram_)),
      ddr_(options_.ddrVerdict, options_.ddrDelayMs),
      link_(options_.linkLatencyUs, options_.linkMbps) {
    for (const Fault& f : options_.faults) {
        faults_.Add(f);
    }
    if (options_.randomFaults) {
        faults_.Randomize(*options_.randomFaults);
    }
}

SimulatedBoard::~SimulatedBoard() {
    Stop();
}

BoardMode SimulatedBoard::BootMode() const {
    switch (options_.boot) {
        case BootProtocol::kDload:
            return BoardMode::kDloadRom;
        case BootProtocol::kSahara:
            return BoardMode::kSaharaRom;
        default:
            return options_.loaderFamily == 0 ? BoardMode::kSaharaRom : BoardMode::kDloadRom;
    }
}

bool SimulatedBoard::Start(std::string* error) {
    if (started_) {
        return true;
    }
    std::string ignored;
    error = error ? error : &ignored;
    if (options_.portNumber < 1 || options_.portNumber > kHighestPortNumber) {
        *error = "the port number must be 1 to 99: the host opens COM1 to COM99 only";
        return false;
    }
    if (options_.portsFolder.empty()) {
        options_.portsFolder = PortsFolder();
    }
    if (!portLock_.Acquire(options_.portsFolder, options_.portNumber, error)) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (!sdram_.Configure(options_, error) ||
            !emmc_.Open(options_.emmcPath, options_.emmcSize, error)) {
            emmc_.Close();
            portLock_.Release();
            return false;
        }
        mode_ = BootMode();
        if (options_.startInProgrammer) {
            programmer_ = std::make_unique<FlashProgrammer>(options_, emmc_, sdram_);
            mode_ = BoardMode::kProgrammer;
        }
    }
    wake_.Clear();
    port_.SetWakeFd(wake_.fd());
    if (!port_.Open(options_.portsFolder, options_.portNumber, error)) {
        portLock_.Release();
        std::lock_guard lock(mutex_);
        emmc_.Close();
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        linkPath_ = port_.linkPath();
    }
    started_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
}

void SimulatedBoard::Stop() {
    if (!started_) {
        return;
    }
    wake_.Raise();
    if (thread_.joinable()) {
        thread_.join();
    }
    port_.Close();
    portLock_.Release();
    std::lock_guard lock(mutex_);
    linkPath_.clear();
    emmc_.Close();
    started_ = false;
}

void SimulatedBoard::Event(const std::string& text) {
    if (events_) {
        events_(text);
    }
}

bool SimulatedBoard::EnsurePort() {
    if (port_.IsOpen()) {
        return true;
    }
    std::string error;
    if (!port_.Open(options_.portsFolder, options_.portNumber, &error)) {
        Event("cannot re-create the port: " + error);
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        linkPath_ = port_.linkPath();
    }
    Event("port COM" + std::to_string(options_.portNumber) + " is back on " +
          port_.slavePath().string() + ", board in " + BoardModeName(mode()));
    return true;
}

void SimulatedBoard::OnHostAbsent() {
    if (!hostPresent_) {
        return;
    }
    hostPresent_ = false;
    collector_.Reset();
    link_.Drop();
    Event("host closed the port");
    // The host may leave replies unread and the line in exclusive mode: start its next open
    // clean, on a fresh pseudo-terminal if this one cannot be reset.
    // A host that closes and at once reopens (the SDRAM level test does) may hold the line
    // exclusively again before it can be reset: keep its port then.
    if (!port_.ResetAfterHost() && !port_.HostPresent()) {
        port_.Close();
        std::lock_guard lock(mutex_);
        linkPath_.clear();
    }
}

void SimulatedBoard::Run() {
    while (!wake_.Raised()) {
        if (!EnsurePort()) {
            wake_.WaitFor(kPortRetryMs);
            continue;
        }
        // While the host holds the port, the frame reads notice it leaving (a hang-up), so the
        // port is looked at separately only when no host is there or before a Sahara session.
        const bool sahara = mode() == BoardMode::kSaharaRom;
        if ((!hostPresent_ || sahara) && !port_.HostPresent()) {
            OnHostAbsent();
            wake_.WaitFor(kIdlePollMs);
            continue;
        }
        if (!hostPresent_) {
            hostPresent_ = true;
            Event("host opened the port");
        }
        if (sahara) {
            RunSahara();
        } else {
            ServeFrames();
        }
    }
}

void SimulatedBoard::RunSahara() {
    SaharaRom rom(options_, port_, wake_);
    SaharaSession session = rom.Run();
    if (session.outcome == SaharaSession::Outcome::kProtocolError) {
        Event("Sahara transfer failed; waiting for the host to start over");
        // Wait for the host to go away before greeting again.
        while (!wake_.Raised() && port_.HostPresent()) {
            uint8_t sink[256];
            size_t got = 0;
            port_.Read(sink, sizeof sink, &got, 50);
        }
    }
    if (session.outcome != SaharaSession::Outcome::kUploaded) {
        return;
    }
    bool ddrImage = options_.saharaTarget == SaharaTarget::kDdrDebug;
    if (!options_.ddrImagePath.empty()) {
        std::vector<uint8_t> ddr;
        std::string err;
        ddrImage = ReadWholeFile(options_.ddrImagePath, &ddr, &err) && ddr == session.image;
    }
    Event("Sahara upload of " + std::to_string(session.image.size()) + " bytes done; " +
          (ddrImage ? "the DDR-debug image runs" : "the flash programmer runs"));
    std::lock_guard lock(mutex_);
    lastSahara_ = std::move(session);
    programmer_ = std::make_unique<FlashProgrammer>(options_, emmc_, sdram_);
    mode_ = ddrImage ? BoardMode::kDdrDebug : BoardMode::kProgrammer;
}

void SimulatedBoard::Reset() {
    {
        std::lock_guard lock(mutex_);
        mode_ = BoardMode::kAway;
        linkPath_.clear();
        ++resets_;
    }
    Event("RESET: the port goes away");
    // The port is gone for new openers at once; the host that holds it may still read the RESET
    // answer and close it before the line drops.
    port_.Unlink();
    const auto graceEnd =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.resetGraceMs);
    while (port_.HostPresent() && std::chrono::steady_clock::now() < graceEnd &&
           !wake_.WaitFor(kIdlePollMs)) {
    }
    port_.Close();
    hostPresent_ = false;
    collector_.Reset();
    link_.Drop();
    bool ranTest = false;
    {
        std::lock_guard lock(mutex_);
        linkPath_.clear();
        ranTest = sdram_.RunAtReset(emmc_);
        verdicts_ += ranTest ? 1 : 0;
        memory_.Clear();
        programmer_ = std::make_unique<FlashProgrammer>(options_, emmc_, sdram_);
    }
    if (ranTest) {
        Event("the SDRAM test image ran and wrote its verdict record");
    }
    WaitToComeBack();
    std::lock_guard lock(mutex_);
    mode_ = BootMode();
}

void SimulatedBoard::WaitToComeBack() {
    if (options_.resetDelayMs >= 0) {
        wake_.WaitFor(options_.resetDelayMs);
        return;
    }
    Event("held away until brought back");
    while (!wake_.WaitFor(kIdlePollMs)) {
        std::lock_guard lock(mutex_);
        if (broughtBack_) {
            return;
        }
    }
}

void SimulatedBoard::Vanish(uint32_t ms) {
    BoardMode was;
    {
        std::lock_guard lock(mutex_);
        was = mode_;
        mode_ = BoardMode::kAway;
    }
    Event("the port vanishes for " + std::to_string(ms) + " ms");
    port_.Close();
    hostPresent_ = false;
    collector_.Reset();
    link_.Drop();
    {
        std::lock_guard lock(mutex_);
        linkPath_.clear();
    }
    wake_.WaitFor(static_cast<int>(ms));
    std::lock_guard lock(mutex_);
    mode_ = was;
}

bool SimulatedBoard::WaitUntil(const std::function<bool()>& done, int timeoutMs) const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace veltrix::sim
