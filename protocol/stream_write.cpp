// Writing into the flash with STREAM WRITE: a whole file chunk by chunk, or one padded block.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>

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

// The write loop of both entries: chunks from `read` (bytes read, 0 at the end, -1 with the
// reason in `*readError` on failure) until the end, the first refused block or a read failure.
template <typename ReadChunk>
int StreamWriteChunks(uint32_t address, ProgrammerSession& session, ReadChunk read) {
    SerialLink& link = *session.link;
    std::array<uint8_t, kStreamWriteChunk> chunk{};
    int result = kErrorSuccess;
    while (result == kErrorSuccess) {
        std::string readError;
        const long long n = read(chunk.data(), chunk.size(), &readError);
        if (n < 0) {
            // A chunk that could not be read is never sent: the flash would get wrong bytes.
            WriteConsole(link, Format("File read failed: %s\n", readError.c_str()));
            result = kErrorReadFault;
            break;
        }
        if (n == 0) {
            break;
        }
        const auto size = static_cast<size_t>(n);
        const auto request = BuildStreamWriteRequest(address, std::span(chunk.data(), size));
        if (!WriteChunk(link, request)) {
            result = kErrorWriteFault;
        }
        const bool sectors = session.sectorAddressing;
        address +=
            sectors ? static_cast<uint32_t>(size / kSectorSize) : static_cast<uint32_t>(size);
        WriteConsole(link, Format(sectors ? "Destination sector: %u\r" : "Destination offset: %u\r",
                                  address));
    }
    WriteConsole(link, "\n");
    return result;  // the end of the file is the normal way out: 0
}

}  // namespace

int StreamWriteFromHandle(uint32_t address, ProgrammerSession& session, std::FILE* file) {
    if (session.link == nullptr || file == nullptr) {
        return kErrorInvalidHandle;
    }
    return StreamWriteChunks(address, session,
                             [file](uint8_t* buffer, size_t size, std::string* error) {
                                 const size_t n = std::fread(buffer, 1, size, file);
                                 if (std::ferror(file)) {
                                     *error = std::strerror(errno);
                                     return -1LL;
                                 }
                                 return static_cast<long long>(n);
                             });
}

int StreamWriteFile(const std::filesystem::path& path, ProgrammerSession& session, uint32_t address,
                    uint64_t maxBytes, StreamFileFacts* facts, const WriteProgress& progress) {
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    InputFile file;
    const int opened = file.OpenBounded(path, maxBytes);
    if (facts != nullptr) {
        facts->kind = file.kind();
        facts->size = file.size();
    }
    if (opened == kErrorNotRegularFile || opened == kErrorFileTooLarge) {
        WriteConsole(*session.link, Format("File %s is refused: %s\n", path.string().c_str(),
                                           file.errorText().c_str()));
        return opened;
    }
    if (opened != kErrorSuccess) {
        WriteConsole(*session.link, Format("Filename not found %s\n", path.string().c_str()));
        return kErrorFileNotFound;
    }
    // A file that grows while it is sent still stops at `maxBytes`: the flash after the
    // partition is never written.
    uint64_t left = maxBytes;
    bool grew = false;
    const int result =
        StreamWriteChunks(address, session, [&](uint8_t* buffer, size_t size, std::string* error) {
            if (left == 0) {
                uint8_t extra = 0;
                grew = file.ReadFull(&extra, 1) > 0;
                return 0LL;
            }
            const long long n =
                file.ReadFull(buffer, static_cast<size_t>(std::min<uint64_t>(size, left)));
            if (n < 0) {
                *error = file.errorText();
                return n;
            }
            left -= static_cast<uint64_t>(n);
            if (progress && n > 0) {
                progress(maxBytes - left, file.size());
            }
            return n;
        });
    if (result == kErrorSuccess && grew) {
        WriteConsole(*session.link,
                     Format("File %s grew while it was written; stopped at %llu bytes\n",
                            path.string().c_str(), static_cast<unsigned long long>(maxBytes)));
        return kErrorFileTooLarge;
    }
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
