// The Windows image page: GDI+ decodes, transparent areas become white, the
// page file is a 24-bit BMP, and files that are no whole image are refused
// without a page file left behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "TestPng.h"
#include "printing/ImagePage.h"

namespace quorvin::testing {
namespace {

const Pixel kRedPx{230, 20, 20, 255}, kBluePx{20, 20, 230, 255}, kGreenPx{20, 200, 20, 255}, kClearPx{0, 0, 0, 0};

bool Near(Pixel got, Pixel want) {
    return std::abs(got.r - want.r) <= 2 && std::abs(got.g - want.g) <= 2 && std::abs(got.b - want.b) <= 2;
}

TEST(WinImagePage, FormatIsABitmap) {
    EXPECT_STREQ(kImagePageFormat, "image/bmp");
    EXPECT_STREQ(kImagePageSuffix, ".bmp");
}

TEST(WinImagePage, PngDecodedOntoWhite) {
    TempDir dir;
    WriteBytes(dir / "quad.png", QuadrantPng(64, 16, kRedPx, kClearPx, kBluePx, kGreenPx));
    std::string why;
    ASSERT_EQ(WriteImagePage(dir / "quad.png", PageLayout{595, 842}, dir / "page.bmp", &why), ImagePageResult::Written)
        << why;
    Bmp page;
    ASSERT_TRUE(ReadBmp(ReadBytes(dir / "page.bmp"), page));
    EXPECT_EQ(page.width, 64);
    EXPECT_EQ(page.height, 16);
    EXPECT_TRUE(Near(page.At(5, 2), kRedPx));
    EXPECT_TRUE(Near(page.At(60, 2), Pixel{255, 255, 255, 255}));  // transparent: paper white
    EXPECT_TRUE(Near(page.At(5, 14), kBluePx));
    EXPECT_TRUE(Near(page.At(60, 14), kGreenPx));
}

TEST(WinImagePage, NonImagesAreRefusedAndLeaveNoPage) {
    TempDir dir;
    const std::string png = QuadrantPng(8, 8, kRedPx, kRedPx, kRedPx, kRedPx);
    WriteBytes(dir / "empty.png", "");
    WriteBytes(dir / "text.jpg", "not an image at all");
    WriteBytes(dir / "cut.png", png.substr(0, png.size() / 2));
    WriteBytes(dir / "cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10));
    std::filesystem::create_directory(dir / "folder.png");
    for (const char* name : {"missing.png", "empty.png", "text.jpg", "cut.png", "cut.jpg", "folder.png"}) {
        std::string why;
        EXPECT_EQ(WriteImagePage(dir / name, PageLayout{}, dir / "page.bmp", &why), ImagePageResult::NotAnImage)
            << name;
        EXPECT_FALSE(why.empty()) << name;
        EXPECT_FALSE(std::filesystem::exists(dir / "page.bmp")) << name;
    }
}

TEST(WinImagePage, SeveralThreadsAtOnce) {
    TempDir dir;
    WriteBytes(dir / "quad.png", QuadrantPng(40, 40, kRedPx, kBluePx, kGreenPx, kClearPx));
    std::vector<std::thread> threads;
    std::vector<int> ok(6, 0);
    for (int i = 0; i < 6; ++i) {
        threads.emplace_back([&, i] {
            const std::string out = dir / ("page" + std::to_string(i) + ".bmp");
            Bmp page;
            ok[static_cast<std::size_t>(i)] =
                WriteImagePage(dir / "quad.png", PageLayout{}, out) == ImagePageResult::Written &&
                ReadBmp(ReadBytes(out), page) && Near(page.At(30, 5), kBluePx);
        });
    }
    for (std::thread& t : threads) t.join();
    for (int i = 0; i < 6; ++i) EXPECT_TRUE(ok[static_cast<std::size_t>(i)]) << i;
}

}  // namespace
}  // namespace quorvin::testing
