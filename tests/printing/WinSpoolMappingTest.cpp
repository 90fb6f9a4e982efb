// The winspool mappings as pure functions, and the printer manager over a
// fake spooler fed with them: the parts wine cannot show (its EnumJobs and
// printer status are stubs), checked without a spooler.
#include <gtest/gtest.h>

#include <map>

#include "common/CodePage.h"
#include "printing/PaperTable.h"
#include "printing/PrinterManager.h"
#include "printing/Spooler.h"
#include "printing/StatusText.h"
#include "printing/win/WinSpoolMapping.h"
#include "TempDir.h"

namespace quorvin {
namespace {

using namespace winspool;

std::string PrinterText(std::uint32_t status) {
    int state = 0;
    bool accepting = true;
    std::vector<std::string> reasons;
    PrinterStateFromStatus(status, state, reasons, accepting);
    return PrinterStatusTextUtf8(PrinterStatusBits(state, reasons, accepting));
}

std::string JobText(std::uint32_t status) {
    int state = 0;
    std::vector<std::string> reasons;
    JobStateFromStatus(status, state, reasons);
    return JobStatusTextUtf8(JobStatusBits(state, reasons));
}

TEST(WinPrinterStatus, EachBitReadsAsWindowsWouldSayIt) {
    using namespace printer_status;
    // Every bit of the tables but busy and waiting (no IPP reason carries
    // them; busy reads as printing) gives the text Windows' own bit gives.
    for (std::uint32_t bit : {kPaused, kError, kPaperJam, kPaperOut, kPaperProblem, kOffline, kPrinting,
                              kOutputBinFull, kNotAvailable, kTonerLow, kNoToner, kOutOfMemory, kDoorOpen}) {
        EXPECT_EQ(PrinterText(bit), PrinterStatusTextUtf8(bit)) << std::hex << bit;
    }
    EXPECT_EQ(PrinterText(0), "打印机空闲状态");
    EXPECT_EQ(PrinterText(kBusy), "正在打印...");
    EXPECT_EQ(PrinterText(0x4000), "正在打印...");  // processing
    // Combinations keep the tables' order.
    for (std::uint32_t bits : {kPaused | kError, kError | kPaperJam, kPaperJam | kTonerLow, kTonerLow | kOffline,
                               kPrinting | kPaused, kOffline | kDoorOpen, kNotAvailable | kPaperOut}) {
        EXPECT_EQ(PrinterText(bits), PrinterStatusTextUtf8(bits)) << std::hex << bits;
    }
}

TEST(WinPrinterStatus, ReasonsAreTheNamesTheTablesKnow) {
    int state = 0;
    bool accepting = true;
    std::vector<std::string> reasons;
    PrinterStateFromStatus(printer_status::kPaused | printer_status::kPaperJam | printer_status::kTonerLow |
                               printer_status::kNotAvailable,
                           state, reasons, accepting);
    EXPECT_EQ(state, 5);
    EXPECT_FALSE(accepting);
    EXPECT_EQ(reasons, (std::vector<std::string>{"paused", "media-jam-error", "toner-low-report"}));
    PrinterStateFromStatus(printer_status::kError | printer_status::kDoorOpen | printer_status::kOffline, state,
                           reasons, accepting);
    EXPECT_EQ(state, 5);
    EXPECT_TRUE(accepting);
    EXPECT_EQ(reasons, (std::vector<std::string>{"offline-report", "door-open-error"}));
    PrinterStateFromStatus(0, state, reasons, accepting);
    EXPECT_EQ(state, 3);
    EXPECT_TRUE(reasons.empty());
}

TEST(WinJobStatus, StatesAndTexts) {
    using namespace job_status;
    struct Case {
        std::uint32_t status;
        int state;
        const char* text;
    } cases[] = {
        {0, 3, "未知打印作业状态"},
        {kSpooling, 3, "未知打印作业状态"},
        {kPrinting, 5, "正在打印"},
        {kPaused, 4, "打印作业暂停"},
        {kPaused | kPrinting, 4, "打印作业暂停"},
        {kError | kPrinting, 8, "打印作业出错"},
        {kDeleting | kPrinting, 7, "正在删除"},
        {kDeleted, 7, "已取消打印作业"},
        {kPrinted, 9, "打印作业完成"},
        {kComplete, 9, "打印作业完成"},
        {kBlockedDevq, 6, "打印作业阻塞"},
        {kOffline, 6, "打印作业阻塞"},
        {kPaperOut, 6, "打印作业阻塞"},
        {kUserIntervention, 6, "打印作业阻塞"},
        {kRestart, 3, "未知打印作业状态"},
    };
    for (const Case& c : cases) {
        int state = 0;
        std::vector<std::string> reasons;
        JobStateFromStatus(c.status, state, reasons);
        EXPECT_EQ(state, c.state) << std::hex << c.status;
        EXPECT_EQ(JobText(c.status), c.text) << std::hex << c.status;
    }
}

const std::vector<DriverPaper> kPapers = {
    {1, "Letter", 2159, 2794},
    {9, "A4", 2100, 2970},
    {8, "A3", 2970, 4200},
    {2, "Letter Small", 2159, 2794},
    {300, "Photo 4x6 (borderless)", 1016, 1524},
};

TEST(WinPapers, DriverPapersAsPwgMedia) {
    EXPECT_EQ(MediaNameOf(kPapers[0]), "na_letter_8.5x11in");
    EXPECT_EQ(MediaNameOf(kPapers[1]), "iso_a4_210x297mm");
    EXPECT_EQ(MediaNameOf(kPapers[3]), "oe_letter-small_215.9x279.4mm");
    EXPECT_EQ(MediaNameOf(kPapers[4]), "oe_photo-4x6-borderless_101.6x152.4mm");
    std::vector<SpoolMedia> media = MediaOf(kPapers);
    ASSERT_EQ(media.size(), kPapers.size());
    EXPECT_EQ(media[1].width, 21000);
    EXPECT_EQ(media[1].length, 29700);
}

TEST(WinPapers, DefaultsFromDevMode) {
    SpoolPrinter printer;
    DevModeFields dm;
    dm.fields = kDmPaperSize | kDmCopies | kDmOrientation;
    dm.paperSize = 8;
    dm.copies = 3;
    dm.orientation = kDmOrientLandscape;
    DefaultsFromDevMode(dm, kPapers, printer);
    EXPECT_EQ(printer.mediaDefault, "iso_a3_297x420mm");
    EXPECT_EQ(printer.defaultMedia.width, 29700);
    EXPECT_EQ(printer.copiesDefault, 3);
    EXPECT_EQ(printer.orientationDefault, 4);

    // A user size with its form name: the custom media the form store names.
    dm = DevModeFields{};
    dm.fields = kDmPaperSize | kDmPaperWidth | kDmPaperLength | kDmFormName;
    dm.paperSize = kDmPaperUser;
    dm.paperWidth = 1000;
    dm.paperLength = 1500;
    dm.formName = "label";
    DefaultsFromDevMode(dm, kPapers, printer);
    EXPECT_EQ(printer.mediaDefault, CustomMediaName("Label", 1000, 1500));
    EXPECT_EQ(printer.copiesDefault, 1);
    EXPECT_EQ(printer.orientationDefault, 3);
}

TEST(WinPapers, ApplyDefaultsRoundTrips) {
    DevModeFields dm;
    dm.fields = kDmPaperSize;
    dm.paperSize = 9;
    SpoolDefaults defaults;
    defaults.media = "na_letter_8.5x11in";
    defaults.copies = 2;
    defaults.orientation = 4;
    ASSERT_TRUE(ApplyDefaults(defaults, kPapers, dm));
    EXPECT_EQ(dm.paperSize, 1);
    EXPECT_EQ(dm.copies, 2);
    EXPECT_EQ(dm.orientation, kDmOrientLandscape);

    // The driver's own sizes by the names MediaNameOf gives them.
    defaults = SpoolDefaults{};
    defaults.media = "oe_photo-4x6-borderless_101.6x152.4mm";
    ASSERT_TRUE(ApplyDefaults(defaults, kPapers, dm));
    EXPECT_EQ(dm.paperSize, 300);

    // A custom form: DMPAPER_USER with its size, read back as the same media.
    const std::string custom = CustomMediaName("Ticket Form", 800, 2000);
    defaults.media = custom;
    ASSERT_TRUE(ApplyDefaults(defaults, kPapers, dm));
    EXPECT_EQ(dm.paperSize, kDmPaperUser);
    EXPECT_EQ(dm.paperWidth, 800);
    EXPECT_EQ(dm.paperLength, 2000);
    SpoolPrinter printer;
    DefaultsFromDevMode(dm, kPapers, printer);
    EXPECT_EQ(printer.mediaDefault, custom);
    EXPECT_EQ(printer.copiesDefault, 2);

    // Unknown papers and bad values change nothing.
    const DevModeFields before = dm;
    defaults = SpoolDefaults{};
    defaults.media = "iso_a0_841x1189mm";  // not in this driver's list
    EXPECT_FALSE(ApplyDefaults(defaults, kPapers, dm));
    defaults.media.reset();
    defaults.orientation = 5;
    EXPECT_FALSE(ApplyDefaults(defaults, kPapers, dm));
    EXPECT_EQ(dm.paperSize, before.paperSize);
    EXPECT_EQ(dm.orientation, before.orientation);
}

TEST(WinPapers, CustomMediaNames) {
    auto size = ParseCustomMedia("custom_label_102x152.5mm");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->name, "label");
    EXPECT_EQ(size->width, 1020);
    EXPECT_EQ(size->length, 1525);
    for (const char* bad : {"custom_x_0x10mm", "custom_x_10x10in", "iso_a4_210x297mm", "custom_10x", "custom__x10mm",
                            "custom_x_99999x10mm"})
        EXPECT_FALSE(ParseCustomMedia(bad)) << bad;
}

TEST(WinSubmittedJobs, JobsThatLeftTheQueueCompletedUnlessSeenFailing) {
    SubmittedJobs jobs;
    jobs.Submitted("PDF", 5, "C:\\a.png");
    jobs.Submitted("PDF", 6, "b.png");
    jobs.Submitted("Other", 7, "c.png");
    SpoolJob job;
    ASSERT_TRUE(jobs.Departed("pdf", 5, job));  // printer names ignore case
    EXPECT_EQ(job.state, 9);
    EXPECT_EQ(job.name, "C:\\a.png");
    EXPECT_FALSE(jobs.Departed("PDF", 7, job));  // another printer's
    EXPECT_FALSE(jobs.Departed("PDF", 99, job));  // never submitted here

    // Seen cancelled or aborted before it left: it stays failed.
    SpoolJob seen;
    seen.id = 6;
    seen.name = "b.png";
    JobStateFromStatus(job_status::kDeleting, seen.state, seen.reasons);
    jobs.Seen("PDF", seen);
    ASSERT_TRUE(jobs.Departed("PDF", 6, job));
    EXPECT_EQ(job.state, 7);
    // Seen printing: completed once gone, with every page printed.
    seen.state = 5;
    seen.impressions = 3;
    jobs.Seen("PDF", seen);
    ASSERT_TRUE(jobs.Departed("PDF", 6, job));
    EXPECT_EQ(job.state, 9);
    EXPECT_EQ(job.impressionsCompleted, 3);

    // Those still queued are not reported as gone.
    std::vector<SpoolJob> gone = jobs.DepartedBesides("PDF", {seen});
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0].id, 5);
}

TEST(WinSubmittedJobs, OnlyTheNewestAreKept) {
    SubmittedJobs jobs;
    for (int id = 1; id <= 1100; ++id) jobs.Submitted("PDF", id, "x");
    SpoolJob job;
    EXPECT_FALSE(jobs.Departed("PDF", 1, job));
    EXPECT_FALSE(jobs.Departed("PDF", 76, job));
    EXPECT_TRUE(jobs.Departed("PDF", 77, job));
    EXPECT_TRUE(jobs.Departed("PDF", 1100, job));
}

// A spooler with one printer whose status and jobs come from Windows bits.
class FakeWinSpooler : public Spooler {
public:
    std::uint32_t printerStatus = 0;
    std::vector<std::pair<std::uint32_t, std::string>> jobs;  // status, document
    SpoolDefaults lastDefaults;

    SpoolStatus ListPrinters(std::vector<std::string>& names) override {
        names = {"HP LaserJet"};
        return SpoolStatus::Ok;
    }
    SpoolStatus GetDefaultPrinter(std::string& name) override {
        name = "HP LaserJet";
        return SpoolStatus::Ok;
    }
    SpoolStatus SetDefaultPrinter(const std::string&) override { return SpoolStatus::Ok; }
    SpoolStatus GetPrinter(const std::string& name, SpoolPrinter& printer) override {
        if (name != "HP LaserJet") return SpoolStatus::NotFound;
        printer = SpoolPrinter{};
        printer.name = name;
        printer.makeAndModel = "HP Universal Printing PCL 6";
        printer.deviceUri = "USB001";
        PrinterStateFromStatus(printerStatus, printer.state, printer.reasons, printer.accepting);
        printer.media = MediaOf(kPapers);
        DevModeFields dm;
        dm.fields = kDmPaperSize;
        dm.paperSize = 9;
        DefaultsFromDevMode(dm, kPapers, printer);
        return SpoolStatus::Ok;
    }
    SpoolStatus SetPrinterDefaults(const std::string&, const SpoolDefaults& defaults) override {
        DevModeFields dm;
        lastDefaults = defaults;
        return ApplyDefaults(defaults, kPapers, dm) ? SpoolStatus::Ok : SpoolStatus::Refused;
    }
    SpoolStatus GetJobs(const std::string& name, bool activeOnly, std::vector<SpoolJob>& out) override {
        if (name != "HP LaserJet") return SpoolStatus::NotFound;
        out.clear();
        int id = 1;
        for (const auto& [status, document] : jobs) {
            SpoolJob job;
            job.id = id++;
            job.name = document;
            JobStateFromStatus(status, job.state, job.reasons);
            job.impressions = 2;
            if (!activeOnly || job.state < 7) out.push_back(job);
        }
        return SpoolStatus::Ok;
    }
    SpoolStatus GetJob(const std::string& name, int jobId, SpoolJob& job) override {
        std::vector<SpoolJob> all;
        GetJobs(name, false, all);
        for (const SpoolJob& j : all)
            if (j.id == jobId) {
                job = j;
                return SpoolStatus::Ok;
            }
        return SpoolStatus::NotFound;
    }
    SpoolStatus SubmitFile(const std::string&, const std::string&, const std::string&, const std::string&,
                           const std::vector<std::string>&, int, int&) override {
        return SpoolStatus::Refused;
    }
};

TEST(WinSpoolerFake, ManagerTextsFromWindowsBits) {
    SetLocalCodePage("UTF-8");  // the texts as they are, whatever wine's code page
    testing::TempDir dir;
    auto spooler = std::make_shared<FakeWinSpooler>();
    CPrinterManager manager(dir.path(), spooler);
    EXPECT_EQ(manager.GetDefaultPrinter(),
              "{\"name\":\"HP LaserJet\",\"driver\":\"HP Universal Printing PCL 6\",\"port\":\"USB001\"}");
    EXPECT_EQ(manager.GetDefaultPrinterAndPaper(),
              "{\"printer\":\"HP LaserJet\",\"paperName\":\"A4\",\"paperSize\":\"9\"}");
    EXPECT_EQ(manager.GetPaperSize("HP LaserJet", "USB001", "Letter"), 1);
    // The driver's other sizes get driver codes from 256 up.
    EXPECT_GE(manager.GetPaperSize("HP LaserJet", "", "oe_letter-small_215.9x279.4mm"), 256);

    spooler->printerStatus = printer_status::kPaperJam;
    spooler->jobs = {{job_status::kPrinting, "C:\\temp\\a.jpg"},
                     {job_status::kPaused, "b.txt"},
                     {job_status::kDeleted, "gone.txt"}};
    EXPECT_EQ(manager.GetPrinterJobStatus("HP LaserJet"),
              "{\"printer\":\"打印机卡纸\",\"jobs\":[{\"JobId\":1,\"TotalPages\":2,\"PagesPrinted\":0,"
              "\"filename\":\"C:^temp^a.jpg\",\"status\":\"正在打印\"},{\"JobId\":2,\"TotalPages\":2,"
              "\"PagesPrinted\":0,\"filename\":\"b.txt\",\"status\":\"打印作业暂停\"}]}");
    EXPECT_EQ(manager.GetJobState("HP LaserJet", 1), JobState::Active);
    EXPECT_EQ(manager.GetJobState("HP LaserJet", 3), JobState::Failed);
    EXPECT_EQ(manager.GetJobState("HP LaserJet", 0, "c:^TEMP^A.jpg"), JobState::Active);
    spooler->jobs = {{job_status::kPrinted | job_status::kComplete, "C:\\temp\\a.jpg"}};
    EXPECT_EQ(manager.GetJobState("HP LaserJet", 1), JobState::Completed);

    // Paper, copies and orientation reach the spooler as SpoolDefaults the
    // DEVMODE mapping accepts.
    EXPECT_EQ(manager.SetPaper("HP LaserJet", "Letter", 2, 2), 1);
    EXPECT_EQ(spooler->lastDefaults.media.value_or(""), "na_letter_8.5x11in");
    ASSERT_EQ(manager.AddCustomPaper("HP LaserJet", "Label", 1000, 1500, 0, 0, 0, 0), 1);
    EXPECT_EQ(manager.SetPaper("HP LaserJet", "Label", 0, -1), 1);
    EXPECT_EQ(spooler->lastDefaults.media.value_or(""), CustomMediaName("Label", 1000, 1500));
    SetLocalCodePage("");
}

}  // namespace
}  // namespace quorvin
