#pragma once
// Raw byte I/O on a terminal descriptor for the test peers: the board's side of a PtyPair and
// the host's side of a simulated board's port.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltrix::testing {

// Raw mode: no echo, no line editing, no flow control, every byte value passed unchanged.
void MakeRaw(int fd);
// Writes all bytes; gives up when the terminal stays full for `pollMs` (-1: never).
void WriteAll(int fd, const std::vector<uint8_t>& bytes, int pollMs);
// Reads until `count` bytes arrived or `timeoutMs` passed.
std::vector<uint8_t> ReadUpTo(int fd, size_t count, int timeoutMs);
// Reads up to a closing 0x7E flag (a flag after at least one byte that is not a flag) or the
// time-out; returns the raw bytes, leading flags included.
std::vector<uint8_t> ReadRawFrame(int fd, int timeoutMs);

}  // namespace veltrix::testing
