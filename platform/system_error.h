#pragma once

#include <cstdint>

// Failure numbers of the platform facilities: the values Windows reports for the same failures,
// so that a caller's "last-error code" means the same on every system.
namespace platform::error {

constexpr uint32_t kNone = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kTooManyOpenFiles = 4;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidHandle = 6;
constexpr uint32_t kNotEnoughMemory = 8;
constexpr uint32_t kReadFault = 30;
constexpr uint32_t kGeneralFailure = 31;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kInsufficientBuffer = 122;
constexpr uint32_t kModuleNotFound = 126;

// The Internet layer's own numbers.
constexpr uint32_t kInternetTimeout = 12002;
constexpr uint32_t kInternetInternalError = 12004;
constexpr uint32_t kInternetInvalidUrl = 12005;
constexpr uint32_t kInternetUnrecognizedScheme = 12006;
constexpr uint32_t kInternetNameNotResolved = 12007;
constexpr uint32_t kInternetIncorrectHandleState = 12019;
constexpr uint32_t kInternetCannotConnect = 12029;
constexpr uint32_t kInternetConnectionAborted = 12030;
constexpr uint32_t kInternetConnectionReset = 12031;
constexpr uint32_t kInternetInvalidCa = 12045;
constexpr uint32_t kHttpHeaderNotFound = 12150;
constexpr uint32_t kHttpInvalidServerResponse = 12152;
constexpr uint32_t kHttpRedirectFailed = 12156;
constexpr uint32_t kInternetSecurityChannelError = 12157;

// Registrations and the service manager.
constexpr uint32_t kRegistryCorrupt = 1015;
constexpr uint32_t kRegistryIoFailed = 1016;
constexpr uint32_t kServiceRequestTimeout = 1053;
constexpr uint32_t kServiceAlreadyRunning = 1056;
constexpr uint32_t kServiceDoesNotExist = 1060;
constexpr uint32_t kServiceNotActive = 1062;
constexpr uint32_t kFailedServiceControllerConnect = 1063;
constexpr uint32_t kDatabaseDoesNotExist = 1065;
constexpr uint32_t kServiceExists = 1073;

// The generic failure HRESULT (E_FAIL) of steps that report no number of their own.
constexpr uint32_t kFail = 0x80004005;

}  // namespace platform::error
