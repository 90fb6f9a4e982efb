// CPrinterManager: the printer operations behind the server's printer
// commands, over a Spooler (CUPS on Linux).
//
// Text conventions shared by every operation:
// - Arguments and results are std::string in the local code page
//   (common/CodePage.h); the manager converts to and from the spooler's
//   UTF-8 itself.
// - JSON result texts are built by this class with the members in the
//   fixed order documented below. Every value inserted into them is
//   JSON-escaped (so a quote or a backslash in a name keeps the text valid
//   JSON). Backslashes in a result text therefore only ever start a JSON
//   escape, with one exception made here on purpose: job document names
//   carry "^" in place of each "\" before they are escaped (the job-status
//   "filename" member is compared with the print task's caret-form file
//   name). A caller that applies the caret convention to a result must do
//   it on the decoded values, not on the raw text, or it breaks escapes.
// - Names that cannot exist are refused with the operation's failure
//   answer, without asking the spooler: empty printer names, printer names
//   of 128 bytes or more (CUPS keeps at most 127), paper and form names of
//   64 bytes or more.
// - Every operation is bounded: an unreachable spooler fails at once, a
//   spooler that accepts and never answers fails after about 10 seconds.
// - A failure leaves one line on stderr with what failed and why (the
//   spooler's own status and message where it gave one).
//
// Thread safety: every operation may be called from any thread at the same
// time as any other (the dispatcher and several print tasks share one
// instance). The form store is guarded by a lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorvin {

class Spooler;
class CFormStore;

// What a job looks like when asked about later (the print task's polling).
enum class JobState {
    Active,       // pending, held, processing or stopped in the queue
    Completed,    // left the queue having printed
    Failed,       // cancelled or aborted: it will never print
    Unknown,      // no such job on that printer (or an invalid question)
    Unreachable,  // the spooler did not answer; ask again later
};

class CPrinterManager {
public:
    // Forms are kept in "forms.json" in the executable's directory.
    CPrinterManager();
    // Forms are kept in "forms.json" in formStoreDir; spooler null means the
    // platform spooler (CUPS, honouring CUPS_SERVER).
    explicit CPrinterManager(const std::string& formStoreDir, std::shared_ptr<Spooler> spooler = nullptr);
    ~CPrinterManager();
    CPrinterManager(const CPrinterManager&) = delete;
    CPrinterManager& operator=(const CPrinterManager&) = delete;

    // The three listings answer an empty text (no JSON at all) when the
    // spooler cannot be asked (not running, refusing, or silent past the
    // bound), so that is never mistaken for a machine without printers.

    // ["name1","name2",...] in the spooler's order; "[]" when there are no
    // printers; "" when the spooler cannot be asked.
    std::string GetAllPrinters();

    // {"name":"...","driver":"...","port":"..."}: the default printer's
    // name, make and model, and device URI; all three empty when there is
    // no default printer; "" when the spooler cannot be asked.
    std::string GetDefaultPrinter();

    // {"printer":"...","paperName":"...","paperSize":"N"}: the default
    // printer, the name of its default paper (as GetPaperSize knows it) and
    // that paper's code as a decimal string; without a default printer
    // {"printer":"","paperName":"","paperSize":"0"}; "" when the spooler
    // cannot be asked.
    std::string GetDefaultPrinterAndPaper();

    // Makes the printer the server-wide default. True when the spooler
    // accepted it; false for an unknown or invalid name or when the spooler
    // refused or could not be reached. (Callers that follow the silent
    // protocol may ignore the result.)
    bool SetDefaultPrinter(const std::string& printer);

    // Stores (adds or replaces) the form on the printer: size width x height
    // and margins measured inward from each edge, all in tenths of a
    // millimetre. 1 on success; 0 when the printer is unknown, a name is
    // invalid, the size is not positive, the margins are negative or leave
    // no printable area, or the store cannot be written (nothing stored).
    // A replaced form keeps its paper code.
    int AddCustomPaper(const std::string& printer, const std::string& form, int width, int height, int left, int top,
                       int right, int bottom);

    // Removes the stored form of that name from the printer: 1 when it was
    // there and is gone, else 0.
    int DeleteCustomPaper(const std::string& printer, const std::string& form);

    // Sets the printer's defaults. paper is a decimal paper code (used
    // directly when its value is above 0) or else a paper name looked up as
    // GetPaperSize does. Applied: the paper when its code taken as a signed
    // 16-bit number is above 0; copies when above 0; orientation 1
    // (portrait) or 2 (landscape). Copies of 0 or less and orientations
    // other than 1 and 2 (0, -1, ...) are left as they are. 1 when
    // everything applied was accepted by the spooler (a paper name the
    // printer does not know is simply not applied); 0 when the printer is
    // unknown, a paper code names no paper of the printer, or the spooler
    // refused or could not be reached.
    int SetPaper(const std::string& printer, const std::string& paper, int copies, int orientation);

    // The code of the paper called paperName on the printer (exact,
    // case-sensitive match): the Windows DMPAPER code for standard sizes
    // (A4 = 9, Letter = 1, ...), a stable driver code from 256 up for the
    // printer's other sizes, the stored code (from 1000 up) for a form.
    // -1 when the printer or the paper is unknown. port is accepted for
    // the protocol's sake; CUPS needs none.
    int GetPaperSize(const std::string& printer, const std::string& port, const std::string& paperName);

    // {"printer":"<status text>","jobs":[{"JobId":N,"TotalPages":N,
    // "PagesPrinted":N,"filename":"...","status":"<job status text>"},...]}
    // for the printer's active jobs, oldest first. Unknown printer:
    // {"printer":"打印机不存在","jobs":[]}; a spooler that cannot be asked:
    // {"printer":"获取打印作业失败","jobs":[]}.
    std::string GetPrinterJobStatus(const std::string& printer);

    // The fixed texts for Windows PRINTER_STATUS_* / JOB_STATUS_* bit sets,
    // first matching bit in the fixed order wins (see StatusText.h).
    std::string GetPrinterStatusText(std::uint32_t status);
    std::string GetJobStatusText(std::uint32_t status);

    // Prints the image (JPEG, PNG, GIF, BMP, TIFF, ...) as one page on the
    // printer, stretched over the printable area of the printer's default
    // paper without keeping its aspect ratio, transparent areas white; the
    // job is named after imagePath; copies, paper and orientation are the
    // printer's defaults. Returns the spooler's job id (> 0) when the job
    // was accepted, 0 when nothing was submitted (unknown printer, file
    // missing, empty, truncated or not an image, spooler refused or
    // unreachable). Callers that report nothing may ignore it.
    int PrintImageFile(const std::string& printer, const std::string& imagePath);

    // Submits the file to the default printer and lets the spooler decide
    // its type. Waits at most 5 seconds. True when the job was accepted;
    // false when the file is missing or unreadable, there is no default
    // printer, or the spooler refused, failed or did not answer in time.
    bool ShellPrintFile(const std::string& path);

    // One job, for the print task's polling. jobId > 0 asks for that job;
    // jobId <= 0 asks for the newest job on the printer whose document
    // name, in caret form ("\" written as "^"), equals documentName without
    // regard to ASCII case. Unlike GetPrinterJobStatus this also sees jobs
    // that have already left the queue, so a job that finished before the
    // first look is Completed, not missing.
    JobState GetJobState(const std::string& printer, int jobId, const std::string& documentName = "");

private:
    std::shared_ptr<Spooler> m_pSpooler;
    std::unique_ptr<CFormStore> m_pForms;
};

}  // namespace quorvin
