// The sim-decoder program, started as a process the way the demo starts it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/sim/first_packet_client.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// The program with its standard output and error going to a file; killed if the test leaves it.
class SimDecoderProcess {
  public:
    explicit SimDecoderProcess(std::vector<std::string> arguments) {
        output_ = std::filesystem::temp_directory_path() /
                  ("sim-decoder-" + std::to_string(getpid()) + ".out");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        arguments.insert(arguments.begin(), SIM_DECODER_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, SIM_DECODER_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    ~SimDecoderProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::filesystem::remove(output_);
    }

    std::string Output() const {
        std::ostringstream text;
        text << std::ifstream(output_).rdbuf();
        return text.str();
    }

    // Waits until the output matches pattern, at most ten seconds; the first group, or empty.
    std::string AwaitOutput(const std::regex& pattern) const {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        std::smatch match;
        for (std::string text = Output(); std::chrono::steady_clock::now() < deadline;
             text = Output()) {
            if (std::regex_search(text, match, pattern)) {
                return match.size() > 1 ? match[1].str() : match[0].str();
            }
            std::this_thread::sleep_for(10ms);
        }
        return {};
    }

    // Sends signal (when not 0) and waits for the exit status, at most ten seconds.
    int Finish(int signal) {
        if (signal != 0) {
            kill(pid_, signal);
        }
        int status = 0;
        for (int i = 0; i < 1000 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bool Started() const { return pid_ > 0; }

  private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
};

TEST(SimDecoderProgramTest, PlaysTheDefaultDialogueUntilTerminated) {
    SimDecoderProcess process({"--port", "0"});
    ASSERT_TRUE(process.Started());
    const std::string port = process.AwaitOutput(std::regex("listening on 127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_FALSE(port.empty()) << process.Output();

    PacketBuffer answer{};
    EXPECT_EQ(16, AnswerToAFirstPacket(static_cast<std::uint16_t>(std::stoi(port)), answer));
    EXPECT_EQ(0x02, answer[3]);

    EXPECT_NE("", process.AwaitOutput(std::regex("session 1: 26 bytes received, client closed")))
        << process.Output();
    EXPECT_EQ(0, process.Finish(SIGTERM));
}

TEST(SimDecoderProgramTest, EachConnectionEndsWithALineNamingItsDialogueAndTheFinalPacket) {
    const std::filesystem::path script = std::filesystem::temp_directory_path() /
                                         ("sim-decoder-" + std::to_string(getpid()) + ".dialogue");
    std::ofstream(script) << "dialogue a card is read\n"
                             "expect ??*26\n"
                             "send AA 05 11 A0 00 5E*1296\n"
                             "dialogue a card the server cannot read\n"
                             "expect ??*26\n"
                             "send AA 00 0D A0 01 00*12\n"
                             "dialogue no final packet\n"
                             "expect ??*26\n"
                             "send AA 00 0D A0 01 00*11\n";
    const std::filesystem::path record = std::filesystem::temp_directory_path() /
                                         ("sim-decoder-" + std::to_string(getpid()) + ".record");
    SimDecoderProcess process(
        {"--port", "0", "--script", script.string(), "--record", record.string()});
    ASSERT_TRUE(process.Started());
    const std::string port = process.AwaitOutput(std::regex("listening on 127\\.0\\.0\\.1:(\\d+)"));
    ASSERT_FALSE(port.empty()) << process.Output();
    const char* lines[] = {
        "sim-decoder: session 1, dialogue 1 of 3 \"a card is read\": 26 bytes received, client "
        "closed; sent the final packet: card read \\(1301 bytes\\)\n",
        "sim-decoder: session 2, dialogue 2 of 3 \"a card the server cannot read\": 26 bytes "
        "received, client closed; sent the final packet: card not read \\(17 bytes\\)\n",
        "sim-decoder: session 3, dialogue 3 of 3 \"no final packet\": 26 bytes received, client "
        "closed\n",
    };
    for (const char* line : lines) {
        PacketBuffer answer{};
        EXPECT_GT(AnswerToAFirstPacket(static_cast<std::uint16_t>(std::stoi(port)), answer), 0);
        EXPECT_NE("", process.AwaitOutput(std::regex(line))) << process.Output();
    }
    EXPECT_EQ(0, process.Finish(SIGINT));
    std::filesystem::remove(script);

    // Each connection's bytes: the first packet of first_packet_client.h.
    std::ostringstream recorded;
    recorded << std::ifstream(record).rdbuf();
    std::string firstPacket = "AA 00 16 01";
    for (int zero = 0; zero < 22; ++zero) {
        firstPacket += " 00";
    }
    std::string expected;
    for (int session = 1; session <= 3; ++session) {
        expected += "session " + std::to_string(session) + ": " + firstPacket + "\n";
    }
    EXPECT_EQ(expected, recorded.str());
    std::filesystem::remove(record);
}

TEST(SimDecoderProgramTest, BadArgumentsAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        const char* reason;
    } cases[] = {
        {{"--port", "70000"}, 2, "the port must be a number from 0 to 65535"},
        {{"--port"}, 2, "missing value after --port"},
        {{"--verbose"}, 2, "unknown argument --verbose"},
        {{"--script", "/nonexistent/dialogue"}, 1, "cannot read /nonexistent/dialogue"},
    };
    for (const Case& c : cases) {
        SimDecoderProcess process(c.arguments);
        ASSERT_TRUE(process.Started());
        EXPECT_EQ(c.exitCode, process.Finish(0)) << c.reason;
        EXPECT_NE(std::string::npos, process.Output().find(c.reason)) << process.Output();
    }
}

}  // namespace
