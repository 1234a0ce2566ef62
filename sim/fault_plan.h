#pragma once
// Faults the simulated board can be told to commit, scripted from tests or from the command
// line: silence, a refused write, a corrupt FCS, a wrong reply code, a stall mid-frame, a port
// that vanishes for a while, a log-message reply instead of the answer, a reply cut short, a
// reply that names another address.

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace veltrix::sim {

enum class FaultKind {
    kSilence,       // the request is read and not answered
    kRefuseWrite,   // the request is refused (NAK in the boot ROM, error reply in the programmer)
    kCorruptFcs,    // the reply goes out with its FCS bytes inverted
    kWrongCode,     // the reply's first byte is replaced by another code
    kStall,         // half of the reply frame, a pause of `ms`, then the rest
    kVanish,        // no answer: the port goes away for `ms` and comes back in the same state
    kLogMessage,    // a 0x0E log-message reply carrying `text` instead of the answer
    kShortReply,    // the reply loses its last `bytes` bytes (a correct FCS over what is left)
    kOtherAddress,  // the address field (bytes 1-4) of the reply is one higher than asked
};

// Which requests a fault watches.
inline constexpr int kAnyCommand = -1;
inline constexpr int kWriteCommands = -2;  // STREAM WRITE (0x07) and WRITE_32BIT (0x0F)

struct Fault {
    FaultKind kind = FaultKind::kSilence;
    int command = kAnyCommand;  // kAnyCommand, kWriteCommands or one request code
    int skip = 0;               // matching requests answered normally before the fault strikes
    int count = 1;              // matching requests the fault affects
    uint32_t ms = 0;            // pause of kStall, absence of kVanish
    int code = -1;              // kWrongCode: the code to send; -1 = the expected code + 1
    int bytes = 1;              // kShortReply: how many bytes the reply loses at its end
    std::string text = "simulated log message";  // kLogMessage
};

// Faults drawn at random, request by request: each request is struck with probability `rate` by
// one of silence, a refused write, a bad frame check, a short or a long stall (a reply that comes
// after the host's time-out), a port that vanishes for a while, or a log message. The same seed
// and the same requests give the same faults, so a run can be replayed.
struct RandomFaults {
    uint32_t seed = 1;
    double rate = 0.0;
};

// The armed faults of one board, consumed request by request.
class FaultPlan {
public:
    void Add(const Fault& fault) { faults_.push_back(fault); }
    void Clear() {
        faults_.clear();
        random_.reset();
    }
    bool Empty() const { return faults_.empty() && !random_; }
    // Draws faults from `random` after the armed ones, from now on.
    void Randomize(const RandomFaults& random);

    // Counts one request with this command code against every armed fault; returns the first
    // fault that strikes it (or one drawn at random), if any. Spent faults are dropped.
    std::optional<Fault> Next(uint8_t command);

private:
    std::optional<Fault> Draw();

    std::vector<Fault> faults_;
    std::optional<RandomFaults> random_;
    std::mt19937 rng_;
};

// Parses "seed=N,rate=R" (rate a fraction, 0 to 1) for --random-faults.
std::optional<RandomFaults> ParseRandomFaults(std::string_view text, std::string* error);

// Parses "kind[,key=value...]": kinds silence, refuse-write, corrupt-fcs, wrong-code, stall,
// vanish, log-message, short-reply, other-address; keys nth (1-based matching request, default
// 1), count, cmd (a request code such as 0x07, "any" or "write"), ms, code, bytes, text.
// refuse-write watches writes unless cmd is given; text (last, runs to the end). Returns nothing
// and sets `error` on bad input.
std::optional<Fault> ParseFault(std::string_view script, std::string* error);

}  // namespace veltrix::sim
