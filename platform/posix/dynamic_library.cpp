#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <utility>

#include "platform/code_page.h"
#include "platform/system_error.h"

namespace platform {

DynamicLibrary::~DynamicLibrary() {
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

Result<DynamicLibrary> DynamicLibrary::Load(const std::u16string& path) {
    const std::string nativePath = codepage::Utf16ToUtf8(path);
    // RTLD_NOW: a library with unresolved references fails here, not in the middle of a call.
    void* handle = dlopen(nativePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        return Result<DynamicLibrary>::Failure(error::kModuleNotFound);
    }
    return DynamicLibrary(handle);
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    return dlsym(handle_, name);
}

std::u16string SharedLibraryFileName(std::u16string_view baseName) {
    return u"lib" + std::u16string(baseName) + u".so";
}

}  // namespace platform
