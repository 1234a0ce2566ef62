#include "sim/ddr_debug_image.h"

namespace veltrix::sim {
namespace {

constexpr uint8_t kCarriageReturn = 0x0D;
constexpr uint8_t kLevel0 = '1';
constexpr uint8_t kLevel1 = '2';
constexpr uint8_t kLeave = '0';

Bytes Text(const char* text) {
    Bytes out;
    for (const char* p = text; *p; ++p) {
        out.push_back(static_cast<uint8_t>(*p));
    }
    return out;
}

}  // namespace

DdrReply DdrDebugImage::Handle(std::span<const uint8_t> request) {
    if (request.size() == 1 && request[0] == kCarriageReturn) {
        return {Text("DDR>\r\n")};
    }
    if (request.size() == 2 && request[1] == kCarriageReturn) {
        if (request[0] == kLevel0 || request[0] == kLevel1) {
            ++testsRun_;
            Bytes out = Text("DDR");
            out.push_back(static_cast<uint8_t>(verdict_));
            out.push_back('\r');
            out.push_back('\n');
            return {out, delayMs_};
        }
        if (request[0] == kLeave) {
            return {Text("DDR.\r\n")};
        }
    }
    return {Text("DDR?\r\n")};
}

}  // namespace veltrix::sim
