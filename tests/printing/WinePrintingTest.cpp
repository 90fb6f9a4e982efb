// The printer manager on wine's spooler, whose printers are the queues of
// the private CUPS scheduler (wine-cups-test.sh gives wine its CUPS_SERVER
// and checks the printed page afterwards). The cases of
// PrinterManagerCupsTest.cpp that hold through winspool; what wine stubs
// (job lists, printer status) is covered by WinSpoolMappingTest.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "TempDir.h"
#include "TestPng.h"
#include "common/CodePage.h"
#include "printing/PrinterManager.h"

namespace quorvin::testing {
namespace {

class WinePrinting : public ::testing::Test {
protected:
    void SetUp() override {
        SetLocalCodePage("UTF-8");  // the texts as they are, whatever wine's code page
        m_pManager = std::make_unique<CPrinterManager>(m_dir.path());
        // The scheduler's default, whatever an earlier case chose.
        ASSERT_TRUE(m_pManager->SetDefaultPrinter("PDF"));
        ASSERT_EQ(m_pManager->SetPaper("PDF", "A4", 1, 1), 1);
    }
    void TearDown() override { SetLocalCodePage(""); }
    TempDir m_dir;
    std::unique_ptr<CPrinterManager> m_pManager;
};

TEST_F(WinePrinting, ListsTheSchedulersQueues) {
    const std::string all = m_pManager->GetAllPrinters();
    EXPECT_NE(all.find("\"PDF\""), std::string::npos) << all;
    EXPECT_NE(all.find("\"EVE\""), std::string::npos) << all;
    EXPECT_EQ(all.front(), '[');
    EXPECT_EQ(all.back(), ']');
}

TEST_F(WinePrinting, DefaultPrinterAndPaper) {
    const std::string def = m_pManager->GetDefaultPrinter();
    // Wine names its own driver and a port of its own for every CUPS queue.
    EXPECT_EQ(def.rfind("{\"name\":\"PDF\",\"driver\":\"", 0), 0u) << def;
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(), "{\"printer\":\"PDF\",\"paperName\":\"A4\",\"paperSize\":\"9\"}");

    EXPECT_TRUE(m_pManager->SetDefaultPrinter("EVE"));
    EXPECT_EQ(m_pManager->GetDefaultPrinter().rfind("{\"name\":\"EVE\"", 0), 0u);
    EXPECT_FALSE(m_pManager->SetDefaultPrinter("NoSuchPrinter"));
    EXPECT_FALSE(m_pManager->SetDefaultPrinter(""));
    EXPECT_FALSE(m_pManager->SetDefaultPrinter(std::string(128, 'P')));
    EXPECT_EQ(m_pManager->GetDefaultPrinter().rfind("{\"name\":\"EVE\"", 0), 0u);
}

TEST_F(WinePrinting, PaperCodesFromTheDriversList) {
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "A4"), 9);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "whatever-port", "Letter"), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "a4"), -1);  // case-sensitive
    EXPECT_EQ(m_pManager->GetPaperSize("NoSuchPrinter", "", "A4"), -1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", ""), -1);
}

// SetPaper goes through DocumentProperties and SetPrinter into the
// printer's DEVMODE, which GetPrinter reads back (wine keeps it in its
// registry; the CUPS queue's own defaults are not touched).
TEST_F(WinePrinting, SetPaperChangesTheDevModeDefaults) {
    ASSERT_EQ(m_pManager->SetPaper("PDF", "Letter", 2, 2), 1);
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(),
              "{\"printer\":\"PDF\",\"paperName\":\"Letter\",\"paperSize\":\"1\"}");
    ASSERT_EQ(m_pManager->SetPaper("PDF", "9", 0, -1), 1);
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(),
              "{\"printer\":\"PDF\",\"paperName\":\"A4\",\"paperSize\":\"9\"}");
    EXPECT_EQ(m_pManager->SetPaper("PDF", "500", 1, 1), 0);
}

TEST_F(WinePrinting, CustomFormsAreKeptPerPrinter) {
    ASSERT_EQ(m_pManager->AddCustomPaper("PDF", "Label", 1000, 1500, 50, 50, 50, 50), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Label"), 1000);
    EXPECT_EQ(m_pManager->GetPaperSize("EVE", "", "Label"), -1);
    // Applied as a user-sized DEVMODE paper, which the driver accepts.
    // (Wine's PostScript driver numbers its PPD's extra sizes from 256 =
    // DMPAPER_USER up and so swaps in one of those: reading the form back
    // as the default paper is left to a Windows driver.)
    EXPECT_EQ(m_pManager->SetPaper("PDF", "Label", 0, -1), 1);
    EXPECT_EQ(m_pManager->AddCustomPaper("PDF", "A4", 2100, 2970, 0, 0, 0, 0), 0);  // the printer's own
    EXPECT_EQ(m_pManager->AddCustomPaper("NoSuchPrinter", "F", 1000, 1000, 0, 0, 0, 0), 0);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("PDF", "Label"), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Label"), -1);
}

TEST_F(WinePrinting, UnknownAndInvalidPrinters) {
    const std::string missing = "{\"printer\":\"打印机不存在\",\"jobs\":[]}";
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("NoSuchPrinter"), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus(""), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus(std::string(128, 'P')), missing);
    EXPECT_EQ(m_pManager->SetPaper("NoSuchPrinter", "9", 1, 1), 0);
    EXPECT_EQ(m_pManager->SetPaper("PDF", "500", 1, 1), 0);  // no such paper code
    EXPECT_EQ(m_pManager->GetJobState("NoSuchPrinter", 1), JobState::Unknown);
}

TEST_F(WinePrinting, BadImagesAndFilesSubmitNothing) {
    WriteBytes(m_dir / "text.png", "not an image");
    EXPECT_EQ(m_pManager->PrintImageFile("PDF", m_dir / "text.png"), 0);
    EXPECT_EQ(m_pManager->PrintImageFile("PDF", m_dir / "missing.png"), 0);
    WriteBytes(m_dir / "quad.png", QuadrantPng(8, 8, {255, 0, 0, 255}, {255, 0, 0, 255}, {0, 0, 255, 255},
                                               {0, 0, 255, 255}));
    EXPECT_EQ(m_pManager->PrintImageFile("NoSuchPrinter", m_dir / "quad.png"), 0);
    EXPECT_FALSE(m_pManager->ShellPrintFile(m_dir / "missing.txt"));
    EXPECT_FALSE(m_pManager->ShellPrintFile(""));
}

// The page itself is checked by wine-cups-test.sh: a wide image with a
// transparent quadrant, stretched over A4's printable area.
TEST_F(WinePrinting, ImagePrintsAsAGdiJob) {
    const std::string png = m_dir / "wine-quad.png";
    WriteBytes(png, QuadrantPng(64, 16, {230, 20, 20, 255}, {0, 0, 0, 0}, {20, 20, 230, 255}, {20, 200, 20, 255}));
    const int job = m_pManager->PrintImageFile("PDF", png);
    ASSERT_GT(job, 0);
    std::printf("printed job %d\n", job);
    std::fflush(stdout);
    // Once it has left wine's queue the job reads as completed.
    JobState state = JobState::Active;
    for (int i = 0; i < 300 && state == JobState::Active; ++i) {
        state = m_pManager->GetJobState("PDF", job);
        if (state == JobState::Active) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(state, JobState::Completed);
    EXPECT_EQ(m_pManager->GetJobState("EVE", job), JobState::Unknown);
    EXPECT_EQ(m_pManager->GetJobState("PDF", job + 1000), JobState::Unknown);
}

}  // namespace
}  // namespace quorvin::testing
