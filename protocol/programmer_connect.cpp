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

bool Answered(SerialLink& link, std::span<const uint8_t> request, uint8_t expected) {
    std::array<uint8_t, kHandshakeReplyCapacity> reply{};
    int replyLength = 0;
    return ExchangeCommand(link, request, expected, reply.data(), kHandshakeReplyCapacity,
                           replyLength);
}

// Repeats `request` until it is answered or the shared attempts are used up.
bool TryWhileAttemptsLeft(SerialLink& link, std::span<const uint8_t> request, uint8_t expected,
                          int& attempts) {
    while (attempts < kConnectAttempts) {
        if (Answered(link, request, expected)) {
            return true;
        }
        PurgePort(link);
        link.clock->Sleep(kConnectRetryWaitMs);
        ++attempts;
    }
    return false;
}

}  // namespace

int ConnectProgrammer(ProgrammerSession& session) {
    session.sectorAddressing = true;
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    SerialLink& link = *session.link;
    int attempts = 0;
    const bool greeted = TryWhileAttemptsLeft(link, BuildHelloRequest(), kReplyHello, attempts);
    PurgePort(link);
    if (!greeted) {
        return kErrorInvalidHandle;
    }
    return TryWhileAttemptsLeft(link, BuildSecurityModeRequest(), kReplySecurityMode, attempts)
               ? kErrorSuccess
               : kErrorInvalidHandle;
}

}  // namespace veltrix
