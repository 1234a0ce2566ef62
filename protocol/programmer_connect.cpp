// The handshake with a freshly started flash programmer: HELLO, then SECURITY MODE.
#include <array>

#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/streaming.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

// One counter serves both phases: a programmer that is slow to greet has fewer tries left for
// the security mode.
constexpr int kConnectAttempts = 10;
constexpr uint32_t kConnectRetryWaitMs = 500;
constexpr int kHandshakeReplyCapacity = 1060;

// A port failure that no retry on the same handle can mend.
bool PortLost(int code) {
    return code == kErrorDeviceNotConnected || code == kErrorOperationAborted;
}

// 0 answered; kErrorInvalidHandle not answered (worth another try); or the port's code when
// the port hung up or the run was cancelled.
int Exchange(SerialLink& link, std::span<const uint8_t> request, uint8_t expected) {
    std::array<uint8_t, kHandshakeReplyCapacity> reply{};
    int replyLength = kHandshakeReplyCapacity;
    const int code =
        link.Transact(request.data(), static_cast<int>(request.size()), reply.data(), replyLength);
    if (PortLost(code)) {
        return code;
    }
    return code == kErrorSuccess && replyLength > 0 && reply[0] == expected ? kErrorSuccess
                                                                            : kErrorInvalidHandle;
}

// Repeats `request` until it is answered or the shared attempts are used up: 0, 6, or the code
// of a lost port at once (a dead handle never answers).
int TryWhileAttemptsLeft(SerialLink& link, std::span<const uint8_t> request, uint8_t expected,
                         int& attempts) {
    while (attempts < kConnectAttempts) {
        const int code = Exchange(link, request, expected);
        if (code == kErrorSuccess || PortLost(code)) {
            return code;
        }
        link.Purge();
        if (!link.Wait(kConnectRetryWaitMs)) {
            return kErrorOperationAborted;
        }
        ++attempts;
    }
    return kErrorInvalidHandle;
}

}  // namespace

int ConnectProgrammer(ProgrammerSession& session) {
    session.sectorAddressing = true;
    session.windowProbe = WindowProbe::kNotYet;  // a new programmer is asked anew
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    SerialLink& link = *session.link;
    int attempts = 0;
    const int greeted = TryWhileAttemptsLeft(link, BuildHelloRequest(), kReplyHello, attempts);
    if (PortLost(greeted)) {
        return greeted;
    }
    link.Purge();
    if (greeted != kErrorSuccess) {
        return kErrorInvalidHandle;
    }
    return TryWhileAttemptsLeft(link, BuildSecurityModeRequest(), kReplySecurityMode, attempts);
}

int ProbeProgrammer(ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    const int code = Exchange(*session.link, BuildHelloRequest(), kReplyHello);
    session.link->Purge();
    return code;
}

}  // namespace veltrix
