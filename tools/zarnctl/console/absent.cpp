// The Windows build of zarnctl has no console yet: it serves its page through
// cpp-httplib, which Debian ships as a Linux library only. The command is left
// out, so that help lists only what this build can do.
#include "../commands.h"

namespace zarnctl {

void AddConsoleCommand(Registry&) {}

}  // namespace zarnctl
