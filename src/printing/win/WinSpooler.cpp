// Owns every winspool, GDI and shell call of the Windows spooler; the
// mappings of status bits and DEVMODE fields live in WinSpoolMapping.
#include "printing/win/WinSpooler.h"

// clang-format off
#include <windows.h>
#include <winspool.h>
#include <shellapi.h>
#include <objbase.h>
// clang-format on

// winspool.h names its calls as macros (GetPrinter -> GetPrinterA, ...),
// which would rename the Spooler's members; the wide calls are named here.
#undef GetDefaultPrinter
#undef SetDefaultPrinter
#undef GetPrinter
#undef GetJob

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/Log.h"
#include "common/Platform.h"
#include "common/win/SystemError.h"
#include "printing/ImagePage.h"
#include "printing/StatusText.h"
#include "printing/win/WideText.h"
#include "printing/win/WinSpoolMapping.h"

namespace quorvin {
namespace {

using wintext::Narrow;
using wintext::Widen;

// The pure mapping's copies of the Windows constants must be the real ones.
static_assert(winspool::kDmOrientation == DM_ORIENTATION && winspool::kDmPaperSize == DM_PAPERSIZE &&
              winspool::kDmPaperLength == DM_PAPERLENGTH && winspool::kDmPaperWidth == DM_PAPERWIDTH &&
              winspool::kDmCopies == DM_COPIES && winspool::kDmFormName == DM_FORMNAME);
static_assert(winspool::kDmOrientLandscape == DMORIENT_LANDSCAPE && winspool::kDmPaperUser == DMPAPER_USER);
static_assert(printer_status::kPaused == PRINTER_STATUS_PAUSED && printer_status::kError == PRINTER_STATUS_ERROR &&
              printer_status::kPaperJam == PRINTER_STATUS_PAPER_JAM &&
              printer_status::kPaperOut == PRINTER_STATUS_PAPER_OUT &&
              printer_status::kPaperProblem == PRINTER_STATUS_PAPER_PROBLEM &&
              printer_status::kOffline == PRINTER_STATUS_OFFLINE && printer_status::kBusy == PRINTER_STATUS_BUSY &&
              printer_status::kPrinting == PRINTER_STATUS_PRINTING &&
              printer_status::kOutputBinFull == PRINTER_STATUS_OUTPUT_BIN_FULL &&
              printer_status::kNotAvailable == PRINTER_STATUS_NOT_AVAILABLE &&
              printer_status::kWaiting == PRINTER_STATUS_WAITING &&
              printer_status::kTonerLow == PRINTER_STATUS_TONER_LOW &&
              printer_status::kNoToner == PRINTER_STATUS_NO_TONER &&
              printer_status::kOutOfMemory == PRINTER_STATUS_OUT_OF_MEMORY &&
              printer_status::kDoorOpen == PRINTER_STATUS_DOOR_OPEN);
static_assert(job_status::kPaused == JOB_STATUS_PAUSED && job_status::kError == JOB_STATUS_ERROR &&
              job_status::kDeleting == JOB_STATUS_DELETING && job_status::kSpooling == JOB_STATUS_SPOOLING &&
              job_status::kPrinting == JOB_STATUS_PRINTING && job_status::kOffline == JOB_STATUS_OFFLINE &&
              job_status::kPaperOut == JOB_STATUS_PAPEROUT && job_status::kPrinted == JOB_STATUS_PRINTED &&
              job_status::kDeleted == JOB_STATUS_DELETED && job_status::kBlockedDevq == JOB_STATUS_BLOCKED_DEVQ &&
              job_status::kUserIntervention == JOB_STATUS_USER_INTERVENTION &&
              job_status::kRestart == JOB_STATUS_RESTART && job_status::kComplete == JOB_STATUS_COMPLETE);

struct PrinterCloser {
    void operator()(HANDLE h) const { ClosePrinter(h); }
};
using PrinterHandle = std::unique_ptr<void, PrinterCloser>;

struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using DcHandle = std::unique_ptr<HDC__, DcDeleter>;

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != nullptr) CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The outcome of a failed call by its Win32 error, with one line on stderr
// ("open printer" "X": ...). The arguments are a literal and an existing
// string, so nothing runs between the failed call and GetLastError.
SpoolStatus Failed(const char* what, const std::string& name, DWORD err = GetLastError()) {
    SpoolStatus status = SpoolStatus::Refused;
    switch (err) {
        case ERROR_INVALID_PRINTER_NAME:
        case ERROR_INVALID_PARAMETER:  // GetJob's answer for a job that is gone
        case ERROR_FILE_NOT_FOUND: status = SpoolStatus::NotFound; break;
        case RPC_S_SERVER_UNAVAILABLE:
        case RPC_S_CALL_FAILED:
        case ERROR_SERVICE_NOT_ACTIVE:
        case ERROR_NOT_READY: status = SpoolStatus::Unreachable; break;
        default: break;
    }
    if (status != SpoolStatus::NotFound)
        LogFailure("winspool", std::string(what) + " " + name + ": " + platform::SystemErrorText(err));
    return status;
}

// A winspool call of the two-step kind: asked for the size, then filled.
template <typename Call>
bool FillBuffer(std::vector<BYTE>& buffer, Call call) {
    DWORD needed = 0;
    buffer.assign(1, 0);
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (call(buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return false;
        buffer.assign(needed, 0);
    }
    return false;
}

PrinterHandle Open(const std::string& name, DWORD access = PRINTER_ACCESS_USE) {
    std::wstring wide = Widen(name);
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    HANDLE h = nullptr;
    if (name.empty() || !OpenPrinterW(wide.data(), &h, &defaults)) return PrinterHandle();
    return PrinterHandle(h);
}

// The driver's paper list.
std::vector<winspool::DriverPaper> DriverPapers(const std::wstring& printer, const std::wstring& port) {
    std::vector<winspool::DriverPaper> papers;
    const int count = DeviceCapabilitiesW(printer.c_str(), port.c_str(), DC_PAPERS, nullptr, nullptr);
    if (count <= 0 || count > 4096) return papers;
    std::vector<WORD> codes(static_cast<std::size_t>(count));
    std::vector<wchar_t> names(static_cast<std::size_t>(count) * 64 + 1, L'\0');
    std::vector<POINT> sizes(static_cast<std::size_t>(count));
    if (DeviceCapabilitiesW(printer.c_str(), port.c_str(), DC_PAPERS, reinterpret_cast<LPWSTR>(codes.data()),
                            nullptr) != count)
        return papers;
    const bool named =
        DeviceCapabilitiesW(printer.c_str(), port.c_str(), DC_PAPERNAMES, names.data(), nullptr) == count;
    const bool sized = DeviceCapabilitiesW(printer.c_str(), port.c_str(), DC_PAPERSIZE,
                                           reinterpret_cast<LPWSTR>(sizes.data()), nullptr) == count;
    for (int i = 0; i < count; ++i) {
        winspool::DriverPaper paper;
        paper.code = codes[static_cast<std::size_t>(i)];
        if (named) {
            // 64 characters each, not always terminated.
            const wchar_t* name = names.data() + static_cast<std::size_t>(i) * 64;
            paper.name = Narrow(std::wstring(name, wcsnlen(name, 64)).c_str());
        }
        if (sized) {
            paper.width = sizes[static_cast<std::size_t>(i)].x;
            paper.length = sizes[static_cast<std::size_t>(i)].y;
        }
        papers.push_back(paper);
    }
    return papers;
}

winspool::DevModeFields FieldsOf(const DEVMODEW& dm) {
    winspool::DevModeFields fields;
    fields.fields = dm.dmFields;
    fields.orientation = dm.dmOrientation;
    fields.paperSize = dm.dmPaperSize;
    fields.paperLength = dm.dmPaperLength;
    fields.paperWidth = dm.dmPaperWidth;
    fields.copies = dm.dmCopies;
    fields.formName = Narrow(std::wstring(dm.dmFormName, wcsnlen(dm.dmFormName, CCHFORMNAME)).c_str());
    return fields;
}

void SetFields(DEVMODEW& dm, const winspool::DevModeFields& fields) {
    dm.dmFields = fields.fields;
    dm.dmOrientation = fields.orientation;
    dm.dmPaperSize = fields.paperSize;
    dm.dmPaperLength = fields.paperLength;
    dm.dmPaperWidth = fields.paperWidth;
    dm.dmCopies = fields.copies;
    std::wstring form = Widen(fields.formName).substr(0, CCHFORMNAME - 1);
    std::memset(dm.dmFormName, 0, sizeof dm.dmFormName);
    std::memcpy(dm.dmFormName, form.data(), form.size() * sizeof(wchar_t));
}

// The printer's default DEVMODE: the user's (level 9), else the printer's
// (level 2), else the driver's own.
std::vector<BYTE> DefaultDevMode(HANDLE printer, const std::wstring& name, const PRINTER_INFO_2W& info) {
    std::vector<BYTE> level9;
    auto copy = [](const DEVMODEW* dm) {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(dm);
        return std::vector<BYTE>(bytes, bytes + dm->dmSize + dm->dmDriverExtra);
    };
    if (FillBuffer(level9, [&](BYTE* b, DWORD n, DWORD* need) { return GetPrinterW(printer, 9, b, n, need); })) {
        const auto* user = reinterpret_cast<const PRINTER_INFO_9W*>(level9.data());
        if (user->pDevMode != nullptr) return copy(user->pDevMode);
    }
    if (info.pDevMode != nullptr) return copy(info.pDevMode);
    std::wstring mutableName = name;
    const LONG size = DocumentPropertiesW(nullptr, printer, mutableName.data(), nullptr, nullptr, 0);
    if (size <= 0) return {};
    std::vector<BYTE> driver(static_cast<std::size_t>(size), 0);
    if (DocumentPropertiesW(nullptr, printer, mutableName.data(), reinterpret_cast<DEVMODEW*>(driver.data()), nullptr,
                            DM_OUT_BUFFER) != IDOK)
        return {};
    return driver;
}

// The bitmap of a BMP page file: its header and pixel rows.
struct Dib {
    std::string bytes;
    BITMAPINFO info{};  // copied out: the file's header sits unaligned
    const void* bits = nullptr;
};

bool LoadDib(const std::string& path, Dib& dib, std::string& why) {
    if (!platform::ReadWholeFile(path, dib.bytes)) {
        why = "cannot read the page file " + path;
        return false;
    }
    if (dib.bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) || dib.bytes.compare(0, 2, "BM") != 0) {
        why = "the page file is no bitmap";
        return false;
    }
    BITMAPFILEHEADER file;
    std::memcpy(&file, dib.bytes.data(), sizeof file);
    std::memcpy(&dib.info.bmiHeader, dib.bytes.data() + sizeof file, sizeof dib.info.bmiHeader);
    const BITMAPINFOHEADER& header = dib.info.bmiHeader;
    const std::size_t stride = ((static_cast<std::size_t>(header.biWidth) * 24 + 31) / 32) * 4;
    const long height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    if (header.biBitCount != 24 || header.biCompression != BI_RGB || header.biWidth <= 0 || height <= 0 ||
        file.bfOffBits > dib.bytes.size() ||
        (dib.bytes.size() - file.bfOffBits) / stride < static_cast<std::size_t>(height)) {
        why = "the page file is no whole 24-bit bitmap";
        return false;
    }
    dib.bits = dib.bytes.data() + file.bfOffBits;
    return true;
}

class WinSpooler final : public Spooler {
public:
    SpoolStatus ListPrinters(std::vector<std::string>& names) override {
        names.clear();
        std::vector<BYTE> buffer;
        DWORD count = 0;
        if (!FillBuffer(buffer, [&](BYTE* b, DWORD n, DWORD* need) {
                return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 5, b, n, need, &count);
            }))
            return Failed("list the printers", {});
        const auto* info = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i) names.push_back(Narrow(info[i].pPrinterName));
        return SpoolStatus::Ok;
    }

    SpoolStatus GetDefaultPrinter(std::string& name) override {
        name.clear();
        DWORD size = 0;
        GetDefaultPrinterW(nullptr, &size);
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND) return SpoolStatus::Ok;  // no default printer
        if (size == 0) return Failed("ask for the default printer", {}, err);
        std::wstring wide(size, L'\0');
        if (!GetDefaultPrinterW(wide.data(), &size)) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) return SpoolStatus::Ok;
            return Failed("ask for the default printer", {});
        }
        name = Narrow(wide.c_str());
        return SpoolStatus::Ok;
    }

    SpoolStatus SetDefaultPrinter(const std::string& name) override {
        // Only an existing printer: SetDefaultPrinter itself is lenient on
        // some systems.
        std::string actual;
        {
            PrinterHandle printer = Open(name);
            if (!printer) return Failed("open printer", name);
            SpoolPrinter info;
            if (SpoolStatus status = Describe(printer.get(), info, false); status != SpoolStatus::Ok) return status;
            actual = info.name;
        }
        if (!SetDefaultPrinterW(Widen(actual).c_str())) return Failed("make the default printer", actual);
        return SpoolStatus::Ok;
    }

    SpoolStatus GetPrinter(const std::string& name, SpoolPrinter& printer) override {
        printer = SpoolPrinter{};
        PrinterHandle handle = Open(name);
        if (!handle) return Failed("open printer", name);
        return Describe(handle.get(), printer, true);
    }

    SpoolStatus SetPrinterDefaults(const std::string& name, const SpoolDefaults& defaults) override {
        PrinterHandle printer = Open(name, PRINTER_ALL_ACCESS);
        const bool admin = static_cast<bool>(printer);
        if (!printer) printer = Open(name);  // a user may still set their own defaults
        if (!printer) return Failed("open printer", name);
        std::vector<BYTE> buffer;
        if (!FillBuffer(buffer,
                        [&](BYTE* b, DWORD n, DWORD* need) { return GetPrinterW(printer.get(), 2, b, n, need); }))
            return Failed("read printer", name);
        auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
        std::wstring wideName = info->pPrinterName ? info->pPrinterName : Widen(name);
        std::vector<BYTE> current = DefaultDevMode(printer.get(), wideName, *info);
        const LONG size = DocumentPropertiesW(nullptr, printer.get(), wideName.data(), nullptr, nullptr, 0);
        if (current.empty() || size <= 0) return Failed("read the defaults of", name);

        auto* dm = reinterpret_cast<DEVMODEW*>(current.data());
        winspool::DevModeFields fields = FieldsOf(*dm);
        if (!winspool::ApplyDefaults(defaults, DriverPapers(wideName, info->pPortName ? info->pPortName : L""),
                                     fields)) {
            LogFailure("winspool", "printer " + name + " has no such paper or setting");
            return SpoolStatus::Refused;
        }
        SetFields(*dm, fields);
        // The driver merges the change into a complete DEVMODE of its own.
        std::vector<BYTE> merged(static_cast<std::size_t>(size), 0);
        auto* out = reinterpret_cast<DEVMODEW*>(merged.data());
        if (DocumentPropertiesW(nullptr, printer.get(), wideName.data(), out, dm, DM_IN_BUFFER | DM_OUT_BUFFER) != IDOK)
            return Failed("apply the defaults of", name);

        if (admin) {
            info->pDevMode = out;
            info->pSecurityDescriptor = nullptr;  // left as it is
            if (!SetPrinterW(printer.get(), 2, reinterpret_cast<BYTE*>(info), 0))
                return Failed("store the defaults of", name);
        }
        // The user's own defaults win over the printer's: keep them in step.
        PRINTER_INFO_9W user{out};
        if (!SetPrinterW(printer.get(), 9, reinterpret_cast<BYTE*>(&user), 0) && !admin)
            return Failed("store the defaults of", name);
        return SpoolStatus::Ok;
    }

    SpoolStatus GetJobs(const std::string& name, bool activeOnly, std::vector<SpoolJob>& jobs) override {
        jobs.clear();
        PrinterHandle printer = Open(name);
        if (!printer) return Failed("open printer", name);
        std::vector<BYTE> buffer;
        DWORD count = 0;
        if (!FillBuffer(buffer, [&](BYTE* b, DWORD n, DWORD* need) {
                return EnumJobsW(printer.get(), 0, 0xFFFF, 1, b, n, need, &count);
            }))
            return Failed("list the jobs of", name);
        const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
        std::vector<SpoolJob> queued;
        for (DWORD i = 0; i < count; ++i) {
            queued.push_back(JobOf(info[i]));
            m_submitted.Seen(name, queued.back());
        }
        // Ours that left the queue come first: they are older than any
        // still in it.
        if (!activeOnly) jobs = m_submitted.DepartedBesides(name, queued);
        for (const SpoolJob& job : queued)
            if (!activeOnly || job.state < 7) jobs.push_back(job);
        return SpoolStatus::Ok;
    }

    SpoolStatus GetJob(const std::string& name, int jobId, SpoolJob& job) override {
        PrinterHandle printer = Open(name);
        if (!printer) return Failed("open printer", name);
        std::vector<BYTE> buffer;
        if (!FillBuffer(buffer, [&](BYTE* b, DWORD n, DWORD* need) {
                return GetJobW(printer.get(), static_cast<DWORD>(jobId), 1, b, n, need);
            })) {
            const DWORD err = GetLastError();
            const bool asked = err != RPC_S_SERVER_UNAVAILABLE && err != RPC_S_CALL_FAILED;
            if (asked && m_submitted.Departed(name, jobId, job)) return SpoolStatus::Ok;
            return Failed("ask for a job of", name, err);
        }
        job = JobOf(*reinterpret_cast<const JOB_INFO_1W*>(buffer.data()));
        m_submitted.Seen(name, job);
        return SpoolStatus::Ok;
    }

    SpoolStatus SubmitFile(const std::string& name, const std::string& path, const std::string& title,
                           const std::string& format, const std::vector<std::string>& /*options*/, int timeoutMs,
                           int& jobId) override {
        jobId = 0;
        if (format == kImagePageFormat) {
            std::string printer = name;
            const SpoolStatus status = PrintImagePage(printer, path, title, jobId);
            if (status == SpoolStatus::Ok) m_submitted.Submitted(printer, jobId, title);
            return status;
        }
        if (format.empty()) return ShellPrint(path, timeoutMs);
        LogFailure("winspool", "cannot print " + format + " files");
        return SpoolStatus::Refused;
    }

private:
    static SpoolJob JobOf(const JOB_INFO_1W& info) {
        SpoolJob job;
        job.id = static_cast<int>(info.JobId);
        job.name = Narrow(info.pDocument);
        winspool::JobStateFromStatus(info.Status, job.state, job.reasons);
        job.impressions = static_cast<int>(info.TotalPages);
        job.impressionsCompleted = static_cast<int>(info.PagesPrinted);
        return job;
    }

    static SpoolStatus Describe(HANDLE handle, SpoolPrinter& printer, bool details) {
        std::vector<BYTE> buffer;
        if (!FillBuffer(buffer, [&](BYTE* b, DWORD n, DWORD* need) { return GetPrinterW(handle, 2, b, n, need); }))
            return Failed("read a printer", {});
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        printer.name = Narrow(info->pPrinterName);
        if (!details) return SpoolStatus::Ok;
        printer.makeAndModel = Narrow(info->pDriverName);
        printer.deviceUri = Narrow(info->pPortName);
        winspool::PrinterStateFromStatus(info->Status, printer.state, printer.reasons, printer.accepting);
        const std::wstring name = info->pPrinterName ? info->pPrinterName : L"";
        const std::wstring port = info->pPortName ? info->pPortName : L"";
        std::vector<winspool::DriverPaper> papers = DriverPapers(name, port);
        printer.media = winspool::MediaOf(papers);
        std::vector<BYTE> devMode = DefaultDevMode(handle, name, *info);
        if (!devMode.empty())
            winspool::DefaultsFromDevMode(FieldsOf(*reinterpret_cast<const DEVMODEW*>(devMode.data())), papers,
                                          printer);
        return SpoolStatus::Ok;
    }

    // One page: the bitmap stretched over the printable area (HORZRES x
    // VERTRES) of the printer's default paper, aspect not kept.
    // printer: empty for the default printer, then set to its name.
    static SpoolStatus PrintImagePage(std::string& printer, const std::string& path, const std::string& title,
                                      int& jobId) {
        Dib dib;
        std::string why;
        if (!LoadDib(path, dib, why)) {
            LogFailure("winspool", why);
            return SpoolStatus::Refused;
        }
        if (printer.empty() && (GetDefaultPrinterFor(printer) != SpoolStatus::Ok || printer.empty()))
            return SpoolStatus::NotFound;
        DcHandle dc(CreateDCW(L"WINSPOOL", Widen(printer).c_str(), nullptr, nullptr));
        if (!dc) return Failed("open a drawing context on", printer);
        const std::wstring docName = Widen(title);
        DOCINFOW doc{};
        doc.cbSize = sizeof doc;
        doc.lpszDocName = docName.c_str();
        const int job = StartDocW(dc.get(), &doc);
        if (job <= 0) return Failed("start a job on", printer);
        const int width = GetDeviceCaps(dc.get(), HORZRES);
        const int height = GetDeviceCaps(dc.get(), VERTRES);
        const BITMAPINFOHEADER& header = dib.info.bmiHeader;
        const int imageHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        bool drawn = StartPage(dc.get()) > 0;
        if (drawn) {
            SetStretchBltMode(dc.get(), HALFTONE);
            SetBrushOrgEx(dc.get(), 0, 0, nullptr);  // HALFTONE wants it after the mode
            drawn = StretchDIBits(dc.get(), 0, 0, width, height, 0, 0, header.biWidth, imageHeight, dib.bits, &dib.info,
                                  DIB_RGB_COLORS, SRCCOPY) > 0 &&
                    EndPage(dc.get()) > 0;
        }
        if (!drawn || EndDoc(dc.get()) <= 0) {
            const DWORD err = GetLastError();
            AbortDoc(dc.get());
            return Failed("print on", printer, err);
        }
        jobId = job;
        return SpoolStatus::Ok;
    }

    static SpoolStatus GetDefaultPrinterFor(std::string& name) {
        WinSpooler spooler;
        return spooler.GetDefaultPrinter(name);
    }

    // The shell's "print" verb: the program registered for the file's type
    // prints it on the default printer. No job id comes back.
    static SpoolStatus ShellPrint(const std::string& path, int timeoutMs) {
        const std::wstring file = Widen(path, CP_ACP);
        // Verb handlers may be COM objects: this thread needs COM for them.
        const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        struct ComGuard {
            bool on;
            ~ComGuard() {
                if (on) CoUninitialize();
            }
        } guard{SUCCEEDED(com)};
        SHELLEXECUTEINFOW run{};
        run.cbSize = sizeof run;
        run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        run.lpVerb = L"print";
        run.lpFile = file.c_str();
        run.nShow = SW_HIDE;
        if (!ShellExecuteExW(&run)) return Failed("print through the shell:", path);
        Handle process(run.hProcess);
        // The printing program may stay open; it had its time to take the file.
        if (process) WaitForInputIdle(process.get(), static_cast<DWORD>(timeoutMs > 0 ? timeoutMs : 0));
        return SpoolStatus::Ok;
    }

    winspool::SubmittedJobs m_submitted;
};

}  // namespace

std::shared_ptr<Spooler> MakeWinSpooler() { return std::make_shared<WinSpooler>(); }

std::shared_ptr<Spooler> MakePlatformSpooler() { return MakeWinSpooler(); }

}  // namespace quorvin
