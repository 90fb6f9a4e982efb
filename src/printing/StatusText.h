// Printer and job status: the Windows status bits the server's texts are
// defined over, how CUPS states and reasons map onto them, and the fixed
// texts. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvin {

// PRINTER_STATUS_* bits.
namespace printer_status {
constexpr std::uint32_t kPaused = 0x00000001;
constexpr std::uint32_t kError = 0x00000002;
constexpr std::uint32_t kPaperJam = 0x00000008;
constexpr std::uint32_t kPaperOut = 0x00000010;
constexpr std::uint32_t kPaperProblem = 0x00000040;
constexpr std::uint32_t kOffline = 0x00000080;
constexpr std::uint32_t kBusy = 0x00000200;
constexpr std::uint32_t kPrinting = 0x00000400;
constexpr std::uint32_t kOutputBinFull = 0x00000800;
constexpr std::uint32_t kNotAvailable = 0x00001000;
constexpr std::uint32_t kWaiting = 0x00002000;
constexpr std::uint32_t kTonerLow = 0x00020000;
constexpr std::uint32_t kNoToner = 0x00040000;
constexpr std::uint32_t kOutOfMemory = 0x00200000;
constexpr std::uint32_t kDoorOpen = 0x00400000;
}  // namespace printer_status

// JOB_STATUS_* bits.
namespace job_status {
constexpr std::uint32_t kPaused = 0x0001;
constexpr std::uint32_t kError = 0x0002;
constexpr std::uint32_t kDeleting = 0x0004;
constexpr std::uint32_t kSpooling = 0x0008;
constexpr std::uint32_t kPrinting = 0x0010;
constexpr std::uint32_t kOffline = 0x0020;
constexpr std::uint32_t kPaperOut = 0x0040;
constexpr std::uint32_t kPrinted = 0x0080;
constexpr std::uint32_t kDeleted = 0x0100;
constexpr std::uint32_t kBlockedDevq = 0x0200;
constexpr std::uint32_t kUserIntervention = 0x0400;
constexpr std::uint32_t kRestart = 0x0800;
constexpr std::uint32_t kComplete = 0x1000;
}  // namespace job_status

// The text of the first bit set, in the fixed order of the status tables.
std::string PrinterStatusTextUtf8(std::uint32_t status);
std::string JobStatusTextUtf8(std::uint32_t status);

// CUPS printer-state (3 idle, 4 processing, 5 stopped), its
// printer-state-reasons and printer-is-accepting-jobs as status bits.
std::uint32_t PrinterStatusBits(int state, const std::vector<std::string>& reasons, bool accepting);
// CUPS job-state (3 pending .. 9 completed) and job-state-reasons.
std::uint32_t JobStatusBits(int state, const std::vector<std::string>& reasons);

}  // namespace quorvin
