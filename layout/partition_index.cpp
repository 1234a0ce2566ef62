#include "layout/partition_index.h"
