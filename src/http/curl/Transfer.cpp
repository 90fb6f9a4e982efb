// The transfer layer over libcurl's easy interface. Every libcurl call of
// the agent is in this file, and every libcurl resource is owned here.
#include "http/Transfer.h"

#include <curl/curl.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "http/HeaderText.h"

namespace quorvin::http {
namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct FileDeleter {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using MimePtr = std::unique_ptr<curl_mime, MimeDeleter>;
using FilePtr = std::unique_ptr<std::FILE, FileDeleter>;

// Header blocks beyond this are refused like an oversized body.
constexpr std::size_t kMaxHeaderBytes = std::size_t{1024} * 1024;

bool GlobalInit() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return ok;
}

// What the callbacks of one transfer share.
struct Context {
    TransferResult* result = nullptr;
    std::size_t maxBody = kMaxBodyBytes;
    const std::atomic<bool>* abort = nullptr;
    BodySink* sink = nullptr;
    bool oversize = false;
    bool sinkFailed = false;
    std::FILE* uploadFile = nullptr;
    const std::string* uploadBody = nullptr;
    std::size_t uploadOffset = 0;

    bool Aborted() const { return abort != nullptr && abort->load(); }
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* ctx = static_cast<Context*>(user);
    const std::size_t length = size * count;
    if (ctx->Aborted()) return 0;
    TransferResult& result = *ctx->result;
    if (length > ctx->maxBody - result.bodyBytes) {
        ctx->oversize = true;
        return 0;
    }
    if (ctx->sink != nullptr) {
        if (!ctx->sink->Write(data, length)) {
            ctx->sinkFailed = true;
            return 0;
        }
    } else {
        result.body.append(data, length);
    }
    result.bodyBytes += length;
    return length;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* ctx = static_cast<Context*>(user);
    const std::size_t length = size * count;
    const std::string_view line(data, length);
    TransferResult& result = *ctx->result;
    // A redirect or an interim response starts a new block: keep the final one.
    if (line.substr(0, 5) == "HTTP/") {
        result.rawHeaders.clear();
        result.setCookies.clear();
    }
    if (result.rawHeaders.size() + length > kMaxHeaderBytes) {
        ctx->oversize = true;
        return 0;
    }
    result.rawHeaders.append(line);
    if (StartsWithNoCase(line, "set-cookie:")) result.setCookies.emplace_back(TrimHeaderValue(line.substr(11)));
    return length;
}

size_t OnUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* ctx = static_cast<Context*>(user);
    if (ctx->Aborted()) return CURL_READFUNC_ABORT;
    const std::size_t room = size * count;
    if (ctx->uploadFile != nullptr) {
        const std::size_t got = std::fread(buffer, 1, room, ctx->uploadFile);
        if (got == 0 && std::ferror(ctx->uploadFile)) return CURL_READFUNC_ABORT;
        return got;
    }
    const std::string& body = *ctx->uploadBody;
    const std::size_t n = std::min(room, body.size() - ctx->uploadOffset);
    body.copy(buffer, n, ctx->uploadOffset);
    ctx->uploadOffset += n;
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Context*>(user)->Aborted() ? 1 : 0;
}

// Builds the multipart body; null when a part cannot be made (a file
// that cannot be read fails the request rather than sending it empty).
MimePtr BuildMime(CURL* easy, const std::vector<MultipartField>& fields) {
    MimePtr mime(curl_mime_init(easy));
    if (!mime) return nullptr;
    for (const MultipartField& field : fields) {
        curl_mimepart* part = curl_mime_addpart(mime.get());
        if (part == nullptr || curl_mime_name(part, field.name.c_str()) != CURLE_OK) return nullptr;
        CURLcode rc = CURLE_OK;
        if (field.data != nullptr) {
            rc = curl_mime_data(part, static_cast<const char*>(field.data), field.length);
        } else if (field.isFile) {
            FilePtr probe(std::fopen(field.value.c_str(), "rb"));
            if (!probe) return nullptr;
            rc = curl_mime_filedata(part, field.value.c_str());
            // The file name travels as the caller gave it.
            if (rc == CURLE_OK) rc = curl_mime_filename(part, field.value.c_str());
        } else {
            rc = curl_mime_data(part, field.value.data(), field.value.size());
        }
        if (rc != CURLE_OK) return nullptr;
    }
    return mime;
}

}  // namespace

struct Session::Impl {
    EasyPtr easy;
};

Session::Session() : m_impl(std::make_unique<Impl>()) {
    if (GlobalInit()) m_impl->easy.reset(curl_easy_init());
}

Session::~Session() = default;

bool Session::Valid() const { return m_impl->easy != nullptr; }

TransferResult Session::Perform(const TransferRequest& request, const std::atomic<bool>* abort) {
    TransferResult result;
    if (!Valid()) {
        result.error = "no transfer session";
        return result;
    }
    CURL* h = m_impl->easy.get();
    curl_easy_reset(h);  // options only: connections and cookies stay

    Context ctx;
    ctx.result = &result;
    ctx.maxBody = request.maxBody;
    ctx.abort = abort;
    ctx.sink = request.sink;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,ftp");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(h, CURLOPT_USERAGENT, request.agent.c_str());
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!request.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, request.caFile.c_str());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, request.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, request.idleTimeoutSec);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, request.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &ctx);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ctx);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBody));
    // The in-memory cookie jar, started with a line that matches no host
    // (naming a cookie file instead would leak that name at every reset).
    curl_easy_setopt(h, CURLOPT_COOKIELIST, "quorvin.invalid\tFALSE\t/\tFALSE\t1\tquorvin\t0");
    if (!request.referrer.empty()) curl_easy_setopt(h, CURLOPT_REFERER, request.referrer.c_str());
    if (!request.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, request.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, request.password.c_str());
    }

    SlistPtr headers;
    for (const std::string& line : request.headers) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) {
            result.error = "out of memory";
            curl_easy_reset(h);
            return result;
        }
        static_cast<void>(headers.release());  // the list goes on in grown
        headers.reset(grown);
    }
    if (headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

    for (const auto& [name, value] : request.cookies) {
        // Netscape cookie-file line: host only, whole site, session cookie.
        std::string line = request.cookieHost;
        line.append("\tFALSE\t/\tFALSE\t0\t").append(name).append("\t").append(value);
        curl_easy_setopt(h, CURLOPT_COOKIELIST, line.c_str());
    }

    MimePtr mime;
    FilePtr uploadFile;
    switch (request.kind) {
        case TransferRequest::Kind::Get:
        case TransferRequest::Kind::FtpRetrieve: break;
        case TransferRequest::Kind::FormPost:
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
            break;
        case TransferRequest::Kind::MultipartPost:
            mime = BuildMime(h, request.fields);
            if (!mime) {
                result.error = "a multipart field could not be read";
                curl_easy_reset(h);
                return result;
            }
            curl_easy_setopt(h, CURLOPT_MIMEPOST, mime.get());
            break;
        case TransferRequest::Kind::FtpStore:
            if (!request.uploadPath.empty()) {
                uploadFile.reset(std::fopen(request.uploadPath.c_str(), "rb"));
                if (!uploadFile) {
                    result.error = "the local file could not be opened";
                    curl_easy_reset(h);
                    return result;
                }
                ctx.uploadFile = uploadFile.get();
            } else {
                ctx.uploadBody = &request.body;
                curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            }
            curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(h, CURLOPT_READFUNCTION, OnUpload);
            curl_easy_setopt(h, CURLOPT_READDATA, &ctx);
            break;
    }
    if (request.kind == TransferRequest::Kind::FtpRetrieve || request.kind == TransferRequest::Kind::FtpStore)
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, request.ftpAscii ? 1L : 0L);

    const CURLcode rc = curl_easy_perform(h);

    long status = 0;
    if (curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) result.status = status;
    char* type = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) result.contentType = type;
    curl_off_t length = -1;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK) result.contentLength = length;

    result.completed = rc == CURLE_OK;
    if (!result.completed) {
        if (ctx.oversize || rc == CURLE_FILESIZE_EXCEEDED) {
            result.error = "response larger than the limit of " + std::to_string(request.maxBody) + " bytes";
        } else if (ctx.sinkFailed) {
            result.error = "the body could not be stored";
        } else if (ctx.Aborted()) {
            result.error = "aborted";
        } else {
            result.error = errorText[0] != '\0' ? errorText : curl_easy_strerror(rc);
        }
        // A transfer that broke off has no body worth reading.
        result.body.clear();
        result.body.shrink_to_fit();
    }
    // Drop every pointer into this frame before it goes.
    curl_easy_reset(h);
    return result;
}

}  // namespace quorvin::http
