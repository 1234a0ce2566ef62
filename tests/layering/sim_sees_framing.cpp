// Builds: what the simulated board may use of the host side, the frame codec and port naming.
#include "link/framing/frame_codec.h"
#include "link/ports/port_names.h"
#include "sim/simulated_board.h"
