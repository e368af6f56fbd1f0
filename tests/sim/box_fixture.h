#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "relay/usb/usb_box.h"

// Points the box stand-in at a scenario and a call log of the test's own, in a fresh folder.
// For tests of a program or library that has the box stand-in as its libusb.
class BoxStandInFixture : public ::testing::Test {
  protected:
    // The stand-in reads its settings from the environment as the platform sees it.
    static void SetSetting(std::u16string_view name, const std::optional<std::string>& value) {
        platform::SetEnvironmentValue(
            name, value ? std::optional(std::filesystem::path(*value).u16string()) : std::nullopt);
    }

    // A death test's child on Windows runs the test again from its start, in a process of its
    // own: it takes the folder of the test that started it from the environment, so that both
    // see the same call log.
    void SetUp() override {
        static std::atomic<int> counter{0};
        const std::optional<std::u16string> inherited = platform::EnvironmentValue(kFolderVariable);
        folder_ = inherited ? std::filesystem::path(*inherited)
                            : std::filesystem::temp_directory_path() /
                                  ("usbbox-test-" + std::to_string(::getpid()) + "-" +
                                   std::to_string(++counter));
        std::filesystem::create_directories(folder_);
        SetSetting(kFolderVariable, folder_.string());
        SetSetting(u"USBBOX_SIM_LOG", LogPath());
        SetSetting(u"USBBOX_SIM_SCENARIO", std::nullopt);
    }

    void TearDown() override {
        SetSetting(kFolderVariable, std::nullopt);
        SetSetting(u"USBBOX_SIM_LOG", std::nullopt);
        SetSetting(u"USBBOX_SIM_SCENARIO", std::nullopt);
        std::filesystem::remove_all(folder_);
    }

    void UseScenario(const std::string& text) {
        const std::string path = (folder_ / "box.scenario").string();
        std::ofstream(path, std::ios::binary) << text;
        SetSetting(u"USBBOX_SIM_SCENARIO", path);
    }

    // The calls the stand-in has recorded since the last ForgetCalls, one line each.
    std::vector<std::string> Calls() const {
        std::vector<std::string> lines;
        std::ifstream log(LogPath());
        for (std::string line; std::getline(log, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void ForgetCalls() { std::filesystem::remove(LogPath()); }

    std::string LogPath() const { return (folder_ / "calls.log").string(); }

  private:
    static constexpr std::u16string_view kFolderVariable = u"USBBOX_TEST_FOLDER";
    std::filesystem::path folder_;
};

// The same for tests of the box transport itself, on a box of the test's own that is closed
// after each test.
class BoxFixture : public BoxStandInFixture {
  protected:
    void TearDown() override {
        box_.DisConnectUsb();
        BoxStandInFixture::TearDown();
    }

    UsbBox box_;
};
