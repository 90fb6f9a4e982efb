// The image page on its own: formats, layout and margins, and the files
// it must refuse.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "PdfRaster.h"
#include "printing/ImagePage.h"

namespace quorvin::testing {
namespace {

// 300 x 150 points with margins of 30 left, 15 top, 60 right, 45 bottom:
// the printable area is 210 x 90 at (30, 15).
const PageLayout kLayout{300, 150, 30, 15, 60, 45};

// 1x1 GIFs: a red pixel, and the same pixel marked transparent.
const std::string kRedGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00"
                          ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                          35);
const std::string kClearGif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00"
                            "!\xF9\x04\x01\x00\x00\x00\x00"
                            ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                            43);

class ImageLayout : public ::testing::Test {
protected:
    // Writes the page and renders it at 72 dpi / 2 (150 x 75 pixels).
    ::testing::AssertionResult Page(const std::string& image, Raster& raster) {
        std::string pdf = m_dir / "page.pdf";
        ImagePageResult result = WriteImagePage(image, kLayout, pdf);
        if (result != ImagePageResult::Written)
            return ::testing::AssertionFailure() << "result " << static_cast<int>(result);
        if (!Render(pdf, m_dir / "page", raster)) return ::testing::AssertionFailure() << "no picture";
        return ::testing::AssertionSuccess();
    }

    TempDir m_dir;
};

TEST_F(ImageLayout, EveryFormatFillsThePrintableAreaOnly) {
    for (const char* type : {"png", "jpeg", "tiff", "bmp"}) {
        std::string image = m_dir / (std::string("quad.") + type);
        ASSERT_TRUE(SaveQuadrants(image, type, 20, 60, kRed, kBlue, kGreen, kRed)) << type;
        Raster page;
        ASSERT_TRUE(Page(image, page)) << type;
        ASSERT_EQ(page.width, 150) << type;
        ASSERT_EQ(page.height, 75) << type;
        // Quadrants stretched over x 30..240, y 15..105 (points).
        EXPECT_TRUE(Colour(page, 40.0 / 300, 25.0 / 150, kRed)) << type;
        EXPECT_TRUE(Colour(page, 230.0 / 300, 25.0 / 150, kBlue)) << type;
        EXPECT_TRUE(Colour(page, 40.0 / 300, 95.0 / 150, kGreen)) << type;
        EXPECT_TRUE(Colour(page, 230.0 / 300, 95.0 / 150, kRed)) << type;
        // A JPEG is embedded as it is, not re-encoded.
        bool dct = ReadBytes(m_dir / "page.pdf").find("/DCTDecode") != std::string::npos;
        EXPECT_EQ(dct, std::string(type) == "jpeg") << type;
        // Margins stay white.
        EXPECT_TRUE(Colour(page, 15.0 / 300, 60.0 / 150, kWhite)) << type;
        EXPECT_TRUE(Colour(page, 270.0 / 300, 60.0 / 150, kWhite)) << type;
        EXPECT_TRUE(Colour(page, 0.5, 5.0 / 150, kWhite)) << type;
        EXPECT_TRUE(Colour(page, 0.5, 130.0 / 150, kWhite)) << type;
    }
}

TEST_F(ImageLayout, GifAndTransparency) {
    Raster page;
    WriteBytes(m_dir / "red.gif", kRedGif);
    ASSERT_TRUE(Page(m_dir / "red.gif", page));
    EXPECT_TRUE(Colour(page, 0.5, 0.4, kRed));
    WriteBytes(m_dir / "clear.gif", kClearGif);
    ASSERT_TRUE(Page(m_dir / "clear.gif", page));
    EXPECT_TRUE(Colour(page, 0.5, 0.4, kWhite));
    // Half-transparent red over white is pink.
    std::string png = m_dir / "half.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 2, 2, {255, 0, 0, 128}, {255, 0, 0, 128}, {255, 0, 0, 128},
                              {255, 0, 0, 128}));
    ASSERT_TRUE(Page(png, page));
    EXPECT_TRUE(Colour(page, 0.5, 0.4, {255, 127, 127, 255}));
}

TEST_F(ImageLayout, MarginsThatLeaveNothingUseTheWholePage) {
    std::string png = m_dir / "red.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 4, 4, kRed, kRed, kRed, kRed));
    std::string pdf = m_dir / "page.pdf";
    ASSERT_EQ(WriteImagePage(png, PageLayout{300, 150, 200, 0, 200, 0}, pdf), ImagePageResult::Written);
    Raster page;
    ASSERT_TRUE(Render(pdf, m_dir / "p", page));
    EXPECT_TRUE(Colour(page, 0.01, 0.01, kRed));
    EXPECT_TRUE(Colour(page, 0.99, 0.99, kRed));
}

TEST_F(ImageLayout, NonImagesAreRefusedAndLeaveNoPdf) {
    std::string png = m_dir / "good.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 30, 30, kRed, kBlue, kGreen, kClear));
    std::string jpeg = m_dir / "good.jpg";
    ASSERT_TRUE(SaveQuadrants(jpeg, "jpeg", 64, 64, kRed, kBlue, kGreen, kWhite));
    std::string pngBytes = ReadBytes(png), jpegBytes = ReadBytes(jpeg);
    WriteBytes(m_dir / "empty.png", "");
    WriteBytes(m_dir / "cut.png", pngBytes.substr(0, pngBytes.size() - 20));
    WriteBytes(m_dir / "cut.jpg", jpegBytes.substr(0, jpegBytes.size() - 2));
    WriteBytes(m_dir / "cut.gif", kRedGif.substr(0, 30));
    WriteBytes(m_dir / "text.png", "plain text");
    WriteBytes(m_dir / "magic-only.jpg", "\xFF\xD8\xFF\xE0");
    std::string pdf = m_dir / "out.pdf";
    for (const char* name :
         {"missing.png", "empty.png", "cut.png", "cut.jpg", "cut.gif", "text.png", "magic-only.jpg"}) {
        EXPECT_EQ(WriteImagePage(m_dir / name, kLayout, pdf), ImagePageResult::NotAnImage) << name;
    }
    EXPECT_EQ(WriteImagePage(m_dir.path(), kLayout, pdf), ImagePageResult::NotAnImage);
    struct stat st {};
    EXPECT_NE(stat(pdf.c_str(), &st), 0);

    EXPECT_EQ(WriteImagePage(png, kLayout, m_dir / "no-such-folder/out.pdf"), ImagePageResult::WriteFailed);
}

// A named pipe where the image should be is refused at once: opening it
// must not wait for a writer that never comes.
TEST_F(ImageLayout, PipeIsRefusedWithoutWaiting) {
    std::string pipe = m_dir / "pipe.png";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> returned{false}, rescued{false};
    std::thread guard([&] {
        // Bounded: after 5 s a writer is opened and closed, so a reader stuck
        // in open sees end of file and the test ends (as a failure).
        for (int i = 0; i < 100 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (returned) return;
        int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) {
            rescued = true;
            close(fd);
        }
    });
    EXPECT_EQ(WriteImagePage(pipe, kLayout, m_dir / "out.pdf"), ImagePageResult::NotAnImage);
    returned = true;
    guard.join();
    EXPECT_FALSE(rescued) << "the image reader waited on the pipe";
}

}  // namespace
}  // namespace quorvin::testing
