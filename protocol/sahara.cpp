#include "protocol/sahara.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "base/byte_order.h"
#include "base/file_io.h"
#include "base/system_error.h"
#include "base/text_format.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"

namespace veltrix {
namespace {

constexpr size_t kSaharaHeaderLength = 8;  // command, length
constexpr uint32_t kHostVersion = 2;
constexpr uint32_t kHostCompatibleVersion = 1;
constexpr uint32_t kStatusSuccess = 0;
constexpr uint32_t kImageStartWaitMs = 500;
// A boot ROM reads each part of an image about once. One that keeps asking for bytes past the
// image's end, or for many times the image, would otherwise be served for ever: the upload ends
// with a failure at the request that passes either bound.
constexpr int kMaxShortRequests = 4;
constexpr uint64_t kMaxServedImages = 4;
constexpr uint64_t kServedAllowance = 64 * 1024;

uint32_t Word(const uint8_t* packet, size_t index) {
    return GetLe32(packet + 4 * index);
}
void SetWord(uint8_t* packet, size_t index, uint32_t v) {
    PutLe32(packet + 4 * index, v);
}

// Reads one packet: first its header, then as many bytes as its length word says (at most
// `capacity`), so a packet that arrives in pieces is still read whole and nothing of the next one
// is taken. Returns the number of bytes read; fewer than 8 means no packet came in time.
size_t ReadSaharaPacket(SerialLink& link, uint8_t* packet, size_t capacity) {
    size_t got = 0;
    size_t wanted = std::min(kSaharaHeaderLength, capacity);
    while (got < wanted) {
        const int n = link.ReadRaw(packet + got, static_cast<int>(wanted - got));
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
        if (got == kSaharaHeaderLength) {
            wanted = std::clamp<size_t>(Word(packet, 1), kSaharaHeaderLength, capacity);
        }
    }
    return got;
}

// What the transfer has served so far, against its bounds.
struct TransferBudget {
    uint64_t imageSize = 0;
    uint64_t served = 0;
    int shortRequests = 0;
};

// Sends `length` image bytes from `offset`, in pieces of at most the transfer buffer; `*cut`
// tells that the image ended first.
int ServeReadData(SerialLink& link, std::FILE* image, uint32_t offset, uint32_t length, bool* cut) {
    // The ROM may ask for any part of the image (headers first, segments later): seek.
    if (std::fseek(image, static_cast<long>(offset), SEEK_SET) != 0) {
        link.WriteConsole(Format("Sahara: cannot seek to offset %u of the image\n", offset));
        return kErrorReadFault;
    }
    std::array<uint8_t, kSaharaTransferBuffer> buffer;
    uint32_t sent = 0;
    while (sent < length) {
        const size_t piece = std::min<size_t>(length - sent, buffer.size());
        const size_t n = std::fread(buffer.data(), 1, piece, image);
        if (std::ferror(image)) {
            link.WriteConsole(Format("Sahara: image read failed: %s\n", std::strerror(errno)));
            return kErrorReadFault;
        }
        if (n > 0) {
            if (const int rc = link.WriteRaw(buffer.data(), static_cast<int>(n)); rc != 0) {
                return rc;
            }
            sent += static_cast<uint32_t>(n);
        }
        if (n < piece) {
            link.WriteConsole(
                Format("Sahara: the image holds only %u of the %u bytes "
                       "requested at offset %u\n",
                       sent, length, offset));
            *cut = true;
            break;
        }
    }
    return kErrorSuccess;
}

// Serves one READ DATA request within the transfer's bounds: 0; 29 when the boot ROM asks for
// more than the bound in all (that request is not served) or past the image's end for the
// fourth time (served as far as the image goes); or the code of a failed read or write.
int ServeWithinBudget(SerialLink& link, std::FILE* image, const uint8_t* request,
                      TransferBudget& budget) {
    const uint32_t offset = Word(request, 3);
    const uint32_t length = Word(request, 4);
    budget.served += length;
    if (budget.served > kMaxServedImages * budget.imageSize + kServedAllowance) {
        link.WriteConsole(
            Format("Sahara: the boot ROM asked for %llu bytes of a %llu-byte "
                   "image; upload stopped\n",
                   static_cast<unsigned long long>(budget.served),
                   static_cast<unsigned long long>(budget.imageSize)));
        return kErrorWriteFault;
    }
    bool cut = false;
    const int rc = ServeReadData(link, image, offset, length, &cut);
    if (rc == kErrorSuccess && cut && ++budget.shortRequests >= kMaxShortRequests) {
        link.WriteConsole(
            Format("Sahara: the boot ROM keeps asking for bytes past the end of "
                   "the %llu-byte image; upload stopped\n",
                   static_cast<unsigned long long>(budget.imageSize)));
        return kErrorWriteFault;
    }
    return rc;
}

// DONE, then the ROM's DONE RESPONSE; the image starts 500 ms later.
int FinishTransfer(SerialLink& link) {
    std::array<uint8_t, kSaharaDoneLength> done{};
    SetWord(done.data(), 0, kSaharaDone);
    SetWord(done.data(), 1, static_cast<uint32_t>(kSaharaDoneLength));
    if (const int rc = link.WriteRaw(done.data(), static_cast<int>(done.size())); rc != 0) {
        return rc;
    }
    std::array<uint8_t, kSaharaDoneResponseLength> response{};
    const size_t got = ReadSaharaPacket(link, response.data(), response.size());
    if (got < kSaharaHeaderLength || Word(response.data(), 0) != kSaharaDoneResponse) {
        link.WriteConsole("Sahara: no DONE RESPONSE from the boot ROM\n");
        return kErrorWriteFault;
    }
    link.clock().Sleep(kImageStartWaitMs);
    return kErrorSuccess;
}

// Serves requests until the ROM ends the transfer (`ended` set, 0 returned) or a fault.
int ServeTransfer(SerialLink& link, std::FILE* image, uint64_t imageSize, bool& ended) {
    TransferBudget budget{imageSize};
    for (;;) {
        std::array<uint8_t, kSaharaReadDataLength> request{};
        const size_t got = ReadSaharaPacket(link, request.data(), request.size());
        if (got < kSaharaHeaderLength) {
            link.WriteConsole("Sahara: no request from the boot ROM\n");
            return kErrorWriteFault;
        }
        const uint32_t command = Word(request.data(), 0);
        if (command == kSaharaReadData && got == kSaharaReadDataLength) {
            const int rc = ServeWithinBudget(link, image, request.data(), budget);
            if (rc != kErrorSuccess) {
                return rc;
            }
        } else if (command == kSaharaEndOfImageTransfer && got >= kSaharaEndOfImageLength) {
            if (const uint32_t status = Word(request.data(), 3); status != kStatusSuccess) {
                link.WriteConsole(
                    Format("Sahara: the boot ROM ended the transfer with status "
                           "%u\n",
                           status));
            }
            ended = true;
            return kErrorSuccess;
        } else {
            link.WriteConsole(
                Format("Sahara: unexpected packet %u during the image transfer\n", command));
            return kErrorWriteFault;
        }
    }
}

}  // namespace

int SaharaHello(SerialLink& link) {
    std::array<uint8_t, kSaharaHelloLength> packet{};
    ReadSaharaPacket(link, packet.data(), packet.size());
    if (Word(packet.data(), 0) != kSaharaHello) {
        return kErrorInvalidHandle;
    }
    // Words 5-11 (the mode among them) go back as the ROM sent them.
    SetWord(packet.data(), 0, kSaharaHelloResponse);
    SetWord(packet.data(), 1, static_cast<uint32_t>(kSaharaHelloLength));
    SetWord(packet.data(), 2, kHostVersion);
    SetWord(packet.data(), 3, kHostCompatibleVersion);
    SetWord(packet.data(), 4, kStatusSuccess);
    return link.WriteRaw(packet.data(), static_cast<int>(packet.size())) == 0 ? kErrorSuccess
                                                                              : kErrorInvalidHandle;
}

int SaharaUploadImage(const std::filesystem::path& path, SerialLink& link, std::string* problem) {
    const auto refuse = [&](int code, const std::string& what) {
        link.WriteConsole(what + "\n");
        if (problem != nullptr) {
            *problem = what;
        }
        return code;
    };
    uint64_t imageSize = 0;
    {
        // Only a regular file of a loader's size is served: the ROM would read an endless
        // device for ever. An empty one holds nothing the ROM could run.
        InputFile check;
        const int code = check.OpenBounded(path, kMaxSaharaImageBytes);
        if (code == kErrorNotRegularFile || code == kErrorFileTooLarge) {
            return refuse(kErrorOpenFailed,
                          Format("Image file %s is refused: %s", path.string().c_str(),
                                 check.errorText().c_str()));
        }
        if (code == kErrorSuccess && check.size() == 0) {
            return refuse(kErrorOpenFailed,
                          Format("Image file %s is empty", path.string().c_str()));
        }
        imageSize = check.size();
    }
    errno = 0;
    std::FILE* image = OpenCFile(path, "rb");
    if (image == nullptr) {
        const int error = errno;
        const int code = ResultFromErrno(error);
        // No file descriptors or no memory left is the PC's fault, not the file's.
        const bool pcFault = code == kErrorTooManyOpenFiles || code == kErrorNotEnoughMemory;
        return refuse(pcFault ? code : kErrorOpenFailed,
                      Format("Cannot open image file %s (%s)", path.string().c_str(),
                             error != 0 ? SystemErrorText(error).c_str() : "unknown reason"));
    }
    bool ended = false;
    const int rc = ServeTransfer(link, image, imageSize, ended);
    std::fclose(image);
    return ended ? FinishTransfer(link) : rc;
}

}  // namespace veltrix
