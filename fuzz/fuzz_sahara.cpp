// The Sahara exchange: HELLO, then the image served on the boot ROM's requests. The input gives
// a small image and the ROM's side: packets (HELLO, READ DATA, END OF IMAGE TRANSFER, DONE
// RESPONSE, others), split into chunks as they arrive, silences, and raw junk. As long as no junk
// came, the host's every byte and its result are predicted exactly: the HELLO RESPONSE echoes the
// ROM's words, each READ DATA gets the image bytes at its offset (as many as the image holds),
// END brings DONE, and only a DONE RESPONSE after it makes the upload succeed.

#include <algorithm>
#include <memory>

#include "base/byte_order.h"
#include "fuzz/fuzz_support.h"
#include "link/serial_link.h"
#include "protocol/sahara.h"

namespace veltrix::fuzz {
namespace {

Bytes Packet(std::initializer_list<uint32_t> words, size_t length) {
    Bytes packet(length);
    size_t i = 0;
    for (uint32_t w : words) {
        if (4 * i + 4 <= length) {
            PutLe32(packet.data() + 4 * i, w);
        }
        ++i;
    }
    return packet;
}

struct Prediction {
    Bytes written;
    int hello = kErrorInvalidHandle;
    int upload = kErrorWriteFault;
    bool known = true;  // false once junk made the ROM's side unpredictable
};

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    Reader in(data, size);
    const Bytes image = in.Take(in.U16() % 4096);
    const std::filesystem::path imagePath = ScratchFolder() / "image.mbn";
    WriteBytes(imagePath, image);

    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    Prediction p;
    // The ROM's greeting.
    const uint8_t greeting = in.Byte();
    if (greeting % 8 != 0) {
        Bytes hello = Packet({1, 48, in.U32(), in.U32(), in.U32(), in.U32()}, 48);
        const Bytes rest = in.Take(24);
        std::copy(rest.begin(), rest.end(), hello.begin() + 24);
        Deliver(in, port, hello);
        Bytes response = hello;
        for (const auto& [word, value] : {std::pair{0, 2u}, {1, 48u}, {2, 2u}, {3, 1u}, {4, 0u}}) {
            PutLe32(response.data() + 4 * word, value);
        }
        p.written = response;
        p.hello = kErrorSuccess;
    }
    // The transfer, predicted step by step until it ends. An empty image is refused before
    // anything is sent; the ROM is served at most four times the image (and 64 KiB), and the
    // fourth request past its end is the last one served.
    bool ended = p.hello != kErrorSuccess || image.empty();
    if (p.hello == kErrorSuccess && image.empty()) {
        p.upload = kErrorOpenFailed;
    }
    bool doneSent = false;
    uint64_t served = 0;
    int shortRequests = 0;
    for (int step = 0; step < 40 && !in.Empty(); ++step) {
        const uint8_t kind = in.Byte() % 8;
        if (kind == 0) {
            const uint32_t offset = in.U16() % 5000;
            const uint32_t length = in.U16() % 20000;
            Deliver(in, port, Packet({3, 20, 0, offset, length}, 20));
            ended = ended || doneSent;  // read where DONE RESPONSE belongs: the upload fails
            served += length;
            ended = ended || served > 4 * image.size() + 65536;
            if (!ended) {
                const size_t from = std::min<size_t>(offset, image.size());
                const size_t to = std::min<size_t>(size_t{offset} + length, image.size());
                p.written.insert(p.written.end(), image.begin() + static_cast<std::ptrdiff_t>(from),
                                 image.begin() + static_cast<std::ptrdiff_t>(to));
                ended = to - from < length && ++shortRequests >= 4;
            }
        } else if (kind == 1) {
            Deliver(in, port, Packet({4, 16, 0, in.Byte()}, 16));
            ended = ended || doneSent;
            if (!ended) {
                p.written.insert(p.written.end(), {5, 0, 0, 0, 8, 0, 0, 0});
                doneSent = true;
            }
        } else if (kind == 2) {
            Deliver(in, port, Packet({6, 12, in.Byte()}, 12));
            if (!ended && doneSent) {
                p.upload = kErrorSuccess;
            }
            ended = true;  // after DONE the upload is over; before it, the packet is unexpected
        } else if (kind == 3) {
            port.chunks.emplace_back();  // the ROM says nothing within the time-out
            ended = true;
        } else if (kind == 4) {
            Deliver(in, port, in.Take(in.Byte() % 40));  // junk
            p.known = p.known && ended && p.hello == kErrorSuccess;
        } else {
            Deliver(in, port, Packet({in.Byte() % 8u + 7, 8 + in.Byte() % 16u}, 24));
            ended = true;
        }
    }

    SerialLink& link = ScriptedLink(std::move(owned));
    const int hello = SaharaHello(link);
    const int upload = hello == kErrorSuccess ? SaharaUploadImage(imagePath, link) : -1;
    if (!p.known) {
        FUZZ_CHECK(hello == kErrorSuccess || hello == kErrorInvalidHandle);
        FUZZ_CHECK(upload == -1 || upload == kErrorSuccess || upload == kErrorWriteFault ||
                   (upload == kErrorOpenFailed && image.empty()));
        return 0;
    }
    FUZZ_CHECK(hello == p.hello);
    if (hello == kErrorSuccess) {
        FUZZ_CHECK(upload == p.upload);
    }
    if (hello != kErrorSuccess) {
        FUZZ_CHECK(port.written.empty());
    } else if (upload == kErrorSuccess) {
        FUZZ_CHECK(port.written == p.written);
    } else {
        // A failed transfer stops early: what went out is a beginning of the prediction.
        FUZZ_CHECK(port.written.size() <= p.written.size() &&
                   std::equal(port.written.begin(), port.written.end(), p.written.begin()));
    }
    return 0;
}
