#include "platform/environment.h"
#include "platform/system_error.h"

#include <gtest/gtest.h>

using platform::EnvironmentValue;
using platform::SetEnvironmentValue;

TEST(EnvironmentTest, AVariableIsSetReadAndRemovedAsUtf16Text) {
    constexpr char16_t kName[] = u"SUITE_ENVIRONMENT_TEST";
    for (const std::u16string value : {u"plain", u"", u"路径 𠮷 \\ / = ;"}) {
        ASSERT_EQ(platform::error::kNone, SetEnvironmentValue(kName, value));
        EXPECT_EQ(EnvironmentValue(kName), value);
    }
    ASSERT_EQ(platform::error::kNone, SetEnvironmentValue(kName, std::nullopt));
    EXPECT_EQ(EnvironmentValue(kName), std::nullopt);
    EXPECT_EQ(platform::error::kNone,
              SetEnvironmentValue(kName, std::nullopt));  // removing it again is no failure
}

TEST(EnvironmentTest, NamesAndValuesThatCannotStandForAVariableAreRefused) {
    EXPECT_NE(platform::error::kNone, SetEnvironmentValue(u"", u"x"));
    EXPECT_NE(platform::error::kNone, SetEnvironmentValue(u"A=B", u"x"));
    EXPECT_NE(platform::error::kNone, SetEnvironmentValue(std::u16string(u"A\0B", 3), u"x"));
    EXPECT_NE(platform::error::kNone,
              SetEnvironmentValue(u"SUITE_ENVIRONMENT_TEST", std::u16string(u"x\0y", 3)));
    EXPECT_EQ(EnvironmentValue(u"SUITE_ENVIRONMENT_TEST"), std::nullopt);
    EXPECT_EQ(EnvironmentValue(u""), std::nullopt);
}
