// COM, and the type library held in the program's own resources (its TYPELIB resource 1, which
// LoadTypeLibEx finds from the program's path).
#include "platform/component_runtime.h"

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>

#include "platform/program_path.h"
#include "platform/win32/wide_text.h"

// Per-user type-library registration: in oleaut32 since Windows Vista, but missing from
// MinGW-w64's oleauto.h.
extern "C" {
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpDirectory);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID library, WORD majorVersion, WORD minorVersion,
                                      LCID locale, SYSKIND kind);
}

namespace platform {
namespace {

// Owns a loaded type library.
struct TypeLibrary {
    ITypeLib* library = nullptr;
    ~TypeLibrary() {
        if (library != nullptr) {
            library->Release();
        }
    }
};

HRESULT LoadOwnTypeLibrary(const std::wstring& program, TypeLibrary& loaded) {
    return LoadTypeLibEx(program.c_str(), REGKIND_NONE, &loaded.library);
}

}  // namespace

// A thread on which COM was initialised already is ready as well (S_FALSE), and takes the
// balancing call all the same.
uint32_t InitializeComponentRuntime() {
    const HRESULT result = CoInitialize(nullptr);
    return SUCCEEDED(result) ? S_OK : static_cast<uint32_t>(result);
}

void UninitializeComponentRuntime() {
    CoUninitialize();
}

uint32_t InitializeComponentSecurity() {
    return static_cast<uint32_t>(
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE,
                             RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_NONE, nullptr));
}

// Registered with the program's directory as its help directory.
uint32_t RegisterTypeLibrary(RegistrationScope scope) {
    const std::wstring program = win32::ToWide(ProgramPath());
    TypeLibrary loaded;
    if (const HRESULT result = LoadOwnTypeLibrary(program, loaded); FAILED(result)) {
        return static_cast<uint32_t>(result);
    }
    std::wstring path = program;
    std::wstring directory = win32::ToWide(ProgramDirectory());
    const HRESULT result =
        scope == RegistrationScope::PerUser
            ? RegisterTypeLibForUser(loaded.library, path.data(), directory.data())
            : RegisterTypeLib(loaded.library, path.data(), directory.data());
    return static_cast<uint32_t>(result);
}

uint32_t UnregisterTypeLibrary(RegistrationScope scope) {
    TypeLibrary loaded;
    if (const HRESULT result = LoadOwnTypeLibrary(win32::ToWide(ProgramPath()), loaded);
        FAILED(result)) {
        return static_cast<uint32_t>(result);
    }
    TLIBATTR* attributes = nullptr;
    if (const HRESULT result = loaded.library->GetLibAttr(&attributes); FAILED(result)) {
        return static_cast<uint32_t>(result);
    }
    const TLIBATTR library = *attributes;
    loaded.library->ReleaseTLibAttr(attributes);
    const HRESULT result =
        scope == RegistrationScope::PerUser
            ? UnRegisterTypeLibForUser(library.guid, library.wMajorVerNum, library.wMinorVerNum,
                                       library.lcid, library.syskind)
            : UnRegisterTypeLib(library.guid, library.wMajorVerNum, library.wMinorVerNum,
                                library.lcid, library.syskind);
    return static_cast<uint32_t>(result);
}

}  // namespace platform
