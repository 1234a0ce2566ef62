#include "protocol/streaming_requests.h"

#include <algorithm>
#include <string_view>

#include "base/byte_order.h"
#include "link/framing/fcs.h"

namespace veltrix {
namespace {

constexpr std::string_view kHelloMagic = "QCOM fast download protocol host";
constexpr uint8_t kHelloVersion = 0x04;
constexpr uint8_t kHelloCompatibleVersion = 0x02;
constexpr uint8_t kHelloFeatureBits = 0x11;
constexpr size_t kPartitionInfoMarkerOffset = 34;
constexpr uint16_t kPartitionInfoMarker = 0xDEAD;
constexpr size_t kPartitionInfoCrcOffset = 36;

}  // namespace

std::array<uint8_t, kHelloRequestLength> BuildHelloRequest() {
    static_assert(kHelloMagic.size() == 32);
    std::array<uint8_t, kHelloRequestLength> r{};
    r[0] = kCmdHello;
    std::copy(kHelloMagic.begin(), kHelloMagic.end(), r.begin() + 1);
    r[33] = kHelloVersion;
    r[34] = kHelloCompatibleVersion;
    r[35] = kHelloFeatureBits;
    return r;
}

std::array<uint8_t, 2> BuildSecurityModeRequest() {
    return {kCmdSecurityMode, kSecurityModeUntrusted};
}

std::array<uint8_t, 7> BuildReadRequest(uint32_t address, uint16_t length) {
    std::array<uint8_t, 7> r{};
    r[0] = kCmdRead;
    PutLe32(&r[1], address);
    PutLe16(&r[5], length);
    return r;
}

std::array<uint8_t, 9> BuildReadCheckRequest(uint32_t startSector, uint32_t byteCount) {
    std::array<uint8_t, 9> r{};
    r[0] = kCmdReadCheck;
    PutLe32(&r[1], startSector);
    PutLe32(&r[5], byteCount);
    return r;
}

std::array<uint8_t, 2> BuildOpenMultiImageRequest() {
    return {kCmdOpenMultiImage, kImageTypeEmmc};
}

std::array<uint8_t, kPhysicalPartitionInfoRequestLength> BuildPhysicalPartitionInfoRequest() {
    std::array<uint8_t, kPhysicalPartitionInfoRequestLength> r{};
    r[0] = kCmdPhysicalPartitionInfo;
    PutLe16(&r[kPartitionInfoMarkerOffset], kPartitionInfoMarker);
    const uint16_t crc = Fcs16(std::span<const uint8_t>(r).subspan(1, kPartitionInfoCrcOffset - 1));
    PutLe16(&r[kPartitionInfoCrcOffset], crc);
    return r;
}

std::vector<uint8_t> BuildStreamWriteRequest(uint32_t address, std::span<const uint8_t> data) {
    std::vector<uint8_t> r(kStreamWriteHeaderLength + data.size());
    r[0] = kCmdStreamWrite;
    PutLe32(&r[1], address);
    std::copy(data.begin(), data.end(), r.begin() + kStreamWriteHeaderLength);
    return r;
}

}  // namespace veltrix
