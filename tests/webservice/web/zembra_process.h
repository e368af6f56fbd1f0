#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// The zembra program run as a plain process from a directory chosen by the test, registered
// under a registration root of its own, serving on its fixed port 19196.
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

    // Registers the program (-RegServer), starts it and waits until it accepts connections on
    // its port. False, with the reason in `problem`, when any of that fails.
    bool Start(std::string& problem);

    // Asks the program to end and waits for it; kills it when it does not end in good time.
    void Stop();

    // What the program has written to its standard output so far.
    std::string Output() const;

  private:
    pid_t Spawn(const std::vector<std::string>& arguments) const;

    std::filesystem::path scratch_;  // registration root and output files
    std::filesystem::path directory_;
    std::filesystem::path program_;
    pid_t pid_ = -1;
};
