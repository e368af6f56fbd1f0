#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A program started as a child process with an environment of the test's making, its standard
// output and error going to files. A child still running when the object goes is killed.
class HostProcess {
  public:
    // Variables to set, or (nullopt) to remove, on top of the test's own environment.
    using Environment = std::map<std::string, std::optional<std::string>>;

    HostProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                const Environment& environment, const std::filesystem::path& outputDirectory);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    void Signal(int signal) const;

    // The exit status once the child has exited within `within`; -1 when it was ended by a signal
    // and nullopt when it still runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds within = std::chrono::seconds(30));

    std::string Output() const;
    std::string Errors() const;

    // Runs a program to its end; its exit status, or nullopt when it did not end in time.
    static std::optional<int> Run(const std::filesystem::path& program,
                                  const std::vector<std::string>& arguments,
                                  const Environment& environment,
                                  const std::filesystem::path& outputDirectory);

  private:
    std::filesystem::path output_;
    std::filesystem::path errors_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// True once a TCP connection to 127.0.0.1:port succeeds within `within`.
bool WaitUntilListening(unsigned short port,
                        std::chrono::milliseconds within = std::chrono::seconds(30));

// True when a TCP connection to 127.0.0.1:port is refused right now.
bool NothingListens(unsigned short port);
