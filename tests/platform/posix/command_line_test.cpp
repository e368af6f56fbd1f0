#include "platform/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineTest, ArgumentsAfterTheProgramNameAreJoinedByBlanks) {
    const char* none[] = {"zembra"};
    EXPECT_EQ(platform::ProgramCommandLine(1, none), u"");
    const char* several[] = {"zembra", "-Reg", "Server", "/x y"};
    EXPECT_EQ(platform::ProgramCommandLine(4, several), u"-Reg Server /x y");
    const char* utf8[] = {"zembra", "名字", "-service"};
    EXPECT_EQ(platform::ProgramCommandLine(3, utf8), u"名字 -service");
}

}  // namespace
