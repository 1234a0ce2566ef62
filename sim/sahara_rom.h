#pragma once
// The boot ROM's Sahara side. The ROM speaks first: once the host holds the port it sends HELLO
// (with the configured mode), takes the HELLO RESPONSE, then pulls the image with READ DATA
// requests (scripted ones first, at any offset and of any size, then in chunks front to back
// over whatever is still missing), ends with END OF IMAGE TRANSFER, takes DONE and answers DONE
// RESPONSE. Packets are raw little-endian words, no framing.
//
// The ROM learns the image's end from the configured size, or, without one, from the first
// answer that brings fewer bytes than asked (the host sends only what its file holds).

#include <cstdint>
#include <vector>

#include "sim/board_options.h"
#include "sim/pty_port.h"
#include "sim/wake_signal.h"
#include "sim/wire.h"

namespace veltrix::sim {

inline constexpr uint32_t kSaharaHello = 1;
inline constexpr uint32_t kSaharaHelloResponse = 2;
inline constexpr uint32_t kSaharaReadData = 3;
inline constexpr uint32_t kSaharaEndOfImage = 4;
inline constexpr uint32_t kSaharaDone = 5;
inline constexpr uint32_t kSaharaDoneResponse = 6;
inline constexpr size_t kSaharaHelloLength = 48;
inline constexpr uint32_t kSaharaImageId = 13;
inline constexpr uint64_t kMaxSaharaImage = 256ull << 20;

// One READ DATA as served: what was asked and how many bytes came.
struct SaharaServed {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t received = 0;
};

struct SaharaSession {
    enum class Outcome { kUploaded, kHostLeft, kStopped, kProtocolError };
    Outcome outcome = Outcome::kHostLeft;
    Bytes helloResponse;  // the 48 bytes the host answered HELLO with
    Bytes image;          // the uploaded image
    std::vector<SaharaServed> served;
};

class SaharaRom {
public:
    SaharaRom(const BoardOptions& options, PtyPort& port, const WakeSignal& wake)
        : options_(options), port_(port), wake_(wake) {}

    // Runs one session with the host that holds the port now.
    SaharaSession Run();

private:
    bool SendHello();
    bool AwaitHelloResponse(SaharaSession& session);
    bool Transfer(SaharaSession& session);
    bool Request(SaharaSession& session, uint64_t offset, uint32_t length);
    bool Finish();
    bool Send(const Bytes& packet);

    const BoardOptions& options_;
    PtyPort& port_;
    const WakeSignal& wake_;
    std::vector<bool> have_;
    uint64_t end_ = 0;  // the image's end as far as known; 0 while unknown
};

}  // namespace veltrix::sim
