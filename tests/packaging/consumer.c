/* Opens a drive over UDP and reads its profile velocity: consumer udp ADDRESS PORT. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zarn/zarn.h>

int main(int argc, char **argv) {
  int32_t version = 0;
  uint32_t velocity = 0;
  char message[71];
  if (argc != 4 || strcmp(argv[1], "udp") != 0) {
    fprintf(stderr, "usage: consumer udp ADDRESS PORT\n");
    return 2;
  }
  ZARN_GetZarnDllVersion(&version);
  if (ZARN_EDRVOpen(1, argv[2], (uint16_t)atoi(argv[3])) != ZARN_OK ||
      ZARN_ReadDWord(1, 0x6081, 0, &velocity) != ZARN_OK) {
    ZARN_GetErrorCode(message);
    fprintf(stderr, "consumer: %s\n", message);
    return 1;
  }
  ZARN_DriveClose(1);
  printf("library 0x%08X, profile velocity %u\n", (unsigned)version, (unsigned)velocity);
  return velocity == 100000 ? 0 : 1;
}
