// ReadOstrel as a program that links the relay library sees it: libostrel.so loaded at run time,
// its export found by name, with the box stand-in as its libusb and the configuration-endpoint and
// decoding-server stand-ins on 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "sim/configserver/config_server.h"
#include "sim/decoder/decoder_server.h"
#include "tests/relay/http/http_test_support.h"
#include "tests/sim/box_fixture.h"
#include "tests/sim/decoder_scripts.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kFirstPacket = "AA 00 16 01 05 43 41 52 44 2D 30 30 30 31 00*11 7E";
constexpr std::uint16_t kDefaultServerPort = 9977;

// The relay library, loaded for the life of the object; a fresh load starts with nothing loaded.
class OstrelLibrary {
  public:
    OstrelLibrary()
        : library_(platform::DynamicLibrary::Load(u"" OSTREL_LIBRARY)
                       .value_or(platform::DynamicLibrary())) {
        EXPECT_TRUE(library_.IsLoaded()) << OSTREL_LIBRARY;
        readOstrel_ = library_.Bind<int (*)()>("ReadOstrel");
        EXPECT_NE(nullptr, readOstrel_);
    }

    struct Call {
        int result;
        std::string printed;  // what the call wrote to standard output
    };

    Call ReadOstrel() {
        testing::internal::CaptureStdout();
        const int result = readOstrel_ != nullptr ? readOstrel_() : -1000;
        return {result, testing::internal::GetCapturedStdout()};
    }

  private:
    platform::DynamicLibrary library_;
    int (*readOstrel_)() = nullptr;
};

std::string ConfigLine(int result) {
    return "==================<<" + std::to_string(result) + "\n";
}

// A decoding server that takes the box's first packet and hangs up.
decoder::DecoderScript HangsUpAfterTheFirstPacket() {
    return DecoderScriptFrom("expect ??*26\nclose\n");
}

// The configuration endpoint on a free port, named to the library through the environment, and a
// box that starts a dialogue at once.
class ReadOstrelTest : public BoxStandInFixture {
  protected:
    void SetUp() override {
        BoxStandInFixture::SetUp();
        http_test::ClearSystemProxy();
        endpoint_ = std::make_unique<sim::ConfigServer>();
        setenv("OSTREL_CONFIG_HOST", ("127.0.0.1:" + std::to_string(endpoint_->Port())).c_str(), 1);
        setenv("OSTREL_DEFAULT_SERVER", "127.0.0.1", 1);
        UseScenario(std::string("bus\ndevice 0400:C355\nidle 1\ndeliver ") + kFirstPacket + "\n");
    }

    void TearDown() override {
        unsetenv("OSTREL_CONFIG_HOST");
        unsetenv("OSTREL_DEFAULT_SERVER");
        BoxStandInFixture::TearDown();
    }

    void Answer(const std::string& body, const std::string& contentType = "application/json",
                int status = 200) {
        sim::ConfigAnswer answer;
        answer.status = status;
        answer.reason = status == 200 ? "OK" : "Not Found";
        answer.contentType = contentType;
        answer.body = body;
        endpoint_->SetAnswer(answer);
    }

    int Count(const std::string& prefix) const {
        int count = 0;
        for (const std::string& line : Calls()) {
            count += line.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<sim::ConfigServer> endpoint_;
};

std::string Entry(const std::string& host, int port, int isUsing, int type, bool status = true) {
    return "{\"serverUrl\":\"" + host + "\",\"serverPort\":" + std::to_string(port) +
           ",\"isUsing\":" + std::to_string(isUsing) + ",\"type\":" + std::to_string(type) +
           (status ? ",\"status\":1}" : "}");
}

std::string Data(const std::string& entries) {
    return "{\"code\":0,\"data\":[" + entries + "]}";
}

TEST_F(ReadOstrelTest, TheConfigurationRequestGoesOutExactlyAndOnlyOnTheFirstCall) {
    UseScenario("bus\n");  // no box: each call returns at once
    OstrelLibrary ostrel;

    const auto start = Clock::now();
    const OstrelLibrary::Call first = ostrel.ReadOstrel();
    EXPECT_EQ(-1, first.result);
    EXPECT_LT(Clock::now() - start, 5s);  // no wait for a first packet without a box
    EXPECT_EQ(ConfigLine(0), first.printed);

    const OstrelLibrary::Call second = ostrel.ReadOstrel();
    EXPECT_EQ(-1, second.result);
    EXPECT_EQ("", second.printed);

    ASSERT_TRUE(endpoint_->WaitForRequests(1, 10s));
    ASSERT_EQ(1u, endpoint_->Requests().size());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(endpoint_->Port()) + "\r\n";
    EXPECT_EQ(http_test::ConfigurationRequest(host), endpoint_->Requests()[0]);
}

TEST_F(ReadOstrelTest, TheConfigurationAnswerPicksTheServerOrTheDefaultOne) {
    decoder::DecoderServer configured(HangsUpAfterTheFirstPacket());
    decoder::DecoderServer byDefault(HangsUpAfterTheFirstPacket(), kDefaultServerPort);
    ASSERT_TRUE(configured.Ready()) << configured.Error();
    ASSERT_TRUE(byDefault.Ready()) << "port 9977: " << byDefault.Error();
    const int port = configured.Port();
    const std::string usable = Entry("127.0.0.1", port, 1, 4);
    std::string unreachableHost;
    {
        const sim::ConfigServer gone;
        unreachableHost = "127.0.0.1:" + std::to_string(gone.Port());
    }
    struct Case {
        const char* name;
        std::string body;
        std::string contentType;
        int status;
        std::string configHost;  // empty: the endpoint
        int result;
        bool configuredServerUsed;
    } cases[] = {
        {"a usable entry", Data(usable), "application/json", 200, "", 0, true},
        {"not in use before in use",
         Data(Entry("127.0.0.1", kDefaultServerPort, 0, 4) + "," + usable + "," +
              Entry("127.0.0.1", kDefaultServerPort, 1, 4)),
         "application/json", 200, "", 0, true},
        {"without status", Data(Entry("127.0.0.1", port, 1, 4, false)), "application/json", 200, "",
         -11, false},
        {"type 3", Data(Entry("127.0.0.1", port, 1, 3)), "application/json", 200, "", -11, false},
        {"data an object", "{\"data\":" + usable + "}", "application/json", 200, "", -11, false},
        {"an array at the top", "[" + usable + "]", "application/json", 200, "", -11, false},
        {"image/png", Data(usable), "image/png", 200, "", -11, false},
        {"no Content-Type", Data(usable), "", 200, "", -11, false},
        {"Application/JSON", Data(usable), "Application/JSON", 200, "", 0, true},
        {"text/plain", Data(usable), "text/plain", 200, "", 0, true},
        {"404 with a text that is not JSON", "<html>Not Found</html>", "text/html", 404, "", -11,
         false},
        {"the endpoint cannot be reached", Data(usable), "application/json", 200, unreachableHost,
         0, false},
        {"a document longer than one read",
         "{\"code\":0,\"padding\":\"" + std::string(25000, 'x') + "\",\"data\":[" + usable + "]}",
         "application/json", 200, "", 0, true},
        {"a body over a mebibyte", Data(usable) + std::string(1024 * 1024, ' '), "application/json",
         200, "", -11, false},
    };
    std::size_t configuredSessions = 0;
    std::size_t defaultSessions = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answer(c.body, c.contentType, c.status);
        if (!c.configHost.empty()) {
            setenv("OSTREL_CONFIG_HOST", c.configHost.c_str(), 1);
        }
        {
            OstrelLibrary ostrel;
            const OstrelLibrary::Call call = ostrel.ReadOstrel();
            EXPECT_EQ(ConfigLine(c.result), call.printed);
            EXPECT_TRUE(call.result == -3 || call.result == -6) << call.result;
        }
        setenv("OSTREL_CONFIG_HOST", ("127.0.0.1:" + std::to_string(endpoint_->Port())).c_str(), 1);
        (c.configuredServerUsed ? configuredSessions : defaultSessions) += 1;
        ASSERT_TRUE(configured.WaitForEndedSessions(configuredSessions, 10s));
        ASSERT_TRUE(byDefault.WaitForEndedSessions(defaultSessions, 10s));
        EXPECT_EQ(configuredSessions, configured.Sessions().size());
        EXPECT_EQ(defaultSessions, byDefault.Sessions().size());
    }
}

TEST_F(ReadOstrelTest, AfterFiveUnreachableServersInARowEachCallLoadsTheConfigurationAgain) {
    decoder::DecoderServer refusing(DecoderScriptFrom("refuse\n"));
    decoder::DecoderServer byDefault(HangsUpAfterTheFirstPacket(), kDefaultServerPort);
    ASSERT_TRUE(refusing.Ready()) << refusing.Error();
    ASSERT_TRUE(byDefault.Ready()) << "port 9977: " << byDefault.Error();
    Answer(Data(Entry("127.0.0.1", refusing.Port(), 1, 4)));
    OstrelLibrary ostrel;

    // The first call loads; the fifth failure in a row makes the sixth call load again, and so on.
    const std::vector<bool> loads = {true, false, false, false, false, true, true};
    for (std::size_t call = 0; call < loads.size(); ++call) {
        SCOPED_TRACE(call + 1);
        const OstrelLibrary::Call result = ostrel.ReadOstrel();
        EXPECT_EQ(-2, result.result);
        EXPECT_EQ(loads[call] ? ConfigLine(0) : "", result.printed);
    }
    EXPECT_EQ(3u, endpoint_->Requests().size());

    // A load that finds nothing does not keep the earlier server: the default one answers, and
    // the count of failures starts again.
    Answer("{\"data\":[]}");
    const OstrelLibrary::Call reloaded = ostrel.ReadOstrel();
    EXPECT_EQ(ConfigLine(-11), reloaded.printed);
    EXPECT_TRUE(reloaded.result == -3 || reloaded.result == -6) << reloaded.result;
    ASSERT_TRUE(byDefault.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("", ostrel.ReadOstrel().printed);
    EXPECT_EQ(4u, endpoint_->Requests().size());
}

TEST_F(ReadOstrelTest, TheDefaultBoxAndServerReadACardThroughTheLibrary) {
    decoder::DecoderServer server(decoder::DecoderScript::Default());
    ASSERT_TRUE(server.Ready()) << server.Error();
    Answer(Data(Entry("127.0.0.1", server.Port(), 1, 4)));
    unsetenv("USBBOX_SIM_SCENARIO");  // the box stand-in's own card dialogue
    OstrelLibrary ostrel;

    const OstrelLibrary::Call call = ostrel.ReadOstrel();
    EXPECT_EQ(0, call.result);
    EXPECT_EQ(ConfigLine(0), call.printed);
    ASSERT_TRUE(server.WaitForEndedSessions(1, 10s));
    EXPECT_EQ("client closed", server.Sessions()[0].outcome);
    EXPECT_EQ("usb_close 001/001 -> 0", Calls().back());
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

bool LibraryMapped() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("libostrel.so") != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(ReadOstrelTest, LoadingAndUnloadingTheLibraryAgainAndAgainLeavesNothingOpen) {
    decoder::DecoderServer server(HangsUpAfterTheFirstPacket());
    ASSERT_TRUE(server.Ready()) << server.Error();
    Answer(Data(Entry("127.0.0.1", server.Port(), 1, 4)));
    { OstrelLibrary warmUp; }  // the first load brings the libraries it needs for good
    const std::size_t descriptors = OpenDescriptors();

    constexpr int kLoads = 10;
    for (int load = 0; load < kLoads; ++load) {
        OstrelLibrary ostrel;
        EXPECT_EQ(ConfigLine(0), ostrel.ReadOstrel().printed);
    }
    EXPECT_FALSE(LibraryMapped());
    ASSERT_TRUE(server.WaitForEndedSessions(kLoads, 10s));
    EXPECT_EQ(descriptors, OpenDescriptors());
    EXPECT_EQ(kLoads, Count("usb_open "));
    EXPECT_EQ(kLoads, Count("usb_close "));
}

}  // namespace
