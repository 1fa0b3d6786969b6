// Library state, load and unload, and the error, version and time-out exports.
#include "core/state.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {
// The state is built in storage of its own, so that the unload can leave it
// in place for a thread that would not end (see ~Lifetime).
alignas(LibraryState) unsigned char g_storage[sizeof(LibraryState)];
LibraryState* const g_state = reinterpret_cast<LibraryState*>(g_storage);

// Closes every connection once: the slots, last first, then the serial line.
// True when every thread of the library has ended.
bool CloseConnections(LibraryState& s) {
  bool ended = true;
  for (int i = kEthernetSlotCount - 1; i >= 0; --i) {
    s.ethernetSlots[i].Close();
    ended = ended && !s.ethernetSlots[i].HasThread();
  }
  s.serialClient.Close();
  return ended && !s.serialClient.HasThread();
}

struct Lifetime {
  Lifetime() { new (g_storage) LibraryState; }
  // The unload. When the process is ending, nothing is released (see
  // platform::ProcessExiting). Otherwise the connections are closed and the
  // objects destroyed in reverse order. On Windows no thread of the library
  // runs by then (each holds the library loaded while it does), so nothing is
  // waited for under the loader lock; on posix the threads are woken and
  // joined. Should one not end, the state stays as it is: the thread keeps
  // its handle, its buffers and its locks.
  ~Lifetime() {
    if (platform::ProcessExiting()) return;
    if (CloseConnections(*g_state)) g_state->~LibraryState();
  }
} g_lifetime;

const char* const kMessages[ZARN_ERROR_COUNT] = {
#define ZARN_MESSAGE_(code, name, message) message,
    ZARN_ERROR_LIST(ZARN_MESSAGE_)
#undef ZARN_MESSAGE_
};
}  // namespace

LibraryState& State() { return *g_state; }

const char* ErrorMessage(int32_t code) {
  uint32_t u = static_cast<uint32_t>(code);
  if (u >= ZARN_ERROR_COUNT || code == ZARN_E_UNKNOWN) return kMessages[ZARN_E_UNKNOWN];
  return kMessages[u];
}

// The socket library is not started here: the first Ethernet connection
// starts it, outside the system's loader lock (see CVirtualEthernet::Open).
int32_t LibraryInit() {
  LibraryState& s = State();
  memset(s.errorText, 0, sizeof s.errorText);
  for (auto& entry : s.connectionTable) entry.store(kConnectionNone);
  s.socketTimeout.store(3);
  s.connectTimeout.store(1);
  return 0;
}

CZARNApp::CZARNApp() : started_(false) {
  LibraryInit();
  started_ = true;
}

CZARNApp::~CZARNApp() {}

}  // namespace zarn

using namespace zarn;

extern "C" {

ZARN_API int32_t ZARN_CALL ZARN_GetErrorCode(char* text) {
  int32_t code = State().lastError.load();
  if (text) strcpy(text, ErrorMessage(code));
  return code;
}

ZARN_API int32_t ZARN_CALL ZARN_GetErrorString(char* text) {
  if (text) {
    const char* source = State().errorText;
    size_t n = strnlen(source, sizeof State().errorText - 1);
    memcpy(text, source, n);
    text[n] = '\0';
  }
  return Record(ZARN_OK);
}

ZARN_API int32_t ZARN_CALL ZARN_GetZarnDllVersion(int32_t* version) {
  if (version) *version = 0x01020304;
  return ZARN_OK;
}

ZARN_API int32_t ZARN_CALL ZARN_GetTimeout(int32_t* socketTimeout, int32_t* connectTimeout) {
  if (connectTimeout) *connectTimeout = State().connectTimeout.load();
  if (socketTimeout) *socketTimeout = State().socketTimeout.load();
  return ZARN_OK;
}

ZARN_API int32_t ZARN_CALL ZARN_SetTimeout(int32_t socketTimeout, int32_t connectTimeout) {
  State().socketTimeout.store(socketTimeout);
  State().connectTimeout.store(connectTimeout);
  return ZARN_OK;
}

}  // extern "C"
