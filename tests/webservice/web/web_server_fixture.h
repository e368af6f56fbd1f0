#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/webservice/reader/trovik_sim_fixture.h"
#include "tests/webservice/support/raw_client.h"
#include "webservice/reader/card_reader.h"
#include "webservice/web/server_settings.h"
#include "webservice/web/web_server.h"

// A web server on an ephemeral port, run by StartWebServer on a thread of its own, answering
// from the simulated SDK with the sample card (photo left out to keep answers short).
class WebServerTest : public TrovikSimTest {
  protected:
    static constexpr auto kGenerous = std::chrono::seconds(20);

    void SetUp() override {
        TrovikSimTest::SetUp();
        WriteSettings("card.photo = no\n");
        ASSERT_EQ(TheCardReader().LoadSdkFrom(Variant("full")), 1);
        TheCardReader().Close();
        StartServer();
    }

    void TearDown() override {
        StopServer();
        TrovikSimTest::TearDown();
    }

    void StartServer(const ServerSettings& settings = ServerSettings()) {
        std::packaged_task<bool()> serve([settings] { return StartWebServer("0", settings); });
        served_ = serve.get_future();
        server_ = std::thread(std::move(serve));
        const auto deadline = std::chrono::steady_clock::now() + kGenerous;
        while (WebServerPort() == 0 && std::chrono::steady_clock::now() < deadline &&
               served_.wait_for(std::chrono::milliseconds(5)) == std::future_status::timeout) {
        }
        port_ = WebServerPort();
        ASSERT_NE(port_, 0);
    }

    // The server again, with other settings.
    void RestartServer(const ServerSettings& settings) {
        ASSERT_TRUE(StopServer());
        StartServer(settings);
    }

    // Stops the server and tells whether StartWebServer came back with true in good time.
    bool StopServer() {
        if (!server_.joinable()) {
            return false;
        }
        if (port_ != 0) {
            StopWebServer();
        }
        const bool returned = served_.wait_for(kGenerous) == std::future_status::ready;
        server_.join();
        port_ = 0;
        return returned && served_.get();
    }

    // Sends a request on a connection of its own and returns the whole answer.
    std::string Exchange(const std::string& request, const std::string& address = "127.0.0.1") {
        return ::Exchange(port_, request, address);
    }

    unsigned short port_ = 0;

  private:
    std::thread server_;
    std::future<bool> served_;
};
