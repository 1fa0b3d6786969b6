// Library state, load and unload, and the error, version and time-out exports.
#include "core/state.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "zarn/zarn.h"

namespace zarn {

namespace {
LibraryState g_state;

const char* const kMessages[ZARN_ERROR_COUNT] = {
#define ZARN_MESSAGE_(code, name, message) message,
    ZARN_ERROR_LIST(ZARN_MESSAGE_)
#undef ZARN_MESSAGE_
};

// The library carries no text of its own for this failure.
const char kSocketInitFailed[] = "The socket library could not be initialised.";
}  // namespace

LibraryState& State() { return g_state; }

const char* ErrorMessage(int32_t code) {
  uint32_t u = static_cast<uint32_t>(code);
  if (u >= ZARN_ERROR_COUNT || code == ZARN_E_UNKNOWN) return kMessages[ZARN_E_UNKNOWN];
  return kMessages[u];
}

int32_t LibraryInit() {
  LibraryState& s = State();
  if (!platform::SocketLibraryStartup()) {
    platform::ShowMessageBox(kSocketInitFailed);
    return 0;
  }
  memset(s.errorText, 0, sizeof s.errorText);
  for (auto& entry : s.connectionTable) entry.store(kConnectionNone);
  s.socketTimeout.store(3);
  s.connectTimeout.store(1);
  return 0;
}

CZARNApp::CZARNApp() : started_(false) {
  if (!platform::SocketLibraryStartup()) {
    platform::ShowMessageBox(kSocketInitFailed);
    return;
  }
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
