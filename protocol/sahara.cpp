#include "protocol/sahara.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "base/byte_order.h"
#include "base/file_io.h"
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

// Sends `length` image bytes from `offset`, in pieces of at most the transfer buffer.
int ServeReadData(SerialLink& link, std::FILE* image, uint32_t offset, uint32_t length) {
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
            break;
        }
    }
    return kErrorSuccess;
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
int ServeTransfer(SerialLink& link, std::FILE* image, bool& ended) {
    for (;;) {
        std::array<uint8_t, kSaharaReadDataLength> request{};
        const size_t got = ReadSaharaPacket(link, request.data(), request.size());
        if (got < kSaharaHeaderLength) {
            link.WriteConsole("Sahara: no request from the boot ROM\n");
            return kErrorWriteFault;
        }
        const uint32_t command = Word(request.data(), 0);
        if (command == kSaharaReadData && got == kSaharaReadDataLength) {
            const int rc =
                ServeReadData(link, image, Word(request.data(), 3), Word(request.data(), 4));
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

int SaharaUploadImage(const std::filesystem::path& path, SerialLink& link) {
    {
        // Only a regular file of a loader's size is served: the ROM would read an endless
        // device for ever.
        InputFile check;
        if (const int code = check.OpenBounded(path, kMaxSaharaImageBytes);
            code == kErrorNotRegularFile || code == kErrorFileTooLarge) {
            link.WriteConsole(Format("Image file %s is refused: %s\n", path.string().c_str(),
                                     check.errorText().c_str()));
            return kErrorOpenFailed;
        }
    }
    std::FILE* image = OpenCFile(path, "rb");
    if (image == nullptr) {
        link.WriteConsole(Format("Cannot open image file %s\n", path.string().c_str()));
        return kErrorOpenFailed;
    }
    bool ended = false;
    const int rc = ServeTransfer(link, image, ended);
    std::fclose(image);
    return ended ? FinishTransfer(link) : rc;
}

}  // namespace veltrix
