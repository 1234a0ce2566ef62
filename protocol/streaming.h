#pragma once
// The flash programmer's streaming-download commands. Results: 0 success, 6 no (or a wrong)
// answer, 29 a refused write, other values system error codes passed through.

#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "protocol/programmer_session.h"

namespace veltrix {

int ConnectProgrammer(ProgrammerSession& session);
int ReadData(int length, uint8_t* out, ProgrammerSession& session, uint32_t address);
int ReadCheck(uint32_t byteCount, uint32_t startSector, ProgrammerSession& session);
int GetPmicStatus(uint8_t* out, ProgrammerSession& session);
int EraseFlash(ProgrammerSession& session);
int RunDdrTest(int& result, ProgrammerSession& session, const uint8_t* packet, int length);
int ResetTarget(ProgrammerSession& session);
int OpenPartition(ProgrammerSession& session);
int ClosePartition(ProgrammerSession& session);
int StreamWriteFromHandle(uint32_t address, ProgrammerSession& session, std::FILE* file);
int StreamWriteFile(const std::filesystem::path& path, ProgrammerSession& session,
                    uint32_t address);
int StreamWriteBlock(int length, uint32_t address, ProgrammerSession& session,
                     const uint8_t* data);
// The device's total sector count, sign-extended from 32 bits; 6 when the exchange fails.
int64_t GetPhysicalPartitionInfo(ProgrammerSession& session);

}  // namespace veltrix
