/* Alarms and I/O: read the alarm state and history, clear an alarm, set
 * digital outputs under a mask and read the switches.
 *   alarms udp HOST PORT */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <zarn/zarn.h>

int main(int argc, char **argv) {
  const uint8_t drive = 1;
  if (argc != 4 || strcmp(argv[1], "udp") != 0) {
    fprintf(stderr, "usage: alarms udp HOST PORT\n");
    return 2;
  }
  if (ZARN_EDRVOpen(drive, argv[2], (uint16_t)atoi(argv[3])) != ZARN_OK) return 1;
  int alarm = 0, failures = 0;
  uint16_t code = 0;
  char entry[33];
  failures += ZARN_IsAlarm(drive, &alarm, &code) != ZARN_OK;
  printf("alarm: %d, error code 0x%04X\n", alarm, code);
  for (uint8_t n = 1; n <= 4; ++n) {
    if (ZARN_GetAlarmHistory(drive, n, entry) != ZARN_OK || entry[0] == '\0') break;
    printf("history %u: %s\n", n, entry);
  }
  if (alarm) failures += ZARN_ResetAlarm(drive) != ZARN_OK;

  uint32_t outputs = 0;
  failures += ZARN_SetDigitalOutputsWithMask(drive, 0x00000005, 0x0000000F) != ZARN_OK;
  failures += ZARN_GetDigitalOutputs(drive, &outputs) != ZARN_OK;
  int negative = 0, positive = 0, home = 0;
  failures += ZARN_IsNegativeLimit(drive, &negative) != ZARN_OK;
  failures += ZARN_IsPositiveLimit(drive, &positive) != ZARN_OK;
  failures += ZARN_IsHomeSensor(drive, &home) != ZARN_OK;
  printf("outputs 0x%08X, limits -%d +%d, home sensor %d\n", (unsigned)outputs, negative, positive, home);
  ZARN_DriveClose(drive);
  return failures == 0 && (outputs & 0xF) == 5 ? 0 : 1;
}
