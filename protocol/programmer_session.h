#pragma once
// The context of every streaming-download command: the link and the sector-addressing flag.

namespace veltrix {

struct SerialLink;

struct ProgrammerSession {
    SerialLink* link = nullptr;
    // true: STREAM WRITE addresses count 512-byte sectors; false: bytes.
    bool sectorAddressing = false;
};

}  // namespace veltrix
