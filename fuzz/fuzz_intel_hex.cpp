// Intel-HEX parsing and the DLOAD packet plan. The input is either a HEX text as it is, or
// records built from its bytes and written out as text. Checks: records written out and parsed
// again are the same records; the packets put every data byte at the address the records give
// it (a memory image built straight from the records) and respect the packet limits; the start
// address is the last 03 or 05 record's.

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <string_view>

#include "base/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "protocol/hex_packet_plan.h"
#include "protocol/intel_hex.h"

namespace veltrix::fuzz {
namespace {

std::string HexText(const std::vector<HexRecord>& records, bool lowerCase, bool crlf) {
    std::string text;
    for (const HexRecord& r : records) {
        std::string line = testing::HexRecordLine(r.type, r.address, r.data);
        line.pop_back();  // its "\n"
        if (lowerCase) {
            std::transform(line.begin(), line.end(), line.begin(), ::tolower);
        }
        text += line + (crlf ? "\r\n" : "\n");
    }
    return text;
}

std::vector<HexRecord> RecordsFrom(Reader& in) {
    std::vector<HexRecord> records;
    while (!in.Empty() && records.size() < 200) {
        HexRecord r;
        r.type = in.Byte() % 6;
        r.address = in.U16();
        const int required = HexAddressRecordLength(r.type);
        r.data = in.Take(required >= 0 ? static_cast<size_t>(required) : in.Byte() % 48);
        if (required >= 0 && r.data.size() != static_cast<size_t>(required)) {
            break;
        }
        records.push_back(std::move(r));
    }
    return records;
}

// Where each data byte belongs, straight from the records; and the start address.
std::map<uint32_t, uint8_t> MemoryImage(const std::vector<HexRecord>& records, uint32_t* start) {
    std::map<uint32_t, uint8_t> memory;
    uint32_t upper = 0;
    uint32_t segment = 0;
    *start = 0;
    for (const HexRecord& r : records) {
        switch (r.type) {
            case 0:
                for (size_t i = 0; i < r.data.size(); ++i) {
                    memory[static_cast<uint32_t>(upper + segment + r.address + i)] = r.data[i];
                }
                break;
            case 2:
                segment = static_cast<uint32_t>(GetBe16(r.data.data())) << 4;
                break;
            case 3:
                *start = (static_cast<uint32_t>(GetBe16(r.data.data())) << 4) +
                         GetBe16(r.data.data() + 2);
                break;
            case 4:
                upper = static_cast<uint32_t>(GetBe16(r.data.data())) << 16;
                break;
            case 5:
                *start = GetBe32(r.data.data());
                break;
            default:
                break;
        }
    }
    return memory;
}

void CheckPlan(const std::vector<HexRecord>& records) {
    const HexUploadPlan plan = PlanHexUpload(records);
    uint32_t start = 0;
    const std::map<uint32_t, uint8_t> expected = MemoryImage(records, &start);
    std::map<uint32_t, uint8_t> laid;
    for (const HexWritePacket& packet : plan.packets) {
        FUZZ_CHECK(!packet.data.empty() && packet.data.size() <= kHexPacketCapacity);
        for (size_t i = 0; i < packet.data.size(); ++i) {
            laid[static_cast<uint32_t>(packet.address + i)] = packet.data[i];
        }
    }
    FUZZ_CHECK(laid == expected);
    FUZZ_CHECK(plan.startAddress == start);
}

bool SameRecords(const std::vector<HexRecord>& a, const std::vector<HexRecord>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || a[i].address != b[i].address || a[i].data != b[i].data) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const uint8_t mode = in.Byte();
    if (mode % 2 == 0) {
        // The text as it comes: whatever parses must survive being written out and read again.
        const Bytes rest = in.Rest();
        const HexParseResult parsed = ParseIntelHex(
            std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size()));
        if (!parsed.ok()) {
            FUZZ_CHECK(parsed.records.empty() && parsed.errorLine >= 1);
            return 0;
        }
        const HexParseResult again = ParseIntelHex(HexText(parsed.records, mode & 2, mode & 4));
        FUZZ_CHECK(again.ok() && SameRecords(again.records, parsed.records));
        CheckPlan(parsed.records);
        return 0;
    }
    const std::vector<HexRecord> records = RecordsFrom(in);
    const HexParseResult parsed = ParseIntelHex(HexText(records, mode & 2, mode & 4));
    FUZZ_CHECK(parsed.ok() && SameRecords(parsed.records, records));
    CheckPlan(records);
    return 0;
}
