#pragma once
// Shared plumbing of the framed commands: the answer rule, the time-out bracket and the
// diagnostics sink. Internal to protocol/.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/serial_link.h"

namespace veltrix {

// A command counts as answered only when Transact gives 0 with a non-empty reply whose first
// byte is the expected reply code. `capacity` is the reply area the command allows (raw frame
// bytes); `replyLength` receives the stored reply length (0 when Transact failed).
bool ExchangeCommand(SerialLink& link, std::span<const uint8_t> request, uint8_t expected,
                     uint8_t* reply, int capacity, int& replyLength);

// Sets a command's own time-out for one exchange and puts the link back to 1000 ms on every way
// out, so a failed long command never leaves its long time-out behind.
class TimeoutBracket {
public:
    TimeoutBracket(SerialLink& link, uint32_t ms) : link_(link) { link_.SetTimeout(ms); }
    ~TimeoutBracket() { link_.SetTimeout(kDefaultTimeoutMs); }
    TimeoutBracket(const TimeoutBracket&) = delete;
    TimeoutBracket& operator=(const TimeoutBracket&) = delete;

private:
    SerialLink& link_;
};

// The bytes of a 0x0E log-message reply (offset 1 up to the FCS) as printable text: control
// characters other than line ends and tabs become '?', so a garbled reply cannot drive the
// terminal; a zero byte ends the text.
std::string LogMessageText(const uint8_t* reply, int replyLength);

}  // namespace veltrix
