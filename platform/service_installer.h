#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class ServiceStartType : uint32_t { Automatic = 2, Demand = 3 };

// What the system does when the service fails to start: nothing, or tell the person logged on.
enum class ServiceErrorControl : uint32_t { Ignore = 0, Normal = 1 };

// A service as the service manager files it: its name, which people see, and the plain short
// name the service manager keys it under where the name itself cannot serve as one.
struct ServiceIdentity {
    std::u16string name;
    std::u16string shortName;
};

struct ServiceDefinition {
    std::u16string programPath;  // registered in double quotes, without arguments
    ServiceStartType startType = ServiceStartType::Demand;
    bool afterNetwork = false;  // starts once the system's network services run
    // Files and connections the service may hold open at once; 0 leaves the system's default.
    uint32_t openFileLimit = 0;
    // "NAME=value" settings the service runs with, in this order.
    std::vector<std::u16string> environment;
    // The system user the service runs as where each service has a user of its own (systemd):
    // used when that user exists, else the service runs as root. Windows runs the service as the
    // local system account.
    std::u16string account;
};

// How an installed service is started. A service manager that knows no error control or no
// desktop of the person logged on ignores those.
struct ServiceConfiguration {
    ServiceStartType startType = ServiceStartType::Demand;
    ServiceErrorControl errorControl = ServiceErrorControl::Normal;
    // May show windows on the desktop of the person logged on.
    bool interactive = false;
};

// The service manager, opened for installing, changing and removing services. Failures are the
// numbers of platform/system_error.h.
class ServiceInstaller {
  public:
    // A service manager that reads its services from files in a directory (systemd) is given
    // another directory by the environment variable `directoryVariable` when that is set; one
    // with a database of its own ignores it.
    explicit ServiceInstaller(std::u16string directoryVariable);
    ~ServiceInstaller();
    ServiceInstaller(const ServiceInstaller&) = delete;
    ServiceInstaller& operator=(const ServiceInstaller&) = delete;

    // 0, or why the service manager cannot be opened for changes (kAccessDenied,
    // kDatabaseDoesNotExist). The other calls need a successful Open.
    uint32_t Open();

    bool Exists(const ServiceIdentity& service) const;
    // Asks the service to stop and waits until it has stopped. kServiceNotActive when it does
    // not run or is stopping already.
    uint32_t Stop(const ServiceIdentity& service);
    uint32_t Delete(const ServiceIdentity& service);
    // A service of its own process, whose failure to start the person logged on is told of.
    // Where the service manager can lock a service in (systemd), it runs without privileges, with
    // the system read-only and no home directories, reaching only IPv4, local sockets, USB
    // devices and serial ports: what a web service in front of a card reader needs.
    // kServiceExists when a service of that name is installed already.
    uint32_t Create(const ServiceIdentity& service, const ServiceDefinition& definition);
    // Sets the configuration, and the name people see to service.name; the program,
    // dependencies and account stay.
    uint32_t ChangeConfiguration(const ServiceIdentity& service,
                                 const ServiceConfiguration& configuration);
    uint32_t SetDescription(const ServiceIdentity& service, std::u16string_view description);

  private:
    struct Manager;
    std::unique_ptr<Manager> manager_;
};

}  // namespace platform
