// Spooler: what the printer management needs from a print spooler. All
// text here is UTF-8 (the spooler's own encoding); CPrinterManager converts
// to and from the local code page. Every call is bounded in time and
// reports failure as a value.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvin {

// The outcome of a spooler request.
enum class SpoolStatus {
    Ok,
    NotFound,     // no such printer or job
    Refused,      // the spooler answered with an error
    Unreachable,  // no answer: not running, connection refused, timed out
};

// One paper size a printer offers, in hundredths of a millimetre.
struct SpoolMedia {
    std::string pwgName;  // e.g. "iso_a4_210x297mm"
    int width = 0;
    int length = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    int top = 0;
};

struct SpoolPrinter {
    std::string name;
    std::string makeAndModel;          // printer-make-and-model
    std::string deviceUri;             // device-uri
    int state = 3;                     // printer-state: 3 idle, 4 processing, 5 stopped
    std::vector<std::string> reasons;  // printer-state-reasons, "none" left out
    bool accepting = true;             // printer-is-accepting-jobs
    std::string mediaDefault;          // media-default (PWG or custom_ name)
    int copiesDefault = 1;             // copies-default
    int orientationDefault = 3;        // orientation-requested-default (3..6)
    std::vector<SpoolMedia> media;     // from media-col-database / media-supported
    SpoolMedia defaultMedia;           // media-col-default (size and margins)
};

struct SpoolJob {
    int id = 0;
    std::string name;                  // job-name: the document name
    int state = 3;                     // job-state: 3 pending .. 9 completed
    std::vector<std::string> reasons;  // job-state-reasons
    int impressions = 0;               // job-impressions (0 when unknown)
    int impressionsCompleted = 0;      // job-impressions-completed
};

// Printer defaults to change; an empty member is left as it is.
struct SpoolDefaults {
    std::optional<std::string> media;
    std::optional<int> copies;
    std::optional<int> orientation;  // IPP enum: 3 portrait, 4 landscape
};

class Spooler {
public:
    virtual ~Spooler() = default;

    // Every printer, in the spooler's order, without details.
    virtual SpoolStatus ListPrinters(std::vector<std::string>& names) = 0;
    // The default destination's name (empty: none).
    virtual SpoolStatus GetDefaultPrinter(std::string& name) = 0;
    virtual SpoolStatus SetDefaultPrinter(const std::string& name) = 0;
    // Attributes, state and paper sizes of one printer.
    virtual SpoolStatus GetPrinter(const std::string& name, SpoolPrinter& printer) = 0;
    virtual SpoolStatus SetPrinterDefaults(const std::string& name, const SpoolDefaults& defaults) = 0;
    // The printer's jobs, oldest first: only those still in the queue, or
    // every job the spooler remembers.
    virtual SpoolStatus GetJobs(const std::string& name, bool activeOnly, std::vector<SpoolJob>& jobs) = 0;
    virtual SpoolStatus GetJob(const std::string& name, int jobId, SpoolJob& job) = 0;
    // Submits a file as one job to the named printer (empty: the default
    // printer); format empty lets the spooler type it (Windows: the shell's
    // "print" verb, which names no job: jobId stays 0). path is a file path
    // as the program's own file calls take it (the local code page).
    // options are "name=value" job attributes. jobId is set when accepted.
    virtual SpoolStatus SubmitFile(const std::string& name, const std::string& path, const std::string& title,
                                   const std::string& format, const std::vector<std::string>& options, int timeoutMs,
                                   int& jobId) = 0;
};

// The platform spooler: CUPS at CUPS_SERVER (or the client.conf default) on
// Linux (cups/CupsSpooler.cpp), winspool on Windows (win/WinSpooler.cpp).
std::shared_ptr<Spooler> MakePlatformSpooler();

}  // namespace quorvin
