#pragma once

#include <memory>
#include <string_view>

namespace platform {

// The system's log of service events, with this program as the source of its entries. One per
// process. Entries that cannot be written are dropped.
class EventLog {
  public:
    explicit EventLog(std::u16string_view source);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void ReportInformation(std::u16string_view text);

  private:
    struct Source;
    std::unique_ptr<Source> source_;
};

}  // namespace platform
