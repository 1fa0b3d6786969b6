// A second program that opens a serial line through the library: its exit
// status is the code ZARN_SDRVOpen returned.
#include <cstdio>

#include "zarn/zarn.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s DEVICE\n", argv[0]);
    return 100;
  }
  const int32_t code = ZARN_SDRVOpen(1, argv[1], 115200);
  ZARN_DriveClose(1);
  return code;
}
