// The sim-servicemanager program as a process, running a small service of the tests' own
// (notify-child) the way it runs halvane in the relay demo.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/scratch_directory.h"

namespace {

using namespace std::chrono_literals;

class ServiceManagerTest : public ::testing::Test {
  protected:
    // sim-servicemanager running notify-child with these arguments.
    std::unique_ptr<HostProcess> Manage(const std::vector<std::string>& childArguments) {
        std::vector<std::string> arguments = {NOTIFY_CHILD};
        arguments.insert(arguments.end(), childArguments.begin(), childArguments.end());
        auto manager = std::make_unique<HostProcess>(
            SIM_SERVICEMANAGER, arguments,
            HostProcess::Environment{{"NOTIFY_SOCKET", "/nonexistent/socket"}}, scratch_.Path());
        EXPECT_TRUE(manager->Started());
        return manager;
    }

    ScratchDirectory scratch_;
};

std::string Line(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "\n";
}

TEST_F(ServiceManagerTest, TheServiceGetsASocketOfItsOwnAndItsReportsArePrintedAsLines) {
    std::unique_ptr<HostProcess> manager =
        Manage({"stop:0", "READY=1\nSTATUS=Running", "STATUS=odd\x1b[2J\tbytes\n\nX=1"});
    const auto child =
        manager->AwaitOutput(std::regex("notify-child: pid=([0-9]+) pgid=([0-9]+) socket=(.*)\n"));
    ASSERT_TRUE(child) << manager->Output() << manager->Errors();
    EXPECT_EQ((*child)[1], (*child)[2]) << "the service leads a process group of its own";
    const std::filesystem::path socket = (*child)[3];
    EXPECT_EQ(0u, socket.parent_path().filename().string().rfind("sim-servicemanager-", 0));
    EXPECT_TRUE(std::filesystem::is_socket(socket));

    const std::string started = "sim-servicemanager: started notify-child (pid " + (*child)[1] +
                                "), NOTIFY_SOCKET=" + socket.string();
    for (const std::string& line :
         {started, std::string("sim-servicemanager: notify-child: READY=1, STATUS=Running"),
          std::string("sim-servicemanager: notify-child: STATUS=odd\\x1B[2J\\x09bytes, X=1")}) {
        EXPECT_TRUE(manager->AwaitOutput(std::regex(Line(line)))) << manager->Output();
    }

    manager->Signal(SIGTERM);
    EXPECT_EQ(0, manager->WaitForExit());
    EXPECT_FALSE(std::filesystem::exists(socket.parent_path()));
}

// Ctrl+C and SIGTERM alike ask the service to stop with SIGTERM; the manager ends with its status.
TEST_F(ServiceManagerTest, AStopReachesTheServiceAsSigtermAndItsStatusIsTheManagers) {
    for (const int stop : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(stop);
        std::unique_ptr<HostProcess> manager = Manage({"stop:7"});
        ASSERT_TRUE(manager->AwaitOutput(std::regex("notify-child: pid="))) << manager->Output();

        manager->Signal(stop);
        EXPECT_EQ(7, manager->WaitForExit());
        const std::string output = manager->Output();
        EXPECT_NE(std::string::npos,
                  output.find("sim-servicemanager: stop requested: sending SIGTERM to "
                              "notify-child\nnotify-child: got SIGTERM\n"))
            << output;
        EXPECT_NE(std::string::npos,
                  output.find("sim-servicemanager: notify-child exited with status 7\n"));
    }
}

TEST_F(ServiceManagerTest, AServiceThatEndsByItselfEndsTheManagerWithItsStatus) {
    struct Case {
        const char* mode;
        int status;
        const char* line;
    } cases[] = {
        {"exit:0", 0, "sim-servicemanager: notify-child exited with status 0\n"},
        {"exit:3", 3, "sim-servicemanager: notify-child exited with status 3\n"},
        {"kill:9", 137, "sim-servicemanager: notify-child was ended by signal 9\n"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<HostProcess> manager = Manage({c.mode, "READY=1"});
        EXPECT_EQ(c.status, manager->WaitForExit()) << c.mode;
        const std::string output = manager->Output();
        // The report sent before the end is printed before the end.
        const std::size_t report = output.find("sim-servicemanager: notify-child: READY=1\n");
        EXPECT_NE(std::string::npos, report) << output;
        EXPECT_LT(report, output.find(c.line)) << output;
    }
}

TEST_F(ServiceManagerTest, WithoutACommandItCanRunItSaysWhy) {
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* reason;
    } cases[] = {
        {{}, 2, "sim-servicemanager: no command given\nusage: sim-servicemanager COMMAND"},
        {{"/nonexistent/service"},
         127,
         "sim-servicemanager: cannot run /nonexistent/service: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        HostProcess manager(SIM_SERVICEMANAGER, c.arguments, {}, scratch_.Path());
        EXPECT_EQ(c.status, manager.WaitForExit());
        EXPECT_NE(std::string::npos, (manager.Output() + manager.Errors()).find(c.reason))
            << manager.Output() << manager.Errors();
    }
}

}  // namespace
