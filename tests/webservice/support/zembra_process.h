#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/host_process.h"
#include "tests/support/scratch_directory.h"

// The zembra program run as a plain process from a directory chosen by the test, registered
// under a registration root of its own, serving on its fixed port 19196. The simulated SDK takes
// its settings from beside itself, not from the test's environment.
class ZembraProcess {
  public:
    static constexpr unsigned short kPort = 19196;

    // A temporary directory with a copy of the program and nothing else beside it.
    ZembraProcess();
    // Runs the program in place, from the build's own directory, beside what lies there.
    explicit ZembraProcess(const std::filesystem::path& program);
    ~ZembraProcess();
    ZembraProcess(const ZembraProcess&) = delete;
    ZembraProcess& operator=(const ZembraProcess&) = delete;

    // The program's own directory.
    const std::filesystem::path& Directory() const { return directory_; }

    // Puts a file beside the program.
    void WriteFile(const std::string& name, const std::string& contents) const;
    void CopyFile(const std::filesystem::path& from, const std::string& name) const;

    // Registers the program (-RegServer), starts it and waits until it listens on its port.
    // False, with the reason in `problem`, when any of that fails or another program holds the
    // port.
    bool Start(std::string& problem);

    // Asks the program to end and waits for it; kills it when it does not end in good time.
    void Stop();

    // The running program; null before Start.
    HostProcess* Process() const { return process_.get(); }

    // What the program has written to its standard output so far.
    std::string Output() const;

  private:
    HostProcess::Environment Environment() const;

    ScratchDirectory scratch_;  // registration root, unit directory and output files
    std::filesystem::path directory_;
    std::filesystem::path program_;
    std::unique_ptr<HostProcess> process_;
};
