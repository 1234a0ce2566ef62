#include "protocol/command_exchange.h"

#include <ostream>
#include <string>

#include "link/framing/frame_codec.h"

namespace veltrix {

bool ExchangeCommand(SerialLink& link, std::span<const uint8_t> request, uint8_t expected,
                     uint8_t* reply, int capacity, int& replyLength) {
    replyLength = capacity;
    const int rc =
        link.Transact(request.data(), static_cast<int>(request.size()), reply, replyLength);
    if (rc != kErrorSuccess) {
        replyLength = 0;
        return false;
    }
    return replyLength > 0 && reply[0] == expected;
}

std::string LogMessageText(const uint8_t* reply, int replyLength) {
    std::string text;
    const int end = replyLength - static_cast<int>(kFcsLength);
    for (int i = 1; i < end; ++i) {
        if (reply[i] == 0) {
            break;
        }
        const char c = static_cast<char>(reply[i]);
        const bool printable =
            (reply[i] >= 0x20 && reply[i] < 0x7F) || c == '\n' || c == '\r' || c == '\t';
        text.push_back(printable ? c : '?');
    }
    return text;
}

}  // namespace veltrix
