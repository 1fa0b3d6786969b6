// Message boxes, routed to a sink when one is set; the box itself is the system's.
#include <atomic>

#include "platform/platform.h"

namespace zarn {
namespace platform {

void ShowNativeMessageBox(const char* text);

namespace {
std::atomic<MessageSink> g_messageSink{nullptr};
}

void SetMessageSink(MessageSink sink) { g_messageSink.store(sink); }

void ShowMessageBox(const char* text) {
  const MessageSink sink = g_messageSink.load();
  if (sink)
    sink(text);
  else
    ShowNativeMessageBox(text);
}

}  // namespace platform
}  // namespace zarn
