#pragma once
// The flash programmer's PMIC status reply: code 0x24, then one status byte per regulator in the
// order the PMIC family defines (bit 7 set: the regulator is on). PM8941+PM8841 boards have 35
// bytes, PM8110 26, PM8226 33, PM8926 34; other boards answer five raw values.

#include <cstddef>

#include "sim/wire.h"

namespace veltrix::sim {

inline constexpr uint8_t kPmicReplyCode = 0x24;
inline constexpr uint8_t kRegulatorOn = 0x80;

// Number of status bytes a board of this PMIC family answers with.
size_t PmicStatusByteCount(int pmicFamily);

// The reply body (code byte first). Before PMIC ON some regulators are off; after it, all are on.
Bytes PmicStatusReply(int pmicFamily, bool pmicOn);

}  // namespace veltrix::sim
