// The sim-configserver program, started as a process the way the demo starts it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "relay/http/http_client.h"
#include "tests/relay/http/http_test_support.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The program with its standard output and error read through a pipe; killed if the test
// leaves it running.
class ConfigServerProcess {
  public:
    explicit ConfigServerProcess(std::vector<std::string> arguments) {
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
            return;
        }
        output_ = pipeEnds[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
        arguments.insert(arguments.begin(), SIM_CONFIGSERVER_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, SIM_CONFIGSERVER_PATH, &actions, nullptr, argv.data(), environ) !=
            0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(pipeEnds[1]);
    }

    ~ConfigServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) {
            close(output_);
        }
    }

    // Reads output until it matches `pattern`, at most ten seconds; the first group, or empty.
    std::string Await(const std::regex& pattern) {
        const auto deadline = Clock::now() + 10s;
        std::smatch match;
        while (!std::regex_search(text_, match, pattern)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{output_, POLLIN, 0};
            if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char buffer[512];
            const ssize_t got = read(output_, buffer, sizeof buffer);
            if (got <= 0) {
                return {};
            }
            text_.append(buffer, static_cast<size_t>(got));
        }
        return match.size() > 1 ? match[1].str() : match[0].str();
    }

    // Sends `signal` (when not 0) and waits for the exit code, at most ten seconds; -1 when the
    // process did not exit by itself.
    int Finish(int signal) {
        if (signal != 0) {
            kill(pid_, signal);
        }
        for (const auto deadline = Clock::now() + 10s; Clock::now() < deadline;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::string text_;
};

TEST(SimConfigServerProgramTest, AnswersAsToldLogsEachRequestAndStopsOnTerm) {
    http_test::ClearSystemProxy();
    const std::string bodyPath = ::testing::TempDir() + "configserver-body.json";
    const std::string recordPath = ::testing::TempDir() + "configserver-record.bin";
    std::remove(recordPath.c_str());
    std::ofstream(bodyPath, std::ios::binary) << "{\"data\":[]}";

    ConfigServerProcess program({"--port", "0", "--body-file", bodyPath, "--content-type",
                                 "text/plain", "--header", "X-Demo: yes", "--record", recordPath});
    const std::string port = program.Await(std::regex("listening on 127\\.0\\.0\\.1:(\\d+)\n"));
    ASSERT_FALSE(port.empty());

    Osmer::CHttpClientT client;
    const std::string url = "http://127.0.0.1:" + port + "/server/KS/queryDataInfo.html";
    client.StartPost(std::u16string(url.begin(), url.end()).c_str(), 0);
    const std::unique_ptr<Osmer::CHttpResponseT> response = client.ProceedPost();
    ASSERT_TRUE(response);
    EXPECT_EQ(response->GetHeaderValue(u"Content-Type"), u"text/plain");
    EXPECT_EQ(response->GetHeaderValue(u"X-Demo"), u"yes");
    uint8_t buffer[64];
    const uint32_t read = response->ReadContent(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, buffer + read), "{\"data\":[]}");

    EXPECT_FALSE(
        program.Await(std::regex("POST /server/KS/queryDataInfo.html HTTP/1.1\n")).empty());
    std::ostringstream recorded;
    recorded << std::ifstream(recordPath, std::ios::binary).rdbuf();
    EXPECT_EQ(recorded.str().rfind("POST /server/KS/queryDataInfo.html HTTP/1.1\r\nHost: ", 0), 0u);
    EXPECT_EQ(program.Finish(SIGTERM), 0);
}

TEST(SimConfigServerProgramTest, RefusesWhatItCannotDo) {
    ConfigServerProcess unknown({"--colour", "red"});
    EXPECT_FALSE(unknown.Await(std::regex("unknown option --colour")).empty());
    EXPECT_EQ(unknown.Finish(0), 2);

    ConfigServerProcess badPort({"--port", "70000"});
    EXPECT_FALSE(badPort.Await(std::regex("not a valid number: 70000")).empty());
    EXPECT_EQ(badPort.Finish(0), 2);
}

}  // namespace
