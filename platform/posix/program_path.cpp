#include "platform/program_path.h"

#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "platform/code_page.h"
#include "platform/posix/file_contents.h"
#include "platform/system_error.h"

namespace platform {

const char16_t kPathSeparator = u'/';

std::u16string ProgramPath() {
    struct FreeDeleter {
        void operator()(char* p) const { free(p); }
    };
    std::unique_ptr<char, FreeDeleter> resolved(realpath("/proc/self/exe", nullptr));
    if (!resolved) {
        return {};
    }
    return codepage::Utf8ToUtf16(resolved.get());
}

std::u16string ModuleFileOf(const void* address) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return codepage::Utf8ToUtf16(info.dli_fname);
}

uint32_t ChangeCurrentDirectory(const std::u16string& directory) {
    return chdir(codepage::Utf16ToUtf8(directory).c_str()) == 0
               ? error::kNone
               : posix::FileError(errno, error::kPathNotFound);
}

}  // namespace platform
