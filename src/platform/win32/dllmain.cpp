// The entry point of zarn.dll. The C++ runtime builds the library's static
// objects before it calls this at a load and destroys them after it at an
// unload; all this adds is to tell an unload from the end of the process.
#include <windows.h>

namespace zarn {
namespace platform {
void NoteProcessExit();
}
}  // namespace zarn

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // A non-null reserved marks the end of the process: its other threads are
  // gone, and the library's objects must release nothing (see ProcessExiting).
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) zarn::platform::NoteProcessExit();
  return TRUE;
}
