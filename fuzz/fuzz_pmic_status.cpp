// PMIC status replies into GetPmicStatus and the PMIC step of a run (RunPmicControl: status,
// PMIC ON, status, each print in the model family's lines). The input chooses the family and
// the board's four replies (mostly code 0x24 and a number of status bytes, now and then another
// code, else raw bytes). Checks against a tiny reference over what Transact gives:
// - GetPmicStatus copies a non-empty reply of at most 50 bytes whole and nothing more, reports
//   its length, and gives 0 only when it begins with 0x24;
// - the run logs exactly the lines the replies call for, in order: a failed status or PMIC ON
//   line (with the code byte received, 0 when none) and nothing after it, else each print;
// - a print shows the family's count of values: a status byte's bit 7 (its whole value for
//   family 1) while the reply has status bytes, "-" after them (never the frame check or bytes
//   past the reply), and says first that the reply is short when it has fewer than the family.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/text_format.h"
#include "diag/pmic_control.h"
#include "diag/run_context.h"
#include "fuzz/fuzz_support.h"
#include "link/framing/frame_codec.h"
#include "link/serial_link.h"
#include "protocol/streaming.h"

namespace veltrix::fuzz {
namespace {

constexpr int kRawCapacity = static_cast<int>(MaxEncodedLength(kPmicReplyCapacity));
constexpr uint8_t kCanary = 0xA5;

struct Family {
    int number;
    size_t values;
    size_t lines;
};
constexpr Family kFamilies[] = {{1, 5, 1}, {4, 35, 6}, {5, 26, 4}, {6, 33, 5}, {7, 34, 5}};

Bytes PmicAnswer(Reader& in) {
    const uint8_t shape = in.Byte();
    Bytes body{static_cast<uint8_t>(shape % 16 == 1 ? in.Byte() : 0x24)};
    const Bytes status = in.Take(shape % 16 == 2 ? in.Byte() : in.Byte() % 40);
    body.insert(body.end(), status.begin(), status.end());
    return body;
}

// The values of a print line: the text after each '=' or ',' up to the next ',' or blank.
void CollectValues(const std::string& line, std::vector<std::string>& values) {
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '=' || line[i] == ',') {
            const size_t end = line.find_first_of(", ", i + 1);
            values.push_back(line.substr(i + 1, end == std::string::npos ? end : end - i - 1));
        }
    }
}

// The lines a print of `reply` must add, with the values checked one by one.
void ExpectPrint(const Family& f, const Bytes& reply, const std::vector<std::string>& lines,
                 size_t& at) {
    const size_t status = reply.size() > 3 ? reply.size() - 3 : 0;
    if (status < f.values) {
        FUZZ_CHECK(at < lines.size());
        FUZZ_CHECK(lines[at++] == Format("PMIC status reply is short: %d of %d status bytes\n",
                                         static_cast<int>(status), static_cast<int>(f.values)));
    }
    std::vector<std::string> values;
    for (size_t i = 0; i < f.lines; ++i) {
        FUZZ_CHECK(at < lines.size());
        CollectValues(lines[at++], values);
    }
    FUZZ_CHECK(values.size() == f.values);
    for (size_t i = 0; i < values.size(); ++i) {
        const uint8_t b = i < status ? reply[1 + i] : 0;
        const std::string want = i >= status     ? "-"
                                 : f.number == 1 ? std::to_string(b)
                                                 : std::string((b & 0x80) ? "1" : "0");
        FUZZ_CHECK(values[i] == want);
    }
}

bool Copied(const ReferenceLink::Exchange& e) {
    return e.code == 0 && !e.reply.empty() && e.reply.size() <= kPmicReplyCapacity;
}

bool Accepted(const ReferenceLink::Exchange& e) {
    return Copied(e) && e.reply[0] == 0x24;
}

void CheckGetPmicStatus(ProgrammerSession& session, ReferenceLink& reference) {
    auto out = std::make_unique<uint8_t[]>(kPmicReplyCapacity);
    std::fill(out.get(), out.get() + kPmicReplyCapacity, kCanary);
    int length = -1;
    const int rc = GetPmicStatus(out.get(), session, &length);
    const ReferenceLink::Exchange e = reference.Next(kRawCapacity);
    FUZZ_CHECK(rc == (Accepted(e) ? kErrorSuccess : kErrorInvalidHandle));
    const size_t copied = Copied(e) ? e.reply.size() : 0;
    FUZZ_CHECK(length == static_cast<int>(copied));
    FUZZ_CHECK(std::equal(e.reply.begin(), e.reply.begin() + static_cast<std::ptrdiff_t>(copied),
                          out.get()));
    FUZZ_CHECK(std::all_of(out.get() + copied, out.get() + kPmicReplyCapacity,
                           [](uint8_t b) { return b == kCanary; }));
}

// The lines RunPmicControl must log for the next three replies, and its result.
int ExpectRun(const Family& f, ReferenceLink& reference, const LineView& view) {
    const std::vector<std::string>& lines = view.lines;
    size_t at = 0;
    const auto failedStatus = [&] {
        FUZZ_CHECK(at + 1 == lines.size() && lines[at] == "FAIL to get PMIC status. ");
        return kErrorInvalidHandle;
    };
    const ReferenceLink::Exchange first = reference.Next(kRawCapacity);
    if (!Accepted(first)) {
        return failedStatus();
    }
    ExpectPrint(f, first.reply, lines, at);
    const ReferenceLink::Exchange on = reference.Next(kRawCapacity);
    if (!Accepted(on)) {
        const int code = Copied(on) ? on.reply[0] : 0;
        FUZZ_CHECK(at + 1 == lines.size() && lines[at] == Format("FAIL to set PMIC on. %d", code));
        return kErrorInvalidHandle;
    }
    FUZZ_CHECK(at < lines.size() && lines[at++] == "PMIC set on");
    const ReferenceLink::Exchange second = reference.Next(kRawCapacity);
    if (!Accepted(second)) {
        return failedStatus();
    }
    ExpectPrint(f, second.reply, lines, at);
    FUZZ_CHECK(at == lines.size() && view.messages.size() == 1);
    return kErrorSuccess;
}

}  // namespace
}  // namespace veltrix::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace veltrix;
    using namespace veltrix::fuzz;
    static LineView view;
    static NoWaitClock clock;
    Reader in(data, size);
    const Family& family = kFamilies[in.Byte() % std::size(kFamilies)];
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    for (int i = 0; i < 4; ++i) {
        QueueReply(in, port, PmicAnswer(in));
    }
    ReferenceLink reference(port.chunks);

    view.lines.clear();
    view.messages.clear();
    RunContext ctx(view, clock);
    ProgrammerSession session{&ScriptedLink(std::move(owned)), true};
    CheckGetPmicStatus(session, reference);
    const int rc = RunPmicControl(ctx, session, family.number);
    FUZZ_CHECK(rc == ExpectRun(family, reference, view));
    return 0;
}
