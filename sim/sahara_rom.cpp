#include "sim/sahara_rom.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace veltrix::sim {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Outcome = SaharaSession::Outcome;

constexpr int kPollMs = 20;
constexpr int kGarbageIdleMs = 100;  // a partial packet that stops this long is not a response
constexpr int kDrainIdleMs = 50;
constexpr int kDoneIdleMs = 2000;
constexpr int kWriteTimeoutMs = 2000;
constexpr uint32_t kReadDataLength = 0x14;
constexpr uint32_t kEndOfImageLength = 0x10;
constexpr uint32_t kDoneResponseLength = 0x0C;
constexpr uint32_t kMaxCommandPacket = 0x400;

int MsSince(SteadyClock::time_point t) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t).count());
}

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes out;
    for (uint32_t w : words) {
        PutLe32(out, w);
    }
    return out;
}

}  // namespace

bool SaharaRom::Send(const Bytes& packet) {
    return port_.Write(packet, kWriteTimeoutMs);
}

bool SaharaRom::SendHello() {
    Bytes hello = Words({kSaharaHello, kSaharaHelloLength, options_.saharaVersion, 1,
                         kMaxCommandPacket, options_.saharaMode});
    hello.resize(kSaharaHelloLength, 0);  // words 6..11 reserved
    return Send(hello);
}

SaharaSession SaharaRom::Run() {
    SaharaSession session;
    have_.clear();
    end_ = options_.saharaImageSize;
    auto fail = [&](Outcome fallback) {
        session.outcome = wake_.Raised()         ? Outcome::kStopped
                          : !port_.HostPresent() ? Outcome::kHostLeft
                                                 : fallback;
        return session;
    };
    if (wake_.WaitFor(options_.helloDelayMs) || !port_.HostPresent()) {
        return fail(Outcome::kHostLeft);
    }
    if (!SendHello() || !AwaitHelloResponse(session)) {
        return fail(Outcome::kProtocolError);
    }
    if (!Transfer(session) || !Finish()) {
        return fail(Outcome::kProtocolError);
    }
    session.outcome = Outcome::kUploaded;
    return session;
}

bool SaharaRom::AwaitHelloResponse(SaharaSession& session) {
    Bytes buf(kSaharaHelloLength);
    size_t got = 0;
    auto lastByte = SteadyClock::now();
    auto sent = SteadyClock::now();
    for (;;) {
        size_t n = 0;
        const auto status = port_.Read(buf.data() + got, buf.size() - got, &n, kPollMs);
        if (status != PtyPort::ReadStatus::kData && status != PtyPort::ReadStatus::kTimeout) {
            return false;
        }
        got += n;
        if (n > 0) {
            lastByte = SteadyClock::now();
        }
        if (got == buf.size() && GetLe32(buf, 0) == kSaharaHelloResponse) {
            session.helloResponse = buf;
            return GetLe32(buf, 16) == 0;  // status word: the host accepts the ROM
        }
        const bool garbage = got == buf.size() || (got > 0 && MsSince(lastByte) >= kGarbageIdleMs);
        const bool repeat =
            got == 0 && options_.helloRepeatMs > 0 && MsSince(sent) >= options_.helloRepeatMs;
        if (garbage || repeat) {
            // Not a HELLO RESPONSE (a host speaking another protocol): start over with HELLO.
            port_.ReadExact(buf.data(), buf.size(), kDrainIdleMs);
            got = 0;
            if (!SendHello()) {
                return false;
            }
            sent = SteadyClock::now();
        }
    }
}

bool SaharaRom::Request(SaharaSession& session, uint64_t offset, uint32_t length) {
    if (length == 0) {
        return true;
    }
    if (offset + length > kMaxSaharaImage) {
        return false;
    }
    if (!Send(Words({kSaharaReadData, kReadDataLength, kSaharaImageId,
                     static_cast<uint32_t>(offset), length}))) {
        return false;
    }
    Bytes data(length);
    const size_t got = port_.ReadExact(data.data(), length, options_.saharaDataIdleMs);
    if (got < length) {
        if (wake_.Raised() || !port_.HostPresent()) {
            return false;
        }
        end_ = end_ == 0 ? offset + got : std::min<uint64_t>(end_, offset + got);
    }
    if (session.image.size() < offset + got) {
        session.image.resize(offset + got);
        have_.resize(offset + got, false);
    }
    std::copy(data.begin(), data.begin() + static_cast<ptrdiff_t>(got),
              session.image.begin() + static_cast<ptrdiff_t>(offset));
    std::fill(have_.begin() + static_cast<ptrdiff_t>(offset),
              have_.begin() + static_cast<ptrdiff_t>(offset + got), true);
    session.served.push_back({static_cast<uint32_t>(offset), length, static_cast<uint32_t>(got)});
    return true;
}

bool SaharaRom::Transfer(SaharaSession& session) {
    for (const SaharaRequest& r : options_.saharaRequests) {
        if (!Request(session, r.offset, r.length)) {
            return false;
        }
    }
    const uint64_t chunk = std::max<uint32_t>(options_.saharaChunk, 1);
    uint64_t pos = 0;
    for (;;) {
        while (pos < have_.size() && have_[pos]) {
            ++pos;
        }
        const uint64_t limit = end_ != 0 ? end_ : kMaxSaharaImage;
        if (pos >= limit) {
            break;
        }
        uint64_t length = std::min(chunk, limit - pos);
        for (uint64_t i = pos; i < pos + length && i < have_.size(); ++i) {
            if (have_[i]) {  // stop before bytes a scripted request already brought
                length = i - pos;
                break;
            }
        }
        if (!Request(session, pos, static_cast<uint32_t>(length))) {
            return false;
        }
    }
    if (end_ == 0) {
        end_ = kMaxSaharaImage;
    }
    session.image.resize(end_);
    return true;
}

bool SaharaRom::Finish() {
    if (!Send(Words({kSaharaEndOfImage, kEndOfImageLength, kSaharaImageId, 0}))) {
        return false;
    }
    Bytes done(8);
    if (port_.ReadExact(done.data(), done.size(), kDoneIdleMs) != done.size() ||
        GetLe32(done, 0) != kSaharaDone) {
        return false;
    }
    return Send(Words({kSaharaDoneResponse, kDoneResponseLength, 0}));
}

}  // namespace veltrix::sim
