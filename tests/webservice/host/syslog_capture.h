#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The system log's socket, /dev/log, served by the test while no log daemon serves it, so that
// what a program hands to syslog(3) can be read back. A socket left behind by a daemon that has
// gone is taken over; one that a daemon serves is left alone, and nothing is captured.
class SyslogCapture {
  public:
    SyslogCapture();
    ~SyslogCapture();
    SyslogCapture(const SyslogCapture&) = delete;
    SyslogCapture& operator=(const SyslogCapture&) = delete;

    bool Capturing() const { return socket_ >= 0; }

    // Why nothing is captured; empty while capturing.
    const std::string& Why() const { return why_; }

    // The entries of process pid that have arrived, as "<priority>identity: text" without the
    // time stamp; those of other processes are dropped.
    std::vector<std::string> Entries(pid_t pid);

  private:
    int socket_ = -1;
    std::string why_;
};
