#include "sim/pmic_status.h"

namespace veltrix::sim {
namespace {

constexpr size_t kRawValueCount = 5;  // KR0..KR3 and LPASS

}  // namespace

size_t PmicStatusByteCount(int pmicFamily) {
    switch (pmicFamily) {
        case 4:
            return 35;  // PM8941 S1-S3, L1-L24, LVS1-LVS3, then PM8841 S1-S5
        case 5:
            return 26;  // PM8110 S1-S4, L1-L22
        case 6:
            return 33;  // PM8226 S1-S4, L1-L28, LVS1
        case 7:
            return 34;  // PM8926 S1-S5, L1-L28, LVS1
        default:
            return kRawValueCount;
    }
}

Bytes PmicStatusReply(int pmicFamily, bool pmicOn) {
    Bytes out{kPmicReplyCode};
    const size_t count = PmicStatusByteCount(pmicFamily);
    for (size_t i = 0; i < count; ++i) {
        // Low bits carry a level value; every third regulator is off until PMIC ON.
        const uint8_t level = static_cast<uint8_t>((i * 7 + 3) & 0x7F);
        const bool on = pmicOn || i % 3 != 0;
        out.push_back(static_cast<uint8_t>(level | (on ? kRegulatorOn : 0)));
    }
    return out;
}

}  // namespace veltrix::sim
