#include "layout/program_list.h"
