// The relay demo as ./run relay starts it once the build is done: sim/demo/relay.sh on this build
// tree, with the demo's own box scenario and server dialogues, stopped with Ctrl+C.

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/host_process.h"
#include "tests/support/port_holder.h"
#include "tests/support/scratch_directory.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a relay call whose box stays silent (10 s and its self-check) on a loaded
// machine.
constexpr auto kWithin = 60s;

// The demo script as a process; one that a failed test leaves running is stopped as a person
// would stop it, so that its stand-ins go too.
class Demo {
  public:
    explicit Demo(const std::filesystem::path& folder)
        : process_(DEMO_SCRIPT, {BUILD_DIRECTORY}, {}, folder) {}
    ~Demo() {
        if (!process_.WaitForExit(0ms)) {
            process_.Signal(SIGTERM);
            process_.WaitForExit(kWithin);
        }
    }

    HostProcess& Process() { return process_; }

    // The groups of the first match of pattern in the demo's output; empty when none came.
    std::vector<std::string> Await(const std::string& pattern) {
        return process_.AwaitOutput(std::regex(pattern), kWithin)
            .value_or(std::vector<std::string>{});
    }

  private:
    HostProcess process_;
};

TEST(RelayDemoTest, EachCallShowsAsALineAndCtrlCStopsHalvaneAfterItsCallThenTheStandIns) {
    ScratchDirectory folder;
    Demo demo(folder.Path());
    ASSERT_TRUE(demo.Process().Started());
    const auto decoder = demo.Await("sim-decoder: listening on 127\\.0\\.0\\.1:([0-9]+)\n");
    const auto endpoint = demo.Await("sim-configserver listening on 127\\.0\\.0\\.1:([0-9]+)\n");
    const auto halvane = demo.Await("sim-servicemanager: started halvane \\(pid ([0-9]+)\\)");
    ASSERT_EQ(2u, decoder.size()) << demo.Process().Output() << demo.Process().Errors();
    ASSERT_EQ(2u, endpoint.size()) << demo.Process().Output();
    ASSERT_EQ(2u, halvane.size()) << demo.Process().Output();

    // The first three calls of the demo: a card read, a card the server cannot read, and a box
    // that falls silent and answers the check. A call that reached the server has its line too.
    const char* lines[] = {
        "sim-servicemanager: halvane: READY=1, STATUS=Running\n",
        "sim-configserver: POST /server/KS/queryDataInfo.html HTTP/1.1\n",
        "==================<<0\n",
        "usbbox: session 1, dialogue 1 of 5 \"a card is read\" \\([0-9.]+ s\\): sent 4 packets, "
        "got 3; card read: final packet of 1301 bytes written to the box\n",
        "sim-decoder: session 1, dialogue 1 of 3 \"a card is read\": [0-9]+ bytes received, client "
        "closed; sent the final packet: card read \\(1301 bytes\\)\n",
        "usbbox: session 2, dialogue 2 of 5 \"a card the server cannot read\" \\([0-9.]+ s\\): "
        "sent 2 packets, got 1; closed without a final packet\n",
        "sim-decoder: session 2, dialogue 2 of 3 \"a card the server cannot read\": [0-9]+ bytes "
        "received, client closed; sent the final packet: card not read \\(17 bytes\\)\n",
        "usbbox: session 3, dialogue 3 of 5 \"the box falls silent and answers the check\" "
        "\\([0-9.]+ s\\): sent 1 packet, got 1; no first packet: check command answered\n",
    };
    for (const char* line : lines) {
        EXPECT_FALSE(demo.Await(line).empty()) << line << "\n" << demo.Process().Output();
    }

    demo.Process().Signal(SIGINT);
    EXPECT_EQ(0, demo.Process().WaitForExit(kWithin));
    const std::string output = demo.Process().Output();
    for (const char* line : {"sim-servicemanager: halvane: STOPPING=1, STATUS=Stopped\n",
                             "sim-servicemanager: halvane exited with status 0\n"}) {
        EXPECT_NE(std::string::npos, output.find(line)) << output;
    }
    const std::string stopped = "relay demo: stopped\n";
    EXPECT_EQ(output.size() - stopped.size(), output.rfind(stopped)) << output;
    EXPECT_TRUE(NothingListens(static_cast<unsigned short>(std::stoi(decoder[1]))));
    EXPECT_TRUE(NothingListens(static_cast<unsigned short>(std::stoi(endpoint[1]))));
    const int result = kill(std::stoi(halvane[1]), 0);
    const int error = errno;
    EXPECT_EQ(-1, result);
    EXPECT_EQ(ESRCH, error) << "halvane is gone";
}

}  // namespace
