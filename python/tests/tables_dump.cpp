// Prints what the C compiler makes of the error lists and the object map, so
// the Python tests can compare the package's generated tables with it.
#include <cstdio>

#include "protocol/objects.h"
#include "zarn/zarn_errors.h"

int main() {
#define ZARN_DUMP_ERROR_(code, name, message) std::printf("error\t%d\t%s\t%s\n", code, #name, message);
  ZARN_ERROR_LIST(ZARN_DUMP_ERROR_)
  ZARN_MOTION_ERROR_LIST(ZARN_DUMP_ERROR_)
#undef ZARN_DUMP_ERROR_
#define ZARN_DUMP_OBJECT_(id, index, sub, width, isSigned, access, meaning) \
  std::printf("object\t%s\t%d\t%d\t%d\t%d\n", #id, index, sub, width, isSigned ? 1 : 0);
  ZARN_OBJECT_MAP(ZARN_DUMP_OBJECT_)
#undef ZARN_DUMP_OBJECT_
#define ZARN_DUMP_BIT_(name) std::printf("bit\t%s\t%d\n", #name, zarn::objects::bits::k##name);
  ZARN_DUMP_BIT_(Stop)
  ZARN_DUMP_BIT_(EmergencyStop)
  ZARN_DUMP_BIT_(ServoEnable)
  ZARN_DUMP_BIT_(ServoOn)
  ZARN_DUMP_BIT_(Alarm)
  ZARN_DUMP_BIT_(InPosition)
  ZARN_DUMP_BIT_(TorqueLimit)
  ZARN_DUMP_BIT_(InVelocity)
  ZARN_DUMP_BIT_(HomingDone)
  ZARN_DUMP_BIT_(IndexEnded)
#undef ZARN_DUMP_BIT_
  std::printf("family\tAlarmHistory\t%u\n", zarn::objects::kAlarmHistory);
  return 0;
}
