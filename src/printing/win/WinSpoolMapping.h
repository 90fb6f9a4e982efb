// The pure half of the winspool spooler: how Windows printer and job
// status bits, DEVMODE fields and the driver's paper list map onto the
// Spooler interface's IPP-like values. No Windows headers, so the mapping
// is unit-tested on any platform; WinSpooler.cpp checks the constants
// below against <windows.h> at compile time.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "printing/Spooler.h"

namespace quorvin::winspool {

// DEVMODE dmFields bits and values this mapping reads or writes.
constexpr std::uint32_t kDmOrientation = 0x00000001;
constexpr std::uint32_t kDmPaperSize = 0x00000002;
constexpr std::uint32_t kDmPaperLength = 0x00000004;
constexpr std::uint32_t kDmPaperWidth = 0x00000008;
constexpr std::uint32_t kDmCopies = 0x00000100;
constexpr std::uint32_t kDmFormName = 0x00010000;
constexpr short kDmOrientPortrait = 1;
constexpr short kDmOrientLandscape = 2;
constexpr short kDmPaperUser = 256;  // DMPAPER_USER: size in dmPaperWidth/Length

// The DEVMODE members that carry a printer's defaults (sizes in tenths of
// a millimetre, as DEVMODE has them).
struct DevModeFields {
    std::uint32_t fields = 0;
    short orientation = kDmOrientPortrait;
    short paperSize = 0;
    short paperLength = 0;
    short paperWidth = 0;
    short copies = 1;
    std::string formName;  // UTF-8; DEVMODE holds at most 31 characters
};

// One entry of the driver's paper list (DeviceCapabilities DC_PAPERS,
// DC_PAPERNAMES, DC_PAPERSIZE): its code, name and size in tenths of a mm.
struct DriverPaper {
    int code = 0;
    std::string name;  // UTF-8
    int width = 0;
    int length = 0;
};

// The Spooler's state, reasons and accepting flag for PRINTER_INFO_2's
// Status: paused 5 with "paused"; error (and nothing that explains it) 5;
// printing, processing or busy 4; else 3. Reasons use the names the status
// tables of StatusText.h know (media-jam-error, toner-low-report, ...);
// not available means not accepting.
void PrinterStateFromStatus(std::uint32_t status, int& state, std::vector<std::string>& reasons, bool& accepting);

// The Spooler's job state (3 pending .. 9 completed) and reasons for a
// JOB_INFO_1/2 Status: deleted 7 canceled; deleting 7 with
// job-canceled-by-user; error 8 aborted; printed or complete 9; paused 4
// held; blocked, offline, paper out or user intervention 6 stopped;
// printing 5; spooling, restart and nothing 3 pending.
void JobStateFromStatus(std::uint32_t status, int& state, std::vector<std::string>& reasons);

// The PWG media name of a driver paper: the standard name for the codes of
// PaperTable, else a self-describing "oe_<name>_<W>x<H>mm" one.
std::string MediaNameOf(const DriverPaper& paper);

// The printer's media from its driver paper list, in the driver's order.
std::vector<SpoolMedia> MediaOf(const std::vector<DriverPaper>& papers);

// The defaults a DEVMODE states: mediaDefault (a DMPAPER_USER size as
// "custom_<form>_<W>x<H>mm"), copiesDefault and orientationDefault (3
// portrait, 4 landscape); defaultMedia the size of that paper.
void DefaultsFromDevMode(const DevModeFields& devMode, const std::vector<DriverPaper>& papers, SpoolPrinter& printer);

// Applies defaults to a DEVMODE: a media name of the printer's list (or of
// PaperTable) becomes its paper code, a "custom_<name>_<W>x<H>mm" one
// DMPAPER_USER with that size; copies and orientation 3/4 as they are.
// False (devMode unchanged) when the media names no paper this printer has
// and is no custom size, or copies/orientation are out of range.
bool ApplyDefaults(const SpoolDefaults& defaults, const std::vector<DriverPaper>& papers, DevModeFields& devMode);

// The size in tenths of a millimetre of a "custom_<name>_<W>x<H>mm" media
// name, and its name part; nothing for any other name.
struct CustomSize {
    std::string name;
    int width = 0;
    int length = 0;
};
std::optional<CustomSize> ParseCustomMedia(const std::string& media);

// The jobs this process submitted and the last state seen of each.
// winspool forgets a job once it has printed, so a job of ours that left
// the queue without having been seen cancelled or aborted has completed.
// Safe for several threads; the newest 1024 jobs are kept.
class SubmittedJobs {
public:
    void Submitted(const std::string& printer, int jobId, const std::string& documentName);
    // A look at a job still in the queue.
    void Seen(const std::string& printer, const SpoolJob& job);
    // The job as it left the queue (completed unless last seen cancelled or
    // aborted); false when this process did not submit it.
    bool Departed(const std::string& printer, int jobId, SpoolJob& job);
    // Ours on that printer that are not in the list (which left the queue).
    std::vector<SpoolJob> DepartedBesides(const std::string& printer, const std::vector<SpoolJob>& queued);

private:
    struct Entry {
        std::string printer;  // ASCII case folded: winspool names ignore case
        SpoolJob job;
    };
    static constexpr std::size_t kMaxJobs = 1024;
    static SpoolJob AsDeparted(SpoolJob job);
    std::mutex m_lock;
    std::deque<Entry> m_jobs;
};

}  // namespace quorvin::winspool
