#pragma once
// The DDR-debug image as the board runs it after a Sahara upload of that image. It speaks in
// framed text packets: a carriage return wakes it ("DDR>"), "1"/"2" and a carriage return start
// a test level and are answered, after the test's time, with "DDR" followed by the verdict
// character ('0' fail, '1' pass) at byte 3; "0" and a carriage return leave the test menu.

#include <cstdint>
#include <span>

#include "sim/wire.h"

namespace veltrix::sim {

struct DdrReply {
    Bytes body;
    int delayMs = 0;  // how long the board works before answering
};

class DdrDebugImage {
public:
    DdrDebugImage(char verdict, int delayMs) : verdict_(verdict), delayMs_(delayMs) {}

    DdrReply Handle(std::span<const uint8_t> request);
    void SetVerdict(char verdict) { verdict_ = verdict; }
    int testsRun() const { return testsRun_; }

private:
    char verdict_;
    int delayMs_;
    int testsRun_ = 0;
};

}  // namespace veltrix::sim
