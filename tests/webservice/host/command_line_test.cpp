#include "webservice/host/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    std::u16string line;
    HostCommand expected;
};

std::string Name(HostCommand command) {
    switch (command) {
        case HostCommand::Run:
            return "Run";
        case HostCommand::UnregServer:
            return "UnregServer";
        case HostCommand::RegServer:
            return "RegServer";
        case HostCommand::UnregServerPerUser:
            return "UnregServerPerUser";
        case HostCommand::RegServerPerUser:
            return "RegServerPerUser";
        case HostCommand::Service:
            return "Service";
    }
    return "?";
}

TEST(CommandLineTest, SwitchScanFindsTheDecidingSwitch) {
    const Case cases[] = {
        {u"", HostCommand::Run},
        {u"RegServer", HostCommand::Run},  // a word counts only after "-" or "/"
        {u"-RegServer", HostCommand::RegServer},
        {u"/regserver", HostCommand::RegServer},
        {u"-REGSERVER", HostCommand::RegServer},
        {u"/RegServerX", HostCommand::Run},
        {u"-RegServer\tmore", HostCommand::RegServer},
        {u"-RegServer,", HostCommand::Run},
        {u"-UnregServer", HostCommand::UnregServer},
        {u"-RegServerPerUser", HostCommand::RegServerPerUser},
        {u"/unregserverperuser", HostCommand::UnregServerPerUser},
        {u"-Service", HostCommand::Service},
        {u"/sErViCe", HostCommand::Service},
        {u"-Services", HostCommand::Run},
        // The first registration switch decides; the rest of the line is not looked at.
        {u"-UnregServer -RegServer", HostCommand::UnregServer},
        {u"-RegServer -UnregServer", HostCommand::RegServer},
        {u"-RegServerPerUser -UnregServer", HostCommand::RegServerPerUser},
        // "Service" counts only when no registration switch is there, wherever it stands.
        {u"-Service -RegServer", HostCommand::RegServer},
        {u"-Service /UnregServerPerUser", HostCommand::UnregServerPerUser},
        {u"-other -Service", HostCommand::Service},
        // Every "-" or "/" starts a word, also inside another word.
        {u"-x-RegServer", HostCommand::RegServer},
        {u"C:/path/RegServer", HostCommand::RegServer},
        {u"--Service", HostCommand::Service},
        {u"-RegServer-Service", HostCommand::Service},
        {u"- RegServer", HostCommand::Run},
        {u"-", HostCommand::Run},
        {u"/", HostCommand::Run},
        {u"-Reg Server", HostCommand::Run},
        {u"-Reg Server /x y", HostCommand::Run},
        {u"-ＲegServer", HostCommand::Run},  // only ASCII letters fold
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Name(ParseCommandLine(c.line)), Name(c.expected))
            << "line: " << std::string(c.line.begin(), c.line.end());
    }
}

}  // namespace
