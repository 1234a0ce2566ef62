#pragma once
// printf-style formatting into a std::string, for the system's quoted message formats
// ("%s partition 0x%x read FAIL !!\n"). The compiler checks arguments against the format.

#include <string>

namespace veltrix {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace veltrix
