// The board thread's framed exchanges: collecting request frames, answering them in the current
// mode, and committing the faults it was told to commit.

#include <algorithm>
#include <chrono>
#include <thread>

#include "sim/reply_frame.h"
#include "sim/simulated_board.h"

namespace veltrix::sim {
namespace {

constexpr int kReadPollMs = 50;
constexpr int kWriteTimeoutMs = 2000;
constexpr size_t kMinFrame = 3;        // one request byte and the FCS
constexpr size_t kReplyAddressAt = 1;  // the address a READ or STREAM WRITE answer echoes
constexpr size_t kJournalBytes = JournalRing::kEntryBytes;

// The faults that send the real answer changed.
void AlterReply(const Fault& fault, Bytes& out) {
    if (fault.kind == FaultKind::kWrongCode) {
        out[0] = static_cast<uint8_t>(fault.code >= 0 ? fault.code : out[0] + 1);
    } else if (fault.kind == FaultKind::kShortReply) {
        out.resize(out.size() > static_cast<size_t>(fault.bytes)
                       ? out.size() - static_cast<size_t>(fault.bytes)
                       : 1);
    } else if (fault.kind == FaultKind::kOtherAddress && out.size() >= kReplyAddressAt + 4) {
        const uint32_t address = GetLe32(out, kReplyAddressAt) + 1;
        for (size_t i = 0; i < 4; ++i) {
            out[kReplyAddressAt + i] = static_cast<uint8_t>(address >> (8 * i));
        }
    }
}

}  // namespace

void SimulatedBoard::ServeFrames() {
    WriteAnswers(/*all=*/false);
    // With answers on the line, the read waits no longer than until the next one is due.
    auto wait = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::milliseconds(kReadPollMs));
    if (link_.Pending()) {
        wait = std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(
                              link_.NextDue() - LinkModel::Clock::now()),
                          std::chrono::microseconds(0), wait);
    }
    uint8_t buffer[4096];
    size_t got = 0;
    const PtyPort::ReadStatus status = port_.ReadFor(buffer, sizeof buffer, &got, wait);
    if (status == PtyPort::ReadStatus::kNoHost ||
        (status == PtyPort::ReadStatus::kError && !port_.HostPresent())) {
        OnHostAbsent();
        return;
    }
    if (status != PtyPort::ReadStatus::kData) {
        return;  // the main loop looks at the stop signal again
    }
    std::span<const uint8_t> pending(buffer, got);
    while (!pending.empty() && hostPresent_) {
        FrameCollector::Step step = FrameCollector::Step::kMore;
        pending = pending.subspan(collector_.Feed(pending, &step));
        if (step == FrameCollector::Step::kClosed) {
            HandleFrame(collector_.Raw());
            collector_.Reset();
        } else if (step == FrameCollector::Step::kFull) {
            collector_.Reset();  // no frame this long: drop it
        }
    }
    WriteAnswers(/*all=*/false);
}

void SimulatedBoard::WriteAnswers(bool all) {
    while (link_.Pending()) {
        const auto due = link_.NextDue();
        if (due > LinkModel::Clock::now()) {
            if (!all) {
                return;
            }
            std::this_thread::sleep_until(due);
        }
        port_.Write(link_.TakeNext(), kWriteTimeoutMs);
    }
}

void SimulatedBoard::HandleFrame(std::span<const uint8_t> raw) {
    if (link_.Active()) {
        if (options_.oneRequestAtATime && link_.Pending()) {
            Event("request dropped: the answer to the one before is still on its way");
            return;
        }
        // A capped line delivers the request later than the pseudo-terminal did.
        std::this_thread::sleep_until(link_.RequestTaken(raw.size()));
    }
    unstuffed_.resize(raw.size());
    unstuffed_.resize(UnstuffFrame(raw, unstuffed_.data()));
    if (unstuffed_.size() < kMinFrame) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        ++requests_;
    }
    if (!FrameFcsMatches(unstuffed_)) {
        SendReply(BadFcsAnswer(), nullptr);
        return;
    }
    const std::span<const uint8_t> request(unstuffed_.data(), unstuffed_.size() - kFcsLength);
    std::optional<Fault> fault;
    {
        std::lock_guard lock(mutex_);
        journal_.Add(request.first(std::min(request.size(), kJournalBytes)));
        fault = faults_.Next(request[0]);
    }
    if (fault) {
        WriteAnswers(/*all=*/true);  // the answers before it go out first, in order
        if (AnswerFault(*fault)) {
            return;
        }
    }
    bool reset = false;
    int delayMs = 0;
    const Bytes reply = Answer(request, &reset, &delayMs);
    if (delayMs > 0 && wake_.WaitFor(delayMs)) {
        return;
    }
    if (reset) {
        // From the RESET answer on, no new opener may find this port: a host that closes and
        // reopens at once must wait for the board to come back, not reach the dying line.
        port_.Unlink();
    }
    SendReply(reply, fault ? &*fault : nullptr);
    if (reset) {
        WriteAnswers(/*all=*/true);
        Reset();
    }
}

bool SimulatedBoard::AnswerFault(const Fault& fault) {
    switch (fault.kind) {
        case FaultKind::kSilence:
            Event("fault: request left unanswered");
            return true;
        case FaultKind::kVanish:
            Vanish(fault.ms);
            return true;
        case FaultKind::kRefuseWrite:
            Event("fault: request refused");
            SendReply(mode() == BoardMode::kDloadRom
                          ? DloadRom::Nak(kNakFailed)
                          : FlashProgrammer::ErrorReply(kErrRefused, "write refused"),
                      nullptr);
            return true;
        case FaultKind::kLogMessage:
            SendReply(FlashProgrammer::LogReply(fault.text), nullptr);
            return true;
        default:
            return false;  // the real answer goes out, altered by SendReply
    }
}

Bytes SimulatedBoard::Answer(std::span<const uint8_t> request, bool* reset, int* delayMs) {
    std::string event;
    Bytes body;
    {
        std::lock_guard lock(mutex_);
        if (mode_ == BoardMode::kDloadRom) {
            DloadReply r = dload_.Handle(request);
            if (r.startProgram) {
                programmer_ = std::make_unique<FlashProgrammer>(options_, emmc_, sdram_);
                mode_ = BoardMode::kProgrammer;
                event = "GO: the flash programmer runs";
            }
            body = std::move(r.body);
        } else if (mode_ == BoardMode::kProgrammer) {
            ProgrammerReply r = programmer_->Handle(request);
            *reset = r.reset;
            // A BringBack from now on ends the absence this RESET starts.
            broughtBack_ = broughtBack_ && !r.reset;
            body = std::move(r.body);
        } else if (mode_ == BoardMode::kDdrDebug) {
            DdrReply r = ddr_.Handle(request);
            *delayMs = r.delayMs;
            body = std::move(r.body);
        }
    }
    if (!event.empty()) {
        Event(event);
    }
    return body;
}

Bytes SimulatedBoard::BadFcsAnswer() const {
    switch (mode()) {
        case BoardMode::kDloadRom:
            return DloadRom::Nak(kNakInvalidFcs);
        case BoardMode::kProgrammer:
            return FlashProgrammer::ErrorReply(kErrBadFcs, "bad FCS");
        default:
            return {};
    }
}

void SimulatedBoard::SendReply(const Bytes& body, const Fault* fault) {
    if (body.empty()) {
        return;
    }
    if (!fault) {
        // The usual answer: framed into the board's own buffer, no copies; on a modelled line
        // it waits there until it is due.
        wire_.resize(MaxEncodedLength(body.size()));
        wire_.resize(EncodeFrame(body, wire_.data()));
        if (link_.Active()) {
            link_.Queue(wire_);
            return;
        }
        port_.Write(wire_, kWriteTimeoutMs);
        return;
    }
    Bytes out = body;
    AlterReply(*fault, out);
    const Bytes wire = BuildReplyFrame(out, fault->kind == FaultKind::kCorruptFcs);
    if (fault->kind == FaultKind::kStall) {
        const size_t half = wire.size() / 2;
        port_.Write(std::span(wire).first(half), kWriteTimeoutMs);
        if (wake_.WaitFor(static_cast<int>(fault->ms))) {
            return;
        }
        port_.Write(std::span(wire).subspan(half), kWriteTimeoutMs);
        return;
    }
    port_.Write(wire, kWriteTimeoutMs);
}

}  // namespace veltrix::sim
