#pragma once
// The flash programmer's streaming-download commands (and the framed exchange with the DDR-debug
// image). Every command takes the session; its link carries the exchange, its console the
// diagnostics. Results: 0 success, 6 no (or a wrong) answer, 29 a refused write, other values
// system error codes passed through.
//
// Time-outs: READ, READ CHECK and STREAM WRITE run under 10 s, ERASE FLASH under 60 s and DDR TEST
// under 10 min; each puts the link back to 1000 ms afterwards, on failure too. The other commands
// run under whatever the link holds.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <span>

#include "base/file_io.h"
#include "protocol/programmer_session.h"

namespace veltrix {

inline constexpr uint32_t kReadTimeoutMs = 10000;
inline constexpr uint32_t kStreamWriteTimeoutMs = 10000;
inline constexpr uint32_t kEraseTimeoutMs = 60000;
inline constexpr uint32_t kDdrTestTimeoutMs = 600000;

// Output buffer sizes the callers provide.
inline constexpr int kReadReplyCapacity = 1024;  // ReadData
inline constexpr int kPmicReplyCapacity = 50;    // GetPmicStatus

// RunDdrTest outcomes: the character at reply offset 3.
inline constexpr int kDdrOutcomeFail = 0;      // '0'
inline constexpr int kDdrOutcomePass = 1;      // '1'
inline constexpr int kDdrOutcomeUnknown = 99;  // anything else, or a body shorter than 4 bytes

// HELLO and SECURITY MODE with one attempt counter over both phases (10 attempts in all, 500 ms
// apart). Sets sectorAddressing to true first, whatever the outcome. 0, or 6 when the programmer
// does not complete the handshake. A port that hangs up (the board dropped off the bus) is not
// retried: kErrorDeviceNotConnected at once, the port's words in the link's lastError, for the
// caller to reopen the port; kErrorOperationAborted when the run is cancelled.
int ConnectProgrammer(ProgrammerSession& session);

// One HELLO, nothing else: 0 when a flash programmer answers (one left running by an earlier run
// answers it, where a boot ROM does not); 6 otherwise, or the port's code when it hung up. Harmless
// to the board: nothing is written or erased.
int ProbeProgrammer(ProgrammerSession& session);

// READ of `length` bytes (at most 1000) at `address`. On 0 the whole reply (code 0x04, address
// u32, the data from offset 5, FCS) is in `out`, which must hold kReadReplyCapacity bytes; the
// reply's escapes on the wire do not count against that. 6 for a length above 1000 (nothing
// sent), no answer, a reply that does not carry exactly `length` data bytes, or a reply for
// another address (the last two with a console line); only an accepted reply is copied.
int ReadData(int length, uint8_t* out, ProgrammerSession& session, uint32_t address);

// Where ReadSectors hands each sector: its number and its 512 bytes. 0 to go on, or a failure
// code that stops the transfer.
using SectorSink = std::function<int(uint32_t sector, const uint8_t* data)>;

// Reads `count` sectors from `firstSector`, 512 bytes per READ, and hands them to `sink` in order.
// With a session window above 1, up to that many READs are kept in flight: before the first such
// transfer of a programmer two READs go back to back under a short time-out, and a programmer
// that does not answer both gets one READ per exchange for the rest of the run (said once on the
// console). Only an answer carrying the oldest outstanding address is taken for it; an answer
// missing, late, damaged or out of place ends the window, and what is still missing is asked for
// again one READ at a time, dropping the answers to the requests given up. Every READ waits at
// most its 10 s. 0 when all came; otherwise `*failedSector` is the first sector that did not
// come, and the result is 6 (no or a wrong answer, with a console line), the link's failure
// (kErrorOperationAborted when the run was cancelled, kErrorDeviceNotConnected when the port
// went away), or the sink's.
int ReadSectors(ProgrammerSession& session, uint32_t firstSector, uint32_t count,
                const SectorSink& sink, uint32_t* failedSector);

// READ CHECK: the programmer reads `byteCount` bytes from `startSector` on its own. 0 or 6.
int ReadCheck(uint32_t byteCount, uint32_t startSector, ProgrammerSession& session);

// GET PMIC STATUS. Any non-empty reply of at most kPmicReplyCapacity unstuffed bytes (code byte
// and FCS included) is copied to `out`, which must hold kPmicReplyCapacity bytes; its length goes
// to `*replyLength` when given (0 when nothing was copied). 0 when it begins with 0x24, else 6.
// The raw frame may need twice that room once stuffed: the exchange allows for it.
int GetPmicStatus(uint8_t* out, ProgrammerSession& session, int* replyLength = nullptr);

// PMIC ON (0x26): the programmer switches the PMIC on and answers like GET PMIC STATUS; `out`
// and `replyLength` as there. 0 when the reply begins with 0x24, else 6.
int PmicOn(uint8_t* out, ProgrammerSession& session, int* replyLength = nullptr);

// ERASE FLASH of the whole device. 0 or 6.
int EraseFlash(ProgrammerSession& session);

// Sends the caller's packet to the DDR-debug image. 6 when the link fails (`result` left as it
// was). Otherwise 0, with `result` set to the outcome (kDdrOutcome...) from the byte at index 3
// of the reply body (the reply less its frame check); the reply code is not tested, and no
// answer at all, or a body of fewer than four bytes, gives kDdrOutcomeUnknown.
int RunDdrTest(int& result, ProgrammerSession& session, const uint8_t* packet, int length);

// RESET: the programmer restarts the board. 0 or 6.
int ResetTarget(ProgrammerSession& session);

// Purges the port, then OPEN MULTI-IMAGE of the eMMC (absolute sector addressing). 0 or 6; on
// failure "Could not open partition\n" goes to the console.
int OpenPartition(ProgrammerSession& session);

// CLOSE. 0 or 6.
int ClosePartition(ProgrammerSession& session);

// Writes the file from its current position to its end, 1024 bytes per STREAM WRITE (the last
// chunk as it is), starting at `address` (sectors when sectorAddressing, else bytes). Stops at
// the first refused block with 29 (blocks already written stay written); 30 when the file cannot
// be read. The caller opens and closes the file. An empty file sends nothing and gives 0.
int StreamWriteFromHandle(uint32_t address, ProgrammerSession& session, std::FILE* file);

// What StreamWriteFile found the file to be.
struct StreamFileFacts {
    PathKind kind = PathKind::kNone;
    uint64_t size = 0;
    // What became of the write: the bytes the board took, and whether the last block sent went
    // unanswered (it may be in the flash or not). A write that stops with neither changed no
    // sector.
    uint64_t acceptedBytes = 0;
    bool unanswered = false;
};

// Opens the file and writes it as StreamWriteFromHandle does, when it is a regular file of at
// most `maxBytes` (the room its partition has): otherwise kErrorNotRegularFile (a FIFO or a
// device may never end) or kErrorFileTooLarge, with a console line, before anything is sent.
// Never more than `maxBytes` are sent, even from a file that grows meanwhile (then
// kErrorFileTooLarge after the write). kErrorFileNotFound (2) with "Filename not found %s\n" on
// the console when the file cannot be opened (whatever the reason: absent, unreadable, a
// folder), so callers can tell a missing image from a refused write. `*facts`, when given, says
// what the file is and its size.
// `progress`, when given, hears the bytes read for sending so far and the file's size.
using WriteProgress = std::function<void(uint64_t sent, uint64_t total)>;
int StreamWriteFile(const std::filesystem::path& path, ProgrammerSession& session, uint32_t address,
                    uint64_t maxBytes, StreamFileFacts* facts = nullptr,
                    const WriteProgress& progress = {});

// Where a part of a file goes: `bytes` bytes from `fileOffset` of the file, written from
// `address`. Pieces come in file order and do not overlap.
struct WritePiece {
    uint64_t fileOffset = 0;
    uint32_t address = 0;
    uint64_t bytes = 0;
};

// StreamWriteFile for a file laid out in pieces (a split partition's image): each piece of the
// file goes to its own address; the file's bytes between the pieces are read past and never
// sent. The file may end inside a piece (the rest is not written); `maxBytes` bounds it as
// there.
int StreamWriteFilePieces(const std::filesystem::path& path, ProgrammerSession& session,
                          std::span<const WritePiece> pieces, uint64_t maxBytes,
                          StreamFileFacts* facts = nullptr, const WriteProgress& progress = {});

// One STREAM WRITE whose data part is always 1024 bytes: `length` bytes of `data`, then zeros.
// 0 when written, 29 when refused or for a length outside 0..1024 (nothing sent then).
int StreamWriteBlock(int length, uint32_t address, ProgrammerSession& session, const uint8_t* data);

// One STREAM WRITE of exactly these bytes (at most 1024, nothing added), so that a single sector
// can be written without touching the one after it. 0 when written, 29 when refused or for more
// than 1024 bytes (nothing sent then).
int StreamWriteData(uint32_t address, ProgrammerSession& session, std::span<const uint8_t> data);

// The device's total sector count (reply offsets 5-8), sign-extended from 32 bits; 6 when the
// exchange fails or the reply is too short to hold the count.
int64_t GetPhysicalPartitionInfo(ProgrammerSession& session);

}  // namespace veltrix
