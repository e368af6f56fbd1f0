// sim-servicemanager: systemd's part towards a Type=notify service, for running a service such as
// halvane without systemd. Runs the command with NOTIFY_SOCKET naming a datagram socket in a
// private directory, prints each status report the service sends, asks the service to stop
// (SIGTERM) when it is itself interrupted (Ctrl+C) or terminated, and once the service has ended,
// removes the socket and ends with the service's exit status.
//   sim-servicemanager COMMAND [ARGS...]

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/interrupt_handler.h"
#include "sim/servicemanager/notify_socket.h"
#include "sim/servicemanager/service_process.h"

namespace {

constexpr char kUsage[] =
    "usage: sim-servicemanager COMMAND [ARGS...]\n"
    "  runs COMMAND as systemd runs a Type=notify service: NOTIFY_SOCKET names a socket of its\n"
    "  own, its reports are printed, Ctrl+C or SIGTERM asks it to stop (SIGTERM), and the exit\n"
    "  status is the service's\n";

// How often the manager looks at a stop request and at the service while no report comes.
constexpr std::chrono::milliseconds kPollSlice{100};

// A directory only this user may enter, made under the temporary directory (TMPDIR) and removed
// with what it holds when the object goes.
class PrivateDirectory {
  public:
    PrivateDirectory() {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "sim-servicemanager-XXXXXX").string();
        if (!error && mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~PrivateDirectory() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    PrivateDirectory(const PrivateDirectory&) = delete;
    PrivateDirectory& operator=(const PrivateDirectory&) = delete;

    // Empty when the directory could not be made.
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void Say(const std::string& text) {
    std::fputs(("sim-servicemanager: " + text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// A report as one line: its assignments (READY=1, STATUS=...) joined by commas, control bytes
// written as \xNN so that a report cannot disturb the terminal.
std::string Readable(const std::string& report) {
    std::string line;
    bool newAssignment = true;
    for (const char c : report) {
        if (c == '\n') {
            newAssignment = true;
            continue;
        }
        if (newAssignment && !line.empty()) {
            line += ", ";
        }
        newAssignment = false;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "sim-servicemanager: no command given\n%s", kUsage);
        return 2;
    }
    if (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const std::string name = std::filesystem::path(argv[1]).filename().string();

    const PrivateDirectory directory;
    if (directory.Path().empty()) {
        Say("cannot make a private directory for the notification socket");
        return 1;
    }
    sim::NotifySocket notify(directory.Path() / "notify");
    if (!notify.Ready()) {
        Say("cannot make the notification socket in " + directory.Path().string());
        return 1;
    }
    setenv("NOTIFY_SOCKET", notify.Path().c_str(), 1);

    // Taken before the service starts, so that a stop asked for at any time reaches it.
    std::atomic<int> stopRequests{0};
    const platform::InterruptHandler interrupts([&stopRequests] { ++stopRequests; });
    sim::ServiceProcess service(argv + 1);
    if (!service.Started()) {
        Say("cannot run " + std::string(argv[1]) + ": " + service.Error());
        return 127;
    }
    Say("started " + name + " (pid " + std::to_string(service.Pid()) +
        "), NOTIFY_SOCKET=" + notify.Path().string());

    int stopsSent = 0;
    while (true) {
        if (stopRequests > stopsSent) {
            stopsSent = stopRequests;
            Say("stop requested: sending SIGTERM to " + name);
            service.Stop();
        }
        if (const auto report = notify.Receive(kPollSlice)) {
            Say(name + ": " + Readable(*report));
            continue;
        }
        // Reports a service sends before it ends are queued by then, and printed above first.
        if (const auto status = service.Ended()) {
            Say(service.EndingSignal() != 0
                    ? name + " was ended by signal " + std::to_string(service.EndingSignal())
                    : name + " exited with status " + std::to_string(*status));
            return *status;
        }
    }
}
