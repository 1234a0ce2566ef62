#include "protocol/hex_packet_plan.h"

#include "base/byte_order.h"

namespace veltrix {
namespace {

class PacketBuilder {
public:
    explicit PacketBuilder(HexUploadPlan& plan) : plan_(plan) {}

    void AddData(uint32_t address, const std::vector<uint8_t>& data) {
        if (data.empty()) {
            return;  // an empty record must not fix the address of the next one
        }
        const bool followsOn = static_cast<uint64_t>(pending_.address) + pending_.data.size() ==
                               static_cast<uint64_t>(address);
        if (!pending_.data.empty() &&
            (!followsOn || pending_.data.size() + data.size() > kHexPacketCapacity)) {
            Flush();
        }
        if (pending_.data.empty()) {
            pending_.address = address;
        }
        pending_.data.insert(pending_.data.end(), data.begin(), data.end());
        if (pending_.data.size() >= kHexPacketFillBytes) {
            Flush();
        }
    }

    void Flush() {
        if (!pending_.data.empty()) {
            plan_.packets.push_back(std::move(pending_));
        }
        pending_ = HexWritePacket{};
    }

private:
    HexUploadPlan& plan_;
    HexWritePacket pending_;
};

}  // namespace

HexUploadPlan PlanHexUpload(std::span<const HexRecord> records) {
    HexUploadPlan plan;
    PacketBuilder builder(plan);
    uint32_t upper = 0;
    uint32_t segment = 0;
    for (const HexRecord& r : records) {
        const int required = HexAddressRecordLength(r.type);
        if (required >= 0 && r.data.size() != static_cast<size_t>(required)) {
            continue;  // ParseIntelHex refuses these; never read past a short record
        }
        switch (static_cast<HexRecordType>(r.type)) {
            case HexRecordType::kData:
                builder.AddData(upper + segment + r.address, r.data);
                break;
            case HexRecordType::kEndOfFile:
                builder.Flush();
                break;
            case HexRecordType::kExtendedSegmentAddress:
                builder.Flush();
                segment = static_cast<uint32_t>(GetBe16(r.data.data())) << 4;
                break;
            case HexRecordType::kStartSegmentAddress:
                plan.startAddress = (static_cast<uint32_t>(GetBe16(r.data.data())) << 4) +
                                    GetBe16(r.data.data() + 2);
                break;
            case HexRecordType::kExtendedLinearAddress:
                builder.Flush();
                upper = static_cast<uint32_t>(GetBe16(r.data.data())) << 16;
                break;
            case HexRecordType::kStartLinearAddress:
                plan.startAddress = GetBe32(r.data.data());
                break;
            default:
                break;  // other record types carry nothing the upload needs
        }
    }
    builder.Flush();
    return plan;
}

}  // namespace veltrix
