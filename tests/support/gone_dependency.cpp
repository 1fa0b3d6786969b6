// A library that a broken master variant needs and that is not to be found at run time.
#include <cstdint>

extern "C" int32_t GoneDependency() { return 0; }
