// What only the Windows platform layer does: code page names and the
// system's ANSI code page, its file-name patterns, its program path.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/CodePage.h"
#include "common/Platform.h"
#include "common/ReplacingFile.h"
#include "TempDir.h"

namespace quorvin {
namespace {

TEST(WinCodePage, UnsetItIsTheAnsiCodePage) {
    SetLocalCodePage("");
    const UINT acp = GetACP();
    const std::string expected = acp == CP_UTF8 ? "UTF-8" : acp == 936 ? "GBK" : "CP" + std::to_string(acp);
    EXPECT_EQ(GetLocalCodePage(), expected);
}

TEST(WinCodePage, NamesAndNumbersOfOneCodePageAgree) {
    // 中 in GBK and in UTF-8; the name "NOPE" is no code page: every byte is "?".
    const struct {
        const char* name;
        std::string local;
    } cases[] = {{"GBK", "\xD6\xD0"}, {"cp936", "\xD6\xD0"}, {"936", "\xD6\xD0"}, {"gb2312", "\xD6\xD0"},
                 {"utf_8", "\xE4\xB8\xAD"}, {"CP1252", "?"}, {"NOPE", "?"}};
    for (const auto& c : cases) {
        SetLocalCodePage(c.name);
        EXPECT_EQ(Utf8ToLocal("a\xE4\xB8\xAD"), "a" + c.local) << c.name;
        if (c.local != "?") {
            EXPECT_EQ(LocalToUtf8("a" + c.local), "a\xE4\xB8\xAD") << c.name;
        }
    }
    SetLocalCodePage("NOPE");
    EXPECT_EQ(LocalToUtf8("\xD6\xD0"), "??");
    SetLocalCodePage("");
}

TEST(WinCodePage, BestFitLookAlikesAreNotConversions) {
    SetLocalCodePage("CP1252");
    // Ā (U+0100) has a best-fit "A" in code page 1252, but no form of its own.
    EXPECT_EQ(Utf8ToLocal("x\xC4\x80y"), "x?y");
    EXPECT_EQ(Utf8ToLocal("\xC3\xA9"), "\xE9");  // é is
    SetLocalCodePage("");
}

TEST(WinPatterns, AsTheSystemsSearchesTakeThem) {
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {
        {"*.TXT", "a.txt", true},     {"A?C", "abc", true},        {"*", "", true},
        {"*.txt", "a.txt.bak", false}, {"[ab].txt", "a.txt", false}, {"[ab].txt", "[ab].txt", true},
        {"a*b*c", "axxbyyc", true},   {"a*b*c", "axxbyy", false},  {"??", "a", false},
        {"*x", "xxxx", true},         {"", "a", false},            {"a", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::MatchesPattern(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
}

TEST(WinPatterns, QuestionMarkTakesADoubleByteCharacterWhole) {
    if (GetACP() != 936) GTEST_SKIP() << "needs the GBK code page";
    EXPECT_TRUE(platform::MatchesPattern("a?b", "a\xD6\xD0" "b"));
    EXPECT_FALSE(platform::MatchesPattern("a??b", "a\xD6\xD0" "b"));
}

TEST(WinPlatform, ExecutablePathUsesSlashes) {
    const std::string exe = platform::ExecutablePath();
    ASSERT_GT(exe.size(), 4u);
    EXPECT_EQ(exe.find('\\'), std::string::npos) << exe;
    EXPECT_EQ(exe.substr(exe.size() - 4), ".exe");
    EXPECT_EQ(exe[1], ':') << exe;
}

TEST(WinPlatform, ReadOnlyFilesAndWritableFolders) {
    testing::TempDir dir;
    EXPECT_TRUE(platform::IsWritableFolder(dir.path()));
    EXPECT_FALSE(platform::IsWritableFolder(dir / "missing"));
    testing::WriteBytes(dir / "locked.txt", "old");
    ASSERT_TRUE(SetFileAttributesA((dir / "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    platform::ReplacingFile file(dir / "locked.txt");
    EXPECT_FALSE(file.Ok());
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(testing::ReadBytes(dir / "locked.txt"), "old");
    SetFileAttributesA((dir / "locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WinPlatform, EnvironmentValues) {
    ASSERT_TRUE(SetEnvironmentVariableA("QUORVIN_TEST_VALUE", "a b"));
    EXPECT_EQ(platform::EnvironmentValue("QUORVIN_TEST_VALUE"), "a b");
    SetEnvironmentVariableA("QUORVIN_TEST_VALUE", nullptr);
    EXPECT_EQ(platform::EnvironmentValue("QUORVIN_TEST_VALUE"), "");
}

}  // namespace
}  // namespace quorvin
