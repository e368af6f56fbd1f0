#include "tests/webservice/web/zembra_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/webservice/web/raw_client.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 20s;

std::filesystem::path MakeScratchDirectory() {
    std::string pattern = std::filesystem::temp_directory_path() / "zembra-web-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

// Waits up to `within` for the child to end; its exit status, or -1 when it is still running.
int WaitForExit(pid_t pid, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return status;
        }
        std::this_thread::sleep_for(10ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
}

}  // namespace

ZembraProcess::ZembraProcess() : scratch_(MakeScratchDirectory()) {
    directory_ = scratch_ / "program";
    std::filesystem::create_directory(directory_);
    program_ = directory_ / "zembra";
    std::filesystem::copy_file(ZEMBRA_PROGRAM, program_);
}

ZembraProcess::ZembraProcess(const std::filesystem::path& program)
    : scratch_(MakeScratchDirectory()), directory_(program.parent_path()), program_(program) {}

ZembraProcess::~ZembraProcess() {
    Stop();
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
}

void ZembraProcess::WriteFile(const std::string& name, const std::string& contents) const {
    std::ofstream(directory_ / name, std::ios::binary | std::ios::trunc) << contents;
}

void ZembraProcess::CopyFile(const std::filesystem::path& from, const std::string& name) const {
    std::filesystem::copy_file(from, directory_ / name,
                               std::filesystem::copy_options::overwrite_existing);
}

pid_t ZembraProcess::Spawn(const std::vector<std::string>& arguments) const {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string entry = *variable;
        // The simulated SDK takes its settings from beside itself, not from the test's.
        if (entry.rfind("ZEMBRA_REGISTRY_ROOT=", 0) != 0 && entry.rfind("TROVIK_SIM_", 0) != 0 &&
            entry.rfind("ZEMBRA_UNIT_DIR=", 0) != 0 && entry.rfind("NOTIFY_SOCKET=", 0) != 0) {
            environment.push_back(entry);
        }
    }
    environment.push_back("ZEMBRA_REGISTRY_ROOT=" + (scratch_ / "registry").string());
    // Registration removes an installed service first: never the machine's own.
    environment.push_back("ZEMBRA_UNIT_DIR=" + (scratch_ / "units").string());

    std::vector<char*> argv{const_cast<char*>(program_.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string output = (scratch_ / "stdout.txt").string();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, program_.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool ZembraProcess::Start(std::string& problem) {
    const pid_t registering = Spawn({"-RegServer"});
    const int registered = registering < 0 ? -1 : WaitForExit(registering, kGenerous);
    if (registered == -1 || !WIFEXITED(registered) || WEXITSTATUS(registered) != 0) {
        if (registering > 0 && registered == -1) {
            kill(registering, SIGKILL);
            waitpid(registering, nullptr, 0);
        }
        problem = "zembra -RegServer failed";
        return false;
    }
    pid_ = Spawn({});
    if (pid_ < 0) {
        problem = "zembra could not be started";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (std::chrono::steady_clock::now() < deadline) {
        if (WaitForExit(pid_, 0ms) != -1) {
            pid_ = -1;
            problem = "zembra ended at once; it wrote: " + Output();
            return false;
        }
        if (RawClient("127.0.0.1", kPort).IsConnected()) {
            // Someone else may hold the port: then this program says it could not listen.
            if (Output().find("Failed to create listener") != std::string::npos) {
                problem = "port 19196 is held by another program";
                return false;
            }
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    problem = "zembra did not listen in time";
    return false;
}

void ZembraProcess::Stop() {
    if (pid_ < 0) {
        return;
    }
    kill(pid_, SIGTERM);
    if (WaitForExit(pid_, kGenerous) == -1) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
}

std::string ZembraProcess::Output() const {
    std::ifstream output(scratch_ / "stdout.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(output), std::istreambuf_iterator<char>());
}
