// service-control: asks the Windows service control manager about one service, and sends it
// controls, for test scripts that run under Wine (whose sc.exe lacks qc, pause and continue).
// Every answer is one or more lines "key=value" on standard output, in UTF-8; the service name
// is an argument in the locale's encoding, as Wine hands it over.
//
//   service-control config NAME         the stored configuration:
//                                         type=0x110  start=2  error=0  path=<image path>
//                                         dependencies=RPCSS (comma-separated)  account=LocalSystem
//                                         display=<display name>  description=<description>
//   service-control status NAME         the reported status: state=4  controls=0x7  exit=0
//   service-control stop|pause|continue|interrogate NAME
//   service-control control NAME CODE   sends the control (CODE in decimal, e.g. 128) and prints
//                                       the status it answers with, as status does
//   service-control wait NAME STATE SECONDS
//                                       waits until the service reports STATE (e.g. 4 for
//                                       running), at most SECONDS, polling every 100 ms; prints
//                                       the status it saw last
//
// Exit status: 0 when the call succeeded (wait: the state was reached), 1 when it failed, with a
// line error=<the system's error number> (wait: the status seen last), 2 for a wrong command line.
#include <windows.h>
#include <winsvc.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32/service_handle.h"

namespace {

using platform::win32::ServiceHandle;

void Print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%lx", static_cast<unsigned long>(value));
    return text;
}

int Failed() {
    Print(L"error=" + std::to_wstring(GetLastError()));
    return 1;
}

void PrintStatus(const SERVICE_STATUS& status) {
    Print(L"state=" + std::to_wstring(status.dwCurrentState));
    Print(L"controls=" + Hex(status.dwControlsAccepted));
    Print(L"exit=" + std::to_wstring(status.dwWin32ExitCode));
}

const wchar_t* Text(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

// The strings of a block ended by an empty one, joined by commas.
std::wstring Joined(const wchar_t* block) {
    std::wstring joined;
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        joined += (joined.empty() ? L"" : L",") + std::wstring(entry);
    }
    return joined;
}

// Asks with a buffer that grows to the size the call names.
template <typename Query>
bool QueryGrowing(std::vector<BYTE>& buffer, Query query) {
    DWORD needed = 0;
    buffer.resize(1024);
    while (!query(buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        buffer.resize(needed);
    }
    return true;
}

int Config(SC_HANDLE service) {
    std::vector<BYTE> config;
    if (!QueryGrowing(config, [service](BYTE* data, DWORD size, DWORD* needed) {
            return QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(data),
                                       size, needed) != FALSE;
        })) {
        return Failed();
    }
    std::vector<BYTE> description;
    if (!QueryGrowing(description, [service](BYTE* data, DWORD size, DWORD* needed) {
            return QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, data, size, needed) !=
                   FALSE;
        })) {
        return Failed();
    }
    const auto* stored = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
    Print(L"type=" + Hex(stored->dwServiceType));
    Print(L"start=" + std::to_wstring(stored->dwStartType));
    Print(L"error=" + std::to_wstring(stored->dwErrorControl));
    Print(L"path=" + std::wstring(Text(stored->lpBinaryPathName)));
    Print(L"dependencies=" + Joined(stored->lpDependencies));
    Print(L"account=" + std::wstring(Text(stored->lpServiceStartName)));
    Print(L"display=" + std::wstring(Text(stored->lpDisplayName)));
    Print(L"description=" +
          std::wstring(Text(
              reinterpret_cast<const SERVICE_DESCRIPTIONW*>(description.data())->lpDescription)));
    return 0;
}

int Status(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) {
        return Failed();
    }
    PrintStatus(status);
    return 0;
}

int Control(SC_HANDLE service, DWORD control) {
    SERVICE_STATUS status{};
    if (!ControlService(service, control, &status)) {
        return Failed();
    }
    PrintStatus(status);
    return 0;
}

int Wait(SC_HANDLE service, DWORD state, long seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    SERVICE_STATUS status{};
    while (true) {
        if (!QueryServiceStatus(service, &status)) {
            return Failed();
        }
        if (status.dwCurrentState == state || std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        Sleep(100);
    }
    PrintStatus(status);
    return status.dwCurrentState == state ? 0 : 1;
}

struct Named {
    const wchar_t* command;
    DWORD control;
};

constexpr Named kControls[] = {
    {L"stop", SERVICE_CONTROL_STOP},
    {L"pause", SERVICE_CONTROL_PAUSE},
    {L"continue", SERVICE_CONTROL_CONTINUE},
    {L"interrogate", SERVICE_CONTROL_INTERROGATE},
};

int Usage() {
    std::fputws(
        L"usage: service-control config|status|stop|pause|continue|interrogate NAME\n"
        L"       service-control control NAME CODE\n"
        L"       service-control wait NAME STATE SECONDS\n",
        stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::wstring command = argv[1];
    const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Failed();
    }
    const ServiceHandle service(OpenServiceW(
        manager.get(), argv[2],
        SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
            SERVICE_INTERROGATE | SERVICE_USER_DEFINED_CONTROL));
    if (!service) {
        return Failed();
    }
    if (command == L"config" && argc == 3) {
        return Config(service.get());
    }
    if (command == L"status" && argc == 3) {
        return Status(service.get());
    }
    if (command == L"control" && argc == 4) {
        return Control(service.get(), std::wcstoul(argv[3], nullptr, 10));
    }
    if (command == L"wait" && argc == 5) {
        return Wait(service.get(), std::wcstoul(argv[3], nullptr, 10),
                    std::wcstol(argv[4], nullptr, 10));
    }
    for (const Named& named : kControls) {
        if (command == named.command && argc == 3) {
            return Control(service.get(), named.control);
        }
    }
    return Usage();
}
