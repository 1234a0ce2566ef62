// Reading sectors with several READs in flight. The programmer answers requests strictly in
// order and each READ answer carries its address, so the host may send the next requests before
// the answers to the first have come: the data then moves at the link's speed, not at its
// latency. Only an answer that carries the oldest outstanding address (and is whole) is ever
// taken as that sector's data; anything else ends the window, and the sectors still missing are
// asked for again one at a time, skipping the answers to requests already given up.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <deque>
#include <set>
#include <span>

#include "base/byte_order.h"
#include "base/text_format.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "protocol/command_exchange.h"
#include "protocol/streaming.h"
#include "protocol/streaming_requests.h"

namespace veltrix {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kSector = 512;
constexpr size_t kAddressAt = 1;
constexpr size_t kDataAt = 5;
constexpr size_t kAnswerLength = kDataAt + kSector + kFcsLength;
constexpr int kRawCapacity = static_cast<int>(MaxEncodedLength(kReadReplyCapacity));
// The two READs of the probe must both be answered within this.
constexpr uint32_t kProbeTimeoutMs = 2000;

using Answer = std::array<uint8_t, kRawCapacity>;

// One READ answer, as the link gave it: whole, and for which address.
struct Received {
    int code = kErrorSuccess;  // the link's failure, when not 0
    bool whole = false;        // code 0x04, exactly one sector of data
    uint32_t address = 0;
};

int SendRead(SerialLink& link, uint32_t sector) {
    const auto request = BuildReadRequest(sector, static_cast<uint16_t>(kSector));
    return link.Send(request.data(), static_cast<int>(request.size()));
}

// The next answer, waited for until `deadline` at most.
Received ReceiveAnswer(SerialLink& link, Answer& answer, SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) {
        return {};
    }
    Received r;
    int length = kRawCapacity;
    {
        TimeoutBracket bracket(link, static_cast<uint32_t>(left.count()));
        r.code = link.Receive(answer.data(), length);
    }
    if (r.code == kErrorSuccess && static_cast<size_t>(length) == kAnswerLength &&
        answer[0] == kReplyRead) {
        r.whole = true;
        r.address = GetLe32(&answer[kAddressAt]);
    }
    return r;
}

// The transfer of one call: where it stands and what it hands over.
struct Transfer {
    ProgrammerSession& session;
    const SectorSink& sink;
    uint32_t next;  // the next sector to hand to the sink
    uint32_t end;
    uint32_t* failedSector;
    // Sectors asked for and given up while their answers may still come: such an answer is
    // dropped once when it arrives.
    std::multiset<uint32_t> stale;

    SerialLink& link() { return *session.link; }
    int Fail(int code) {
        *failedSector = next;
        return code;
    }
    int Deliver(const Answer& answer) {
        if (const int code = sink(next, answer.data() + kDataAt); code != kErrorSuccess) {
            return Fail(code);
        }
        ++next;
        return kErrorSuccess;
    }
};

// One sector, one exchange: answers to requests given up are skipped (and, while some may still
// come, so are the remains of one that came late); the first other answer, or none within the
// READ's time-out, fails the sector.
int ReadOne(Transfer& t) {
    SerialLink& link = t.link();
    if (const int code = SendRead(link, t.next); code != kErrorSuccess) {
        return t.Fail(code);
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(kReadTimeoutMs);
    Answer answer{};
    for (;;) {
        const Received r = ReceiveAnswer(link, answer, deadline);
        if (r.code != kErrorSuccess) {
            return t.Fail(r.code);
        }
        if (r.whole && r.address == t.next) {
            return t.Deliver(answer);
        }
        if (const auto stale = t.stale.find(r.address); r.whole && stale != t.stale.end()) {
            t.stale.erase(stale);
            continue;
        }
        if (!r.whole && !t.stale.empty() && SteadyClock::now() < deadline) {
            continue;
        }
        link.WriteConsole(
            r.whole ? Format("READ reply for address 0x%x, asked 0x%x\n", r.address, t.next)
                    : Format("READ of sector 0x%x not answered\n", t.next));
        return t.Fail(kErrorInvalidHandle);
    }
}

// Up to `window` READs in flight, the oldest answer expected first, each waited for `timeoutMs`
// from its request, until sector `until`. Returns 0 when those sectors are handed over, 1 when
// an answer was missing or out of place (what was in flight is given up; the caller asks again
// from t.next), or the failure (the link's or the sink's).
int ReadWindowed(Transfer& t, size_t window, uint32_t timeoutMs, uint32_t until) {
    struct Outstanding {
        uint32_t sector;
        SteadyClock::time_point deadline;
    };
    std::deque<Outstanding> inflight;
    uint32_t sent = t.next;
    Answer answer{};
    while (t.next < until) {
        while (inflight.size() < window && sent < until) {
            if (const int code = SendRead(t.link(), sent); code != kErrorSuccess) {
                return t.Fail(code);
            }
            inflight.push_back({sent++, SteadyClock::now() + std::chrono::milliseconds(timeoutMs)});
        }
        const Received r = ReceiveAnswer(t.link(), answer, inflight.front().deadline);
        if (r.code != kErrorSuccess) {
            return t.Fail(r.code);
        }
        if (!r.whole || r.address != inflight.front().sector) {
            // Everything in flight is given up; the answers still to come for it are dropped.
            // (What just came is not taken off: a frame out of place may carry another
            // sector's data under this address, and the real answer is yet to come.)
            for (const Outstanding& o : inflight) {
                t.stale.insert(o.sector);
            }
            return 1;
        }
        inflight.pop_front();
        if (const int code = t.Deliver(answer); code != kErrorSuccess) {
            return code;
        }
    }
    return kErrorSuccess;
}

// Two READs back to back, under a short time-out: a programmer that answers both in order takes
// a window. Either way the sectors that came are handed over. 0 or 1 as ReadWindowed, or the
// failure.
int ProbeWindow(Transfer& t) {
    const uint32_t from = t.next;
    const int result = ReadWindowed(t, 2, kProbeTimeoutMs, from + 2);
    if (result != kErrorSuccess && result != 1) {
        return result;
    }
    const bool works = t.next == from + 2;
    t.session.windowProbe = works ? WindowProbe::kWorks : WindowProbe::kOneAtATime;
    if (!works) {
        t.link().WriteConsole(
            "The flash programmer does not answer a second READ sent before the first was "
            "answered: reading one sector per exchange for the rest of the run\n");
    }
    return kErrorSuccess;
}

}  // namespace

int ReadSectors(ProgrammerSession& session, uint32_t firstSector, uint32_t count,
                const SectorSink& sink, uint32_t* failedSector) {
    uint32_t ignored = 0;
    failedSector = failedSector != nullptr ? failedSector : &ignored;
    *failedSector = firstSector;
    if (session.link == nullptr) {
        return kErrorInvalidHandle;
    }
    Transfer t{session, sink, firstSector, firstSector + count, failedSector, {}};
    const auto window = static_cast<size_t>(std::clamp(session.readWindow, 1, kMaxReadWindow));
    if (window > 1 && session.windowProbe == WindowProbe::kNotYet && count >= 2) {
        if (const int probed = ProbeWindow(t); probed != kErrorSuccess) {
            return probed;
        }
    }
    if (window > 1 && session.windowProbe == WindowProbe::kWorks && t.next < t.end) {
        const int result = ReadWindowed(t, window, kReadTimeoutMs, t.end);
        if (result != 1) {
            return result;
        }
        t.link().WriteConsole(Format(
            "READ answer of sector 0x%x missing: asking again one sector at a time\n", t.next));
    }
    while (t.next < t.end) {
        if (const int code = ReadOne(t); code != kErrorSuccess) {
            return code;
        }
    }
    return kErrorSuccess;
}

}  // namespace veltrix
