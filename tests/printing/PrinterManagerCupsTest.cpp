// The printer operations against a real (private) CUPS scheduler.
#include <cjson/cJSON.h>

#include "CupsTestBase.h"
#include "printing/FormStore.h"

namespace quorvin::testing {
namespace {

using PrinterListing = CupsTest;
using DefaultPrinter = CupsTest;
using CustomForms = CupsTest;
using SetPaperFlags = CupsTest;
using JobStatusTexts = CupsTest;
using SpoolerFailures = CupsTest;

const std::string kLongName(64, 'n');  // 64 bytes: one too many for a paper name

TEST_F(PrinterListing, ListsEveryQueueWithNamesEscapedAndConverted) {
    EXPECT_EQ(m_pManager->GetAllPrinters(), "[\"EVE\",\"PDF\"]");

    // Non-ASCII queue names come back in the local code page and are found,
    // in the scheduler's order.
    ASSERT_EQ(Run("lpadmin -p '打印机一' -E -v cups-pdf:/ -P /usr/share/ppd/cups-pdf/CUPS-PDF_noopt.ppd"), 0);
    EXPECT_EQ(m_pManager->GetAllPrinters(), "[\"打印机一\",\"EVE\",\"PDF\"]");
    SetLocalCodePage("GBK");
    std::string gbk = m_pManager->GetAllPrinters();
    EXPECT_EQ(LocalToUtf8(gbk), "[\"打印机一\",\"EVE\",\"PDF\"]");
    EXPECT_NE(gbk, LocalToUtf8(gbk));  // really GBK bytes
    EXPECT_EQ(LocalToUtf8(m_pManager->GetPrinterJobStatus(Utf8ToLocal("打印机一"))),
              "{\"printer\":\"打印机空闲状态\",\"jobs\":[]}");
    SetLocalCodePage("");
    EXPECT_EQ(m_pManager->GetPaperSize("打印机一", "", "A4"), 9);
    ASSERT_EQ(Run("lpadmin -x '打印机一'"), 0);
    EXPECT_EQ(m_pManager->GetAllPrinters(), "[\"EVE\",\"PDF\"]");
}

TEST_F(PrinterListing, SchedulerWithoutQueuesListsNothing) {
    TempDir empty;
    std::string said;
    ASSERT_EQ(Run(ShellQuote(s_cups.script) + " start " + ShellQuote(empty / "cups") + " --empty", &said), 0) << said;
    auto values = ReadEnvFile(empty / "cups/env");
    std::string listing, def, defPaper, jobs;
    WithCupsServer(values["CUPS_SERVER"], [&] {
        CPrinterManager manager(empty.path());
        listing = manager.GetAllPrinters();
        def = manager.GetDefaultPrinter();
        defPaper = manager.GetDefaultPrinterAndPaper();
        jobs = manager.GetPrinterJobStatus("PDF");
    });
    Run(ShellQuote(s_cups.script) + " stop " + ShellQuote(empty / "cups"));
    EXPECT_EQ(listing, "[]");
    EXPECT_EQ(def, "{\"name\":\"\",\"driver\":\"\",\"port\":\"\"}");
    EXPECT_EQ(defPaper, "{\"printer\":\"\",\"paperName\":\"\",\"paperSize\":\"0\"}");
    EXPECT_EQ(jobs, "{\"printer\":\"打印机不存在\",\"jobs\":[]}");
}

TEST_F(DefaultPrinter, GetAndSet) {
    EXPECT_EQ(m_pManager->GetDefaultPrinter(),
              "{\"name\":\"PDF\",\"driver\":\"Generic CUPS-PDF Printer (no options)\",\"port\":\"cups-pdf:/\"}");
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(), "{\"printer\":\"PDF\",\"paperName\":\"A4\",\"paperSize\":\"9\"}");

    EXPECT_TRUE(m_pManager->SetDefaultPrinter("eve"));  // CUPS names ignore case
    std::string def = m_pManager->GetDefaultPrinter();
    JsonPtr parsed = ParseJson(def);
    ASSERT_TRUE(parsed) << def;
    EXPECT_EQ(GetJsonString(parsed.get(), "name"), "EVE");
    EXPECT_EQ(GetJsonString(parsed.get(), "port").rfind("ipp://localhost:", 0), 0u) << def;
    EXPECT_FALSE(GetJsonString(parsed.get(), "driver").empty()) << def;
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(),
              "{\"printer\":\"EVE\",\"paperName\":\"Letter\",\"paperSize\":\"1\"}");

    // Refused: nothing changes.
    EXPECT_FALSE(m_pManager->SetDefaultPrinter("NoSuchPrinter"));
    EXPECT_FALSE(m_pManager->SetDefaultPrinter(""));
    EXPECT_FALSE(m_pManager->SetDefaultPrinter(std::string(128, 'P')));
    EXPECT_FALSE(m_pManager->SetDefaultPrinter("PDF\"x"));
    EXPECT_NE(m_pManager->GetDefaultPrinter().find("\"name\":\"EVE\""), std::string::npos);
}

TEST_F(CustomForms, AddApplyListDelete) {
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Label"), -1);
    ASSERT_EQ(m_pManager->AddCustomPaper("PDF", "Label", 1000, 1500, 50, 50, 50, 50), 1);
    ASSERT_EQ(m_pManager->AddCustomPaper("PDF", "Ticket", 800, 2000, 0, 0, 0, 0), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Label"), 1000);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Ticket"), 1001);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "label"), -1);  // case-sensitive
    EXPECT_EQ(m_pManager->GetPaperSize("EVE", "", "Label"), -1);  // per printer

    // Updating keeps the code; a new manager on the same folder sees it.
    ASSERT_EQ(m_pManager->AddCustomPaper("pdf", "Label", 1020, 1520, 0, 0, 0, 0), 1);
    CPrinterManager restarted(m_dir.path());
    EXPECT_EQ(restarted.GetPaperSize("PDF", "", "Label"), 1000);

    // Applied by name and by code: the queue's default media becomes the form.
    ASSERT_EQ(m_pManager->SetPaper("PDF", "Label", 0, -1), 1);
    EXPECT_EQ(Attribute("PDF", "media-default"), "custom_label_102x152mm");
    EXPECT_EQ(m_pManager->GetDefaultPrinterAndPaper(),
              "{\"printer\":\"PDF\",\"paperName\":\"Label\",\"paperSize\":\"1000\"}");
    ASSERT_EQ(m_pManager->SetPaper("PDF", "1001", 0, -1), 1);
    EXPECT_EQ(Attribute("PDF", "media-default"), "custom_ticket_80x200mm");

    EXPECT_EQ(m_pManager->DeleteCustomPaper("PDF", "Label"), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Label"), -1);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("PDF", "Label"), 0);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Ticket"), 1001);
}

TEST_F(CustomForms, QuotedAndNonAsciiNamesAreEscapedAndFound) {
    const std::string name = "Quote \"A\" \\ 纸";
    ASSERT_EQ(m_pManager->AddCustomPaper("PDF", name, 1000, 1000, 0, 0, 0, 0), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", name), 1000);
    ASSERT_EQ(m_pManager->SetPaper("PDF", name, 0, -1), 1);
    std::string text = m_pManager->GetDefaultPrinterAndPaper();
    EXPECT_EQ(text, "{\"printer\":\"PDF\",\"paperName\":\"Quote \\\"A\\\" \\\\ 纸\",\"paperSize\":\"1000\"}");
    JsonPtr parsed = ParseJson(text);
    ASSERT_TRUE(parsed) << text;
    EXPECT_EQ(GetJsonString(parsed.get(), "paperName"), name);

    // The same in GBK: arguments and answers in the local code page.
    SetLocalCodePage("GBK");
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", Utf8ToLocal(name)), 1000);
    EXPECT_EQ(LocalToUtf8(m_pManager->GetDefaultPrinterAndPaper()), text);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("PDF", Utf8ToLocal(name)), 1);
}

TEST_F(CustomForms, BadFormsAreRefusedAndNothingIsStored) {
    struct Case {
        const char* why;
        std::string printer, form;
        int w, h, l, t, r, b;
    } cases[] = {
        {"unknown printer", "NoSuchPrinter", "F", 1000, 1000, 0, 0, 0, 0},
        {"empty printer", "", "F", 1000, 1000, 0, 0, 0, 0},
        {"empty form", "PDF", "", 1000, 1000, 0, 0, 0, 0},
        {"64-byte form", "PDF", kLongName, 1000, 1000, 0, 0, 0, 0},
        {"128-byte printer", std::string(128, 'P'), "F", 1000, 1000, 0, 0, 0, 0},
        {"negative width", "PDF", "F", -1000, 1000, 0, 0, 0, 0},
        {"zero height", "PDF", "F", 1000, 0, 0, 0, 0, 0},
        {"negative margin", "PDF", "F", 1000, 1000, -1, 0, 0, 0},
        {"margins wider than paper", "PDF", "F", 1000, 1000, 600, 0, 400, 0},
        {"margins taller than paper", "PDF", "F", 1000, 1000, 0, 1000, 0, 1},
        {"overflowing margins", "PDF", "F", 1000, 1000, 0x7fffffff, 0, 0x7fffffff, 0},
        {"paper too wide to measure", "PDF", "F", 0x7fffffff, 1000, 0, 0, 0, 0},
        {"paper too tall to measure", "PDF", "F", 1000, kMaxFormSide + 1, 0, 0, 0, 0},
        {"the printer's own paper", "PDF", "A4", 2100, 2970, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(m_pManager->AddCustomPaper(c.printer, c.form, c.w, c.h, c.l, c.t, c.r, c.b), 0) << c.why;
    }
    EXPECT_EQ(ReadBytes(m_dir / "forms.json"), "");
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "F"), -1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "A4"), 9);

    // 63 bytes is the longest name that fits.
    EXPECT_EQ(m_pManager->AddCustomPaper("PDF", std::string(63, 'n'), 1000, 1000, 0, 0, 0, 0), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", std::string(63, 'n')), 1000);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", kLongName), -1);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("PDF", kLongName), 0);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("NoSuchPrinter", std::string(63, 'n')), 0);
    EXPECT_EQ(m_pManager->DeleteCustomPaper("", std::string(63, 'n')), 0);
}

TEST_F(SetPaperFlags, CodesNamesCopiesAndOrientation) {
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "Letter"), 1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "A3"), 8);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "whatever-port", "A4"), 9);
    // Sizes without a standard code get driver codes from 256 up, the
    // same ones every time.
    int a0 = m_pManager->GetPaperSize("PDF", "", "iso_a0_841x1189mm");
    EXPECT_GE(a0, 256);
    EXPECT_LT(a0, 1000);
    EXPECT_EQ(CPrinterManager(m_dir.path()).GetPaperSize("PDF", "", "iso_a0_841x1189mm"), a0);

    // A name is looked up; copies and orientation applied.
    ASSERT_EQ(m_pManager->SetPaper("PDF", "Letter", 3, 2), 1);
    EXPECT_EQ(Attribute("PDF", "media-default"), "na_letter_8.5x11in");
    EXPECT_EQ(Attribute("PDF", "copies-default"), "3");
    EXPECT_EQ(Attribute("PDF", "orientation-requested-default"), "landscape");

    // "9" is used as the code directly; copies 0 and orientation -1 leave
    // those defaults alone.
    ASSERT_EQ(m_pManager->SetPaper("PDF", "9", 0, -1), 1);
    EXPECT_EQ(Attribute("PDF", "media-default"), "iso_a4_210x297mm");
    EXPECT_EQ(Attribute("PDF", "copies-default"), "3");
    EXPECT_EQ(Attribute("PDF", "orientation-requested-default"), "landscape");

    // A driver code works like a standard one.
    ASSERT_EQ(m_pManager->SetPaper("PDF", std::to_string(a0), 0, 65537), 1);  // low 16 bits: 1, portrait
    EXPECT_EQ(Attribute("PDF", "media-default"), "iso_a0_841x1189mm");
    EXPECT_EQ(Attribute("PDF", "orientation-requested-default"), "portrait");

    // A name the printer does not know: the paper is left, copies still set.
    ASSERT_EQ(m_pManager->SetPaper("PDF", "NoSuchPaper", 2, -1), 1);
    EXPECT_EQ(Attribute("PDF", "media-default"), "iso_a0_841x1189mm");
    EXPECT_EQ(Attribute("PDF", "copies-default"), "2");
}

TEST_F(SetPaperFlags, BadArgumentsFailAndChangeNothing) {
    ASSERT_EQ(m_pManager->SetPaper("PDF", "A4", 1, 1), 1);
    // Codes that name no paper of this printer (70000 is 4464 in 16 bits).
    for (const char* code : {"500", "2", "999", "1000", "70000"}) {
        EXPECT_EQ(m_pManager->SetPaper("PDF", code, 5, 2), 0) << code;
    }
    EXPECT_EQ(m_pManager->SetPaper("NoSuchPrinter", "9", 1, 1), 0);
    EXPECT_EQ(m_pManager->SetPaper("", "9", 1, 1), 0);
    EXPECT_EQ(m_pManager->SetPaper(std::string(128, 'P'), "9", 1, 1), 0);
    EXPECT_EQ(m_pManager->SetPaper("PDF", kLongName, 5, 2), 0);
    EXPECT_EQ(Attribute("PDF", "media-default"), "iso_a4_210x297mm");
    EXPECT_EQ(Attribute("PDF", "copies-default"), "1");
    EXPECT_EQ(Attribute("PDF", "orientation-requested-default"), "portrait");

    EXPECT_EQ(m_pManager->GetPaperSize("NoSuchPrinter", "", "A4"), -1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", ""), -1);
    EXPECT_EQ(m_pManager->GetPaperSize("PDF", "", "a4"), -1);
}

TEST_F(JobStatusTexts, IdlePausedAndReasons) {
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("EVE"), "{\"printer\":\"打印机空闲状态\",\"jobs\":[]}");

    struct Case {
        const char* reasons;
        const char* text;
    } cases[] = {
        {"media-empty-error", "打印纸位置不正确"},
        {"media-jam-error", "打印机卡纸"},
        {"door-open-error", "打印机的门是开着的，请关闭"},
        {"toner-low-report", "打印机墨粉不足"},
        {"toner-empty-error", "打印机没有墨粉"},
        {"offline-report", "无法连接打印机，可能是打印机未启动"},
        {"toner-low-report,media-jam-error", "打印机卡纸"},
        {"none", "打印机空闲状态"},
    };
    for (const Case& c : cases) {
        SetReasons("EVE", c.reasons);
        EXPECT_EQ(m_pManager->GetPrinterJobStatus("EVE"),
                  std::string("{\"printer\":\"") + c.text + "\",\"jobs\":[]}")
            << c.reasons;
    }

    ASSERT_EQ(Run("cupsdisable -r 'maintenance' EVE"), 0);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("EVE"), "{\"printer\":\"打印暂停中...\",\"jobs\":[]}");
    ASSERT_EQ(Run("cupsenable EVE && cupsreject EVE"), 0);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("EVE"), "{\"printer\":\"打印机不可用\",\"jobs\":[]}");
}

TEST_F(JobStatusTexts, QueuedJobsWithTheirDocumentNames) {
    std::string file = m_dir / "doc.txt";
    WriteBytes(file, "hello\n");
    ASSERT_EQ(Run("cupsdisable PDF"), 0);
    int first = Lp("PDF", file, "C:\\temp\\a.jpg");
    int second = Lp("PDF", file, "报告 \"final\".txt");
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);

    std::string expected = "{\"printer\":\"打印暂停中...\",\"jobs\":[{\"JobId\":" + std::to_string(first) +
                           ",\"TotalPages\":0,\"PagesPrinted\":0,\"filename\":\"C:^temp^a.jpg\",\"status\":"
                           "\"打印作业阻塞\"},{\"JobId\":" +
                           std::to_string(second) +
                           ",\"TotalPages\":0,\"PagesPrinted\":0,\"filename\":\"报告 \\\"final\\\".txt\",\"status\":"
                           "\"打印作业阻塞\"}]}";
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("PDF"), expected);
    EXPECT_EQ(m_pManager->GetJobState("PDF", first), JobState::Active);
    EXPECT_EQ(m_pManager->GetJobState("PDF", 0, "c:^TEMP^a.jpg"), JobState::Active);

    // A held job reads as paused; a cancelled one leaves the list.
    ASSERT_EQ(Run("lp -i " + std::to_string(second) + " -H hold"), 0);
    std::string held = m_pManager->GetPrinterJobStatus("PDF");
    EXPECT_NE(held.find("\"filename\":\"报告 \\\"final\\\".txt\",\"status\":\"打印作业暂停\""), std::string::npos)
        << held;
    ASSERT_EQ(Run("cancel " + std::to_string(first)), 0);
    EXPECT_EQ(m_pManager->GetJobState("PDF", first), JobState::Failed);
    std::string after = m_pManager->GetPrinterJobStatus("PDF");
    EXPECT_EQ(after.find("a.jpg"), std::string::npos) << after;

    // A job is asked about on its own printer only.
    EXPECT_EQ(m_pManager->GetJobState("EVE", second), JobState::Unknown);
    EXPECT_EQ(m_pManager->GetJobState("PDF", 999999), JobState::Unknown);
    EXPECT_EQ(m_pManager->GetJobState("PDF", 0, "nothing-by-this-name"), JobState::Unknown);
}

TEST_F(JobStatusTexts, UnknownAndInvalidPrinters) {
    const std::string missing = "{\"printer\":\"打印机不存在\",\"jobs\":[]}";
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("NoSuchPrinter"), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus(""), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus(std::string(128, 'P')), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("PDF\"]}"), missing);
    EXPECT_EQ(m_pManager->GetPrinterJobStatus("不存在的打印机"), missing);
}

// Every operation against a scheduler that is not there (refused at once)
// and one that accepts and never answers (bounded by the deadline; the
// test's timeout catches a hang). The listings answer nothing at all rather
// than an empty listing: a spooler that cannot be asked is no machine
// without printers.
void ExpectFailureAnswers(CPrinterManager& manager, const std::string& image) {
    EXPECT_EQ(manager.GetAllPrinters(), "");
    EXPECT_EQ(manager.GetDefaultPrinter(), "");
    EXPECT_EQ(manager.GetDefaultPrinterAndPaper(), "");
    EXPECT_FALSE(manager.SetDefaultPrinter("PDF"));
    EXPECT_EQ(manager.AddCustomPaper("PDF", "F", 1000, 1000, 0, 0, 0, 0), 0);
    EXPECT_EQ(manager.DeleteCustomPaper("PDF", "F"), 0);
    EXPECT_EQ(manager.SetPaper("PDF", "9", 1, 1), 0);
    EXPECT_EQ(manager.GetPaperSize("PDF", "", "A4"), -1);
    EXPECT_EQ(manager.GetPrinterJobStatus("PDF"), "{\"printer\":\"获取打印作业失败\",\"jobs\":[]}");
    EXPECT_EQ(manager.PrintImageFile("PDF", image), 0);
    EXPECT_FALSE(manager.ShellPrintFile(image));
    EXPECT_EQ(manager.GetJobState("PDF", 1), JobState::Unreachable);
}

TEST_F(SpoolerFailures, SchedulerDown) {
    std::string image = m_dir / "x.txt";
    WriteBytes(image, "x");
    // A port nothing listens on: the one of a scheduler just stopped.
    TempDir gone;
    ASSERT_EQ(Run(ShellQuote(s_cups.script) + " start " + ShellQuote(gone / "cups") + " --empty"), 0);
    std::string server = ReadEnvFile(gone / "cups/env")["CUPS_SERVER"];
    ASSERT_EQ(Run(ShellQuote(s_cups.script) + " stop " + ShellQuote(gone / "cups")), 0);
    WithCupsServer(server, [&] {
        CPrinterManager manager(m_dir.path());
        ExpectFailureAnswers(manager, image);
    });
    EXPECT_EQ(ReadBytes(m_dir / "forms.json"), "");
}

TEST_F(SpoolerFailures, SchedulerHangs) {
    std::string image = m_dir / "x.txt";
    WriteBytes(image, "x");
    HangingServer hanging;
    ASSERT_GT(hanging.port(), 0);
    WithCupsServer("127.0.0.1:" + std::to_string(hanging.port()), [&] {
        CPrinterManager manager(m_dir.path());
        // The answers that need one request each; the full set is above.
        EXPECT_EQ(manager.GetAllPrinters(), "");
        EXPECT_EQ(manager.GetDefaultPrinter(), "");
        EXPECT_EQ(manager.GetPrinterJobStatus("PDF"), "{\"printer\":\"获取打印作业失败\",\"jobs\":[]}");
        EXPECT_FALSE(manager.ShellPrintFile(image));
    });
}

}  // namespace
}  // namespace quorvin::testing
