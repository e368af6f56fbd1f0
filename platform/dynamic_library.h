#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

// A shared library loaded at run time. Owns its handle: the library is unloaded when
// the object goes, unless the object was never loaded.
class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library at path; kModuleNotFound when there is none there or it cannot be
    // loaded.
    static Result<DynamicLibrary> Load(const std::u16string& path);

    bool IsLoaded() const { return handle_ != nullptr; }

    // Address of an export, or null when the library lacks it or is not loaded.
    void* Symbol(const char* name) const;

    template <typename Function>
    Function Bind(const char* name) const {
        return reinterpret_cast<Function>(Symbol(name));
    }

  private:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

// The file name this system gives a shared library of the given base name: "libReader.so" on
// Linux for "Reader".
std::u16string SharedLibraryFileName(std::u16string_view baseName);

}  // namespace platform
