#include "platform/dynamic_library.h"

#include <windows.h>

#include <utility>

#include "platform/system_error.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

void Unload(void* handle) {
    if (handle != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle));
    }
}

}  // namespace

DynamicLibrary::~DynamicLibrary() {
    Unload(handle_);
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Unload(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Result<DynamicLibrary> DynamicLibrary::Load(const std::u16string& path) {
    if (path.find(u'\0') != std::u16string::npos) {
        return Result<DynamicLibrary>::Failure(error::kInvalidParameter);
    }
    const HMODULE handle = LoadLibraryW(win32::ToWide(path).c_str());
    if (handle == nullptr) {
        return Result<DynamicLibrary>::Failure(GetLastError());
    }
    return DynamicLibrary(handle);
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::u16string SharedLibraryFileName(std::u16string_view baseName) {
    return std::u16string(baseName) + u".dll";
}

}  // namespace platform
