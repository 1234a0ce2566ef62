// Must not build: the simulated board builds every packet with its own code, so its files can
// see the frame codec and nothing of the host's protocols.
#include "protocol/streaming.h"
#include "sim/simulated_board.h"
