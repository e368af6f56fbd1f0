// Halvane's service, worker and control handler with the service manager played in-process and a
// relay whose calls the test holds open, so that a control can arrive in the middle of a call.
#include "relayservice/relay_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "relay/ostrel.h"
#include "tests/relayservice/service_manager_stand_in.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace stand_in = service_manager_stand_in;

// The relay in the place of Ostrel: each call waits while the test holds it.
struct HeldRelay {
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    bool held = true;
    Clock::time_point lastReturn;

    int Call() {
        std::unique_lock<std::mutex> lock(mutex);
        ++calls;
        changed.notify_all();
        changed.wait(lock, [this] { return !held; });
        lastReturn = Clock::now();
        return -1;
    }

    bool WaitForCalls(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 30s, [&] { return calls >= count; });
    }

    void Release() {
        const std::lock_guard<std::mutex> lock(mutex);
        held = false;
        changed.notify_all();
    }
};

HeldRelay relay;

}  // namespace

extern "C" int ReadOstrel(void) {
    return relay.Call();
}

namespace {

// The service's dispatcher, run as the program's main thread would run it. When the object goes
// it lets the relay's calls return and stops the service, so that a failed check leaves no thread
// behind.
class RunningService {
  public:
    RunningService() : dispatcher_([this] { service_.Run(); }) {}
    ~RunningService() {
        relay.Release();
        stand_in::SendControl(platform::service_control::Stop);
        dispatcher_.join();
    }
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

  private:
    RelayService service_;
    std::thread dispatcher_;
};

// A shutdown is taken as a stop: the handler waits for the call in progress and the pause after
// it, then makes the service's last report, stopped, and no call follows.
TEST(RelayServiceTest, AStopOrAShutdownInTheMiddleOfACallWaitsForItAndItsPause) {
    for (const uint32_t control :
         {platform::service_control::Stop, platform::service_control::Shutdown}) {
        SCOPED_TRACE(control);
        stand_in::Reset();
        {
            const std::lock_guard<std::mutex> lock(relay.mutex);
            relay.calls = 0;
            relay.held = true;
        }
        const RunningService service;

        const auto running = stand_in::NextReport(30s);
        ASSERT_TRUE(running);
        EXPECT_EQ(platform::service_state::Running, running->status.currentState);
        EXPECT_EQ(5u, running->status.controlsAccepted);
        EXPECT_EQ(0x30u, running->status.serviceType);
        EXPECT_EQ(9000u, running->status.waitHint);
        EXPECT_FALSE(running->final);
        ASSERT_TRUE(relay.WaitForCalls(1));

        stand_in::SendControl(control);
        // Nothing is reported while the call goes on.
        EXPECT_FALSE(stand_in::NextReport(500ms));
        relay.Release();

        const auto stopped = stand_in::NextReport(30s);
        ASSERT_TRUE(stopped);
        EXPECT_EQ(platform::service_state::Stopped, stopped->status.currentState);
        EXPECT_EQ(0u, stopped->status.waitHint);
        EXPECT_EQ(0u, stopped->status.win32ExitCode);
        EXPECT_TRUE(stopped->final);
        EXPECT_GE(stopped->when - relay.lastReturn, 300ms);
        EXPECT_EQ(1, relay.calls);
    }
}

}  // namespace
