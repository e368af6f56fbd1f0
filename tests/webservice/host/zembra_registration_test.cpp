#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/webservice/host/zembra_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string kHeader =
    "Registration store 1\n"
    "; Registrations of programs, one [key] per section; @ is a key's default value.\n";
const std::string kTrailer = "\nEnd of registration store\n";

std::string Store(const std::string& localService) {
    return kHeader + "\n[AppID\\{BC559BEB-5FE4-485F-B35A-5EFC07B07324}]\n@=\"Zembra\"\n" +
           localService +
           "\n[AppID\\Zembra.EXE]\n\"AppID\"=\"{BC559BEB-5FE4-485F-B35A-5EFC07B07324}\"\n" +
           kTrailer;
}

const std::string kPlainStore = Store("");
const std::string kServiceStore = Store("\"LocalService\"=\"Pelidor身份证读卡器服务\"\n");
const std::string kEmptyStore = kHeader + kTrailer;

using ZembraRegistrationTest = ZembraFixture;

TEST_F(ZembraRegistrationTest, AnUnregisteredProgramEndsAtOnceWithCodeTwo) {
    auto zembra = Start();
    EXPECT_EQ(zembra->WaitForExit(), 2);
    EXPECT_EQ(zembra->Output(), "");
    EXPECT_EQ(zembra->Errors(), "");
    EXPECT_TRUE(NothingListens(kPort));
}

TEST_F(ZembraRegistrationTest, ServerSwitchesWriteAndRemoveTheApplicationIdPerScope) {
    EXPECT_EQ(Switch("-RegServer"), 0);
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kPlainStore);
    EXPECT_FALSE(fs::exists(Registry() / "user.reg"));

    EXPECT_EQ(Switch("/regserverperuser"), 0);
    EXPECT_EQ(ReadWholeFile(Registry() / "user.reg"), kPlainStore);

    EXPECT_EQ(Switch("-UnregServerPerUser"), 0);
    EXPECT_EQ(ReadWholeFile(Registry() / "user.reg"), kEmptyStore);
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kPlainStore);

    EXPECT_EQ(Switch("-UNREGSERVER"), 0);
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kEmptyStore);

    auto again = Start({"-UnregServer"});
    EXPECT_EQ(again->WaitForExit(), 2);
    EXPECT_EQ(again->Errors(), std::string(kServiceName) + ": The program is not registered\n");
    EXPECT_FALSE(fs::exists(UnitFile()));
}

TEST_F(ZembraRegistrationTest, ServiceInstallsALockedDownUnitThatStartsAutomatically) {
    const std::string unit =
        "# 该服务用于创建身份证读卡器webservice，以便网页访问读卡内容\n"
        "[Unit]\n"
        "Description=Pelidor身份证读卡器服务\n"
        "After=network.target\n"
        "\n"
        "[Service]\n"
        "Type=notify\n"
        "ExecStart=\"" +
        Program().string() +
        "\"\n"
        "Restart=on-failure\n"
        "LimitNOFILE=16384\n"
        "Environment=\"ZEMBRA_REGISTRY_ROOT=" +
        fs::canonical(Registry().parent_path()).string() + "/registry\"\n" +
        // The service's own user, where the packages have made it; else root.
        (getpwnam("zembra") != nullptr ? "User=zembra\n" : "") +
        "NoNewPrivileges=yes\n"
        "CapabilityBoundingSet=\n"
        "AmbientCapabilities=\n"
        "ProtectSystem=strict\n"
        "ProtectHome=yes\n"
        "PrivateTmp=yes\n"
        "PrivateMounts=yes\n"
        "DevicePolicy=closed\n"
        "DeviceAllow=char-usb_device rw\n"
        "DeviceAllow=char-ttyS rw\n"
        "DeviceAllow=char-ttyUSB rw\n"
        "DeviceAllow=char-ttyACM rw\n"
        "ProtectKernelTunables=yes\n"
        "ProtectKernelModules=yes\n"
        "ProtectKernelLogs=yes\n"
        "ProtectControlGroups=yes\n"
        "ProtectClock=yes\n"
        "ProtectHostname=yes\n"
        "ProtectProc=invisible\n"
        "ProcSubset=pid\n"
        "RestrictAddressFamilies=AF_UNIX AF_INET\n"
        "RestrictNamespaces=yes\n"
        "RestrictRealtime=yes\n"
        "RestrictSUIDSGID=yes\n"
        "LockPersonality=yes\n"
        "MemoryDenyWriteExecute=yes\n"
        "RemoveIPC=yes\n"
        "SystemCallArchitectures=native\n"
        "SystemCallFilter=@system-service\n"
        "SystemCallFilter=~@privileged @resources\n"
        "UMask=0077\n"
        "\n"
        "[Install]\n"
        "WantedBy=multi-user.target\n";

    auto install = Start({"-Service"});
    EXPECT_EQ(install->WaitForExit(), 0);
    EXPECT_EQ(install->Errors(), "");
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kServiceStore);
    EXPECT_EQ(ReadWholeFile(UnitFile()), unit);
    ASSERT_TRUE(fs::is_symlink(WantsLink()));
    EXPECT_EQ(fs::read_symlink(WantsLink()), fs::canonical(UnitFile()));

    // Installing again removes the installed service first and ends with the same service; the
    // link leads to the unit also when the unit directory was given relative to the current one.
    fs::remove(WantsLink());
    auto relative = Environment();
    relative["ZEMBRA_UNIT_DIR"] = fs::relative(Units()).string();
    EXPECT_EQ(Start({"/service"}, relative)->WaitForExit(), 0);
    EXPECT_EQ(ReadWholeFile(UnitFile()), unit);
    EXPECT_TRUE(fs::is_symlink(WantsLink()));
    EXPECT_TRUE(fs::exists(WantsLink()) && fs::equivalent(WantsLink(), UnitFile()));

    // A plain registration removes the service and its record.
    EXPECT_EQ(Switch("-RegServer"), 0);
    EXPECT_FALSE(fs::exists(UnitFile()));
    EXPECT_FALSE(fs::is_symlink(WantsLink()));
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kPlainStore);
}

// The unit names the program as systemd reads it back; a path systemd would refuse to run fails
// the install instead of leaving a unit that never starts.
TEST_F(ZembraRegistrationTest, TheUnitNamesTheProgramWhereverItLies) {
    const fs::path plain = scratch_.Path() / "a b%$c";
    const fs::path refused = scratch_.Path() / "q\"b\\s";
    for (const fs::path& directory : {plain, refused}) {
        fs::create_directories(directory);
        fs::copy_file(Program(), directory / "zembra");
    }
    auto environment = Environment();
    environment["ZEMBRA_REGISTRY_ROOT"] = (scratch_.Path() / "reg\nistry").string();
    const std::string root = fs::canonical(scratch_.Path()).string();

    HostProcess install(plain / "zembra", {"-Service"}, environment, scratch_.Path());
    EXPECT_EQ(install.WaitForExit(), 0);
    const std::string unit = ReadWholeFile(UnitFile());
    EXPECT_NE(unit.find("\nExecStart=\"" + root + "/a b%%$c/zembra\"\n"), std::string::npos)
        << unit;
    EXPECT_NE(unit.find("\nEnvironment=\"ZEMBRA_REGISTRY_ROOT=" + root + "/reg\\x0aistry\"\n"),
              std::string::npos)
        << unit;

    HostProcess again(refused / "zembra", {"-Service"}, environment, scratch_.Path());
    EXPECT_EQ(again.WaitForExit(), kWideFailure);
    EXPECT_EQ(again.Errors(), std::string(kServiceName) + ": Could not start service\n");
    EXPECT_FALSE(fs::exists(UnitFile()));
}

TEST_F(ZembraRegistrationTest, AServiceManagerThatCannotBeOpenedIsShownAndFailsTheSwitch) {
    auto environment = Environment();
    environment["ZEMBRA_UNIT_DIR"] = (scratch_.Path() / "missing").string();
    auto install = Start({"-Service"}, environment);
    EXPECT_EQ(install->WaitForExit(), kWideFailure);
    EXPECT_EQ(install->Errors(), std::string(kServiceName) + ": Could not open Service Manager\n");
    // Nothing is rolled back: the registration stays.
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), kServiceStore);
}

TEST_F(ZembraRegistrationTest, ADamagedStoreIsNamedAndLeftAlone) {
    fs::create_directories(Registry());
    const std::string damaged = kPlainStore.substr(0, kPlainStore.size() / 2);
    std::ofstream(Registry() / "machine.reg", std::ios::binary) << damaged;

    for (const char* arguments : {"-RegServer", ""}) {
        SCOPED_TRACE(arguments);
        auto zembra = Start({arguments});
        EXPECT_EQ(zembra->WaitForExit(), kWideFailure);
        const std::string errors = zembra->Errors();
        const std::string expected = std::string(kServiceName) + ": the registration store " +
                                     (Registry() / "machine.reg").string() + " is damaged";
        EXPECT_EQ(errors.rfind(expected, 0), 0u) << errors;
        EXPECT_EQ(zembra->Output(), "");
    }
    EXPECT_EQ(ReadWholeFile(Registry() / "machine.reg"), damaged);
    EXPECT_TRUE(NothingListens(kPort));
}

// A store the program may not write ends the switch with access denied and keeps what it held.
// Run as root, the test runs the program as the user nobody, for whom the directory is read-only.
TEST_F(ZembraRegistrationTest, AStoreThatMayNotBeWrittenEndsTheSwitchWithAccessDenied) {
    ASSERT_EQ(Switch("-RegServerPerUser"), 0);
    const fs::path store = Registry() / "user.reg";
    const std::string before = ReadWholeFile(store);
    fs::permissions(scratch_.Path(), fs::perms::owner_all | fs::perms::group_read |
                                         fs::perms::group_exec | fs::perms::others_read |
                                         fs::perms::others_exec);
    fs::permissions(Registry(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
    std::unique_ptr<HostProcess> zembra;
    if (geteuid() == 0) {
        zembra = std::make_unique<HostProcess>(
            "/usr/bin/setpriv",
            std::vector<std::string>{"--reuid=65534", "--regid=65534", "--clear-groups",
                                     Program().string(), "-UnregServerPerUser"},
            Environment(), scratch_.Path());
    } else {
        fs::permissions(Registry(), fs::perms::owner_write, fs::perm_options::remove);
        zembra = Start({"-UnregServerPerUser"});
    }
    EXPECT_EQ(zembra->WaitForExit(), 5);
    EXPECT_NE(zembra->Errors().find("cannot write the registration store " + store.string()),
              std::string::npos)
        << zembra->Errors();
    EXPECT_EQ(ReadWholeFile(store), before);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Registry())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"user.reg"});
}

}  // namespace
