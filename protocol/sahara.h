#pragma once
// The boot ROM's Sahara protocol: unframed little-endian packets straight on the port (ReadRaw,
// WriteRaw). The ROM greets with HELLO, the host answers, then serves the ROM's READ DATA
// requests from an image file until the ROM ends the transfer. Every read waits at most the
// link's current time-out.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace veltrix {

class SerialLink;

inline constexpr uint32_t kSaharaHello = 1;
inline constexpr uint32_t kSaharaHelloResponse = 2;
inline constexpr uint32_t kSaharaReadData = 3;
inline constexpr uint32_t kSaharaEndOfImageTransfer = 4;
inline constexpr uint32_t kSaharaDone = 5;
inline constexpr uint32_t kSaharaDoneResponse = 6;

inline constexpr size_t kSaharaHelloLength = 48;
inline constexpr size_t kSaharaReadDataLength = 20;
inline constexpr size_t kSaharaEndOfImageLength = 16;
inline constexpr size_t kSaharaDoneLength = 8;
inline constexpr size_t kSaharaDoneResponseLength = 12;
// The most image bytes sent with one write; larger requests are served in several writes.
inline constexpr size_t kSaharaTransferBuffer = 16384;

// The largest image the host serves: a loader or a DDR-debug image is far smaller.
inline constexpr uint64_t kMaxSaharaImageBytes = 64u << 20;

// Waits for HELLO and answers HELLO RESPONSE (version 2, compatible 1, status 0, the ROM's mode
// and the rest of its words echoed). 0; 6 when no HELLO arrives or the answer cannot be written.
int SaharaHello(SerialLink& link);

// Serves the ROM's READ DATA requests from the image, each from the offset it asks for, until END
// OF IMAGE TRANSFER, then DONE / DONE RESPONSE and a 500 ms wait for the image to start.
// 0; 110 when the image cannot be opened, is empty, is not a regular file or is larger than
// kMaxSaharaImageBytes (nothing is sent); kErrorTooManyOpenFiles or kErrorNotEnoughMemory when
// the PC could not open it; 29 for an unexpected packet, a request that does not come within the
// time-out, no DONE RESPONSE, or a ROM that keeps asking past the image's end (the fourth such
// request) or for more than four times the image in all; 30 when the image cannot be read; the
// link's code when a port write fails. `*problem`, when given, says what is wrong with a file
// refused before anything is sent.
int SaharaUploadImage(const std::filesystem::path& path, SerialLink& link,
                      std::string* problem = nullptr);

}  // namespace veltrix
