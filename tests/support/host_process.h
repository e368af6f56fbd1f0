#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
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

    // True once this child listens on TCP port. False, with the reason in problem, when it ends
    // first, when another program holds the port, or when `within` passes.
    bool WaitUntilServing(unsigned short port, std::string& problem,
                          std::chrono::milliseconds within = std::chrono::seconds(30));

    // Waits until the standard output holds a match of pattern, at most `within`: the match and
    // its groups, or nullopt when none came in time.
    std::optional<std::vector<std::string>> AwaitOutput(
        const std::regex& pattern,
        std::chrono::milliseconds within = std::chrono::seconds(30)) const;

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
