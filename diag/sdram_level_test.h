#pragma once
// The SDRAM test through the DDR-debug image (models of the DDR-image family): the image that
// RunDdrApCheck started takes a level choice and answers, up to ten minutes later, with a
// one-character verdict.

#include <cstdint>

namespace veltrix {

class RunContext;
struct ProgrammerSession;

// Reopens the link's port, wakes the image, starts the test of `level` and shows the verdict, then
// leaves the image's menu. 0 when the exchange ran to its end, whatever the verdict (a reply
// without one leaves the SDRAM box alone); 31 when the port cannot be reopened or the level is
// neither 0 nor 1; kErrorOperationAborted when the run was cancelled. Leaves the port open.
int RunSdramLevelTest(RunContext& ctx, ProgrammerSession& session, uint32_t level);

}  // namespace veltrix
