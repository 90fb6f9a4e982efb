// Owns every libcups call of the agent. Each request opens its own
// connection (no shared state between threads), bounded by a connect
// timeout and a deadline that the I/O timeout callback enforces; every
// libcups result is owned by a unique_ptr and freed on every path.
#include "printing/cups/CupsSpooler.h"

#include <cups/cups.h>
#include <cups/ipp.h>
#include <cups/pwg.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "common/Log.h"

namespace quorvin {
namespace {

using Clock = std::chrono::steady_clock;

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using HttpPtr = std::unique_ptr<http_t, HttpCloser>;

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

struct DestDeleter {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Options for a request, freed with it.
class Options {
public:
    ~Options() { cupsFreeOptions(m_nCount, m_pOptions); }
    void Add(const std::string& name, const std::string& value) {
        m_nCount = cupsAddOption(name.c_str(), value.c_str(), m_nCount, &m_pOptions);
    }
    void Encode(ipp_t* request, ipp_tag_t group) const { cupsEncodeOptions2(request, m_nCount, m_pOptions, group); }

private:
    int m_nCount = 0;
    cups_option_t* m_pOptions = nullptr;
};

// libcups waits in slices of this many seconds and asks KeepWaiting
// whether to go on; the deadline ends a server that never answers.
constexpr double kWaitSlice = 0.25;
constexpr int kConnectMs = 2000;

int KeepWaiting(http_t*, void* data) { return Clock::now() < *static_cast<Clock::time_point*>(data) ? 1 : 0; }

// One connection to the scheduler for one request. what names the request
// for the line a failure leaves on stderr ("print on PDF").
class Connection {
public:
    Connection(int timeoutMs, std::string what)
        : m_nTimeoutMs(timeoutMs),
          m_what(std::move(what)),
          m_deadline(Clock::now() + std::chrono::milliseconds(timeoutMs)) {
        m_http.reset(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                  std::min(kConnectMs, timeoutMs), nullptr));
        if (m_http) httpSetTimeout(m_http.get(), kWaitSlice, KeepWaiting, &m_deadline);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    http_t* get() const { return m_http.get(); }
    bool Expired() const { return Clock::now() >= m_deadline; }

    // Sends the request (consumed) and classifies the answer.
    IppPtr Do(IppPtr request, const char* resource, SpoolStatus& status) {
        if (!m_http) {
            status = Note(SpoolStatus::Unreachable);
            return nullptr;
        }
        IppPtr response(cupsDoRequest(m_http.get(), request.release(), resource));
        status = Note(Classify(response.get()));
        return response;
    }

    // Passes status on; a failure (no answer, or an answer that refuses)
    // leaves one line on stderr with the scheduler's own reason, read here
    // while libcups still holds it for this thread.
    SpoolStatus Note(SpoolStatus status) {
        if ((status != SpoolStatus::Unreachable && status != SpoolStatus::Refused) || m_bNoted) return status;
        m_bNoted = true;
        LogFailure("cups", m_what + ": " + Reason());
        return status;
    }

    SpoolStatus Classify(ipp_t* response) const {
        if (response == nullptr) {
            if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return SpoolStatus::NotFound;
            return SpoolStatus::Unreachable;
        }
        ipp_status_t code = ippGetStatusCode(response);
        if (code <= IPP_STATUS_OK_EVENTS_COMPLETE) return SpoolStatus::Ok;
        if (code == IPP_STATUS_ERROR_NOT_FOUND) return SpoolStatus::NotFound;
        if (code == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE) return SpoolStatus::Unreachable;
        return SpoolStatus::Refused;
    }

private:
    std::string Reason() const {
        const std::string where = std::string(cupsServer()) + ":" + std::to_string(ippPort());
        if (!m_http) return "cannot connect to " + where + ": " + LastError();
        if (Expired()) return "no answer from " + where + " within " + std::to_string(m_nTimeoutMs) + " ms";
        return LastError();
    }

    // libcups' status and message for this thread's last request.
    static std::string LastError() {
        std::string code = ippErrorString(cupsLastError());
        const char* message = cupsLastErrorString();
        if (message == nullptr || *message == '\0' || code == message) return code;
        return code + ": " + message;
    }

    int m_nTimeoutMs;
    std::string m_what;
    bool m_bNoted = false;
    Clock::time_point m_deadline;  // before m_http: the callback reads it
    HttpPtr m_http;
};

std::string PrinterUri(const std::string& name) {
    char uri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof(uri), "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                         name.c_str()) < HTTP_URI_STATUS_OK)
        return {};
    return uri;
}

// The path part of a URI, decoded as coding says; nothing when the URI
// cannot be read.
std::optional<std::string> PathOfUri(const std::string& uri, http_uri_coding_t coding) {
    char scheme[32], user[256], host[256], resource[HTTP_MAX_URI];
    int port = 0;
    if (httpSeparateURI(coding, uri.c_str(), scheme, sizeof(scheme), user, sizeof(user), host, sizeof(host), &port,
                        resource, sizeof(resource)) < HTTP_URI_STATUS_OK)
        return std::nullopt;
    return std::string(resource);
}

// The encoded path part of a printer URI, for the HTTP request line.
std::string ResourceOf(const std::string& uri) { return PathOfUri(uri, HTTP_URI_CODING_NONE).value_or("/"); }

// A request with the usual operation attributes; null when the printer
// name cannot be put into a URI.
IppPtr NewPrinterRequest(ipp_op_t op, const std::string& printerUri) {
    if (printerUri.empty()) return nullptr;
    IppPtr request(ippNewRequest(op));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, printerUri.c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

void RequestAttributes(ipp_t* request, std::initializer_list<const char*> names) {
    std::vector<const char*> list(names);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", static_cast<int>(list.size()),
                  nullptr, list.data());
}

std::string StringOf(ipp_t* ipp, const char* name) {
    ipp_attribute_t* attr = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
    const char* text = attr ? ippGetString(attr, 0, nullptr) : nullptr;
    return text ? text : "";
}

int IntegerOf(ipp_t* ipp, const char* name, int otherwise) {
    ipp_attribute_t* attr = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
    if (!attr) return otherwise;
    ipp_tag_t tag = ippGetValueTag(attr);
    if (tag != IPP_TAG_INTEGER && tag != IPP_TAG_ENUM) return otherwise;
    return ippGetInteger(attr, 0);
}

std::vector<std::string> Keywords(ipp_attribute_t* attr) {
    std::vector<std::string> list;
    for (int i = 0, n = attr ? ippGetCount(attr) : 0; i < n; ++i) {
        const char* text = ippGetString(attr, i, nullptr);
        if (text && std::strcmp(text, "none") != 0) list.emplace_back(text);
    }
    return list;
}

// Size and margins of a media-col collection.
bool ReadMediaCol(ipp_t* col, SpoolMedia& media) {
    ipp_attribute_t* sizeAttr = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION);
    if (!sizeAttr) return false;
    ipp_t* size = ippGetCollection(sizeAttr, 0);
    media.width = IntegerOf(size, "x-dimension", 0);
    media.length = IntegerOf(size, "y-dimension", 0);
    media.left = IntegerOf(col, "media-left-margin", 0);
    media.bottom = IntegerOf(col, "media-bottom-margin", 0);
    media.right = IntegerOf(col, "media-right-margin", 0);
    media.top = IntegerOf(col, "media-top-margin", 0);
    media.pwgName = StringOf(col, "media-size-name");
    return media.width > 0 && media.length > 0;
}

bool Near(int a, int b) { return a - b <= 100 && b - a <= 100; }

// Each supported media name with its size (from the PWG name) and the
// margins the printer states for that size.
std::vector<SpoolMedia> ReadMediaList(ipp_t* response) {
    std::vector<SpoolMedia> database;
    ipp_attribute_t* db = ippFindAttribute(response, "media-col-database", IPP_TAG_BEGIN_COLLECTION);
    for (int i = 0, n = db ? ippGetCount(db) : 0; i < n; ++i) {
        SpoolMedia m;
        if (ReadMediaCol(ippGetCollection(db, i), m)) database.push_back(m);
    }
    std::vector<SpoolMedia> list;
    ipp_attribute_t* supported = ippFindAttribute(response, "media-supported", IPP_TAG_ZERO);
    for (int i = 0, n = supported ? ippGetCount(supported) : 0; i < n; ++i) {
        const char* name = ippGetString(supported, i, nullptr);
        if (!name || std::strncmp(name, "custom_min_", 11) == 0 || std::strncmp(name, "custom_max_", 11) == 0) continue;
        pwg_media_t* pwg = pwgMediaForPWG(name);
        if (!pwg) continue;
        SpoolMedia m;
        m.pwgName = name;
        m.width = pwg->width;
        m.length = pwg->length;
        for (const SpoolMedia& d : database) {
            if (Near(d.width, m.width) && Near(d.length, m.length)) {
                m.left = d.left;
                m.bottom = d.bottom;
                m.right = d.right;
                m.top = d.top;
                break;
            }
        }
        list.push_back(m);
    }
    return list;
}

// The attributes of every object in one group (job, printer) in turn.
template <typename Fn>
void ForEachGroup(ipp_t* response, ipp_tag_t group, Fn fn) {
    ipp_t* one = nullptr;
    auto flush = [&] {
        if (one) fn(one);
        ippDelete(one);
        one = nullptr;
    };
    for (ipp_attribute_t* attr = ippFirstAttribute(response); attr; attr = ippNextAttribute(response)) {
        if (ippGetGroupTag(attr) != group || ippGetName(attr) == nullptr) {
            flush();
            continue;
        }
        if (!one) one = ippNew();
        ippCopyAttribute(one, attr, 0);
    }
    flush();
}

SpoolJob ReadJob(ipp_t* attrs) {
    SpoolJob job;
    job.id = IntegerOf(attrs, "job-id", 0);
    job.name = StringOf(attrs, "job-name");
    job.state = IntegerOf(attrs, "job-state", IPP_JSTATE_PENDING);
    job.reasons = Keywords(ippFindAttribute(attrs, "job-state-reasons", IPP_TAG_ZERO));
    job.impressions = IntegerOf(attrs, "job-impressions", 0);
    job.impressionsCompleted = IntegerOf(attrs, "job-impressions-completed", 0);
    return job;
}

// The queue name at the end of a printer URI, decoded.
std::string QueueOfUri(const std::string& uri) {
    const std::optional<std::string> path = PathOfUri(uri, HTTP_URI_CODING_ALL);
    if (!path) return {};
    return path->substr(path->rfind('/') + 1);  // npos + 1 is 0: the whole path
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

}  // namespace

CCupsSpooler::CCupsSpooler(int requestTimeoutMs) : m_nTimeoutMs(requestTimeoutMs) {}

SpoolStatus CCupsSpooler::ListPrinters(std::vector<std::string>& names) {
    names.clear();
    Connection conn(m_nTimeoutMs, "list printers");
    IppPtr request(ippNewRequest(IPP_OP_CUPS_GET_PRINTERS));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    RequestAttributes(request.get(), {"printer-name"});
    SpoolStatus status;
    IppPtr response = conn.Do(std::move(request), "/", status);
    // A server with no printers answers not-found.
    if (status == SpoolStatus::NotFound) return SpoolStatus::Ok;
    if (status != SpoolStatus::Ok) return status;
    for (ipp_attribute_t* attr = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME); attr;
         attr = ippFindNextAttribute(response.get(), "printer-name", IPP_TAG_NAME)) {
        if (const char* name = ippGetString(attr, 0, nullptr)) names.emplace_back(name);
    }
    return SpoolStatus::Ok;
}

SpoolStatus CCupsSpooler::GetDefaultPrinter(std::string& name) {
    name.clear();
    Connection conn(m_nTimeoutMs, "default printer");
    if (!conn.get()) return conn.Note(SpoolStatus::Unreachable);
    // Honours LPDEST/PRINTER and the user's lpoptions before the server's
    // default, like every other CUPS client.
    DestPtr dest(cupsGetNamedDest(conn.get(), nullptr, nullptr));
    if (dest) {
        name = dest->name;
        return SpoolStatus::Ok;
    }
    // A scheduler silent past the deadline leaves no error of its own
    // behind: it must not pass for one that has no default.
    if (conn.Expired()) return conn.Note(SpoolStatus::Unreachable);
    ipp_status_t err = cupsLastError();
    if (err == IPP_STATUS_ERROR_NOT_FOUND || err <= IPP_STATUS_OK_EVENTS_COMPLETE) return SpoolStatus::Ok;
    return conn.Note(err == IPP_STATUS_ERROR_SERVICE_UNAVAILABLE || err == IPP_STATUS_ERROR_INTERNAL
                         ? SpoolStatus::Unreachable
                         : SpoolStatus::Refused);
}

SpoolStatus CCupsSpooler::SetDefaultPrinter(const std::string& name) {
    Connection conn(m_nTimeoutMs, "set default " + name);
    IppPtr request = NewPrinterRequest(IPP_OP_CUPS_SET_DEFAULT, PrinterUri(name));
    if (!request) return SpoolStatus::NotFound;
    SpoolStatus status;
    conn.Do(std::move(request), "/admin/", status);
    return status;
}

SpoolStatus CCupsSpooler::GetPrinter(const std::string& name, SpoolPrinter& printer) {
    printer = SpoolPrinter{};
    Connection conn(m_nTimeoutMs, "printer " + name);
    IppPtr request = NewPrinterRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, PrinterUri(name));
    if (!request) return SpoolStatus::NotFound;
    RequestAttributes(request.get(),
                      {"printer-name", "printer-make-and-model", "device-uri", "printer-state", "printer-state-reasons",
                       "printer-is-accepting-jobs", "media-default", "media-supported", "media-col-default",
                       "media-col-database", "copies-default", "orientation-requested-default"});
    SpoolStatus status;
    IppPtr response = conn.Do(std::move(request), "/", status);
    if (status != SpoolStatus::Ok) return status;
    ipp_t* r = response.get();
    printer.name = StringOf(r, "printer-name");
    if (printer.name.empty()) printer.name = name;
    printer.makeAndModel = StringOf(r, "printer-make-and-model");
    printer.deviceUri = StringOf(r, "device-uri");
    printer.state = IntegerOf(r, "printer-state", IPP_PSTATE_IDLE);
    printer.reasons = Keywords(ippFindAttribute(r, "printer-state-reasons", IPP_TAG_ZERO));
    ipp_attribute_t* accepting = ippFindAttribute(r, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    printer.accepting = accepting == nullptr || ippGetBoolean(accepting, 0);
    // A default set by the administrator comes first; queues with a PPD
    // repeat the PPD's own default after it.
    printer.mediaDefault = StringOf(r, "media-default");
    printer.copiesDefault = IntegerOf(r, "copies-default", 1);
    printer.orientationDefault = IntegerOf(r, "orientation-requested-default", IPP_ORIENT_PORTRAIT);
    printer.media = ReadMediaList(r);
    if (ipp_attribute_t* col = ippFindAttribute(r, "media-col-default", IPP_TAG_BEGIN_COLLECTION))
        ReadMediaCol(ippGetCollection(col, 0), printer.defaultMedia);
    return SpoolStatus::Ok;
}

SpoolStatus CCupsSpooler::SetPrinterDefaults(const std::string& name, const SpoolDefaults& defaults) {
    Options options;
    if (defaults.media) options.Add("media-default", *defaults.media);
    if (defaults.copies) options.Add("copies-default", std::to_string(*defaults.copies));
    if (defaults.orientation) options.Add("orientation-requested-default", std::to_string(*defaults.orientation));
    Connection conn(m_nTimeoutMs, "set defaults of " + name);
    IppPtr request = NewPrinterRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, PrinterUri(name));
    if (!request) return SpoolStatus::NotFound;
    options.Encode(request.get(), IPP_TAG_PRINTER);
    SpoolStatus status;
    conn.Do(std::move(request), "/admin/", status);
    return status;
}

SpoolStatus CCupsSpooler::GetJobs(const std::string& name, bool activeOnly, std::vector<SpoolJob>& jobs) {
    jobs.clear();
    Connection conn(m_nTimeoutMs, "jobs of " + name);
    IppPtr request = NewPrinterRequest(IPP_OP_GET_JOBS, PrinterUri(name));
    if (!request) return SpoolStatus::NotFound;
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 activeOnly ? "not-completed" : "all");
    RequestAttributes(request.get(), {"job-id", "job-name", "job-state", "job-state-reasons", "job-impressions",
                                      "job-impressions-completed"});
    SpoolStatus status;
    IppPtr response = conn.Do(std::move(request), "/", status);
    if (status != SpoolStatus::Ok) return status;
    ForEachGroup(response.get(), IPP_TAG_JOB, [&](ipp_t* attrs) { jobs.push_back(ReadJob(attrs)); });
    std::sort(jobs.begin(), jobs.end(), [](const SpoolJob& a, const SpoolJob& b) { return a.id < b.id; });
    return SpoolStatus::Ok;
}

SpoolStatus CCupsSpooler::GetJob(const std::string& name, int jobId, SpoolJob& job) {
    job = SpoolJob{};
    Connection conn(m_nTimeoutMs, "job " + std::to_string(jobId) + " of " + name);
    IppPtr request = NewPrinterRequest(IPP_OP_GET_JOB_ATTRIBUTES, PrinterUri(name));
    if (!request) return SpoolStatus::NotFound;
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    RequestAttributes(request.get(), {"job-id", "job-name", "job-state", "job-state-reasons", "job-impressions",
                                      "job-impressions-completed", "job-printer-uri"});
    SpoolStatus status;
    IppPtr response = conn.Do(std::move(request), "/", status);
    if (status != SpoolStatus::Ok) return status;
    // The scheduler finds jobs by id alone; a job of another queue is not
    // this printer's job.
    if (!SameNameIgnoringCase(QueueOfUri(StringOf(response.get(), "job-printer-uri")), name))
        return SpoolStatus::NotFound;
    job = ReadJob(response.get());
    return SpoolStatus::Ok;
}

SpoolStatus CCupsSpooler::SubmitFile(const std::string& name, const std::string& path, const std::string& title,
                                     const std::string& format, const std::vector<std::string>& options, int timeoutMs,
                                     int& jobId) {
    jobId = 0;
    const std::string what = "print " + title + " on " + (name.empty() ? std::string("the default printer") : name);
    FilePtr file(std::fopen(path.c_str(), "rb"));
    struct stat st {};
    if (!file || fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        LogFailure("cups", what + ": not a readable file");
        return SpoolStatus::Refused;
    }

    Connection conn(timeoutMs, what);
    if (!conn.get()) return conn.Note(SpoolStatus::Unreachable);
    std::string queue = name;
    if (queue.empty()) {  // the default destination, as any CUPS client finds it
        DestPtr dest(cupsGetNamedDest(conn.get(), nullptr, nullptr));
        if (!dest) return conn.Expired() ? conn.Note(SpoolStatus::Unreachable) : SpoolStatus::NotFound;
        queue = dest->name;
    }
    std::string uri = PrinterUri(queue);
    IppPtr request = NewPrinterRequest(IPP_OP_PRINT_JOB, uri);
    if (!request) return SpoolStatus::NotFound;
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, title.c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 format.empty() ? CUPS_FORMAT_AUTO : format.c_str());
    Options jobOptions;
    for (const std::string& option : options) {
        std::size_t eq = option.find('=');
        if (eq != std::string::npos) jobOptions.Add(option.substr(0, eq), option.substr(eq + 1));
    }
    jobOptions.Encode(request.get(), IPP_TAG_JOB);

    std::string resource = ResourceOf(uri);
    // Chunked: scheduler and client agree on the length without counting.
    if (cupsSendRequest(conn.get(), request.get(), resource.c_str(), CUPS_LENGTH_VARIABLE) != HTTP_STATUS_CONTINUE)
        return conn.Note(conn.Expired() ? SpoolStatus::Unreachable : SpoolStatus::Refused);
    std::vector<char> buffer(std::size_t{64} * 1024);
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        if (cupsWriteRequestData(conn.get(), buffer.data(), n) != HTTP_STATUS_CONTINUE)
            return conn.Note(conn.Expired() ? SpoolStatus::Unreachable : SpoolStatus::Refused);
    }
    // A file that failed part way is no document: the request is left
    // unfinished (the connection closes) rather than completed short.
    if (std::ferror(file.get())) {
        LogFailure("cups", what + ": reading the file failed");
        return SpoolStatus::Refused;
    }
    IppPtr response(cupsGetResponse(conn.get(), resource.c_str()));
    SpoolStatus status = conn.Note(conn.Classify(response.get()));
    if (status != SpoolStatus::Ok) return status;
    jobId = IntegerOf(response.get(), "job-id", 0);
    if (jobId > 0) return SpoolStatus::Ok;
    LogFailure("cups", what + ": accepted without a job id");
    return SpoolStatus::Refused;
}

std::shared_ptr<Spooler> MakePlatformSpooler() { return std::make_shared<CCupsSpooler>(); }

}  // namespace quorvin
