// Load on the real zembra program, started from a scratch directory with the simulated reader:
//
//   route <path>  keep-alive clients ask for the route back to back for a while; reports answers
//                 per second, latency, errors (any answer that differs from the expected bytes,
//                 any connection that fails) and the program's resident memory over the run.
//   idle          many connections are opened and left silent while fresh clients are served,
//                 once with a cap that admits them all and once with the default cap.
//   hostile       200 clients each send a request body one byte short of the 1 MiB limit and
//                 hold it; then a chunk extension and a trailer section that never end, 96 MiB
//                 offered each; reports the program's resident memory, and whether all were
//                 answered or closed as they should be.
//
// Usage: zembra_load [--seconds N] [--connections N] [--idle N] [--only route|idle|hostile]
// The program serves on its fixed port 19196, which must be free. Every request goes to 127.0.0.1.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"
#include "tests/webservice/support/zembra_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned short kPort = ZembraProcess::kPort;
constexpr auto kWarmUp = 3s;
constexpr auto kAnswerWait = 10s;

struct Options {
    int seconds = 60;
    int connections = 100;
    int idle = 2000;
    std::string only;
};

// A memory figure of the process in KiB (VmRSS: resident now, VmHWM: the most it held), from
// the kernel's view of it.
long MemoryKib(pid_t pid, const char* field = "VmRSS:") {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
        }
    }
    return -1;
}

double Percentile(std::vector<double>& values, double share) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

bool StartZembra(ZembraProcess& zembra, const std::string& settings) {
    zembra.CopyFile(TROVIK_SIM_LIBRARY, "libTrovik.so");
    // The sample card with its photo, as the shipped settings have it.
    zembra.WriteFile("trovik-sim.conf", "card.photo = yes\n");
    if (!settings.empty()) {
        zembra.WriteFile("zembra.conf", settings);
    }
    std::string problem;
    if (!zembra.Start(problem)) {
        std::fprintf(stderr, "zembra_load: %s\n", problem.c_str());
        return false;
    }
    return true;
}

// Keep-alive clients on one route; false when the run saw an error.
bool RunRoute(const Options& options, const std::string& route) {
    ZembraProcess zembra;
    if (!StartZembra(zembra, "")) {
        return false;
    }
    const pid_t pid = zembra.Process()->Pid();
    if (Exchange(kPort, GetRequest("/opendevice")) != ChunkedAnswer(OperationBody(0, "打开成功"))) {
        std::fprintf(stderr, "zembra_load: the simulated reader did not open\n");
        return false;
    }
    // Every answer must be byte for byte the first one.
    const std::string request = GetRequest(route);
    const std::string expected = Exchange(kPort, request);
    if (expected.rfind(kAnswerHead, 0) != 0) {
        std::fprintf(stderr, "zembra_load: %s gave no answer\n", route.c_str());
        return false;
    }

    std::atomic<bool> measuring{false};
    std::atomic<bool> done{false};
    std::atomic<long> answers{0};
    std::atomic<long> errors{0};
    std::mutex latencyMutex;
    std::vector<double> latencies;  // milliseconds
    std::vector<std::thread> clients;
    for (int i = 0; i < options.connections; ++i) {
        clients.emplace_back([&] {
            std::vector<double> mine;
            auto client = std::make_unique<RawClient>("127.0.0.1", kPort);
            while (!done) {
                const auto start = Clock::now();
                const bool ok = client->IsConnected() && client->Send(request) &&
                                client->Receive(expected.size(), kAnswerWait) == expected;
                const auto took = std::chrono::duration<double, std::milli>(Clock::now() - start);
                if (!measuring) {
                    if (!ok) {
                        client = std::make_unique<RawClient>("127.0.0.1", kPort);
                    }
                    continue;
                }
                if (ok) {
                    ++answers;
                    mine.push_back(took.count());
                } else {
                    ++errors;
                    client = std::make_unique<RawClient>("127.0.0.1", kPort);
                }
            }
            const std::lock_guard<std::mutex> lock(latencyMutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
        });
    }
    std::this_thread::sleep_for(kWarmUp);
    const long rssStart = MemoryKib(pid);
    long rssHigh = rssStart;
    measuring = true;
    const auto start = Clock::now();
    std::vector<long> samples;
    while (Clock::now() - start < std::chrono::seconds(options.seconds)) {
        std::this_thread::sleep_for(1s);
        samples.push_back(MemoryKib(pid));
        rssHigh = std::max(rssHigh, samples.back());
    }
    measuring = false;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    for (auto& client : clients) {
        client.join();
    }
    const long rssEnd = MemoryKib(pid);
    const long rssMiddle = samples.empty() ? rssStart : samples[samples.size() / 2];
    std::printf(
        "%s, %d connections, %.0f s: %ld answers (%.0f/s), %ld errors; latency ms p50 %.2f, p99 "
        "%.2f, max %.2f; answer %zu bytes; resident KiB after warm-up %ld, half-way %ld, end %ld, "
        "highest %ld\n",
        route.c_str(), options.connections, elapsed, answers.load(),
        static_cast<double>(answers) / elapsed, errors.load(), Percentile(latencies, 0.5),
        Percentile(latencies, 0.99), Percentile(latencies, 1.0), expected.size(), rssStart,
        rssMiddle, rssEnd, rssHigh);
    std::fflush(stdout);
    return errors == 0 && answers > 0;
}

// Opens count silent connections, then serves fresh clients one after the other; false when a
// fresh client was not served.
bool RunIdle(const Options& options, const std::string& settings, const char* name) {
    ZembraProcess zembra;
    if (!StartZembra(zembra, settings)) {
        return false;
    }
    const pid_t pid = zembra.Process()->Pid();
    const long rssBefore = MemoryKib(pid);
    std::vector<std::unique_ptr<RawClient>> idle;
    int refused = 0;
    for (int i = 0; i < options.idle; ++i) {
        idle.push_back(std::make_unique<RawClient>("127.0.0.1", kPort));
        refused += idle.back()->IsConnected() ? 0 : 1;
    }
    const std::string expected = ChunkedAnswer(OperationBody(-99, "读卡器异常"));
    std::vector<double> latencies;
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        const auto start = Clock::now();
        const bool ok = Exchange(kPort, GetRequest("/getdevicestatus")) == expected;
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        failures += ok ? 0 : 1;
    }
    const long rssHeld = MemoryKib(pid);
    int stillOpen = 0;
    for (const auto& client : idle) {
        stillOpen += client->IsConnected() && client->StaysSilent(1ms) ? 1 : 0;
    }
    std::printf(
        "%s: %d idle connections (%d not connected), 200 fresh clients served one by one: %d "
        "failed; latency ms p50 %.2f, p99 %.2f, max %.2f; idle connections still open %d; "
        "resident KiB before %ld, holding them %ld\n",
        name, options.idle, refused, failures, Percentile(latencies, 0.5),
        Percentile(latencies, 0.99), Percentile(latencies, 1.0), stillOpen, rssBefore, rssHeld);
    std::fflush(stdout);
    return failures == 0;
}

// Holds bodies on many connections and floods two more; false when a held request went
// unanswered or a flood was not cut short.
bool RunHostile() {
    ZembraProcess zembra;
    if (!StartZembra(zembra, "")) {
        return false;
    }
    const pid_t pid = zembra.Process()->Pid();
    const long rssBefore = MemoryKib(pid);
    const std::string head = "POST /getdevicestatus HTTP/1.1\r\nContent-Length: 1048576\r\n\r\n";
    const std::string body(1024 * 1024 - 1, 'b');
    std::vector<std::unique_ptr<RawClient>> holders;
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        holders.push_back(std::make_unique<RawClient>("127.0.0.1", kPort));
        failures += holders.back()->Send(head + body) ? 0 : 1;
    }
    const long rssHolding = MemoryKib(pid);
    const std::string chunked = "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string filler(64 * 1024, 'f');
    constexpr std::size_t kFlood = 96 * 1024 * 1024;
    std::size_t floodSent[2] = {0, 0};
    int i = 0;
    for (const std::string& start : {chunked + "1;", chunked + "0\r\n"}) {
        RawClient flood("127.0.0.1", kPort);
        std::size_t& sent = floodSent[i++];
        while (sent < kFlood && flood.Send(sent == 0 ? start : filler)) {
            sent += sent == 0 ? start.size() : filler.size();
        }
        failures += sent < kFlood && flood.ReceiveUntilClosed().empty() ? 0 : 1;
    }
    const std::string expected = ChunkedAnswer(OperationBody(-99, "读卡器异常"));
    for (const auto& holder : holders) {
        failures += holder->Send("b") && holder->Receive(expected.size()) == expected ? 0 : 1;
    }
    failures += Exchange(kPort, GetRequest("/getdevicestatus")) == expected ? 0 : 1;
    std::printf(
        "hostile: 200 connections holding 1 MiB - 1 byte of body each, then floods of a chunk "
        "extension (cut after %zu bytes sent) and a trailer (cut after %zu bytes sent): %d "
        "failed; resident KiB before %ld, holding the bodies %ld, at the end %ld, highest %ld\n",
        floodSent[0], floodSent[1], failures, rssBefore, rssHolding, MemoryKib(pid),
        MemoryKib(pid, "VmHWM:"));
    std::fflush(stdout);
    return failures == 0;
}

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--seconds") {
            options.seconds = std::atoi(value);
        } else if (name == "--connections") {
            options.connections = std::atoi(value);
        } else if (name == "--idle") {
            options.idle = std::atoi(value);
        } else if (name == "--only") {
            options.only = value;
        } else {
            std::fprintf(stderr, "zembra_load: unknown option %s\n", name.c_str());
            std::exit(2);
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    // The idle runs hold thousands of connections on both ends; zembra inherits the limit.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    bool ok = true;
    if (options.only.empty() || options.only == "route") {
        ok = RunRoute(options, "/getdevicestatus") && ok;
        ok = RunRoute(options, "/readcard") && ok;
    }
    if (options.only.empty() || options.only == "idle") {
        ok = RunIdle(options, "max_connections = " + std::to_string(options.idle + 100) + "\n",
                     "cap above the idle ones") &&
             ok;
        ok = RunIdle(options, "", "default cap (500)") && ok;
    }
    if (options.only.empty() || options.only == "hostile") {
        ok = RunHostile() && ok;
    }
    return ok ? 0 : 1;
}
