#include "protocol/dload.h"

#include <string>

#include "base/byte_order.h"
#include "base/file_io.h"
#include "base/text_format.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/hex_packet_plan.h"
#include "protocol/intel_hex.h"

namespace veltrix {
namespace {

constexpr int kDloadReplyCapacity = 32;
// A flash programmer is a few hundred KiB; a text this large is not one.
constexpr std::uintmax_t kMaxHexFileBytes = 64u << 20;

bool Acknowledged(SerialLink& link, std::span<const uint8_t> request) {
    std::array<uint8_t, kDloadReplyCapacity> reply{};
    int replyLength = 0;
    return ExchangeCommand(link, request, kDloadAck, reply.data(), kDloadReplyCapacity,
                           replyLength);
}

// Reads and checks the file into a packet plan; reports on the console (and in `*problem`, when
// given, what is wrong with the file) and gives the code.
int LoadHexPlan(const std::filesystem::path& path, SerialLink& link, HexUploadPlan& plan,
                std::string* problem) {
    const std::string name = path.string();
    const auto refuse = [&](int code, const std::string& what) {
        link.WriteConsole(what + "\n");
        if (problem != nullptr) {
            *problem = what;
        }
        return code;
    };
    // Only a regular file of a programmer's size is read: a link to an endless device or a
    // FIFO would otherwise be read into memory for ever.
    std::string text;
    std::string reason;
    const int read = ReadSmallFile(path, kMaxHexFileBytes, text, &reason);
    if (read == kErrorNotRegularFile || read == kErrorFileTooLarge) {
        return refuse(kErrorInvalidData,
                      Format("Programmer file %s is refused: %s (at most %llu bytes)", name.c_str(),
                             reason.c_str(), static_cast<unsigned long long>(kMaxHexFileBytes)));
    }
    if (read != kErrorSuccess) {
        // No file descriptors or no memory left is the PC's fault, not the file's.
        const bool pcFault = read == kErrorTooManyOpenFiles || read == kErrorNotEnoughMemory;
        return refuse(pcFault ? read : kErrorOpenFailed,
                      Format("Cannot open programmer file %s (%s)", name.c_str(), reason.c_str()));
    }
    // Every record well formed, then data, an end-of-file record and nothing after it: a file
    // cut short or without data would otherwise send GO into memory that holds no programmer.
    const HexParseResult parsed = ParseIntelHex(text);
    int line = parsed.errorLine;
    HexError error = parsed.error;
    if (parsed.ok()) {
        error = CheckHexProgram(parsed, &line);
    }
    if (error != HexError::kNone) {
        return refuse(kErrorInvalidData, Format("Programmer file %s, line %d: %s", name.c_str(),
                                                line, HexErrorText(error)));
    }
    plan = PlanHexUpload(parsed.records);
    return kErrorSuccess;
}

}  // namespace

std::vector<uint8_t> BuildWrite32Request(uint32_t address, std::span<const uint8_t> data) {
    std::vector<uint8_t> r(kDloadWrite32HeaderLength + data.size());
    r[0] = kDloadWrite32;
    PutBe32(&r[1], address);
    PutBe16(&r[5], static_cast<uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), r.begin() + kDloadWrite32HeaderLength);
    return r;
}

std::array<uint8_t, 5> BuildGoRequest(uint32_t startAddress) {
    std::array<uint8_t, 5> r{};
    r[0] = kDloadGo;
    PutBe32(&r[1], startAddress);
    return r;
}

int DloadNop(ProgrammerSession& session) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    const uint8_t request[] = {kDloadNopCode};
    return Acknowledged(*session.link, request) ? kErrorSuccess : kErrorInvalidHandle;
}

int UploadHexProgrammer(const std::filesystem::path& path, ProgrammerSession& session,
                        std::string* problem) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    SerialLink& link = *session.link;
    HexUploadPlan plan;
    if (const int rc = LoadHexPlan(path, link, plan, problem); rc != kErrorSuccess) {
        return rc;
    }
    for (const HexWritePacket& packet : plan.packets) {
        if (!Acknowledged(link, BuildWrite32Request(packet.address, packet.data))) {
            link.WriteConsole(Format("Programmer packet at 0x%08X refused\n", packet.address));
            return kErrorWriteFault;
        }
    }
    if (!Acknowledged(link, BuildGoRequest(plan.startAddress))) {
        link.WriteConsole(Format("Programmer start at 0x%08X refused\n", plan.startAddress));
        return kErrorWriteFault;
    }
    return kErrorSuccess;
}

}  // namespace veltrix
