// The shared library: everything lives in the core archive linked in whole;
// this unit only gives the library its own object to be built from.
#include "zarn/zarn.h"
