#pragma once
// Reading one partition for the eMMC test: into a dump file on the PC, one 512-byte READ per
// sector, or by the programmer itself with READ CHECK over 5 MiB ranges, so that the data never
// crosses the link. Byte counts are 64-bit: a partition may hold up to 2^32 - 1 sectors.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

#include "layout/partition_index.h"

namespace veltrix {

class RunContext;
struct ProgrammerSession;

inline constexpr uint32_t kSectorBytes = 512;
// One READ CHECK covers this many bytes (0x2800 sectors).
inline constexpr uint32_t kReadCheckBytes = 0x500000;
// The dump folder of the model folder, and the end of a dump file's name.
inline constexpr const char* kDumpFolderName = "dump";
inline constexpr const char* kDumpFileSuffix = ".dump";

// The dump file of the partition `label` (Latin-1, as partition.txt holds it): the dump folder,
// then the label with ".dump" appended. Nothing when the label would not name a plain file in
// that folder (empty, "..", a separator or a control character).
std::optional<std::filesystem::path> DumpFilePath(const std::filesystem::path& dumpFolder,
                                                  std::string_view label);

// One partition to read; with `dumpFolder` set, into its dump file there. A partition split in
// pieces gives them in `pieces` (startSector and sectorCount then go unused): each piece is read,
// and its dump file is laid out as the extraction lays out the partition's image, the pieces at
// their offsets and zeros between them.
struct PartitionToRead {
    uint32_t startSector = 0;
    uint32_t sectorCount = 0;
    std::string_view label;  // Latin-1
    const std::filesystem::path* dumpFolder = nullptr;
    std::span<const PartitionPiece> pieces;
};

// Reads the partition: with a dump folder, into the partition's dump file (the folder made when
// missing; written under a temporary name, put in place only once complete and then listed
// in the run record; a dump that fails removes an older file of its name), else by READ CHECK.
// The status line names the partition and the progress bar follows the read.
// 0 with "%s partition read done..\n"; a partition of no sectors is reported and skipped (0).
// 6 when a request fails ("%s partition 0x%x read FAIL !!\n" with the sector it started at).
// Failures that say nothing about the board are noted as such (RunContext::NoteFaultOffBoard),
// with a line that says why: 29 when the dump file cannot be created or written, or the dump
// folder is a symbolic link (the PC's fault); kErrorDeviceNotConnected when the port went away
// under a request ("port lost"). kErrorOperationAborted when the run was cancelled (no line).
int ReadPartition(RunContext& ctx, ProgrammerSession& session, const PartitionToRead& read);

// "%s partition 0x%x read FAIL !!\n" in the run log; returns 6.
int LogReadFailure(RunContext& ctx, std::string_view name, uint32_t sector);

}  // namespace veltrix
