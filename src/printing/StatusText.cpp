#include "printing/StatusText.h"

#include <cstring>
#include <string_view>

namespace quorvin {
namespace {

struct BitText {
    std::uint32_t bit;
    const char* text;
};

// First match wins, so the order is part of the answer.
constexpr BitText kPrinterTexts[] = {
    {printer_status::kPrinting, "正在打印..."},
    {printer_status::kPaused, "打印暂停中..."},
    {printer_status::kBusy, "打印机繁忙,被临时占用"},
    {printer_status::kWaiting, "打印等待中..."},
    {printer_status::kError, "打印出错！"},
    {printer_status::kPaperJam, "打印机卡纸"},
    {printer_status::kPaperProblem, "打印纸出现问题"},
    {printer_status::kPaperOut, "打印纸位置不正确"},
    {printer_status::kOutputBinFull, "打印输出已满"},
    {printer_status::kNotAvailable, "打印机不可用"},
    {printer_status::kTonerLow, "打印机墨粉不足"},
    {printer_status::kNoToner, "打印机没有墨粉"},
    {printer_status::kOutOfMemory, "打印内存溢出"},
    {printer_status::kOffline, "无法连接打印机，可能是打印机未启动"},
    {printer_status::kDoorOpen, "打印机的门是开着的，请关闭"},
};

constexpr BitText kJobTexts[] = {
    {job_status::kPaused, "打印作业暂停"},
    {job_status::kError, "打印作业出错"},
    {job_status::kDeleting, "正在删除"},
    {job_status::kSpooling, "打印作业脱机"},
    {job_status::kPrinting, "正在打印"},
    {job_status::kOffline, "打印作业未连接"},
    {job_status::kPaperOut, "打印纸位置不正确"},
    {job_status::kPrinted, "打印作业完成"},
    {job_status::kDeleted, "已取消打印作业"},
    {job_status::kBlockedDevq, "打印作业阻塞"},
    {job_status::kUserIntervention, "打印作业被用户干预"},
    {job_status::kRestart, "打印作业被重置"},
    {job_status::kComplete, "打印作业完成"},
};

// printer-state-reasons keywords (without their -report, -warning or
// -error suffix) and the printer status bit each one stands for. Reasons
// not listed add nothing.
struct ReasonBit {
    const char* reason;
    std::uint32_t bit;
};
constexpr ReasonBit kPrinterReasons[] = {
    {"paused", printer_status::kPaused},
    {"moving-to-paused", printer_status::kPaused},
    {"media-empty", printer_status::kPaperOut},
    {"media-needed", printer_status::kPaperOut},
    {"input-tray-missing", printer_status::kPaperProblem},
    {"media-jam", printer_status::kPaperJam},
    {"output-area-full", printer_status::kOutputBinFull},
    {"toner-low", printer_status::kTonerLow},
    {"marker-supply-low", printer_status::kTonerLow},
    {"toner-empty", printer_status::kNoToner},
    {"marker-supply-empty", printer_status::kNoToner},
    {"spool-area-full", printer_status::kOutOfMemory},
    {"door-open", printer_status::kDoorOpen},
    {"cover-open", printer_status::kDoorOpen},
    {"interlock-open", printer_status::kDoorOpen},
    {"offline", printer_status::kOffline},
    {"connecting-to-device", printer_status::kOffline},
    {"timed-out", printer_status::kOffline},
    {"shutdown", printer_status::kNotAvailable},
};

std::string_view WithoutSeverity(std::string_view reason) {
    for (std::string_view suffix : {"-report", "-warning", "-error"}) {
        if (reason.size() > suffix.size() && reason.substr(reason.size() - suffix.size()) == suffix)
            return reason.substr(0, reason.size() - suffix.size());
    }
    return reason;
}

}  // namespace

std::string PrinterStatusTextUtf8(std::uint32_t status) {
    if (status == 0) return "打印机空闲状态";
    for (const BitText& entry : kPrinterTexts)
        if (status & entry.bit) return entry.text;
    return "未知打印机状态";
}

std::string JobStatusTextUtf8(std::uint32_t status) {
    for (const BitText& entry : kJobTexts)
        if (status & entry.bit) return entry.text;
    return "未知打印作业状态";
}

// printer-state to printer status bits: idle (3) none, processing (4)
// printing, stopped (5) paused when a reason says "paused", else error; a
// queue not accepting jobs is not available; reasons as kPrinterReasons.
std::uint32_t PrinterStatusBits(int state, const std::vector<std::string>& reasons, bool accepting) {
    std::uint32_t bits = 0;
    bool paused = false;
    for (const std::string& reason : reasons) {
        std::string_view bare = WithoutSeverity(reason);
        for (const ReasonBit& entry : kPrinterReasons) {
            if (bare == entry.reason) bits |= entry.bit;
        }
        if (bare == "paused") paused = true;
    }
    if (state == 4) bits |= printer_status::kPrinting;
    // CUPS stops a queue by itself when its backend fails: an error.
    if (state == 5 && !paused) bits |= printer_status::kError;
    if (!accepting) bits |= printer_status::kNotAvailable;
    return bits;
}

// job-state to job status bits: pending (3) none, as a spooled job waiting
// its turn; held (4) paused; processing (5) printing; stopped (6) blocked;
// canceled (7) deleted; aborted (8) error; completed (9) printed and
// complete. Reasons add: job-canceled-by-user and processing-to-stop-point
// deleting; printer-stopped on a pending job blocked (the caller adds it
// when the job's queue is stopped).
std::uint32_t JobStatusBits(int state, const std::vector<std::string>& reasons) {
    std::uint32_t bits = 0;
    switch (state) {
        case 4: bits |= job_status::kPaused; break;
        case 5: bits |= job_status::kPrinting; break;
        case 6: bits |= job_status::kBlockedDevq; break;
        case 7: bits |= job_status::kDeleted; break;
        case 8: bits |= job_status::kError; break;
        case 9: bits |= job_status::kPrinted | job_status::kComplete; break;
        default: break;
    }
    for (const std::string& reason : reasons) {
        if (reason == "job-canceled-by-user" || reason == "processing-to-stop-point") bits |= job_status::kDeleting;
        if (reason == "printer-stopped" && state == 3) bits |= job_status::kBlockedDevq;
    }
    return bits;
}

}  // namespace quorvin
