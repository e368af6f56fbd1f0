// A service is a systemd unit file, <short name>.service, in the unit directory
// (/etc/systemd/system unless the installer's directory variable names another); automatic start is
// a link to it in multi-user.target.wants, and the description is the comment that opens the file.
// systemd is told about changes, and asked to stop the service, only where it runs and reads that
// directory. The unit runs the service as its own user where that exists, inside systemd's sandbox.
#include "platform/service_installer.h"

#include <errno.h>
#include <pwd.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "platform/code_page.h"
#include "platform/posix/file_contents.h"
#include "platform/system_error.h"

extern char** environ;

namespace platform {
namespace {

constexpr char kDefaultUnitDirectory[] = "/etc/systemd/system";
constexpr char kSystemdRunning[] = "/run/systemd/system";
constexpr const char* kSystemdUnitDirectories[] = {
    "/etc/systemd/system",     "/run/systemd/system", "/usr/local/lib/systemd/system",
    "/usr/lib/systemd/system", "/lib/systemd/system",
};
constexpr char kWantsDirectory[] = "multi-user.target.wants";
constexpr char kDescriptionPrefix[] = "# ";
constexpr char kDisplayNameKey[] = "Description=";
constexpr mode_t kUnitMode = 0644;
constexpr mode_t kDirectoryMode = 0755;

// What the service may do and reach: no privileges of any kind, the system read-only, no home
// directories and a /tmp of its own; of the devices, USB devices and serial ports (a card reader
// on either; the group of the service's user opens them), and the clock read by ProtectClock; of
// the sockets, IPv4 to serve on and local ones for the system log and the service manager; the
// system calls of an ordinary service, less privileged and resource-setting ones. Scores 1.4 in
// `systemd-analyze security` run as a user of its own, 1.8 as root; the network cannot be
// narrowed further, as the service serves whatever addresses its settings choose.
constexpr char kSandbox[] =
    "NoNewPrivileges=yes\n"
    "CapabilityBoundingSet=\n"
    "AmbientCapabilities=\n"
    "ProtectSystem=strict\n"
    "ProtectHome=yes\n"
    "PrivateTmp=yes\n"
    "PrivateMounts=yes\n"
    "DevicePolicy=closed\n"
    "DeviceAllow=char-usb_device rw\n"
    "DeviceAllow=char-ttyS rw\n"
    "DeviceAllow=char-ttyUSB rw\n"
    "DeviceAllow=char-ttyACM rw\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectClock=yes\n"
    "ProtectHostname=yes\n"
    "ProtectProc=invisible\n"
    "ProcSubset=pid\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "RemoveIPC=yes\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallFilter=~@privileged @resources\n"
    "UMask=0077\n";

std::string UnitFile(const ServiceIdentity& service) {
    return codepage::Utf16ToUtf8(service.shortName) + ".service";
}

bool SystemdReads(const std::string& directory) {
    if (access(kSystemdRunning, F_OK) != 0) {
        return false;
    }
    const std::string resolved = posix::RealPath(directory);
    for (const char* known : kSystemdUnitDirectories) {
        if (!resolved.empty() && posix::RealPath(known) == resolved) {
            return true;
        }
    }
    return false;
}

// Runs systemctl with the arguments and answers its exit status, -1 when it could not run.
int Systemctl(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "systemctl");
    arguments.push_back(nullptr);
    pid_t child;
    if (posix_spawnp(&child, "systemctl", nullptr, nullptr, const_cast<char**>(arguments.data()),
                     environ) != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

uint32_t ErrorOf(int errnoValue) {
    return posix::FileError(errnoValue, error::kGeneralFailure);
}

bool IsControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

// systemd runs no program whose path holds a quote, a backslash or a control character.
bool IsRunnablePath(std::string_view path) {
    return !path.empty() && path[0] == '/' && std::none_of(path.begin(), path.end(), [](char c) {
        return IsControlCharacter(c) || c == '"' || c == '\'' || c == '\\';
    });
}

// A value in double quotes as systemd reads it: backslash escapes, control characters in hex,
// and "%%" for a percent sign. A dollar sign stays single: systemd expands variables in a
// command's arguments, never in the program's path, which is all ExecStart= holds here.
std::string SystemdQuoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (IsControlCharacter(c)) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            out += hex;
            continue;
        }
        if (c == '\\' || c == '"') {
            out += '\\';
        } else if (c == '%') {
            out += c;
        }
        out += c;
    }
    return out + "\"";
}

// Free text for Description=: one line, percent signs doubled.
std::string SystemdText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            out += ' ';
        } else {
            out += c;
            if (c == '%') {
                out += '%';
            }
        }
    }
    return out;
}

std::string FormatUnit(const ServiceIdentity& service, const ServiceDefinition& definition) {
    std::string unit = "[Unit]\n";
    unit += kDisplayNameKey + SystemdText(codepage::Utf16ToUtf8(service.name)) + "\n";
    if (definition.afterNetwork) {
        unit += "After=network.target\n";
    }
    unit += "\n[Service]\nType=notify\n";
    unit += "ExecStart=" + SystemdQuoted(codepage::Utf16ToUtf8(definition.programPath)) + "\n";
    // A service that crashed comes back; one that ended cleanly or was stopped stays down.
    unit += "Restart=on-failure\n";
    if (definition.openFileLimit != 0) {
        unit += "LimitNOFILE=" + std::to_string(definition.openFileLimit) + "\n";
    }
    for (const std::u16string& setting : definition.environment) {
        unit += "Environment=" + SystemdQuoted(codepage::Utf16ToUtf8(setting)) + "\n";
    }
    // systemd refuses to start a unit whose user does not exist: without it the service runs as
    // root, in the same sandbox.
    const std::string account = codepage::Utf16ToUtf8(definition.account);
    if (!account.empty() && getpwnam(account.c_str()) != nullptr) {
        unit += "User=" + account + "\n";
    }
    unit += kSandbox;
    return unit + "\n[Install]\nWantedBy=multi-user.target\n";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    return text;
}

// Rewrites the unit file at path through edit, which changes its lines.
uint32_t EditUnit(const std::string& path,
                  const std::function<void(std::vector<std::string>& lines)>& edit) {
    std::string text;
    if (const int read = posix::ReadFileContents(path, text)) {
        return ErrorOf(read);
    }
    std::vector<std::string> lines = Lines(text);
    edit(lines);
    if (const int written = posix::ReplaceFileAtomically(path, Joined(lines), kUnitMode)) {
        return ErrorOf(written);
    }
    return error::kNone;
}

// systemd sees changed units once told, and only in the directories it reads.
void TellSystemd(const std::string& unitDirectory) {
    if (SystemdReads(unitDirectory)) {
        Systemctl({"daemon-reload"});
    }
}

}  // namespace

struct ServiceInstaller::Manager {
    std::string directoryVariable;
    std::string unitDirectory;  // once opened
};

ServiceInstaller::ServiceInstaller(std::u16string directoryVariable)
    : manager_(std::make_unique<Manager>(Manager{codepage::Utf16ToUtf8(directoryVariable), {}})) {}

ServiceInstaller::~ServiceInstaller() = default;

uint32_t ServiceInstaller::Open() {
    const char* chosen = getenv(manager_->directoryVariable.c_str());
    // Absolute, so that the link of automatic start leads to the unit wherever it is read from.
    const std::string directory =
        posix::RealPath(chosen != nullptr && chosen[0] != '\0' ? chosen : kDefaultUnitDirectory);
    struct stat info;
    if (directory.empty() || stat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return error::kDatabaseDoesNotExist;
    }
    if (access(directory.c_str(), W_OK) != 0) {
        return error::kAccessDenied;
    }
    manager_->unitDirectory = directory;
    return error::kNone;
}

bool ServiceInstaller::Exists(const ServiceIdentity& service) const {
    struct stat info;
    return !manager_->unitDirectory.empty() &&
           stat((manager_->unitDirectory + "/" + UnitFile(service)).c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

uint32_t ServiceInstaller::Stop(const ServiceIdentity& service) {
    if (!Exists(service)) {
        return error::kServiceDoesNotExist;
    }
    const std::string unit = UnitFile(service);
    if (!SystemdReads(manager_->unitDirectory) ||
        Systemctl({"is-active", "--quiet", unit.c_str()}) != 0) {
        return error::kServiceNotActive;
    }
    return Systemctl({"stop", unit.c_str()}) == 0 ? error::kNone : error::kServiceRequestTimeout;
}

uint32_t ServiceInstaller::Delete(const ServiceIdentity& service) {
    if (!Exists(service)) {
        return error::kServiceDoesNotExist;
    }
    const std::string unit = UnitFile(service);
    const std::string link = manager_->unitDirectory + "/" + kWantsDirectory + "/" + unit;
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        return ErrorOf(errno);
    }
    if (unlink((manager_->unitDirectory + "/" + unit).c_str()) != 0) {
        return ErrorOf(errno);
    }
    TellSystemd(manager_->unitDirectory);
    return error::kNone;
}

uint32_t ServiceInstaller::Create(const ServiceIdentity& service,
                                  const ServiceDefinition& definition) {
    if (manager_->unitDirectory.empty()) {
        return error::kAccessDenied;
    }
    if (Exists(service)) {
        return error::kServiceExists;
    }
    const std::string program = codepage::Utf16ToUtf8(definition.programPath);
    if (!IsRunnablePath(program)) {
        return error::kInvalidParameter;
    }
    const std::string path = manager_->unitDirectory + "/" + UnitFile(service);
    if (const int written =
            posix::ReplaceFileAtomically(path, FormatUnit(service, definition), kUnitMode)) {
        return ErrorOf(written);
    }
    return ChangeConfiguration(service, ServiceConfiguration{definition.startType});
}

// systemd knows neither error control nor desktops: only the start type counts.
uint32_t ServiceInstaller::ChangeConfiguration(const ServiceIdentity& service,
                                               const ServiceConfiguration& configuration) {
    if (!Exists(service)) {
        return error::kServiceDoesNotExist;
    }
    const std::string path = manager_->unitDirectory + "/" + UnitFile(service);
    const std::string displayName =
        kDisplayNameKey + SystemdText(codepage::Utf16ToUtf8(service.name));
    const uint32_t edited = EditUnit(path, [&displayName](std::vector<std::string>& lines) {
        for (auto& line : lines) {
            if (line.rfind(kDisplayNameKey, 0) == 0) {
                line = displayName;
            }
        }
    });
    if (edited != error::kNone) {
        return edited;
    }
    const std::string wants = manager_->unitDirectory + "/" + kWantsDirectory;
    const std::string link = wants + "/" + UnitFile(service);
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        return ErrorOf(errno);
    }
    if (configuration.startType == ServiceStartType::Automatic) {
        if (const int made = posix::MakeDirectories(wants, kDirectoryMode)) {
            return ErrorOf(made);
        }
        if (symlink(path.c_str(), link.c_str()) != 0) {
            return ErrorOf(errno);
        }
    }
    TellSystemd(manager_->unitDirectory);
    return error::kNone;
}

uint32_t ServiceInstaller::SetDescription(const ServiceIdentity& service,
                                          std::u16string_view description) {
    if (!Exists(service)) {
        return error::kServiceDoesNotExist;
    }
    std::vector<std::string> comment;
    for (const auto& line : Lines(codepage::Utf16ToUtf8(description))) {
        comment.push_back(kDescriptionPrefix + line);
    }
    // The description is the comment that opens the file; an older one goes.
    const uint32_t edited = EditUnit(
        manager_->unitDirectory + "/" + UnitFile(service),
        [&comment](std::vector<std::string>& lines) {
            const auto body = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
                return line.rfind(kDescriptionPrefix, 0) != 0;
            });
            lines.erase(lines.begin(), body);
            lines.insert(lines.begin(), comment.begin(), comment.end());
        });
    if (edited != error::kNone) {
        return edited;
    }
    TellSystemd(manager_->unitDirectory);
    return error::kNone;
}

}  // namespace platform
