#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace sim {

// A service started as systemd starts one: in a process group of its own (so that the terminal's
// Ctrl+C reaches the service manager and not the service), standard input from /dev/null, every
// signal at its default and none blocked, and the manager's environment, where NOTIFY_SOCKET
// names the manager's socket. A service still running when the object goes is killed.
class ServiceProcess {
  public:
    // Starts command[0] (looked up on PATH when it has no slash) with the words up to the null
    // pointer that ends command as its arguments; Error() says why when it could not start.
    explicit ServiceProcess(char* const command[]);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    const std::string& Error() const { return error_; }
    pid_t Pid() const { return pid_; }

    // Asks the service to stop, as systemd does: SIGTERM. Does nothing once it has ended.
    void Stop();

    // The service's exit status once it has ended, without waiting: its exit code, or 128 + the
    // signal that ended it, as a shell reports it; nullopt while it runs.
    std::optional<int> Ended();
    // The signal that ended the service, 0 when it exited.
    int EndingSignal() const { return signal_; }

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    int signal_ = 0;
    std::string error_;
};

}  // namespace sim
