// The command modules: each adds its commands to the registry.
#pragma once

#include "app.h"

namespace zarnctl {

void AddObjectCommands(Registry& registry);     // read, write, objects
void AddServoCommands(Registry& registry);      // info, enable, disable, estop, reset-alarm, alarms, io, monitor
void AddMotionCommands(Registry& registry);     // move, home, stop, record
void AddParameterCommands(Registry& registry);  // backup, restore, store
void AddScanCommand(Registry& registry);
void AddDemoCommand(Registry& registry);
void AddShellCommand(Registry& registry);
void AddConsoleCommand(Registry& registry);  // console/command.cpp (absent.cpp on Windows)

}  // namespace zarnctl
