#include "protocol/streaming.h"
