// Message boxes and debug traces, routed to a sink when one is set; the box
// and the trace channel themselves are the system's.
#include <atomic>

#include "platform/platform.h"

namespace zarn {
namespace platform {

void ShowNativeMessageBox(const char* text);
void NativeDebugTrace(const char* text);

namespace {
std::atomic<MessageSink> g_messageSink{nullptr};
std::atomic<TraceSink> g_traceSink{nullptr};
}  // namespace

void SetTraceSink(TraceSink sink) { g_traceSink.store(sink); }

void DebugTrace(const char* text) {
  NativeDebugTrace(text);
  const TraceSink sink = g_traceSink.load();
  if (sink) sink(text);
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
