#include "platform/posix/file_contents.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/posix/descriptor.h"
#include "platform/system_error.h"

namespace platform::posix {
namespace {

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return 0;
}

}  // namespace

int ReadFileContents(const std::string& path, std::string& contents) {
    Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return errno;
    }
    contents.clear();
    char buffer[8192];
    while (true) {
        const ssize_t got = read(file.Get(), buffer, sizeof buffer);
        if (got == 0) {
            return 0;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        contents.append(buffer, static_cast<size_t>(got));
    }
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string RealPath(const std::string& path) {
    struct FreeDeleter {
        void operator()(char* p) const { free(p); }
    };
    const std::unique_ptr<char, FreeDeleter> resolved(realpath(path.c_str(), nullptr));
    return resolved ? resolved.get() : "";
}

uint32_t FileError(int errnoValue, uint32_t otherwise) {
    switch (errnoValue) {
        case EACCES:
        case EPERM:
        case EROFS:
            return error::kAccessDenied;
        case ENOENT:
            return error::kFileNotFound;
        default:
            return otherwise;
    }
}

int ReplaceFileAtomically(const std::string& path, std::string_view contents, mode_t mode) {
    std::string pattern = path + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Descriptor file(mkostemp(name.data(), O_CLOEXEC));
    if (file.Get() < 0) {
        return errno;
    }
    int error = fchmod(file.Get(), mode) == 0 ? 0 : errno;
    if (error == 0) {
        error = WriteAll(file.Get(), contents);
    }
    if (error == 0 && fsync(file.Get()) != 0) {
        error = errno;
    }
    if (error == 0) {
        error = file.Close();
    }
    if (error == 0 && rename(name.data(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(name.data());
        return error;
    }
    // The rename itself is durable only once the directory is flushed too.
    Descriptor directory(open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) {
        fsync(directory.Get());
    }
    return 0;
}

int MakeDirectories(const std::string& directory, mode_t mode) {
    struct stat info;
    if (stat(directory.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    }
    const std::string parent = DirectoryOf(directory);
    if (parent != directory && parent != ".") {
        if (const int error = MakeDirectories(parent, mode)) {
            return error;
        }
    }
    if (mkdir(directory.c_str(), mode) != 0 && errno != EEXIST) {
        return errno;
    }
    return 0;
}

}  // namespace platform::posix
