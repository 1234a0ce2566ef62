#pragma once
// One pass over the selected tests in their fixed order of priority. A pass ends the run
// (CompleteRun or AbortRun), hands over to the DDR wait, or, when the AP check asks for its retry,
// ends with no ending.

namespace veltrix {

class BoardTests;
class RunContext;
struct ProgrammerSession;
struct RunState;

// What a pass works with: the run's outputs, the tests on the board, the session for the flash
// commands the sequencer sends itself (open, partition info, close, reset, the endings), and the
// run's state.
struct RunPass {
    RunContext& ctx;
    BoardTests& tests;
    ProgrammerSession& session;
    RunState& state;
};

void RunSequencer(const RunPass& pass);

}  // namespace veltrix
