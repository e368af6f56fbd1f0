// The Windows event log: entries of type information, category 0 and event id 0 with one text,
// reported through the source registered for the life of the object.
#include "platform/event_log.h"

#include <windows.h>

#include <string>

#include "platform/win32/wide_text.h"

namespace platform {

struct EventLog::Source {
    HANDLE handle;
};

EventLog::EventLog(std::u16string_view source)
    : source_(std::make_unique<Source>(
          Source{RegisterEventSourceW(nullptr, win32::ToWide(source).c_str())})) {}

EventLog::~EventLog() {
    if (source_->handle != nullptr) {
        DeregisterEventSource(source_->handle);
    }
}

void EventLog::ReportInformation(std::u16string_view text) {
    if (source_->handle == nullptr) {
        return;
    }
    const std::wstring entry = win32::ToWide(text);
    const wchar_t* strings[] = {entry.c_str()};
    ReportEventW(source_->handle, EVENTLOG_INFORMATION_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}

}  // namespace platform
