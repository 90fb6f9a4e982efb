#include "printing/win/WinSpoolMapping.h"

#include <cstdio>
#include <cstdlib>

#include "printing/PaperTable.h"
#include "printing/StatusText.h"

namespace quorvin::winspool {
namespace {

// PRINTER_STATUS_PROCESSING: not in the status tables, but work under way.
constexpr std::uint32_t kPrinterProcessing = 0x00004000;

// Status bits and the printer-state-reasons keyword StatusText maps back
// onto the same bit.
struct BitReason {
    std::uint32_t bit;
    const char* reason;
};
constexpr BitReason kPrinterReasons[] = {
    {printer_status::kPaperJam, "media-jam-error"},
    {printer_status::kPaperOut, "media-empty-error"},
    {printer_status::kPaperProblem, "input-tray-missing-error"},
    {printer_status::kOffline, "offline-report"},
    {printer_status::kOutputBinFull, "output-area-full-error"},
    {printer_status::kTonerLow, "toner-low-report"},
    {printer_status::kNoToner, "toner-empty-error"},
    {printer_status::kOutOfMemory, "spool-area-full-error"},
    {printer_status::kDoorOpen, "door-open-error"},
};

// JOB_STATUS_* bits beyond those of StatusText.h's table order.
constexpr std::uint32_t kJobStopped =
    job_status::kBlockedDevq | job_status::kOffline | job_status::kPaperOut | job_status::kUserIntervention;

std::string TenthsMm(int tenths) {
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10) text += "." + std::to_string(tenths % 10);
    return text;
}

// A paper name reduced to what a media keyword may hold.
std::string Keyword(const std::string& name) {
    std::string bare;
    for (unsigned char c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (plain)
            bare += static_cast<char>(c);
        else if (!bare.empty() && bare.back() != '-')
            bare += '-';
    }
    while (!bare.empty() && bare.back() == '-') bare.pop_back();
    return bare.empty() ? "paper" : bare;
}

// "210" or "215.9" in tenths of a millimetre; -1 when not a size.
int ParseTenths(const std::string& text) {
    if (text.empty() || text.size() > 8) return -1;
    int whole = 0, tenth = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != '.'; ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        whole = whole * 10 + (text[i] - '0');
    }
    if (i == 0) return -1;
    if (i < text.size()) {
        if (i + 2 != text.size() || text[i + 1] < '0' || text[i + 1] > '9') return -1;
        tenth = text[i + 1] - '0';
    }
    return whole * 10 + tenth;
}

std::string Folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

const DriverPaper* PaperWithCode(const std::vector<DriverPaper>& papers, int code) {
    for (const DriverPaper& paper : papers)
        if (paper.code == code) return &paper;
    return nullptr;
}

SpoolMedia MediaFor(const DriverPaper& paper) {
    SpoolMedia media;
    media.pwgName = MediaNameOf(paper);
    media.width = paper.width * 10;  // hundredths, as the Spooler has them
    media.length = paper.length * 10;
    return media;
}

}  // namespace

void PrinterStateFromStatus(std::uint32_t status, int& state, std::vector<std::string>& reasons, bool& accepting) {
    using namespace printer_status;
    reasons.clear();
    accepting = (status & kNotAvailable) == 0;
    // One state, chosen in the order the status tables pick their text.
    if (status & kPrinting) {
        state = 4;
    } else if (status & kPaused) {
        state = 5;
        reasons.emplace_back("paused");
    } else if (status & (kBusy | kPrinterProcessing)) {
        state = 4;
    } else if (status & kError) {
        state = 5;  // stopped without "paused": the tables' error
    } else {
        state = 3;
    }
    for (const BitReason& entry : kPrinterReasons)
        if (status & entry.bit) reasons.emplace_back(entry.reason);
}

void JobStateFromStatus(std::uint32_t status, int& state, std::vector<std::string>& reasons) {
    using namespace job_status;
    reasons.clear();
    if (status & kDeleted) {
        state = 7;
    } else if (status & kDeleting) {
        state = 7;
        reasons.emplace_back("job-canceled-by-user");
    } else if (status & kError) {
        state = 8;
    } else if (status & (kPrinted | kComplete)) {
        state = 9;
    } else if (status & kPaused) {
        state = 4;
    } else if (status & kJobStopped) {
        state = 6;
    } else if (status & kPrinting) {
        state = 5;
    } else {
        state = 3;  // spooling, restarted or simply waiting its turn
    }
}

std::string MediaNameOf(const DriverPaper& paper) {
    if (const StandardPaper* standard = PaperForCode(paper.code)) return standard->pwgName;
    return "oe_" + Keyword(paper.name) + "_" + TenthsMm(paper.width) + "x" + TenthsMm(paper.length) + "mm";
}

std::vector<SpoolMedia> MediaOf(const std::vector<DriverPaper>& papers) {
    std::vector<SpoolMedia> media;
    media.reserve(papers.size());
    for (const DriverPaper& paper : papers) media.push_back(MediaFor(paper));
    return media;
}

void DefaultsFromDevMode(const DevModeFields& devMode, const std::vector<DriverPaper>& papers, SpoolPrinter& printer) {
    printer.copiesDefault = (devMode.fields & kDmCopies) && devMode.copies > 0 ? devMode.copies : 1;
    printer.orientationDefault = (devMode.fields & kDmOrientation) && devMode.orientation == kDmOrientLandscape ? 4 : 3;
    printer.mediaDefault.clear();
    printer.defaultMedia = SpoolMedia{};
    const bool userSize =
        (devMode.fields & kDmPaperLength) && (devMode.fields & kDmPaperWidth) && devMode.paperWidth > 0 &&
        devMode.paperLength > 0 &&
        (!(devMode.fields & kDmPaperSize) || devMode.paperSize == kDmPaperUser || devMode.paperSize == 0);
    if (userSize) {
        const std::string form = (devMode.fields & kDmFormName) ? devMode.formName : std::string();
        printer.mediaDefault = CustomMediaName(form.empty() ? "user" : form, devMode.paperWidth, devMode.paperLength);
        printer.defaultMedia.pwgName = printer.mediaDefault;
        printer.defaultMedia.width = devMode.paperWidth * 10;
        printer.defaultMedia.length = devMode.paperLength * 10;
        return;
    }
    if (!(devMode.fields & kDmPaperSize)) return;
    if (const DriverPaper* paper = PaperWithCode(papers, devMode.paperSize)) {
        printer.defaultMedia = MediaFor(*paper);
        printer.mediaDefault = printer.defaultMedia.pwgName;
    } else if (const StandardPaper* standard = PaperForCode(devMode.paperSize)) {
        printer.mediaDefault = standard->pwgName;
        printer.defaultMedia.pwgName = standard->pwgName;
    }
}

std::optional<CustomSize> ParseCustomMedia(const std::string& media) {
    constexpr const char* kPrefix = "custom_";
    if (media.rfind(kPrefix, 0) != 0 || media.size() < 12 || media.compare(media.size() - 2, 2, "mm") != 0)
        return std::nullopt;
    const std::size_t sizeAt = media.rfind('_');
    if (sizeAt == std::string::npos || sizeAt < 7) return std::nullopt;
    const std::string size = media.substr(sizeAt + 1, media.size() - sizeAt - 3);
    const std::size_t x = size.find('x');
    if (x == std::string::npos) return std::nullopt;
    CustomSize custom;
    custom.name = media.substr(7, sizeAt - 7);
    custom.width = ParseTenths(size.substr(0, x));
    custom.length = ParseTenths(size.substr(x + 1));
    // DEVMODE holds sizes as signed 16-bit tenths of a millimetre.
    if (custom.width <= 0 || custom.length <= 0 || custom.width > 32767 || custom.length > 32767) return std::nullopt;
    return custom;
}

bool ApplyDefaults(const SpoolDefaults& defaults, const std::vector<DriverPaper>& papers, DevModeFields& devMode) {
    DevModeFields next = devMode;
    if (defaults.media) {
        const std::string& media = *defaults.media;
        const DriverPaper* chosen = nullptr;
        for (const DriverPaper& paper : papers) {
            if (MediaNameOf(paper) == media) {
                chosen = &paper;
                break;
            }
        }
        if (!chosen) {
            // "iso_a4_210x297mm_borderless" and the like: the plain size.
            if (const StandardPaper* standard = PaperForPwg(media)) chosen = PaperWithCode(papers, standard->code);
        }
        if (chosen) {
            next.fields = (next.fields | kDmPaperSize) & ~(kDmPaperLength | kDmPaperWidth | kDmFormName);
            next.paperSize = static_cast<short>(chosen->code);
            next.formName.clear();
        } else if (std::optional<CustomSize> custom = ParseCustomMedia(media)) {
            next.fields |= kDmPaperSize | kDmPaperLength | kDmPaperWidth | kDmFormName;
            next.paperSize = kDmPaperUser;
            next.paperWidth = static_cast<short>(custom->width);
            next.paperLength = static_cast<short>(custom->length);
            next.formName = custom->name.substr(0, 31);
        } else {
            return false;
        }
    }
    if (defaults.copies) {
        if (*defaults.copies <= 0 || *defaults.copies > 32767) return false;
        next.fields |= kDmCopies;
        next.copies = static_cast<short>(*defaults.copies);
    }
    if (defaults.orientation) {
        if (*defaults.orientation != 3 && *defaults.orientation != 4) return false;
        next.fields |= kDmOrientation;
        next.orientation = *defaults.orientation == 4 ? kDmOrientLandscape : kDmOrientPortrait;
    }
    devMode = next;
    return true;
}

void SubmittedJobs::Submitted(const std::string& printer, int jobId, const std::string& documentName) {
    std::lock_guard<std::mutex> hold(m_lock);
    SpoolJob job;
    job.id = jobId;
    job.name = documentName;
    m_jobs.push_back({Folded(printer), job});
    if (m_jobs.size() > kMaxJobs) m_jobs.pop_front();
}

void SubmittedJobs::Seen(const std::string& printer, const SpoolJob& job) {
    std::lock_guard<std::mutex> hold(m_lock);
    const std::string key = Folded(printer);
    for (Entry& entry : m_jobs)
        if (entry.job.id == job.id && entry.printer == key) entry.job = job;
}

SpoolJob SubmittedJobs::AsDeparted(SpoolJob job) {
    if (job.state != 7 && job.state != 8) {
        job.state = 9;
        job.reasons.clear();
        if (job.impressions > 0) job.impressionsCompleted = job.impressions;
    }
    return job;
}

bool SubmittedJobs::Departed(const std::string& printer, int jobId, SpoolJob& job) {
    std::lock_guard<std::mutex> hold(m_lock);
    const std::string key = Folded(printer);
    for (const Entry& entry : m_jobs) {
        if (entry.job.id == jobId && entry.printer == key) {
            job = AsDeparted(entry.job);
            return true;
        }
    }
    return false;
}

std::vector<SpoolJob> SubmittedJobs::DepartedBesides(const std::string& printer, const std::vector<SpoolJob>& queued) {
    std::lock_guard<std::mutex> hold(m_lock);
    const std::string key = Folded(printer);
    std::vector<SpoolJob> departed;
    for (const Entry& entry : m_jobs) {
        if (entry.printer != key) continue;
        bool inQueue = false;
        for (const SpoolJob& job : queued) inQueue = inQueue || job.id == entry.job.id;
        if (!inQueue) departed.push_back(AsDeparted(entry.job));
    }
    return departed;
}

}  // namespace quorvin::winspool
