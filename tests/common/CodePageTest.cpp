#include <gtest/gtest.h>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "TempDir.h"

namespace quorvin {
namespace {

// 中文 in GBK and in UTF-8.
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";
const std::string kUtf8Chinese = "\xE4\xB8\xAD\xE6\x96\x87";

class GbkCodePage : public ::testing::Test {
protected:
    void SetUp() override { SetLocalCodePage("GBK"); }
    void TearDown() override { SetLocalCodePage(""); }
    testing::TempDir dir;
    CCommonTool tool{dir.path()};
};

TEST_F(GbkCodePage, ConvertsAsciiAndChineseBothWays) {
    EXPECT_EQ(tool.GbToUtf8("abc"), "abc");
    EXPECT_EQ(tool.GbToUtf8(""), "");
    const std::string one = tool.GbToUtf8("\xD6\xD0");
    ASSERT_EQ(one.size(), 3u);
    EXPECT_GE(static_cast<unsigned char>(one[0]), 0xE0);
    EXPECT_LE(static_cast<unsigned char>(one[0]), 0xEF);
    EXPECT_EQ(tool.GbToUtf8("a" + kGbkChinese + "b"), "a" + kUtf8Chinese + "b");
    EXPECT_EQ(tool.Utf8ToGb("a" + kUtf8Chinese + "b"), "a" + kGbkChinese + "b");
}

TEST_F(GbkCodePage, RoundTripKeepsMixedText) {
    const std::string texts[] = {"plain ascii 123", kGbkChinese, "x" + kGbkChinese + " y\t" + kGbkChinese + "z",
                                 "\xB4\xF2\xD3\xA1\xBB\xFA\xB2\xBB\xB4\xE6\xD4\xDA\xA3\xA1"};  // 打印机不存在！
    for (const std::string& t : texts) EXPECT_EQ(tool.Utf8ToGb(tool.GbToUtf8(t)), t);
}

TEST_F(GbkCodePage, TwoAndFourByteUtf8AreDecodedWhole) {
    // é (two bytes) exists in GBK (pinyin letters); the next character survives.
    EXPECT_EQ(tool.Utf8ToGb("\xC3\xA9x"), "\xA8\xA6x");
    EXPECT_EQ(tool.GbToUtf8("\xA8\xA6x"), "\xC3\xA9x");
    // An emoji has no GBK form: one "?" for the whole four-byte character.
    EXPECT_EQ(tool.Utf8ToGb("a\xF0\x9F\x98\x80" "b"), "a?b");
}

TEST_F(GbkCodePage, InvalidBytesBecomeQuestionMarksWithoutSwallowing) {
    EXPECT_EQ(tool.Utf8ToGb("a\xC3" "b"), "a?b");             // lead byte without its trail
    EXPECT_EQ(tool.Utf8ToGb("\xC0\xAF" "c"), "??c");          // overlong slash
    EXPECT_EQ(tool.Utf8ToGb("\xED\xA0\x80" "d"), "???d");     // UTF-16 surrogate
    EXPECT_EQ(tool.Utf8ToGb("e\xE4\xB8"), "e??");              // cut short at the end
    EXPECT_EQ(tool.GbToUtf8("\xFF" "a"), "?a");                // not a GBK lead byte
    EXPECT_EQ(tool.GbToUtf8("\xD6" " x"), "? x");              // lead byte, then ASCII
    EXPECT_EQ(tool.GbToUtf8("ab\xD6"), "ab?");                 // lead byte at the end
}

TEST_F(GbkCodePage, ConversionStopsAtZeroByte) {
    EXPECT_EQ(tool.GbToUtf8(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(tool.Utf8ToGb(std::string("x\0y", 3)), "x");
    std::string out;
    tool.GbToUtf8Buffer(out, "\xD6\xD0", 2);
    EXPECT_EQ(out, "\xE4\xB8\xAD");
    EXPECT_EQ(tool.Utf8ToGbBuffer("\xE4\xB8\xAD", 3), "\xD6\xD0");
}

TEST(Utf8CodePage, SanitisesInvalidBytesBothWays) {
    SetLocalCodePage("UTF-8");
    CCommonTool tool{"/tmp"};
    EXPECT_EQ(tool.GbToUtf8(kUtf8Chinese), kUtf8Chinese);
    EXPECT_EQ(tool.Utf8ToGb("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(tool.Utf8ToGb("a\xFF" "b\xC3"), "a?b?");
    EXPECT_EQ(tool.GbToUtf8("\xE4\xB8" "z"), "??z");
    SetLocalCodePage("");
}

TEST(Utf8CodePage, CLocaleCountsAsUtf8) {
    SetLocalCodePage("");
    EXPECT_EQ(GetLocalCodePage(), "UTF-8");  // the tests run under the C locale
}

TEST_F(GbkCodePage, Utf16LittleEndianToLocal) {
    // "A中" then a zero unit and more text that must be ignored.
    const std::string bytes("A\0\x2D\x4E\0\0B\0", 8);
    EXPECT_EQ(Utf16LeToLocal(bytes), "A\xD6\xD0");
    // A lone surrogate is one "?"; the text after it survives.
    EXPECT_EQ(Utf16LeToLocal(std::string("\x00\xD8x\0", 4)), "?x");
}

}  // namespace
}  // namespace quorvin
