/* Quick start: open a drive, enable it, move, wait, read back.
 *   quickstart udp HOST PORT
 *   quickstart serial DEVICE BAUD
 * Try it against the virtual drive: zarn-sim --udp 127.0.0.1:50000 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zarn/zarn.h>

static int check(int32_t code, const char *what) {
  if (code != ZARN_OK) {
    char message[71];
    ZARN_GetErrorCode(message);
    fprintf(stderr, "%s: %s (code %d)\n", what, message, (int)code);
  }
  return code == ZARN_OK;
}

int main(int argc, char **argv) {
  const uint8_t drive = 1;
  int32_t code;
  if (argc == 4 && strcmp(argv[1], "udp") == 0) {
    code = ZARN_EDRVOpen(drive, argv[2], (uint16_t)atoi(argv[3]));
  } else if (argc == 4 && strcmp(argv[1], "serial") == 0) {
    code = ZARN_SDRVOpen(drive, argv[2], (uint32_t)atol(argv[3]));
  } else {
    fprintf(stderr, "usage: quickstart udp HOST PORT | serial DEVICE BAUD\n");
    return 2;
  }
  if (!check(code, "open")) return 1;

  int done = 0;
  int32_t position = 0;
  int ok = check(ZARN_Enable(drive), "enable") && check(ZARN_SetCurrentPosition(drive, 0), "set current position") &&
           check(ZARN_MoveAbsolute(drive, 20000, 100000, 1000000, 1000000), "move") &&
           check(ZARN_WaitMoveDone(drive, 5000, &done), "wait") &&
           check(ZARN_ActualPosition(drive, &position), "position");
  if (ok) printf("in position: %s, position %d\n", done ? "yes" : "no", (int)position);
  ZARN_Disable(drive);
  ZARN_DriveClose(drive);
  return ok && done && position == 20000 ? 0 : 1;
}
