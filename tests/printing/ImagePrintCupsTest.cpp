// Image and file printing through the private scheduler: real PDFs from
// cups-pdf, checked by rendering them with poppler.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <regex>
#include <thread>

#include "CupsTestBase.h"

namespace quorvin::testing {
namespace {

struct Rgba {
    unsigned char r, g, b, a;
};

// Writes a w x h image whose four quadrants have the given colours.
bool SaveQuadrants(const std::string& path, const char* type, int w, int h, Rgba tl, Rgba tr, Rgba bl, Rgba br) {
    bool alpha = std::string(type) == "png";
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, w, h);
    if (!pixbuf) return false;
    int channels = gdk_pixbuf_get_n_channels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            Rgba c = y < h / 2 ? (x < w / 2 ? tl : tr) : (x < w / 2 ? bl : br);
            guchar* p = pixels + y * stride + x * channels;
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            if (alpha) p[3] = c.a;
        }
    }
    GError* error = nullptr;
    bool ok = alpha ? gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr)
                    : gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, "quality", "95", nullptr);
    if (error) g_error_free(error);
    g_object_unref(pixbuf);
    return ok;
}

// A PDF page rendered by poppler, as RGB pixels.
struct Raster {
    int width = 0, height = 0;
    std::string rgb;
    Rgba At(double fx, double fy) const {
        int x = std::min(width - 1, static_cast<int>(fx * width));
        int y = std::min(height - 1, static_cast<int>(fy * height));
        const char* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
        return {static_cast<unsigned char>(p[0]), static_cast<unsigned char>(p[1]), static_cast<unsigned char>(p[2]),
                255};
    }
};

bool Render(const std::string& pdf, const std::string& prefix, Raster& raster) {
    if (RunCommand("pdftoppm -r 36 -singlefile " + ShellQuote(pdf) + " " + ShellQuote(prefix)) != 0) return false;
    std::string ppm = ReadBytes(prefix + ".ppm");
    std::smatch m;
    std::regex header("^P6\\s+([0-9]+)\\s+([0-9]+)\\s+255\\s");
    if (!std::regex_search(ppm, m, header)) return false;
    raster.width = std::stoi(m[1].str());
    raster.height = std::stoi(m[2].str());
    raster.rgb = ppm.substr(m[0].length());
    return raster.rgb.size() == static_cast<std::size_t>(raster.width) * raster.height * 3;
}

bool Near(Rgba got, Rgba want, int tolerance = 40) {
    return std::abs(got.r - want.r) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
           std::abs(got.b - want.b) <= tolerance;
}

::testing::AssertionResult Colour(const Raster& raster, double fx, double fy, Rgba want) {
    Rgba got = raster.At(fx, fy);
    if (Near(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at (" << fx << "," << fy << ") got " << int(got.r) << "," << int(got.g)
                                         << "," << int(got.b) << " want " << int(want.r) << "," << int(want.g) << ","
                                         << int(want.b);
}

const Rgba kRed{230, 20, 20, 255}, kBlue{20, 20, 230, 255}, kGreen{20, 200, 20, 255}, kClear{0, 0, 0, 0},
    kWhite{255, 255, 255, 255};

class ImageTest : public CupsTest {
protected:
    // The PDF cups-pdf wrote for the job, once the job has completed.
    std::string OutputOf(int jobId) {
        if (WaitForJob("PDF", jobId) != JobState::Completed) return {};
        std::string prefix = "job_" + std::to_string(jobId) + "-";
        for (int i = 0; i < 50; ++i) {
            for (const auto& entry : std::filesystem::directory_iterator(s_cups.pdfOut)) {
                if (entry.path().filename().string().rfind(prefix, 0) == 0) return entry.path().string();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return {};
    }

    // cups-pdf rounds the page to whole points.
    ::testing::AssertionResult PageSizeIs(const std::string& pdf, double width, double height) {
        std::string out;
        Run("pdfinfo " + ShellQuote(pdf), &out);
        std::smatch m;
        if (!std::regex_search(out, m, std::regex("Page size:\\s+([0-9.]+) x ([0-9.]+) pts")))
            return ::testing::AssertionFailure() << "no page size in " << out;
        double w = std::stod(m[1].str()), h = std::stod(m[2].str());
        if (std::abs(w - width) <= 1 && std::abs(h - height) <= 1) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "page " << w << " x " << h;
    }

    int JobCount() {
        std::string out;
        Run("lpstat -W all -o", &out);
        return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
    }
};

using ImagePages = ImageTest;
using ImageFailures = ImageTest;
using ShellPrinting = ImageTest;

TEST_F(ImagePages, TransparentPngStretchedOverTheWholePageOnWhite) {
    // Wide image on a portrait A4 page: stretched, not letterboxed.
    std::string png = m_dir / "quad.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 64, 16, kRed, kClear, kBlue, kGreen));
    int job = m_pManager->PrintImageFile("PDF", png);
    ASSERT_GT(job, 0);
    std::string pdf = OutputOf(job);
    ASSERT_FALSE(pdf.empty());
    // The job is named after the image's path.
    EXPECT_EQ(m_pManager->GetJobState("PDF", 0, png), JobState::Completed);
    EXPECT_TRUE(PageSizeIs(pdf, 595.3, 841.9));  // A4, the queue's default

    Raster page;
    ASSERT_TRUE(Render(pdf, m_dir / "page", page));
    EXPECT_TRUE(Colour(page, 0.25, 0.25, kRed));
    EXPECT_TRUE(Colour(page, 0.75, 0.25, kWhite));  // transparent: paper white
    EXPECT_TRUE(Colour(page, 0.25, 0.75, kBlue));
    EXPECT_TRUE(Colour(page, 0.75, 0.75, kGreen));
    // Up to the page's edges (cups-pdf prints without margins).
    EXPECT_TRUE(Colour(page, 0.01, 0.01, kRed));
    EXPECT_TRUE(Colour(page, 0.99, 0.99, kGreen));
    EXPECT_TRUE(Colour(page, 0.01, 0.99, kBlue));
    // The quadrant borders sit at the page's middle in both directions.
    EXPECT_TRUE(Colour(page, 0.45, 0.45, kRed));
    EXPECT_TRUE(Colour(page, 0.55, 0.55, kGreen));
}

TEST_F(ImagePages, JpegOnTheQueuesDefaultPaperAndFormWithMargins) {
    std::string jpeg = m_dir / "quad.jpg";
    ASSERT_TRUE(SaveQuadrants(jpeg, "jpeg", 30, 90, kRed, kBlue, kGreen, kRed));
    ASSERT_EQ(m_pManager->SetPaper("PDF", "Letter", 0, -1), 1);
    int job = m_pManager->PrintImageFile("PDF", jpeg);
    ASSERT_GT(job, 0);
    std::string pdf = OutputOf(job);
    ASSERT_FALSE(pdf.empty());
    EXPECT_TRUE(PageSizeIs(pdf, 612, 792));  // Letter
    Raster page;
    ASSERT_TRUE(Render(pdf, m_dir / "page", page));
    EXPECT_TRUE(Colour(page, 0.02, 0.02, kRed));
    EXPECT_TRUE(Colour(page, 0.98, 0.02, kBlue));
    EXPECT_TRUE(Colour(page, 0.02, 0.98, kGreen));
    EXPECT_TRUE(Colour(page, 0.98, 0.98, kRed));

    // A form with 10 mm margins: the page has the form's size and the
    // image stays inside the margins.
    ASSERT_EQ(m_pManager->AddCustomPaper("PDF", "Card", 1000, 2000, 100, 100, 100, 100), 1);
    ASSERT_EQ(m_pManager->SetPaper("PDF", "Card", 0, -1), 1);
    job = m_pManager->PrintImageFile("PDF", jpeg);
    ASSERT_GT(job, 0);
    pdf = OutputOf(job);
    ASSERT_FALSE(pdf.empty());
    EXPECT_TRUE(PageSizeIs(pdf, 283.5, 566.9));  // 100 x 200 mm
    ASSERT_TRUE(Render(pdf, m_dir / "card", page));
    EXPECT_TRUE(Colour(page, 0.05, 0.5, kWhite));   // inside the 10 mm left margin
    EXPECT_TRUE(Colour(page, 0.5, 0.97, kWhite));   // inside the bottom margin
    EXPECT_TRUE(Colour(page, 0.15, 0.1, kRed));     // just inside the printable area
    EXPECT_TRUE(Colour(page, 0.85, 0.9, kRed));
}

TEST_F(ImagePages, ConcurrentPrintsAllComplete) {
    std::string png = m_dir / "small.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 16, 16, kRed, kBlue, kGreen, kClear));
    std::string jpeg = m_dir / "small.jpg";
    ASSERT_TRUE(SaveQuadrants(jpeg, "jpeg", 16, 16, kRed, kBlue, kGreen, kWhite));
    constexpr int kThreads = 4;
    int jobs[kThreads] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] { jobs[i] = m_pManager->PrintImageFile(i % 2 ? "EVE" : "PDF", i % 2 ? jpeg : png); });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_GT(jobs[i], 0) << i;
        EXPECT_EQ(WaitForJob(i % 2 ? "EVE" : "PDF", jobs[i]), JobState::Completed) << i;
    }
    std::set<int> distinct(std::begin(jobs), std::end(jobs));
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kThreads));
}

TEST_F(ImageFailures, BadFilesAndPrintersSubmitNothing) {
    std::string png = m_dir / "good.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 40, 40, kRed, kBlue, kGreen, kClear));
    std::string jpeg = m_dir / "good.jpg";
    ASSERT_TRUE(SaveQuadrants(jpeg, "jpeg", 200, 200, kRed, kBlue, kGreen, kWhite));
    std::string pngBytes = ReadBytes(png), jpegBytes = ReadBytes(jpeg);
    WriteBytes(m_dir / "empty.png", "");
    WriteBytes(m_dir / "cut.png", pngBytes.substr(0, pngBytes.size() / 2));
    WriteBytes(m_dir / "cut.jpg", jpegBytes.substr(0, jpegBytes.size() / 2));
    WriteBytes(m_dir / "text.jpg", "this is not an image\n");
    WriteBytes(m_dir / "header-only.jpg", jpegBytes.substr(0, 20));

    int before = JobCount();
    for (const char* name : {"missing.png", "empty.png", "cut.png", "cut.jpg", "text.jpg", "header-only.jpg"}) {
        EXPECT_EQ(m_pManager->PrintImageFile("PDF", m_dir / name), 0) << name;
    }
    EXPECT_EQ(m_pManager->PrintImageFile("PDF", m_dir.path()), 0);  // a folder
    EXPECT_EQ(m_pManager->PrintImageFile("PDF", ""), 0);
    EXPECT_EQ(m_pManager->PrintImageFile("NoSuchPrinter", png), 0);
    EXPECT_EQ(m_pManager->PrintImageFile("", png), 0);
    EXPECT_EQ(m_pManager->PrintImageFile(std::string(128, 'P'), png), 0);
    ASSERT_EQ(Run("cupsreject PDF"), 0);
    EXPECT_EQ(m_pManager->PrintImageFile("PDF", png), 0);  // the queue refuses
    EXPECT_EQ(JobCount(), before);
    // No temporary page is left behind.
    std::string leftovers;
    Run("ls /tmp | grep -c '^quorvin-page-' || true", &leftovers);
    EXPECT_EQ(leftovers, "0\n");
}

TEST_F(ShellPrinting, FileGoesToTheDefaultPrinterTypedByCups) {
    std::string text = m_dir / "note.txt";
    WriteBytes(text, "Quorvin shell print\n");
    int before = JobCount();
    ASSERT_TRUE(m_pManager->ShellPrintFile(text));
    EXPECT_EQ(JobCount(), before + 1);
    std::string last;
    Run("lpstat -W all -o PDF | tail -1", &last);
    int job = std::stoi(std::regex_replace(last, std::regex("^PDF-([0-9]+).*\\n?$"), "$1"));
    std::string pdf = OutputOf(job);
    ASSERT_FALSE(pdf.empty());
    // CUPS typed the text and set it on a page: something dark on white.
    Raster page;
    ASSERT_TRUE(Render(pdf, m_dir / "note", page));
    std::size_t dark = 0;
    for (std::size_t i = 0; i < page.rgb.size(); i += 3)
        if (static_cast<unsigned char>(page.rgb[i]) < 128) ++dark;
    EXPECT_GT(dark, 20u);
    EXPECT_LT(dark, page.rgb.size() / 3 / 10);

    // Missing, a folder, or no default printer: refused.
    EXPECT_FALSE(m_pManager->ShellPrintFile(m_dir / "missing.txt"));
    EXPECT_FALSE(m_pManager->ShellPrintFile(m_dir.path()));
    EXPECT_FALSE(m_pManager->ShellPrintFile(""));
    ASSERT_EQ(Run("cupsreject PDF"), 0);
    EXPECT_FALSE(m_pManager->ShellPrintFile(text));
    EXPECT_EQ(JobCount(), before + 1);
}

}  // namespace
}  // namespace quorvin::testing
