#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/environment.h"
#include "platform/system_error.h"
#include "tests/support/scratch_directory.h"
#include "webservice/reader/trovik_sdk.h"

// A test that runs against the simulated SDK with settings and a call log of its own, in a
// temporary directory that goes with the test.
class TrovikSimTest : public ::testing::Test {
  protected:
    TrovikSimTest() : directory_("trovik-sim-") {}

    void SetUp() override {
        WriteSettings("");
        ASSERT_EQ(platform::error::kNone,
                  platform::SetEnvironmentValue(u"TROVIK_SIM_CONFIG", SettingsPath().u16string()));
        ASSERT_EQ(platform::error::kNone,
                  platform::SetEnvironmentValue(u"TROVIK_SIM_LOG", LogPath().u16string()));
    }

    void TearDown() override {
        platform::SetEnvironmentValue(u"TROVIK_SIM_CONFIG", std::nullopt);
        platform::SetEnvironmentValue(u"TROVIK_SIM_LOG", std::nullopt);
    }

    // Settings on top of the built-in sample card, one "key = value" per line.
    void WriteSettings(const std::string& text) {
        std::ofstream(SettingsPath(), std::ios::binary) << text;
    }

    // The library of a variant of the simulated SDK: full, no-base64, no-passcheck, ...
    static std::u16string Variant(const std::string& name) {
        return (std::filesystem::path(TROVIK_SIM_DIR) / name /
                platform::SharedLibraryFileName(trovik::kLibraryBaseName))
            .u16string();
    }

    // The SDK calls made since the last ForgetCalls, one per line, as the simulation logs them.
    std::vector<std::string> Calls() const {
        std::ifstream log(LogPath());
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void ForgetCalls() { std::ofstream(LogPath(), std::ios::trunc); }

    const std::filesystem::path& Directory() const { return directory_.Path(); }
    std::filesystem::path SettingsPath() const { return Directory() / "trovik-sim.conf"; }
    std::filesystem::path LogPath() const { return Directory() / "calls.log"; }

  private:
    ScratchDirectory directory_;
};
