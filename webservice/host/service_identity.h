#pragma once

#include <cstdint>
#include <string_view>

#include "platform/registration_store.h"

// Who Zembra is to the service manager, the registrations, the event log and the web.
namespace ZembraIdentity {

// Name and display name of the service, source of its event-log entries, caption of its
// messages.
constexpr std::u16string_view kServiceName = u"Pelidor身份证读卡器服务";
constexpr std::u16string_view kDescription =
    u"该服务用于创建身份证读卡器webservice，以便网页访问读卡内容";
// The plain name the service manager files the service under where it needs one.
constexpr std::u16string_view kShortName = u"zembra";
// The system user the service runs as where services have users of their own; the packages make it.
constexpr std::u16string_view kServiceAccount = u"zembra";

constexpr std::u16string_view kAppId = u"{BC559BEB-5FE4-485F-B35A-5EFC07B07324}";
constexpr std::u16string_view kAppIdKey = u"AppID\\{BC559BEB-5FE4-485F-B35A-5EFC07B07324}";
constexpr std::u16string_view kProgramKey = u"AppID\\Zembra.EXE";
constexpr std::u16string_view kAppIdName = u"Zembra";
constexpr std::u16string_view kAppIdValue = u"AppID";
constexpr std::u16string_view kLocalServiceValue = u"LocalService";

constexpr const char* kWebServerPort = "19196";
// Descriptors the service may hold open: well above the most connections its settings allow
// (10000), so that the connection cap, not the system's default of 1024, decides who waits.
constexpr uint32_t kOpenFileLimit = 16384;

// Where the registrations are kept on a system without a registry, and the variable that moves
// both stores into one directory.
inline const platform::RegistrationPlace kRegistrationPlace{u"/var/lib/zembra", u"zembra",
                                                            u"ZEMBRA_REGISTRY_ROOT"};
// The variable that names another directory for the service's unit, on a system whose service
// manager reads units from a directory.
constexpr std::u16string_view kUnitDirectoryVariable = u"ZEMBRA_UNIT_DIR";

}  // namespace ZembraIdentity
