// The settings file beside the program, as the real zembra reads it when it starts.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/notify_socket.h"
#include "tests/webservice/host/zembra_fixture.h"
#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"

namespace {

namespace fs = std::filesystem;

const std::string kStatus = ChunkedAnswer(OperationBody(-99, "读卡器异常"));

// A copy of the program in a directory of the test's own, where its settings file goes.
class ZembraSettingsTest : public ZembraFixture {
  protected:
    ZembraSettingsTest() {
        fs::create_directories(Directory());
        fs::copy_file(Program(), Copy());
    }

    fs::path Directory() const { return scratch_.Path() / "program"; }
    fs::path Copy() const { return Directory() / "zembra"; }
    fs::path SettingsFile() const { return Directory() / "zembra.conf"; }

    void WriteSettings(const std::string& text) const {
        std::ofstream(SettingsFile(), std::ios::binary) << text;
    }

    std::unique_ptr<HostProcess> StartCopy(const HostProcess::Environment& environment) {
        return Start({}, environment, Copy());
    }

    std::string Refusal(const std::string& where) const {
        return "Zembra does not start: the settings file " + SettingsFile().string() + where;
    }
};

TEST_F(ZembraSettingsTest, AMistakeInTheFileStopsThePlainProcessAndNamesTheLine) {
    ASSERT_EQ(Start({"-RegServer"}, Environment(), Copy())->WaitForExit(), 0);
    struct Case {
        std::string text;
        std::string where;
    };
    const Case cases[] = {
        {"# lock it down\nlisten = 127.0.0.1\nallowed_orgins = https://a.example\n",
         ", line 3: unknown setting \"allowed_orgins\" (known: listen, allowed_origins, "
         "allowed_hosts, idle_timeout, max_connections)"},
        {"allowed_origins = https://a.example/page\n",
         ", line 1: allowed_origins: \"https://a.example/page\" is not an origin such as "
         "https://intranet.example or http://10.0.0.5:8080 (scheme, host, port, no path)"},
        {"listen = localhost\n",
         ", line 1: listen takes one IPv4 address, such as 127.0.0.1, not \"localhost\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        WriteSettings(c.text);
        auto zembra = StartCopy(Environment());
        EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
        const std::string errors = zembra->Errors();
        EXPECT_EQ(errors, std::string(kServiceName) + ": " + Refusal(c.where) + "\n");
        EXPECT_EQ(zembra->Output(), "");
        EXPECT_TRUE(NothingListens(kPort));
        ExpectLogged(*zembra, {Refusal(c.where)});
    }
}

TEST_F(ZembraSettingsTest, AFileThatCannotBeReadStopsTheStartToo) {
    ASSERT_EQ(Start({"-RegServer"}, Environment(), Copy())->WaitForExit(), 0);
    fs::create_directory(SettingsFile());
    auto zembra = StartCopy(Environment());
    EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
    EXPECT_NE(zembra->Errors().find(Refusal(": cannot be read")), std::string::npos)
        << zembra->Errors();
    EXPECT_TRUE(NothingListens(kPort));
}

TEST_F(ZembraSettingsTest, AServiceWithAMistakeReportsStoppedWithoutEverRunning) {
    ASSERT_EQ(Start({"-Service"}, Environment(), Copy())->WaitForExit(), 0);
    WriteSettings("idle_timeout = soon\n");
    NotifySocket notify(scratch_.Path() / "notify");
    auto zembra = StartCopy(Environment(notify.Path().string()));
    EXPECT_EQ(notify.Receive(), "STATUS=Start pending");
    EXPECT_EQ(notify.Receive(), "STATUS=Stopped");
    EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
    EXPECT_EQ(zembra->Output(), "");
    const std::string where =
        ", line 1: idle_timeout takes a whole number of seconds from 1 to "
        "86400, not \"soon\"";
    EXPECT_EQ(zembra->Errors(), std::string(kServiceName) + ": " + Refusal(where) + "\n");
    EXPECT_TRUE(NothingListens(kPort));
    ExpectLogged(*zembra, {Refusal(where), "Service stopped"});
}

TEST_F(ZembraSettingsTest, ALockedDownFileTakesEffect) {
    ASSERT_EQ(Start({"-RegServer"}, Environment(), Copy())->WaitForExit(), 0);
    WriteSettings(
        "listen = 127.0.0.1\n"
        "allowed_origins = https://intranet.example\n"
        "allowed_hosts = cardreader.intranet.example\n"
        "idle_timeout = 2\n"
        "max_connections = 50\n");
    auto zembra = StartCopy(Environment());
    ASSERT_TRUE(Serving(*zembra));

    const auto request = [](const std::string& fields) {
        return "GET /getdevicestatus HTTP/1.1\r\n" + fields + "\r\n";
    };
    EXPECT_EQ(Exchange(kPort, request("Host: localhost\r\n")), kStatus);
    EXPECT_EQ(Exchange(kPort, request("Host: cardreader.intranet.example:19196\r\n"
                                      "Origin: https://intranet.example\r\n")),
              ChunkedAnswer(OperationBody(-99, "读卡器异常"), "https://intranet.example"));
    EXPECT_EQ(Exchange(kPort, request("Host: localhost\r\nOrigin: https://evil.example\r\n")),
              kRefusal);
    EXPECT_EQ(Exchange(kPort, request("Host: evil.example\r\n")), kRefusal);
    RawClient idle("127.0.0.1", kPort);
    EXPECT_TRUE(idle.StaysSilent(std::chrono::milliseconds(100)));
    EXPECT_EQ(idle.ReceiveUntilClosed(), "");
    EXPECT_TRUE(idle.PeerClosed());

    zembra->Signal(SIGTERM);
    EXPECT_EQ(zembra->WaitForExit(), 0);
    EXPECT_EQ(zembra->Errors(), "");
}

TEST_F(ZembraSettingsTest, TheShippedExampleChangesNothing) {
    ASSERT_EQ(Start({"-RegServer"}, Environment(), Copy())->WaitForExit(), 0);
    fs::copy_file(ZEMBRA_SETTINGS_EXAMPLE, SettingsFile());
    auto zembra = StartCopy(Environment());
    ASSERT_TRUE(Serving(*zembra));
    EXPECT_EQ(Exchange(kPort,
                       "GET /getdevicestatus HTTP/1.1\r\nHost: localhost\r\n"
                       "Origin: https://any.example\r\n\r\n"),
              kStatus);
    zembra->Signal(SIGTERM);
    EXPECT_EQ(zembra->WaitForExit(), 0);
}

}  // namespace
