// Must not build: the partition layouts are files only and know nothing of the serial link.
#include "layout/partition_index.h"
#include "link/serial_link.h"
