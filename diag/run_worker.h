#pragma once
// The worker's timing: the waits between a run's passes and the elapsed-time line that ends its
// log.

#include <cstdint>
#include <string>

namespace veltrix {

inline constexpr uint32_t kDdrTestWaitMs = 15000;  // the board runs its memory test
inline constexpr uint32_t kRetryWaitMs = 3000;     // before the one retry pass

// "Elapsed Time : %d hours %d minutes %d seconds\n" for a run of `seconds`; whole days are not
// shown (hours count modulo 24).
std::string ElapsedTimeLine(int64_t seconds);

}  // namespace veltrix
