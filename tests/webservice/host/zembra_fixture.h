#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/port_holder.h"
#include "tests/support/scratch_directory.h"
#include "tests/webservice/host/syslog_capture.h"

// The real zembra program, with its registration stores and unit directory in a scratch
// directory of the test's own.
class ZembraFixture : public ::testing::Test {
  public:
    static constexpr unsigned short kPort = 19196;

  protected:
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
                                       const HostProcess::Environment& environment,
                                       const std::filesystem::path& program = Program()) {
        const auto outputs = Runs() / std::to_string(++runs_);
        std::filesystem::create_directories(outputs);
        std::vector<std::string> command = syslog_.Launcher();
        command.push_back(program.string());
        command.insert(command.end(), arguments.begin(), arguments.end());
        auto process = std::make_unique<HostProcess>(
            command.front(), std::vector<std::string>(command.begin() + 1, command.end()),
            environment, outputs);
        EXPECT_TRUE(process->Started());
        return process;
    }
    std::unique_ptr<HostProcess> Start(const std::vector<std::string>& arguments = {}) {
        return Start(arguments, Environment());
    }

    // Success once the program listens on its port; else why not.
    static ::testing::AssertionResult Serving(HostProcess& zembra) {
        std::string problem;
        if (zembra.WaitUntilServing(kPort, problem)) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << problem;
    }

    // Runs the program with a switch to its end and answers its exit status.
    std::optional<int> Switch(const std::string& word) { return Start({word})->WaitForExit(); }

    // The event-log texts of a program that has ended, as the system log received them: info
    // level of the daemon facility, the service name as identity. Where the test cannot serve
    // the system log's socket, the test is reported skipped with the reason.
    void ExpectLogged(const HostProcess& zembra, const std::vector<std::string>& texts) {
        if (!syslog_.Capturing()) {
            GTEST_SKIP() << "the event-log texts were not checked: " << syslog_.Why();
        }
        std::vector<std::string> expected;
        for (const auto& text : texts) {
            expected.push_back("<30>" + std::string(kServiceName) + ": " + text);
        }
        EXPECT_EQ(syslog_.Entries(zembra.Pid()), expected);
    }

    ScratchDirectory scratch_;
    SyslogCapture syslog_{scratch_.Path() / "syslog"};

  private:
    std::filesystem::path Runs() const { return scratch_.Path() / "runs"; }
    int runs_ = 0;
};
