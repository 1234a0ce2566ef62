#pragma once
// The context of every streaming-download command: the link, the sector-addressing flag, and how
// many READs the programmer may have in flight.

namespace veltrix {

class SerialLink;

// READs kept in flight by default, and at most.
inline constexpr int kDefaultReadWindow = 8;
inline constexpr int kMaxReadWindow = 64;

// What the probe found out about the programmer that runs now.
enum class WindowProbe {
    kNotYet,      // no transfer of several sectors yet
    kWorks,       // it answered two READs sent back to back
    kOneAtATime,  // it did not: one READ per exchange for the rest of the run
};

struct ProgrammerSession {
    SerialLink* link = nullptr;
    // true: STREAM WRITE addresses count 512-byte sectors; false: bytes.
    bool sectorAddressing = false;
    // How many READs a transfer keeps in flight when the programmer takes them (1: one request,
    // one answer, as the protocol was first used).
    int readWindow = kDefaultReadWindow;
    // Asked anew for every programmer the AP check starts.
    WindowProbe windowProbe = WindowProbe::kNotYet;
};

}  // namespace veltrix
