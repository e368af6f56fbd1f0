#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include "platform_names.h"

using platform::DynamicLibrary;

TEST(DynamicLibraryTest, BindsExportsOfALoadedLibrary) {
    DynamicLibrary library =
        DynamicLibrary::Load(platform_names::kSystemLibrary).value_or(DynamicLibrary());
    ASSERT_TRUE(library.IsLoaded());
    auto cosine = library.Bind<double (*)(double)>("cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(library.Symbol("no_such_export_here"), nullptr);
}

TEST(DynamicLibraryTest, MissingLibraryIsNotLoadedAndHasNoExports) {
    platform::Result<DynamicLibrary> missing =
        DynamicLibrary::Load(platform_names::kMissingLibrary);
    EXPECT_FALSE(missing.has_value());
    const DynamicLibrary library = std::move(missing).value_or(DynamicLibrary());
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.Symbol("cos"), nullptr);
}

TEST(DynamicLibraryTest, MovingHandsOverOwnership) {
    DynamicLibrary first =
        DynamicLibrary::Load(platform_names::kSystemLibrary).value_or(DynamicLibrary());
    DynamicLibrary second = std::move(first);
    EXPECT_FALSE(first.IsLoaded());  // NOLINT(bugprone-use-after-move): moved-from state is defined
    EXPECT_TRUE(second.IsLoaded());
}

TEST(DynamicLibraryTest, SharedLibraryFileNameFollowsTheSystemConvention) {
    EXPECT_EQ(platform::SharedLibraryFileName(u"Trovik"), platform_names::kTrovikFileName);
}
