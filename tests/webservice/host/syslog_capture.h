#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// The system log as a test reads it back: what a program hands to syslog(3) arrives at a socket
// of the test's own. Where the test may mount (root), the program runs through private-dev-log,
// with /dev/log of its own leading to a socket in the scratch directory, whatever serves the
// machine's. Elsewhere the machine's /dev/log itself is served while no log daemon serves it (a
// socket left behind by a daemon that has gone is taken over); when a daemon serves it, nothing
// is captured.
class SyslogCapture {
  public:
    explicit SyslogCapture(const std::filesystem::path& scratch);
    ~SyslogCapture();
    SyslogCapture(const SyslogCapture&) = delete;
    SyslogCapture& operator=(const SyslogCapture&) = delete;

    bool Capturing() const { return socket_ >= 0; }

    // Why nothing is captured; empty while capturing.
    const std::string& Why() const { return why_; }

    // What a program's command line starts with for its log to come here: the launcher and its
    // arguments, the program's path and arguments to follow. Empty when the machine's /dev/log
    // is served.
    const std::vector<std::string>& Launcher() const { return launcher_; }

    // The entries of process pid that have arrived, as "<priority>identity: text" without the
    // time stamp; those of other processes are dropped.
    std::vector<std::string> Entries(pid_t pid);

  private:
    // Serves a socket at path; false, with why_ set, when it cannot.
    bool Serve(const std::filesystem::path& path);
    bool ServeMachineLog();

    int socket_ = -1;
    std::filesystem::path path_;
    std::string why_;
    std::vector<std::string> launcher_;
};
