// Image and file printing through the private scheduler: real PDFs from
// cups-pdf, checked by rendering them with poppler.
#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "CupsTestBase.h"
#include "PdfRaster.h"
#include "fixtures/StderrCapture.h"

namespace quorvin::testing {
namespace {

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
        std::size_t at = out.find("Page size:");
        double w = 0, h = 0;
        if (at == std::string::npos || std::sscanf(out.c_str() + at, "Page size: %lf x %lf pts", &w, &h) != 2)
            return ::testing::AssertionFailure() << "no page size in " << out;
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

TEST_F(ImagePages, LandscapeAndCopiesComeFromThePrinterDefaults) {
    std::string png = m_dir / "quad.png";
    ASSERT_TRUE(SaveQuadrants(png, "png", 40, 20, kRed, kBlue, kGreen, kWhite));
    ASSERT_EQ(m_pManager->SetPaper("PDF", "A4", 2, 2), 1);  // two copies, landscape
    int job = m_pManager->PrintImageFile("PDF", png);
    ASSERT_GT(job, 0);
    std::string pdf = OutputOf(job);
    ASSERT_FALSE(pdf.empty());
    EXPECT_TRUE(PageSizeIs(pdf, 595.3, 841.9));
    // cups-pdf leaves copies to the device: the job carries them.
    EXPECT_EQ(JobAttribute("PDF", job, "copies"), "2");
    EXPECT_EQ(JobAttribute("PDF", job, "media"), "iso_a4_210x297mm");
    // The landscape page lies turned a quarter to the left on the sheet,
    // still filled edge to edge.
    Raster page;
    ASSERT_TRUE(Render(pdf, m_dir / "page", page));
    EXPECT_TRUE(Colour(page, 0.05, 0.95, kRed));
    EXPECT_TRUE(Colour(page, 0.05, 0.05, kBlue));
    EXPECT_TRUE(Colour(page, 0.95, 0.95, kGreen));
    EXPECT_TRUE(Colour(page, 0.95, 0.05, kWhite));
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

// Each failed print leaves one line on stderr naming the image, the
// printer and the reason: the decoder's, or the scheduler's own status and
// message.
TEST_F(ImageFailures, EachFailureSaysWhyOnStderr) {
    std::string jpeg = m_dir / "good.jpg";
    ASSERT_TRUE(SaveQuadrants(jpeg, "jpeg", 200, 200, kRed, kBlue, kGreen, kWhite));
    const std::string jpegBytes = ReadBytes(jpeg);
    WriteBytes(m_dir / "cut.jpg", jpegBytes.substr(0, jpegBytes.size() / 2));
    WriteBytes(m_dir / "text.jpg", "this is not an image\n");
    const struct {
        const char* image;
        const char* command;  // run first
        std::string line;
    } cases[] = {
        {"cut.jpg", "", "quorvin: print: " + m_dir / "cut.jpg" + " on PDF: cut short"},
        {"text.jpg", "", "quorvin: print: " + m_dir / "text.jpg" + " on PDF: "},
        {"good.jpg", "cupsreject PDF", "quorvin: cups: print " + jpeg + " on PDF: server-error-not-accepting-jobs: Destination \"PDF\" is not accepting jobs."},
    };
    for (const auto& c : cases) {
        if (*c.command) {
            ASSERT_EQ(Run(c.command), 0);
        }
        StderrCapture err;
        EXPECT_EQ(m_pManager->PrintImageFile("PDF", m_dir / c.image), 0) << c.image;
        EXPECT_TRUE(err.WaitFor(c.line)) << err.Text();
        EXPECT_EQ(err.Count("quorvin: "), 1) << err.Text();
    }
}

TEST_F(ShellPrinting, FileGoesToTheDefaultPrinterTypedByCups) {
    std::string text = m_dir / "note.txt";
    WriteBytes(text, "Quorvin shell print\n");
    int before = JobCount();
    ASSERT_TRUE(m_pManager->ShellPrintFile(text));
    EXPECT_EQ(JobCount(), before + 1);
    std::string last;
    Run("lpstat -W all -o PDF | tail -1", &last);
    int job = last.rfind("PDF-", 0) == 0 ? std::atoi(last.c_str() + 4) : 0;
    ASSERT_GT(job, 0) << last;
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
    // A file that fails when read (this process's memory from address 0)
    // is no job printed: nothing may reach the queue as a success.
    EXPECT_FALSE(m_pManager->ShellPrintFile("/proc/self/mem"));
    EXPECT_EQ(JobCount(), before + 1);
    ASSERT_EQ(Run("cupsreject PDF"), 0);
    EXPECT_FALSE(m_pManager->ShellPrintFile(text));
    EXPECT_EQ(JobCount(), before + 1);
    // The queue is shared with the tests that run after this one.
    EXPECT_EQ(Run("cupsaccept PDF"), 0);
}

}  // namespace
}  // namespace quorvin::testing
