// The fixed texts, the CUPS-to-status-bit mapping and the paper table.
#include <gtest/gtest.h>

#include <set>

#include "common/CodePage.h"
#include "printing/PaperTable.h"
#include "printing/PrinterManager.h"
#include "printing/StatusText.h"

namespace quorvin {
namespace {

TEST(PrinterStatusText, FirstBitInTableOrderWins) {
    using namespace printer_status;
    EXPECT_EQ(PrinterStatusTextUtf8(0), "打印机空闲状态");
    EXPECT_EQ(PrinterStatusTextUtf8(kPrinting | kPaused), "正在打印...");
    EXPECT_EQ(PrinterStatusTextUtf8(kPaused | kError), "打印暂停中...");
    EXPECT_EQ(PrinterStatusTextUtf8(kBusy | kWaiting), "打印机繁忙,被临时占用");
    EXPECT_EQ(PrinterStatusTextUtf8(kError | kPaperJam), "打印出错！");
    EXPECT_EQ(PrinterStatusTextUtf8(kPaperJam | kPaperOut), "打印机卡纸");
    EXPECT_EQ(PrinterStatusTextUtf8(kPaperProblem | kPaperOut), "打印纸出现问题");
    EXPECT_EQ(PrinterStatusTextUtf8(kPaperOut), "打印纸位置不正确");
    EXPECT_EQ(PrinterStatusTextUtf8(kOutputBinFull), "打印输出已满");
    EXPECT_EQ(PrinterStatusTextUtf8(kNotAvailable | kTonerLow), "打印机不可用");
    EXPECT_EQ(PrinterStatusTextUtf8(kTonerLow | kNoToner), "打印机墨粉不足");
    EXPECT_EQ(PrinterStatusTextUtf8(kNoToner), "打印机没有墨粉");
    EXPECT_EQ(PrinterStatusTextUtf8(kOutOfMemory | kOffline), "打印内存溢出");
    EXPECT_EQ(PrinterStatusTextUtf8(kOffline | kDoorOpen), "无法连接打印机，可能是打印机未启动");
    EXPECT_EQ(PrinterStatusTextUtf8(kDoorOpen), "打印机的门是开着的，请关闭");
    // Pending deletion, manual feed, I/O active, power save: not in the table.
    EXPECT_EQ(PrinterStatusTextUtf8(0x4 | 0x20 | 0x100 | 0x01000000), "未知打印机状态");
}

TEST(JobStatusText, FirstBitInTableOrderWins) {
    using namespace job_status;
    EXPECT_EQ(JobStatusTextUtf8(kPaused | kPrinting), "打印作业暂停");
    EXPECT_EQ(JobStatusTextUtf8(kError | kDeleting), "打印作业出错");
    EXPECT_EQ(JobStatusTextUtf8(kDeleting | kPrinting), "正在删除");
    EXPECT_EQ(JobStatusTextUtf8(kSpooling), "打印作业脱机");
    EXPECT_EQ(JobStatusTextUtf8(kPrinting | kPrinted), "正在打印");
    EXPECT_EQ(JobStatusTextUtf8(kOffline), "打印作业未连接");
    EXPECT_EQ(JobStatusTextUtf8(kPaperOut), "打印纸位置不正确");
    EXPECT_EQ(JobStatusTextUtf8(kPrinted), "打印作业完成");
    EXPECT_EQ(JobStatusTextUtf8(kDeleted), "已取消打印作业");
    EXPECT_EQ(JobStatusTextUtf8(kBlockedDevq), "打印作业阻塞");
    EXPECT_EQ(JobStatusTextUtf8(kUserIntervention), "打印作业被用户干预");
    EXPECT_EQ(JobStatusTextUtf8(kRestart), "打印作业被重置");
    EXPECT_EQ(JobStatusTextUtf8(kComplete), "打印作业完成");
    EXPECT_EQ(JobStatusTextUtf8(0), "未知打印作业状态");
    EXPECT_EQ(JobStatusTextUtf8(0x2000), "未知打印作业状态");
}

TEST(StatusBits, PrinterStatesAndReasons) {
    using namespace printer_status;
    EXPECT_EQ(PrinterStatusBits(3, {}, true), 0u);
    EXPECT_EQ(PrinterStatusBits(4, {}, true), kPrinting);
    EXPECT_EQ(PrinterStatusBits(5, {"paused"}, true), kPaused);
    // Stopped by CUPS itself (no "paused"): an error.
    EXPECT_EQ(PrinterStatusBits(5, {}, true), kError);
    EXPECT_EQ(PrinterStatusBits(3, {"media-empty-error"}, true), kPaperOut);
    EXPECT_EQ(PrinterStatusBits(3, {"media-needed-warning"}, true), kPaperOut);
    EXPECT_EQ(PrinterStatusBits(3, {"media-jam-error"}, true), kPaperJam);
    EXPECT_EQ(PrinterStatusBits(3, {"toner-low-report"}, true), kTonerLow);
    EXPECT_EQ(PrinterStatusBits(3, {"toner-empty-error"}, true), kNoToner);
    EXPECT_EQ(PrinterStatusBits(3, {"door-open-error", "cover-open"}, true), kDoorOpen);
    EXPECT_EQ(PrinterStatusBits(3, {"offline-report"}, true), kOffline);
    EXPECT_EQ(PrinterStatusBits(3, {"connecting-to-device"}, true), kOffline);
    EXPECT_EQ(PrinterStatusBits(3, {"output-area-full-warning"}, true), kOutputBinFull);
    EXPECT_EQ(PrinterStatusBits(3, {}, false), kNotAvailable);
    // Unknown reasons and look-alikes add nothing.
    EXPECT_EQ(PrinterStatusBits(3, {"cups-missing-filter-warning", "media-empty-ish", "-error"}, true), 0u);
    // Several reasons: the table order decides the text.
    EXPECT_EQ(PrinterStatusTextUtf8(PrinterStatusBits(4, {"media-jam-error", "toner-low-report"}, true)),
              "正在打印...");
    EXPECT_EQ(PrinterStatusTextUtf8(PrinterStatusBits(3, {"toner-low-report", "media-jam-error"}, true)), "打印机卡纸");
}

TEST(StatusBits, JobStates) {
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(3, {})), "未知打印作业状态");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(3, {"printer-stopped"})), "打印作业阻塞");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(4, {"job-hold-until-specified"})), "打印作业暂停");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(5, {"job-printing"})), "正在打印");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(5, {"processing-to-stop-point"})), "正在删除");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(6, {})), "打印作业阻塞");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(7, {})), "已取消打印作业");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(8, {})), "打印作业出错");
    EXPECT_EQ(JobStatusTextUtf8(JobStatusBits(9, {})), "打印作业完成");
}

TEST(StatusText, ManagerAnswersInTheLocalCodePage) {
    SetLocalCodePage("GBK");
    CPrinterManager manager("/nonexistent");
    // "打印机空闲状态" in GBK.
    EXPECT_EQ(manager.GetPrinterStatusText(0), "\xB4\xF2\xD3\xA1\xBB\xFA\xBF\xD5\xCF\xD0\xD7\xB4\xCC\xAC");
    EXPECT_EQ(LocalToUtf8(manager.GetJobStatusText(job_status::kDeleted)), "已取消打印作业");
    // Back to the system's own: UTF-8 on Linux, the ANSI code page on
    // Windows (1252 under wine's default, where the text is "???????").
    SetLocalCodePage("");
    EXPECT_EQ(manager.GetPrinterStatusText(0), Utf8ToLocal("打印机空闲状态"));
    SetLocalCodePage("UTF-8");
    EXPECT_EQ(manager.GetPrinterStatusText(0), "打印机空闲状态");
    SetLocalCodePage("");
}

TEST(PaperTable, StandardCodesByPwgName) {
    ASSERT_NE(PaperForPwg("iso_a4_210x297mm"), nullptr);
    EXPECT_EQ(PaperForPwg("iso_a4_210x297mm")->code, 9);
    EXPECT_STREQ(PaperForPwg("iso_a4_210x297mm")->name, "A4");
    EXPECT_EQ(PaperForPwg("na_letter_8.5x11in")->code, 1);
    EXPECT_EQ(PaperForPwg("na_legal_8.5x14in")->code, 5);
    EXPECT_EQ(PaperForPwg("iso_a3_297x420mm")->code, 8);
    EXPECT_EQ(PaperForPwg("iso_a5_148x210mm")->code, 11);
    EXPECT_EQ(PaperForPwg("na_number-10_4.125x9.5in")->code, 20);
    // The borderless variant is the same sheet.
    EXPECT_EQ(PaperForPwg("iso_a4_210x297mm_borderless")->code, 9);
    EXPECT_EQ(PaperForPwg("na_letter_8.5x11in_borderless")->code, 1);
    EXPECT_EQ(PaperForPwg("na_letter_8.5x11"), nullptr);
    EXPECT_EQ(PaperForPwg("iso_a0_841x1189mm"), nullptr);
    EXPECT_EQ(PaperForPwg("custom_foo_100x150mm"), nullptr);
    EXPECT_EQ(PaperForPwg(""), nullptr);
    EXPECT_EQ(PaperForCode(9)->pwgName, std::string("iso_a4_210x297mm"));
    EXPECT_EQ(PaperForCode(0), nullptr);
    EXPECT_EQ(PaperForCode(256), nullptr);
}

TEST(PaperTable, CodesAndNamesAreUniqueAndBelowDriverCodes) {
    std::set<int> codes;
    std::set<std::string> names;
    for (int code = 1; code < kFirstDriverPaperCode; ++code) {
        const StandardPaper* paper = PaperForCode(code);
        if (!paper) continue;
        EXPECT_TRUE(codes.insert(paper->code).second) << code;
        EXPECT_TRUE(names.insert(paper->name).second) << paper->name;
        EXPECT_EQ(PaperForPwg(paper->pwgName), paper) << paper->pwgName;
    }
    EXPECT_GT(codes.size(), 40u);
}

TEST(PaperTable, CustomMediaNamesAreValidKeywords) {
    EXPECT_EQ(CustomMediaName("Label", 1000, 1500), "custom_label_100x150mm");
    EXPECT_EQ(CustomMediaName("My Form_2", 2105, 2970), "custom_my-form-2_210.5x297mm");
    EXPECT_EQ(CustomMediaName("纸\"", 10, 10), "custom_----_1x1mm");
    EXPECT_EQ(CustomMediaName("", 1001, 1), "custom_form_100.1x0.1mm");
}

}  // namespace
}  // namespace quorvin
