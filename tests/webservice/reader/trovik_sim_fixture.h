#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/code_page.h"

// A test that runs against the simulated SDK with settings and a call log of its own, in a
// temporary directory that goes with the test.
class TrovikSimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "trovik-sim-XXXXXX");
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        WriteSettings("");
        setenv("TROVIK_SIM_CONFIG", SettingsPath().c_str(), 1);
        setenv("TROVIK_SIM_LOG", LogPath().c_str(), 1);
    }

    void TearDown() override {
        unsetenv("TROVIK_SIM_CONFIG");
        unsetenv("TROVIK_SIM_LOG");
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    // Settings on top of the built-in sample card, one "key = value" per line.
    void WriteSettings(const std::string& text) { std::ofstream(SettingsPath()) << text; }

    // The library of a variant of the simulated SDK: full, no-base64, no-passcheck, ...
    static std::u16string Variant(const std::string& name) {
        return platform::codepage::Utf8ToUtf16(std::string(TROVIK_SIM_DIR) + "/" + name +
                                               "/libTrovik.so");
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

    std::string SettingsPath() const { return (directory_ / "trovik-sim.conf").string(); }
    std::string LogPath() const { return (directory_ / "calls.log").string(); }

  private:
    std::filesystem::path directory_;
};
