#include "tests/support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "sim/servicemanager/spawn_attributes.h"
#include "tests/support/port_holder.h"
#include "tests/support/scratch_directory.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPollPause = std::chrono::milliseconds(20);

std::vector<std::string> MergedEnvironment(const HostProcess::Environment& changes) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (changes.count(text.substr(0, text.find('='))) == 0) {
            merged.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (value) {
            merged.push_back(name + "=" + *value);
        }
    }
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

HostProcess::HostProcess(const std::filesystem::path& program,
                         const std::vector<std::string>& arguments, const Environment& environment,
                         const std::filesystem::path& outputDirectory)
    : output_(outputDirectory / "stdout.txt"), errors_(outputDirectory / "stderr.txt") {
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = MergedEnvironment(environment);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The child starts with every signal at its default and none blocked, whatever the test has.
    const sim::SpawnAttributes attributes;
    if (posix_spawn(&pid_, argv[0].c_str(), &actions, attributes.Get(), Pointers(argv).data(),
                    Pointers(envp).data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

HostProcess::~HostProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void HostProcess::Signal(int signal) const {
    if (pid_ > 0 && !status_) {
        kill(pid_, signal);
    }
}

std::optional<int> HostProcess::WaitForExit(std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    while (pid_ > 0 && !status_) {
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        } else if (Clock::now() >= deadline) {
            break;
        } else {
            std::this_thread::sleep_for(kPollPause);
        }
    }
    return status_;
}

std::string HostProcess::Output() const {
    return ReadWholeFile(output_);
}

std::string HostProcess::Errors() const {
    return ReadWholeFile(errors_);
}

std::optional<std::vector<std::string>> HostProcess::AwaitOutput(
    const std::regex& pattern, std::chrono::milliseconds within) const {
    const auto deadline = Clock::now() + within;
    while (true) {
        const std::string output = Output();
        std::smatch match;
        if (std::regex_search(output, match, pattern)) {
            return std::vector<std::string>(match.begin(), match.end());
        }
        if (Clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollPause);
    }
}

std::optional<int> HostProcess::Run(const std::filesystem::path& program,
                                    const std::vector<std::string>& arguments,
                                    const Environment& environment,
                                    const std::filesystem::path& outputDirectory) {
    HostProcess process(program, arguments, environment, outputDirectory);
    return process.WaitForExit();
}

bool HostProcess::WaitUntilServing(unsigned short port, std::string& problem,
                                   std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    while (!ListensOn(pid_, port)) {
        if (WaitForExit(std::chrono::milliseconds(0))) {
            problem = "the program ended before it listened on port " + std::to_string(port) +
                      "; it wrote: " + Output() + Errors();
            return false;
        }
        // Someone answers on the port, and it is not this child: it can never listen there.
        if (!NothingListens(port) && !ListensOn(pid_, port)) {
            problem = "port " + std::to_string(port) +
                      " is held by another program, not by the one this test started";
            return false;
        }
        if (Clock::now() >= deadline) {
            problem = "the program did not listen on port " + std::to_string(port) + " in time";
            return false;
        }
        std::this_thread::sleep_for(kPollPause);
    }
    return true;
}
