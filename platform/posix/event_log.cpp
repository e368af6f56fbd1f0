// syslog(3) with the source as identity, daemon facility, info level; under systemd the entries
// reach the journal, where `journalctl -t <source>` finds them.
#include "platform/event_log.h"

#include <syslog.h>

#include <string>

#include "platform/code_page.h"

namespace platform {

struct EventLog::Source {
    std::string identity;
};

EventLog::EventLog(std::u16string_view source)
    : source_(std::make_unique<Source>(Source{codepage::Utf16ToUtf8(source)})) {
    // syslog keeps the identity pointer: the text lives as long as the log is open.
    openlog(source_->identity.c_str(), LOG_PID, LOG_DAEMON);
}

EventLog::~EventLog() {
    closelog();
}

void EventLog::ReportInformation(std::u16string_view text) {
    syslog(LOG_INFO, "%s", codepage::Utf16ToUtf8(text).c_str());
}

}  // namespace platform
