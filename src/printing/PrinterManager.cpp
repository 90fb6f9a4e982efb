#include "printing/PrinterManager.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Json.h"
#include "common/Log.h"
#include "common/Platform.h"
#include "printing/FormStore.h"
#include "printing/ImagePage.h"
#include "printing/PaperTable.h"
#include "printing/Spooler.h"
#include "printing/StatusText.h"

namespace quorvin {
namespace {

// CUPS keeps printer names of at most 127 bytes; the protocol's paper and
// form names fit in 64-byte buffers with their terminator.
constexpr std::size_t kMaxPrinterName = 127;
constexpr std::size_t kMaxPaperName = 63;
constexpr int kPrintTimeoutMs = 5000;
constexpr int kShellPrintTimeoutMs = 5000;

bool ValidPrinterName(const std::string& name) { return !name.empty() && name.size() <= kMaxPrinterName; }
bool ValidPaperName(const std::string& name) { return !name.empty() && name.size() <= kMaxPaperName; }

// UTF-8 text for inside a JSON string.
std::string Esc(const std::string& utf8) { return JsonEscape(utf8); }

std::string Caret(std::string text) {
    std::replace(text.begin(), text.end(), '\\', '^');
    return text;
}

// One paper a printer offers, as the server sees it. Sizes in hundredths
// of a millimetre.
struct Paper {
    std::string name;  // what GetPaperSize matches
    int code = 0;
    std::string media;  // what CUPS is told
    SpoolMedia size;
};

// The printer's papers: its media with standard or driver codes, then the
// stored forms.
std::vector<Paper> PapersOf(const SpoolPrinter& printer, const std::vector<PaperForm>& forms) {
    std::vector<Paper> papers;
    std::vector<const SpoolMedia*> others;
    for (const SpoolMedia& media : printer.media) {
        const StandardPaper* standard = PaperForPwg(media.pwgName);
        if (!standard) {
            others.push_back(&media);
            continue;
        }
        bool known =
            std::any_of(papers.begin(), papers.end(), [&](const Paper& p) { return p.code == standard->code; });
        if (!known) papers.push_back({standard->name, standard->code, media.pwgName, media});
    }
    // Driver codes follow the sorted PWG names, so a printer's codes stay
    // the same from call to call.
    std::sort(others.begin(), others.end(),
              [](const SpoolMedia* a, const SpoolMedia* b) { return a->pwgName < b->pwgName; });
    others.erase(std::unique(others.begin(), others.end(),
                             [](const SpoolMedia* a, const SpoolMedia* b) { return a->pwgName == b->pwgName; }),
                 others.end());
    int code = kFirstDriverPaperCode;
    for (const SpoolMedia* media : others) {
        if (code > kLastDriverPaperCode) break;
        papers.push_back({media->pwgName, code++, media->pwgName, *media});
    }
    for (const PaperForm& form : forms) {
        SpoolMedia size;
        size.width = form.width * 10;
        size.length = form.height * 10;
        size.left = form.left * 10;
        size.top = form.top * 10;
        size.right = form.right * 10;
        size.bottom = form.bottom * 10;
        papers.push_back({form.name, form.code, CustomMediaName(form.name, form.width, form.height), size});
    }
    return papers;
}

const Paper* PaperNamed(const std::vector<Paper>& papers, const std::string& name) {
    for (const Paper& paper : papers)
        if (paper.name == name) return &paper;
    return nullptr;
}

const Paper* PaperWithCode(const std::vector<Paper>& papers, int code) {
    for (const Paper& paper : papers)
        if (paper.code == code) return &paper;
    return nullptr;
}

const Paper* PaperForMedia(const std::vector<Paper>& papers, const std::string& media) {
    for (const Paper& paper : papers)
        if (paper.media == media) return &paper;
    // "iso_a4_210x297mm_borderless" and the like are still A4.
    if (const StandardPaper* standard = PaperForPwg(media)) return PaperWithCode(papers, standard->code);
    return nullptr;
}

bool SameSize(const SpoolMedia& a, const SpoolMedia& b) {
    return std::abs(a.width - b.width) <= 100 && std::abs(a.length - b.length) <= 100;
}

double Points(int hundredthsMm) { return hundredthsMm * 72.0 / 2540.0; }

// The page the printer prints by default: its default paper, turned for a
// landscape default, with the printer's margins for that paper.
PageLayout DefaultPage(const SpoolPrinter& printer, const std::vector<Paper>& papers) {
    SpoolMedia media = printer.defaultMedia;
    if (const Paper* paper = PaperForMedia(papers, printer.mediaDefault)) {
        bool stated = SameSize(paper->size, printer.defaultMedia);
        media = paper->size;
        if (stated) {  // the printer states the margins of its default
            media.left = printer.defaultMedia.left;
            media.right = printer.defaultMedia.right;
            media.top = printer.defaultMedia.top;
            media.bottom = printer.defaultMedia.bottom;
        }
    }
    if (media.width <= 0 || media.length <= 0) media = SpoolMedia{"iso_a4_210x297mm", 21000, 29700};
    PageLayout page{Points(media.width), Points(media.length), Points(media.left),
                    Points(media.top),   Points(media.right),  Points(media.bottom)};
    // 4 landscape, 5 reverse landscape: the page turns a quarter.
    if (printer.orientationDefault == 4 || printer.orientationDefault == 5) {
        page = PageLayout{page.height, page.width, page.top, page.right, page.bottom, page.left};
    }
    return page;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// The page file of one image print, removed when the print is done.
class TempFile {
public:
    explicit TempFile(const std::string& suffix) : m_path(platform::MakeTempFile("quorvin-page-", suffix, &m_why)) {}
    ~TempFile() {
        if (!m_path.empty()) platform::RemoveFile(m_path);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return m_path; }
    const std::string& why() const { return m_why; }

private:
    std::string m_why;
    std::string m_path;
};

}  // namespace

CPrinterManager::CPrinterManager() : CPrinterManager(CCommonTool().GetModuleDir()) {}

CPrinterManager::CPrinterManager(const std::string& formStoreDir, std::shared_ptr<Spooler> spooler)
    : m_pSpooler(spooler ? std::move(spooler) : MakePlatformSpooler()),
      m_pForms(std::make_unique<CFormStore>(formStoreDir + "/forms.json")) {}

CPrinterManager::~CPrinterManager() = default;

std::string CPrinterManager::GetAllPrinters() {
    std::vector<std::string> names;
    if (m_pSpooler->ListPrinters(names) != SpoolStatus::Ok) return {};
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty()) text += ",";
        text += "\"" + Esc(name) + "\"";
    }
    return Utf8ToLocal("[" + text + "]");
}

std::string CPrinterManager::GetDefaultPrinter() {
    std::string name;
    SpoolPrinter printer;
    if (m_pSpooler->GetDefaultPrinter(name) != SpoolStatus::Ok) return {};
    if (!name.empty()) {
        const SpoolStatus status = m_pSpooler->GetPrinter(name, printer);
        if (status != SpoolStatus::Ok && status != SpoolStatus::NotFound) return {};
        if (status == SpoolStatus::NotFound) printer.name = name;  // gone meanwhile: the name alone
    }
    return Utf8ToLocal("{\"name\":\"" + Esc(printer.name) + "\"," + "\"driver\":\"" + Esc(printer.makeAndModel) +
                       "\"," + "\"port\":\"" + Esc(printer.deviceUri) + "\"}");
}

std::string CPrinterManager::GetDefaultPrinterAndPaper() {
    std::string name, paperName;
    int code = 0;
    SpoolPrinter printer;
    if (m_pSpooler->GetDefaultPrinter(name) != SpoolStatus::Ok) return {};
    const SpoolStatus status = name.empty() ? SpoolStatus::NotFound : m_pSpooler->GetPrinter(name, printer);
    if (status != SpoolStatus::Ok && status != SpoolStatus::NotFound) return {};
    if (status != SpoolStatus::Ok) name.clear();  // gone meanwhile: no default
    if (status == SpoolStatus::Ok) {
        name = printer.name;
        std::vector<Paper> papers = PapersOf(printer, m_pForms->FormsOf(printer.name));
        if (const Paper* paper = PaperForMedia(papers, printer.mediaDefault)) {
            paperName = paper->name;
            code = paper->code;
        } else {
            paperName = printer.mediaDefault;
        }
    }
    return Utf8ToLocal("{\"printer\":\"" + Esc(name) + "\",\"paperName\":\"" + Esc(paperName) + "\",\"paperSize\":\"" +
                       std::to_string(code) + "\"}");
}

bool CPrinterManager::SetDefaultPrinter(const std::string& printer) {
    if (!ValidPrinterName(printer)) return false;
    return m_pSpooler->SetDefaultPrinter(LocalToUtf8(printer)) == SpoolStatus::Ok;
}

int CPrinterManager::AddCustomPaper(const std::string& printer, const std::string& form, int width, int height,
                                    int left, int top, int right, int bottom) {
    if (!ValidPrinterName(printer) || !ValidPaperName(form)) return 0;
    // Sizes in tenths of a millimetre, checked before the spooler is asked.
    PaperForm record{{}, LocalToUtf8(form), 0, width, height, left, top, right, bottom};
    if (!IsSoundForm(record)) return 0;
    SpoolPrinter info;
    if (m_pSpooler->GetPrinter(LocalToUtf8(printer), info) != SpoolStatus::Ok) return 0;
    record.printer = info.name;
    // The printer's own papers cannot be redefined, as built-in forms cannot.
    std::vector<Paper> own = PapersOf(info, {});
    if (PaperNamed(own, record.name)) return 0;
    return m_pForms->Put(record) ? 1 : 0;
}

int CPrinterManager::DeleteCustomPaper(const std::string& printer, const std::string& form) {
    if (!ValidPrinterName(printer) || !ValidPaperName(form)) return 0;
    SpoolPrinter info;
    if (m_pSpooler->GetPrinter(LocalToUtf8(printer), info) != SpoolStatus::Ok) return 0;
    return m_pForms->Remove(info.name, LocalToUtf8(form)) ? 1 : 0;
}

int CPrinterManager::SetPaper(const std::string& printer, const std::string& paper, int copies, int orientation) {
    if (!ValidPrinterName(printer) || paper.size() > kMaxPaperName) return 0;
    SpoolPrinter info;
    if (m_pSpooler->GetPrinter(LocalToUtf8(printer), info) != SpoolStatus::Ok) return 0;
    std::vector<Paper> papers = PapersOf(info, m_pForms->FormsOf(info.name));

    int code = AtoI(paper);
    if (code <= 0) {
        const Paper* named = PaperNamed(papers, LocalToUtf8(paper));
        code = named ? named->code : -1;
    }
    SpoolDefaults defaults;
    if (static_cast<std::int16_t>(code) > 0) {
        const Paper* chosen = PaperWithCode(papers, code);
        if (!chosen) return 0;  // a code that names none of the printer's papers
        defaults.media = chosen->media;
    }
    if (copies > 0) defaults.copies = copies;
    switch (static_cast<std::int16_t>(orientation)) {
        case 1: defaults.orientation = 3; break;  // portrait
        case 2: defaults.orientation = 4; break;  // landscape
        default: break;                           // nothing CUPS could store
    }
    if (!defaults.media && !defaults.copies && !defaults.orientation) return 1;
    return m_pSpooler->SetPrinterDefaults(info.name, defaults) == SpoolStatus::Ok ? 1 : 0;
}

int CPrinterManager::GetPaperSize(const std::string& printer, const std::string& /*port*/,
                                  const std::string& paperName) {
    if (!ValidPrinterName(printer) || !ValidPaperName(paperName)) return -1;
    SpoolPrinter info;
    if (m_pSpooler->GetPrinter(LocalToUtf8(printer), info) != SpoolStatus::Ok) return -1;
    std::vector<Paper> papers = PapersOf(info, m_pForms->FormsOf(info.name));
    const Paper* paper = PaperNamed(papers, LocalToUtf8(paperName));
    return paper ? paper->code : -1;
}

std::string CPrinterManager::GetPrinterJobStatus(const std::string& printer) {
    static const std::string kMissing = "{\"printer\":\"打印机不存在\",\"jobs\":[]}";
    static const std::string kFailed = "{\"printer\":\"获取打印作业失败\",\"jobs\":[]}";
    if (!ValidPrinterName(printer)) return Utf8ToLocal(kMissing);
    std::string name = LocalToUtf8(printer);
    SpoolPrinter info;
    SpoolStatus status = m_pSpooler->GetPrinter(name, info);
    if (status == SpoolStatus::NotFound) return Utf8ToLocal(kMissing);
    std::vector<SpoolJob> jobs;
    if (status != SpoolStatus::Ok || m_pSpooler->GetJobs(info.name, true, jobs) != SpoolStatus::Ok)
        return Utf8ToLocal(kFailed);

    std::string items;
    for (SpoolJob& job : jobs) {
        // CUPS leaves a waiting job's reasons alone when its queue stops.
        if (info.state == 5 && job.state == 3) job.reasons.push_back("printer-stopped");
        if (!items.empty()) items += ",";
        items += "{\"JobId\":" + std::to_string(job.id) + ",\"TotalPages\":" + std::to_string(job.impressions) +
                 ",\"PagesPrinted\":" + std::to_string(job.impressionsCompleted) + ",\"filename\":\"" +
                 Esc(Caret(job.name)) + "\",\"status\":\"" + JobStatusTextUtf8(JobStatusBits(job.state, job.reasons)) +
                 "\"}";
    }
    std::string printerText = PrinterStatusTextUtf8(PrinterStatusBits(info.state, info.reasons, info.accepting));
    return Utf8ToLocal("{\"printer\":\"" + printerText + "\",\"jobs\":[" + items + "]}");
}

std::string CPrinterManager::GetPrinterStatusText(std::uint32_t status) {
    return Utf8ToLocal(PrinterStatusTextUtf8(status));
}

std::string CPrinterManager::GetJobStatusText(std::uint32_t status) { return Utf8ToLocal(JobStatusTextUtf8(status)); }

int CPrinterManager::PrintImageFile(const std::string& printer, const std::string& imagePath) {
    if (!ValidPrinterName(printer) || imagePath.empty()) return 0;
    SpoolPrinter info;
    if (m_pSpooler->GetPrinter(LocalToUtf8(printer), info) != SpoolStatus::Ok) return 0;
    PageLayout page = DefaultPage(info, PapersOf(info, m_pForms->FormsOf(info.name)));

    TempFile pageFile(kImagePageSuffix);
    std::string why = "no temporary file for the page: " + pageFile.why();
    if (pageFile.path().empty() || WriteImagePage(imagePath, page, pageFile.path(), &why) != ImagePageResult::Written) {
        LogFailure("print", LocalToUtf8(imagePath) + " on " + info.name + ": " + why);
        return 0;
    }
    // Copies, paper and orientation: the queue applies its own defaults to
    // a job that names none.
    int jobId = 0;
    if (m_pSpooler->SubmitFile(info.name, pageFile.path(), LocalToUtf8(imagePath), kImagePageFormat, {},
                               kPrintTimeoutMs, jobId) != SpoolStatus::Ok)
        return 0;
    return jobId;
}

bool CPrinterManager::ShellPrintFile(const std::string& path) {
    if (!platform::IsReadableFile(path)) {
        LogFailure("print", LocalToUtf8(path) + ": no readable file to print");
        return false;
    }
    int jobId = 0;
    // An empty printer name is the default printer, found within the same
    // time bound as the submission.
    return m_pSpooler->SubmitFile("", path, LocalToUtf8(path), "", {}, kShellPrintTimeoutMs, jobId) == SpoolStatus::Ok;
}

JobState CPrinterManager::GetJobState(const std::string& printer, int jobId, const std::string& documentName) {
    if (!ValidPrinterName(printer) || (jobId <= 0 && documentName.empty())) return JobState::Unknown;
    std::string name = LocalToUtf8(printer);
    SpoolJob job;
    SpoolStatus status;
    if (jobId > 0) {
        status = m_pSpooler->GetJob(name, jobId, job);
    } else {
        std::vector<SpoolJob> jobs;
        status = m_pSpooler->GetJobs(name, false, jobs);
        std::string wanted = LocalToUtf8(documentName);
        auto newest = std::find_if(jobs.rbegin(), jobs.rend(),
                                   [&](const SpoolJob& j) { return EqualsIgnoringCase(Caret(j.name), wanted); });
        if (status == SpoolStatus::Ok && newest == jobs.rend()) status = SpoolStatus::NotFound;
        if (status == SpoolStatus::Ok) job = *newest;
    }
    if (status == SpoolStatus::Unreachable) return JobState::Unreachable;
    if (status != SpoolStatus::Ok) return JobState::Unknown;
    switch (job.state) {
        case 7:
        case 8: return JobState::Failed;  // canceled, aborted
        case 9: return JobState::Completed;
        default: return JobState::Active;  // pending, held, processing, stopped
    }
}

}  // namespace quorvin
