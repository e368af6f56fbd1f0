#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/webservice/host/zembra_fixture.h"
#include "tests/webservice/web/raw_client.h"

namespace {

namespace fs = std::filesystem;

// The answer's body, without the chunk framing of its single chunk.
std::string Request(const std::string& path) {
    RawClient client("127.0.0.1", 19196);
    if (!client.IsConnected() || !client.Send("GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n")) {
        return "(no connection)";
    }
    return client.ReceiveUntil("\r\n0\r\n\r\n");
}

using ZembraInstallTest = ZembraFixture;

TEST_F(ZembraInstallTest, TheInstalledProgramRunsThroughItsLinkWithEverythingBesideIt) {
    const fs::path prefix = scratch_.Path() / "prefix";
    auto install = HostProcess::Run(
        CMAKE_COMMAND,
        {"--install", BUILD_DIRECTORY, "--prefix", prefix.string(), "--component", "zembra"}, {},
        scratch_.Path());
    ASSERT_EQ(install, 0) << ReadWholeFile(scratch_.Path() / "stderr.txt");
    const fs::path directory = prefix / "lib" / "zembra";
    for (const char* name : {"zembra", "libTrovik.so", "readcard.html", "trovik-sim.conf"}) {
        EXPECT_TRUE(fs::is_regular_file(directory / name)) << name;
    }
    const fs::path link = prefix / "bin" / "zembra";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("../lib/zembra/zembra"));

    ASSERT_EQ(HostProcess::Run(link, {"-RegServer"}, Environment(), scratch_.Path()), 0);
    HostProcess zembra(link, {}, Environment(), scratch_.Path());
    ASSERT_TRUE(WaitUntilListening(kPort));
    const std::string page = ReadWholeFile(directory / "readcard.html");
    EXPECT_NE(Request("/mainpage").find(page.substr(0, 200)), std::string::npos);
    // The simulated reader answers on its sample port: the SDK beside the program was loaded.
    EXPECT_NE(Request("/opendevice").find("\"resultFlag\" : 0\n}"), std::string::npos);
    zembra.Signal(SIGTERM);
    EXPECT_EQ(zembra.WaitForExit(), 0);
}

}  // namespace
