#include "tests/webservice/host/syslog_capture.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <regex>

#include "tests/support/host_process.h"

namespace {

constexpr char kLogPath[] = "/dev/log";

sockaddr_un Address(const std::filesystem::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// True when a daemon receives on the log socket.
bool Served() {
    const int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(kLogPath);
    const bool served =
        connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return served;
}

}  // namespace

SyslogCapture::SyslogCapture(const std::filesystem::path& scratch) {
    // A /dev/log of the program's own needs the right to mount, which a run of the launcher
    // shows.
    const std::vector<std::string> launcher = {PRIVATE_DEV_LOG, (scratch / "log").string(),
                                               (scratch / "dev").string()};
    std::filesystem::create_directories(scratch / "dev");
    std::vector<std::string> probe(launcher.begin() + 1, launcher.end());
    probe.push_back("/bin/true");
    if (geteuid() == 0 && HostProcess::Run(launcher[0], probe, {}, scratch / "dev") == 0) {
        if (Serve(scratch / "log")) {
            launcher_ = launcher;
        }
        return;
    }
    ServeMachineLog();
}

bool SyslogCapture::ServeMachineLog() {
    struct stat info;
    if (lstat(kLogPath, &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            why_ = std::string(kLogPath) + " is not a socket";
            return false;
        }
        if (Served()) {
            why_ = "a log daemon serves " + std::string(kLogPath) +
                   ", and a /dev/log of the program's own needs root";
            return false;
        }
        if (unlink(kLogPath) != 0) {
            why_ = "the stale " + std::string(kLogPath) + " cannot be removed: " + strerror(errno);
            return false;
        }
    }
    return Serve(kLogPath);
}

bool SyslogCapture::Serve(const std::filesystem::path& path) {
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = Address(path);
    if (path.string().size() >= sizeof address.sun_path ||
        bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0666) != 0) {
        why_ = path.string() + " cannot be served by the test: " + strerror(errno);
        close(socket_);
        socket_ = -1;
        return false;
    }
    path_ = path;
    return true;
}

SyslogCapture::~SyslogCapture() {
    if (socket_ >= 0) {
        unlink(path_.c_str());
        close(socket_);
    }
}

std::vector<std::string> SyslogCapture::Entries(pid_t pid) {
    // "<30>Dec 10 00:55:45 identity[pid]: text", as syslog(3) sends it with LOG_PID.
    static const std::regex kEntry(R"(<(\d+)>.{15} (.*)\[(\d+)\]: (.*?)\n?)");
    std::vector<std::string> entries;
    char datagram[2048];
    ssize_t got = 0;
    while (Capturing() && (got = recv(socket_, datagram, sizeof datagram, MSG_DONTWAIT)) >= 0) {
        const std::string text(datagram, static_cast<size_t>(got));
        std::smatch parts;
        if (std::regex_match(text, parts, kEntry) && parts[3] == std::to_string(pid)) {
            entries.push_back("<" + parts[1].str() + ">" + parts[2].str() + ": " + parts[4].str());
        }
    }
    return entries;
}
