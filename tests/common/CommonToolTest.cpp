#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Platform.h"
#include "TempDir.h"

namespace quorvin {
namespace {

using ::testing::ElementsAre;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

TEST(LockString, ReversesAndShiftsByPosition) {
    CCommonTool tool{"/tmp"};
    EXPECT_EQ(tool.LockString("abc"), "_db`");
    EXPECT_EQ(tool.LockString(""), "_");
    // The last character of an adapter address (position 16) shifts by -1.
    const std::string id = tool.LockString("00-1A-2B-3C-4D-5E");
    ASSERT_EQ(id.size(), 18u);
    EXPECT_EQ(id.substr(0, 2), "_D");
    // A byte that would become zero is dropped: 0x01 at position 0 (shift -1).
    EXPECT_EQ(tool.LockString("\x01"), "_");
    // Shifts wrap around modulo 256: 0xFF at position 2 (+1) becomes 0x00, dropped.
    EXPECT_EQ(tool.LockString("ab\xFF"), "_b`");
}

TEST(SplitString, FieldsAndTrimming) {
    CCommonTool tool{"/tmp"};
    std::vector<std::string> parts{"stale"};
    EXPECT_EQ(tool.SplitString("   \t ", ",", parts), 0);
    EXPECT_TRUE(parts.empty());
    EXPECT_EQ(tool.SplitString("  a,b ", "", parts), 1);
    EXPECT_THAT(parts, ElementsAre("  a,b "));
    EXPECT_EQ(tool.SplitString(" a,,b, ", ",", parts), 4);
    EXPECT_THAT(parts, ElementsAre("a", "", "b", ""));
    EXPECT_EQ(tool.SplitString("one::two", "::", parts), 2);
    EXPECT_THAT(parts, ElementsAre("one", "two"));
    EXPECT_EQ(tool.SplitString("solo", ",", parts), 1);
    EXPECT_THAT(parts, ElementsAre("solo"));
}

TEST(IsDottedNumber, FourDigitFields) {
    CCommonTool tool{"/tmp"};
    EXPECT_TRUE(tool.IsDottedNumber("10.0.0.1"));
    EXPECT_TRUE(tool.IsDottedNumber("..."));
    EXPECT_TRUE(tool.IsDottedNumber("999.1.2.3"));  // values are not range-checked
    EXPECT_FALSE(tool.IsDottedNumber("10.0.0"));
    EXPECT_FALSE(tool.IsDottedNumber("10.0.0.1.5"));
    EXPECT_FALSE(tool.IsDottedNumber("print.example.com"));
    EXPECT_FALSE(tool.IsDottedNumber("10.0.0.a"));
    EXPECT_FALSE(tool.IsDottedNumber(""));
}

TEST(GetGuidText, ThirtyTwoHexDigitsInGroupsOfFour) {
    CCommonTool tool{"/tmp"};
    const std::string a = tool.GetGuidText();
    const std::string b = tool.GetGuidText();
    ASSERT_EQ(a.size(), 32u);
    for (std::size_t i = 0; i < a.size(); i += 4) EXPECT_EQ(a.substr(i, 2), "00") << a;
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
}

class Files : public ::testing::Test {
protected:
    TempDir dir;
    CCommonTool tool{dir.path()};
};

TEST_F(Files, LoadTextFileRules) {
    EXPECT_EQ(tool.LoadTextFile(dir / "missing.txt"), "");
    EXPECT_EQ(tool.LoadTextFile(dir.path()), "");  // a folder reads as empty
    WriteBytes(dir / "zero.txt", std::string("before\0after", 12));
    EXPECT_EQ(tool.LoadTextFile(dir / "zero.txt"), "before");
    WriteBytes(dir / "plain.txt", "\xD6\xD0 bytes kept");
    EXPECT_EQ(tool.LoadTextFile(dir / "plain.txt"), "\xD6\xD0 bytes kept");
    SetLocalCodePage("GBK");
    WriteBytes(dir / "utf16.txt", std::string("\xFF\xFEh\0i\0\x2D\x4E", 8));
    EXPECT_EQ(tool.LoadTextFile(dir / "utf16.txt"), "hi\xD6\xD0");
    SetLocalCodePage("UTF-8");
    EXPECT_EQ(tool.LoadTextFile(dir / "utf16.txt"), "hi\xE4\xB8\xAD");
    SetLocalCodePage("");
}

TEST_F(Files, SaveWritesExactBytesAndNeverHalfFiles) {
    const std::string bytes("a\0b\r\n\xFF", 6);
    EXPECT_TRUE(tool.SaveBufferToFile(dir / "buf.bin", bytes.data(), bytes.size()));
    EXPECT_EQ(ReadBytes(dir / "buf.bin"), bytes);
    EXPECT_TRUE(tool.SaveTextFile(dir / "buf.bin", "short"));
    EXPECT_EQ(ReadBytes(dir / "buf.bin"), "short");
    // A target that cannot be replaced (a folder) is reported and left alone.
    std::filesystem::create_directory(dir / "taken");
    EXPECT_FALSE(tool.SaveTextFile(dir / "taken", "x"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    EXPECT_FALSE(tool.SaveTextFile(dir / "no/such/dir/f.txt", "x"));
    // No temporary files are left behind.
    std::vector<std::string> folders, files;
    tool.ListDirectory(dir.path(), folders, files);
    EXPECT_THAT(files, ElementsAre("buf.bin"));
}

TEST_F(Files, GetFileLength) {
    EXPECT_EQ(tool.GetFileLength(dir / "missing"), 0);
    WriteBytes(dir / "five", "12345");
    EXPECT_EQ(tool.GetFileLength(dir / "five"), 5);
    EXPECT_EQ(tool.GetFileLength(dir.path()), -1);
}

TEST_F(Files, ListDirectoryFoldersFilesAndPatterns) {
    std::filesystem::create_directory(dir / "sub");
    WriteBytes(dir / "b.txt", "b");
    WriteBytes(dir / "a.txt", "a");
    WriteBytes(dir / "README", "r");
    std::vector<std::string> folders, files;
    EXPECT_TRUE(tool.ListDirectory(dir.path(), folders, files));
    EXPECT_THAT(folders, ElementsAre("sub"));
    EXPECT_THAT(files, ElementsAre("README", "a.txt", "b.txt"));
    std::vector<std::string> folders2, files2;
    EXPECT_TRUE(tool.ListDirectory(dir.path() + "/", folders2, files2));
    EXPECT_EQ(folders2, folders);
    EXPECT_EQ(files2, files);
    EXPECT_TRUE(tool.ListDirectory(dir / "*.txt", folders, files));
    EXPECT_TRUE(folders.empty());
    EXPECT_THAT(files, ElementsAre("a.txt", "b.txt"));
    EXPECT_TRUE(tool.ListDirectory(dir / "*.*", folders, files));
    EXPECT_THAT(files, ElementsAre("README", "a.txt", "b.txt"));
    EXPECT_FALSE(tool.ListDirectory(dir / "*.pdf", folders, files));
    EXPECT_FALSE(tool.ListDirectory(dir / "missing", folders, files));
    EXPECT_TRUE(files.empty());
}

TEST_F(Files, CreatePathAndIsDirectory) {
    const std::string deep = dir / "x/y/z";
    EXPECT_FALSE(tool.IsDirectory(deep));
    EXPECT_TRUE(tool.CreatePath(deep));
    EXPECT_TRUE(tool.IsDirectory(deep));
    EXPECT_TRUE(tool.CreatePath(deep));  // everything exists: still true
    EXPECT_TRUE(tool.IsDirectory("/"));
    WriteBytes(dir / "file", "f");
    EXPECT_FALSE(tool.IsDirectory(dir / "file"));
    EXPECT_TRUE(tool.CreatePath(dir / "file/below"));  // cannot be made: ignored
    EXPECT_FALSE(tool.IsDirectory(dir / "file/below"));
}

TEST(Confirm, AsksTheInstalledPrompt) {
    struct Recorder : ConfirmPrompt {
        bool Ask(const std::string& q, bool noIsDefault) override {
            question = q;
            defaultNo = noIsDefault;
            return false;
        }
        std::string question;
        bool defaultNo = false;
    } prompt;
    CCommonTool tool{"/tmp"};
    EXPECT_TRUE(tool.Confirm("no prompt yet", true));
    SetConfirmPrompt(&prompt);
    EXPECT_FALSE(tool.Confirm("Empty temp?", true));
    EXPECT_EQ(prompt.question, "Empty temp?");
    EXPECT_TRUE(prompt.defaultNo);
    SetConfirmPrompt(nullptr);
}

TEST(SequenceCounter, LoadedAtConstructionStoredAtDestruction) {
    TempDir dir;
    const std::string seqno = dir / "seqno.txt";
    {
        CCommonTool tool{dir.path()};
        EXPECT_EQ(CCommonTool::GetSequenceNumber(), 0);
        EXPECT_FALSE(std::filesystem::exists(seqno));
    }
    EXPECT_EQ(ReadBytes(seqno), "0");  // created by the first destruction

    WriteBytes(seqno, "41");
    { CCommonTool tool{dir.path()}; EXPECT_EQ(CCommonTool::GetSequenceNumber(), 41); }
    EXPECT_EQ(ReadBytes(seqno), "41");

    WriteBytes(seqno, "not a number");
    { CCommonTool tool{dir.path()}; EXPECT_EQ(CCommonTool::GetSequenceNumber(), 0); }
    EXPECT_EQ(ReadBytes(seqno), "0");
}

TEST(SequenceCounter, ConcurrentToolsNeverTearTheFile) {
    TempDir dir;
    const std::string seqno = dir / "seqno.txt";
    WriteBytes(seqno, "41");
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        for (int i = 0; i < 20000 && !done.load(); ++i) {
            // As LoadTextFile reads: on Windows a plain open could refuse the
            // writers' replacement or be refused during it.
            std::string text;
            platform::ReadWholeFile(seqno, text);
            if (text != "41") ++bad;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 200; ++i) CCommonTool tool{dir.path()};
        });
    }
    for (auto& w : writers) w.join();
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(ReadBytes(seqno), "41");
    std::vector<std::string> folders, files;
    CCommonTool lister{dir.path()};
    lister.ListDirectory(dir.path(), folders, files);
    EXPECT_THAT(files, ElementsAre("seqno.txt"));
}

}  // namespace
}  // namespace quorvin
