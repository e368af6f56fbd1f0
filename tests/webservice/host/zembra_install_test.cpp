#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/webservice/host/zembra_fixture.h"
#include "tests/webservice/support/expected_answer.h"
#include "tests/webservice/support/raw_client.h"

namespace {

namespace fs = std::filesystem;

std::string Request(const std::string& path) {
    return Exchange(ZembraFixture::kPort, GetRequest(path));
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
    for (const char* name :
         {"zembra", "libTrovik.so", "readcard.html", "trovik-sim.conf", "zembra.conf.example"}) {
        EXPECT_TRUE(fs::is_regular_file(directory / name)) << name;
    }
    const fs::path link = prefix / "bin" / "zembra";
    ASSERT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::read_symlink(link), fs::path("../lib/zembra/zembra"));

    ASSERT_EQ(HostProcess::Run(link, {"-RegServer"}, Environment(), scratch_.Path()), 0);
    HostProcess zembra(link, {}, Environment(), scratch_.Path());
    ASSERT_TRUE(Serving(zembra));
    const std::string page = ReadWholeFile(directory / "readcard.html");
    EXPECT_NE(Request("/mainpage").find(page.substr(0, 200)), std::string::npos);
    // The simulated reader answers on its sample port: the SDK beside the program was loaded.
    EXPECT_NE(Request("/opendevice").find("\"resultFlag\" : 0\n}"), std::string::npos);
    zembra.Signal(SIGTERM);
    EXPECT_EQ(zembra.WaitForExit(), 0);
}

}  // namespace
