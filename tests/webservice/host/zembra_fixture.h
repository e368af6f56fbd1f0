#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/webservice/host/scratch_directory.h"

// The real zembra program, with its registration stores and unit directory in a scratch
// directory of the test's own.
class ZembraFixture : public ::testing::Test {
  protected:
    static constexpr unsigned short kPort = 19196;
    static constexpr const char* kServiceName = "Pelidor身份证读卡器服务";
    // The exit status of E_FAIL, and of every other code that does not fit in eight bits.
    static constexpr int kWideFailure = 255;

    ZembraFixture() {
        std::filesystem::create_directories(Units());
        std::filesystem::create_directories(Runs());
    }

    static std::filesystem::path Program() { return std::filesystem::canonical(ZEMBRA_PROGRAM); }
    std::filesystem::path Registry() const { return scratch_.Path() / "registry"; }
    std::filesystem::path Units() const { return scratch_.Path() / "units"; }
    std::filesystem::path UnitFile() const { return Units() / "zembra.service"; }
    std::filesystem::path WantsLink() const {
        return Units() / "multi-user.target.wants" / "zembra.service";
    }

    HostProcess::Environment Environment(std::optional<std::string> notifySocket = {}) const {
        return {{"ZEMBRA_REGISTRY_ROOT", Registry().string()},
                {"ZEMBRA_UNIT_DIR", Units().string()},
                {"NOTIFY_SOCKET", notifySocket}};
    }

    // Starts the program; each start gets files of its own for what it prints.
    std::unique_ptr<HostProcess> Start(const std::vector<std::string>& arguments,
                                       const HostProcess::Environment& environment) {
        const auto outputs = Runs() / std::to_string(++runs_);
        std::filesystem::create_directories(outputs);
        auto process = std::make_unique<HostProcess>(Program(), arguments, environment, outputs);
        EXPECT_TRUE(process->Started());
        return process;
    }
    std::unique_ptr<HostProcess> Start(const std::vector<std::string>& arguments = {}) {
        return Start(arguments, Environment());
    }

    // Runs the program with a switch to its end and answers its exit status.
    std::optional<int> Switch(const std::string& word) { return Start({word})->WaitForExit(); }

    ScratchDirectory scratch_;

  private:
    std::filesystem::path Runs() const { return scratch_.Path() / "runs"; }
    int runs_ = 0;
};
