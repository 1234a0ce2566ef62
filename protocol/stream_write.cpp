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

// What became of the blocks sent so far: the bytes the board took, and whether the last block
// went unanswered (it may or may not be in the flash then).
struct WriteTally {
    uint64_t accepted = 0;
    bool unanswered = false;
};

// Sends one STREAM WRITE under its 10 s bracket and reports a refusal on the console.
bool WriteChunk(SerialLink& link, const std::vector<uint8_t>& request, bool* unanswered = nullptr) {
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
        link.WriteConsole("Device returned no answer\n");
        if (unanswered != nullptr) {
            *unanswered = true;
        }
        return false;
    }
    link.WriteConsole(Format("Device returned error: %i\n", reply[0]));
    if (reply[0] == kReplyLogMessage) {
        std::string text = LogMessageText(reply.data(), replyLength);
        if (text.empty() || text.back() != '\n') {
            text.push_back('\n');
        }
        link.WriteConsole(text);
    }
    return false;
}

// The write loop of both entries: chunks from `read` (bytes read, 0 at the end, -1 with the
// reason in `*readError` on failure) until the end, the first refused block or a read failure.
template <typename ReadChunk>
int StreamWriteChunks(uint32_t address, ProgrammerSession& session, ReadChunk read,
                      WriteTally* tally = nullptr) {
    SerialLink& link = *session.link;
    std::array<uint8_t, kStreamWriteChunk> chunk{};
    int result = kErrorSuccess;
    while (result == kErrorSuccess) {
        std::string readError;
        const long long n = read(chunk.data(), chunk.size(), &readError);
        if (n < 0) {
            // A chunk that could not be read is never sent: the flash would get wrong bytes.
            link.WriteConsole(Format("File read failed: %s\n", readError.c_str()));
            result = kErrorReadFault;
            break;
        }
        if (n == 0) {
            break;
        }
        const auto size = static_cast<size_t>(n);
        const auto request = BuildStreamWriteRequest(address, std::span(chunk.data(), size));
        bool unanswered = false;
        if (!WriteChunk(link, request, &unanswered)) {
            result = kErrorWriteFault;
        }
        if (tally != nullptr) {
            tally->accepted += result == kErrorSuccess ? size : 0;
            tally->unanswered = unanswered;
        }
        const bool sectors = session.sectorAddressing;
        address +=
            sectors ? static_cast<uint32_t>(size / kSectorSize) : static_cast<uint32_t>(size);
        link.WriteConsole(
            Format(sectors ? "Destination sector: %u\r" : "Destination offset: %u\r", address));
    }
    link.WriteConsole("\n");
    return result;  // the end of the file is the normal way out: 0
}

// The file of StreamWriteFilePieces, read front to back: at most `maxBytes` in all, the bytes
// between pieces read past, the progress told after every read.
class PieceSource {
public:
    PieceSource(InputFile& file, uint64_t maxBytes, const WriteProgress& progress)
        : file_(file), maxBytes_(maxBytes), progress_(progress) {}

    // Bytes read, 0 at the end, -1 with the reason in `*error`.
    long long Read(uint8_t* buffer, size_t count, std::string* error) {
        count = static_cast<size_t>(std::min<uint64_t>(count, maxBytes_ - position_));
        if (count == 0) {
            return 0;
        }
        const long long n = file_.ReadFull(buffer, count);
        if (n < 0) {
            failed_ = true;
            *error = file_.errorText();
            return n;
        }
        position_ += static_cast<uint64_t>(n);
        ended_ = static_cast<size_t>(n) < count;
        if (progress_ && n > 0) {
            progress_(position_, file_.size());
        }
        return n;
    }
    // Reads up to `offset`; false when the file ends (or fails) before it.
    bool SkipTo(uint64_t offset) {
        std::array<uint8_t, kStreamWriteChunk> drop{};
        std::string error;
        while (position_ < offset && !ended_) {
            const auto n = static_cast<size_t>(std::min<uint64_t>(drop.size(), offset - position_));
            if (Read(drop.data(), n, &error) < 0) {
                return false;
            }
        }
        return position_ == offset;
    }
    // After the last piece: the file holds more than `maxBytes`.
    bool Grew() {
        uint8_t extra = 0;
        return position_ == maxBytes_ && !ended_ && file_.ReadFull(&extra, 1) > 0;
    }
    bool ended() const { return ended_; }
    bool failed() const { return failed_; }
    const std::string& errorText() const { return file_.errorText(); }

private:
    InputFile& file_;
    uint64_t maxBytes_;
    const WriteProgress& progress_;
    uint64_t position_ = 0;
    bool ended_ = false;
    bool failed_ = false;
};

int ReadFailed(SerialLink& link, const PieceSource& source) {
    link.WriteConsole(Format("File read failed: %s\n", source.errorText().c_str()));
    return kErrorReadFault;
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
    const WritePiece whole{0, address, maxBytes};
    return StreamWriteFilePieces(path, session, std::span(&whole, 1), maxBytes, facts, progress);
}

int StreamWriteFilePieces(const std::filesystem::path& path, ProgrammerSession& session,
                          std::span<const WritePiece> pieces, uint64_t maxBytes,
                          StreamFileFacts* facts, const WriteProgress& progress) {
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
        session.link->WriteConsole(
            Format("File %s is refused: %s\n", path.string().c_str(), file.errorText().c_str()));
        return opened;
    }
    if (opened != kErrorSuccess) {
        session.link->WriteConsole(Format("Filename not found %s\n", path.string().c_str()));
        return kErrorFileNotFound;
    }
    PieceSource source(file, maxBytes, progress);
    WriteTally tally;
    int result = kErrorSuccess;
    for (const WritePiece& piece : pieces) {
        if (!source.SkipTo(piece.fileOffset)) {
            result = source.failed() ? ReadFailed(*session.link, source) : kErrorSuccess;
            break;
        }
        uint64_t left = piece.bytes;
        result = StreamWriteChunks(
            piece.address, session,
            [&](uint8_t* buffer, size_t size, std::string* error) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(size, left));
                const long long got = source.Read(buffer, n, error);
                left -= got > 0 ? static_cast<uint64_t>(got) : 0;
                return got;
            },
            &tally);
        if (result != kErrorSuccess || source.ended()) {
            break;
        }
    }
    if (facts != nullptr) {
        facts->acceptedBytes = tally.accepted;
        facts->unanswered = tally.unanswered;
    }
    // A file that grows while it is sent still stops at `maxBytes`: the flash after the
    // partition is never written.
    if (result == kErrorSuccess && source.Grew()) {
        session.link->WriteConsole(
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
