#pragma once
// Why a board does not take part in a run, and what the operator can do about it: a port held by
// another program, no permission, no device, a board that is not in download mode, or one that
// still runs the flash programmer of an aborted run. The AP check says it in the run log when it
// fails; `veltrix-cli doctor` asks it on its own.

#include <string>

namespace veltrix {

class SerialLink;

struct PortFinding {
    bool downloadMode = false;  // a boot ROM answered in download mode
    std::string reason;         // a few words for a verdict ("port busy"); empty when ready
    std::string what;           // what was found, one line
    std::string todo;           // what to do; empty when the board is ready

    // "<what>: <todo>" for the run log, or `what` alone.
    std::string Line() const { return todo.empty() ? what : what + ": " + todo; }
};

// Why OpenPort failed with `code` for the port the link tried: held by another process (named,
// with how to keep a modem manager off), no permission (the udev rule and the group to join), no
// such device (nothing on the bus, or a board that is not in download mode).
PortFinding ExplainOpenFailure(const SerialLink& link, int code);

// Asks the board on the open port who it is, changing nothing on it: a Sahara boot ROM greets by
// itself, a DLOAD boot ROM answers NOP, a flash programmer left running by an aborted run answers
// a streaming HELLO; silence is a board that is not in download mode, or not powered.
PortFinding ProbeBoard(SerialLink& link);

// After the boot ROM did not answer (the NOP or the Sahara greeting did not come): a flash
// programmer that answers a streaming HELLO instead was left running by an aborted run.
PortFinding ExplainSilentBootRom(SerialLink& link);

}  // namespace veltrix
