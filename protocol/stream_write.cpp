// Writing into the flash with STREAM WRITE: a whole file chunk by chunk, or one padded block.
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/file_io.h"
#include "base/text_format.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/streaming.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

constexpr uint32_t kSectorSize = 512;
// Room for a whole 0x0E log message; a written block is answered with three bytes.
constexpr int kWriteReplyCapacity = 1060;

// Sends one STREAM WRITE under its 10 s bracket and reports a refusal on the console.
bool WriteChunk(SerialLink& link, const std::vector<uint8_t>& request) {
    std::array<uint8_t, kWriteReplyCapacity> reply{};
    int replyLength = 0;
    bool written = false;
    {
        TimeoutBracket bracket(link, kStreamWriteTimeoutMs);
        written = ExchangeCommand(link, request, kReplyStreamWrite, reply.data(),
                                  kWriteReplyCapacity, replyLength);
    }
    if (written) {
        return true;
    }
    if (replyLength == 0) {
        WriteConsole(link, "Device returned no answer\n");
        return false;
    }
    WriteConsole(link, Format("Device returned error: %i\n", reply[0]));
    if (reply[0] == kReplyLogMessage) {
        std::string text = LogMessageText(reply.data(), replyLength);
        if (text.empty() || text.back() != '\n') {
            text.push_back('\n');
        }
        WriteConsole(link, text);
    }
    return false;
}

}  // namespace

int StreamWriteFromHandle(uint32_t address, ProgrammerSession& session, std::FILE* file) {
    if (session.link == nullptr || file == nullptr) {
        return kErrorInvalidHandle;
    }
    SerialLink& link = *session.link;
    std::array<uint8_t, kStreamWriteChunk> chunk{};
    int result = kErrorSuccess;
    while (result == kErrorSuccess) {
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), file);
        if (std::ferror(file)) {
            // A chunk that could not be read is never sent: the flash would get wrong bytes.
            WriteConsole(link, Format("File read failed: %s\n", std::strerror(errno)));
            result = kErrorReadFault;
            break;
        }
        if (n == 0) {
            break;
        }
        const auto request = BuildStreamWriteRequest(address, std::span(chunk.data(), n));
        if (!WriteChunk(link, request)) {
            result = kErrorWriteFault;
        }
        const bool sectors = session.sectorAddressing;
        address += sectors ? static_cast<uint32_t>(n / kSectorSize) : static_cast<uint32_t>(n);
        WriteConsole(link, Format(sectors ? "Destination sector: %u\r" : "Destination offset: %u\r",
                                  address));
    }
    WriteConsole(link, "\n");
    return result;  // the end of the file is the normal way out: 0
}

int StreamWriteFile(const std::filesystem::path& path, ProgrammerSession& session,
                    uint32_t address) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    std::FILE* file = OpenCFile(path, "rb");
    if (file == nullptr) {
        WriteConsole(*session.link, Format("Filename not found %s\n", path.string().c_str()));
        return kErrorFileNotFound;
    }
    const int result = StreamWriteFromHandle(address, session, file);
    std::fclose(file);
    return result;
}

int StreamWriteData(uint32_t address, ProgrammerSession& session, std::span<const uint8_t> data) {
    if (data.size() > kStreamWriteChunk || session.link == nullptr) {
        return kErrorWriteFault;
    }
    return WriteChunk(*session.link, BuildStreamWriteRequest(address, data)) ? kErrorSuccess
                                                                             : kErrorWriteFault;
}

int StreamWriteBlock(int length, uint32_t address, ProgrammerSession& session,
                     const uint8_t* data) {
    if (length < 0 || static_cast<size_t>(length) > kStreamWriteChunk ||
        (length > 0 && data == nullptr) || session.link == nullptr) {
        return kErrorWriteFault;
    }
    std::array<uint8_t, kStreamWriteChunk> block{};
    if (length > 0) {
        std::memcpy(block.data(), data, static_cast<size_t>(length));
    }
    const auto request = BuildStreamWriteRequest(address, block);
    std::array<uint8_t, kWriteReplyCapacity> reply{};
    int replyLength = 0;
    TimeoutBracket bracket(*session.link, kStreamWriteTimeoutMs);
    return ExchangeCommand(*session.link, request, kReplyStreamWrite, reply.data(),
                           kWriteReplyCapacity, replyLength)
               ? kErrorSuccess
               : kErrorWriteFault;
}

}  // namespace veltrix
