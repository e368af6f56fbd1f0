#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

// A fresh directory under the system's temporary directory, open to its owner alone, removed
// with everything in it when the object goes.
class ScratchDirectory {
  public:
    explicit ScratchDirectory(std::string_view prefix = "zembra-host-") {
        std::random_device random;
        // A name another test already holds is passed over; any other failure throws.
        do {
            path_ = std::filesystem::temp_directory_path() /
                    (std::string(prefix) + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_));
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
