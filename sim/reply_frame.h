#pragma once
// Wire bytes of one reply frame of the board, optionally with a corrupt FCS (fault injection).

#include <span>

#include "sim/wire.h"

namespace veltrix::sim {

Bytes BuildReplyFrame(std::span<const uint8_t> body, bool corruptFcs = false);

}  // namespace veltrix::sim
