// The transfer layer over WinINet. Every WinINet call of the agent is in
// this file, and every WinINet handle is owned here.
//
// A transfer runs on a worker thread of its own, in WinINet's blocking mode;
// the calling thread takes the body as it arrives and keeps the bounds
// (abort flag, whole-exchange and idle time, body size). Ending a transfer
// closes the handle the worker is blocked on, which is how WinINet cancels a
// blocking call; the worker holds everything it uses, so the caller can
// return at once even where closing does not wake it (wine), and the worker
// ends by itself at its receive timeout.
//
// Redirects are followed here, not by WinINet, so their number and scheme
// stay bounded. Cookies live in the session's own jar (CookieJar.h) and
// WinINet's process-wide one is not used. Credentials go out as Basic
// authorization on the first request, to the origin they were given for.
//
// Certificates are verified against the system's store, always. A request
// that names a CA file fails: WinINet cannot add trust anchors to one
// exchange, and widening trust by other means is not this layer's place.
#include "http/Transfer.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "http/win/CookieJar.h"
#include "http/win/MultipartBody.h"

namespace quorvin::http {
namespace {

using Clock = std::chrono::steady_clock;

struct InternetDeleter {
    void operator()(HINTERNET handle) const { InternetCloseHandle(handle); }
};
using InternetPtr = std::unique_ptr<void, InternetDeleter>;

constexpr int kMaxRedirects = 10;
constexpr DWORD kChunkBytes = 64 * 1024;
// The worker waits while this much is received but not yet taken.
constexpr std::size_t kMaxQueuedBytes = std::size_t{4} * 1024 * 1024;
// Header blocks beyond this are refused like an oversized body.
constexpr std::size_t kMaxHeaderBytes = std::size_t{1024} * 1024;
constexpr auto kTick = std::chrono::milliseconds(100);
// A connection attempt without a bound of its own gets this one.
constexpr DWORD kDefaultConnectMs = 300000;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Words for the failures worth naming where the system has none (wine
// lacks some of WinINet's message texts).
std::string KnownErrorText(DWORD code) {
    switch (code) {
        case ERROR_INTERNET_TIMEOUT: return "The operation timed out";
        case ERROR_INTERNET_NAME_NOT_RESOLVED: return "The server name could not be resolved";
        case ERROR_INTERNET_LOGIN_FAILURE: return "The login attempt failed";
        case ERROR_INTERNET_CANNOT_CONNECT: return "The attempt to connect to the server failed";
        case ERROR_INTERNET_INVALID_CA: return "The certificate authority is invalid or incorrect";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID: return "The certificate's name does not match the host";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID: return "The certificate is expired or not yet valid";
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return "An error occurred in the secure channel";
        default: return "WinINet error " + std::to_string(code);
    }
}

// WinINet's words for its last error on this thread, with the server's
// own reply where WinINet kept one.
std::string LastErrorText() {
    const DWORD code = GetLastError();
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        DWORD detail = 0;
        DWORD length = 0;
        InternetGetLastResponseInfoA(&detail, nullptr, &length);
        std::string text(length + 1, '\0');
        if (length > 0 && InternetGetLastResponseInfoA(&detail, text.data(), &length)) {
            text.resize(length);
            return Trimmed(text);
        }
    }
    char* text = nullptr;
    const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                        FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD n =
        FormatMessageA(flags, GetModuleHandleA("wininet.dll"), code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? Trimmed(std::string(text, n)) : std::string();
    LocalFree(text);
    if (out.empty()) out = KnownErrorText(code);
    return out;
}

std::string Base64(std::string_view bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 3; ++k) v = (v << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += n > 1 ? kDigits[(v >> 6) & 63] : '=';
        out += n > 2 ? kDigits[v & 63] : '=';
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

struct UrlParts {
    bool https = false;
    std::string host;
    INTERNET_PORT port = 0;
    std::string target;  // path and query, as escaped in the URL
};

// Only http, https and ftp (allowFtp) URLs are taken.
bool SplitUrl(const std::string& url, bool allowFtp, UrlParts& parts, std::string& why) {
    std::string host(url.size() + 1, '\0');
    std::string path(url.size() + 1, '\0');
    std::string extra(url.size() + 1, '\0');
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.lpszHostName = host.data();
    c.dwHostNameLength = static_cast<DWORD>(host.size());
    c.lpszUrlPath = path.data();
    c.dwUrlPathLength = static_cast<DWORD>(path.size());
    c.lpszExtraInfo = extra.data();
    c.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &c)) {
        why = "URL not understood: " + LastErrorText();
        return false;
    }
    const bool http = c.nScheme == INTERNET_SCHEME_HTTP || c.nScheme == INTERNET_SCHEME_HTTPS;
    if (!http && !(allowFtp && c.nScheme == INTERNET_SCHEME_FTP)) {
        why = "Protocol \"" + url.substr(0, url.find(':')) + "\" not supported or disabled";
        return false;
    }
    parts.https = c.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(c.lpszHostName, c.dwHostNameLength);
    parts.port = c.nPort;
    parts.target.assign(c.lpszUrlPath, c.dwUrlPathLength);
    parts.target.append(c.lpszExtraInfo, c.dwExtraInfoLength);
    if (parts.target.empty()) parts.target = "/";
    return true;
}

// A header of the response as text; index walks repeated ones.
bool QueryText(HINTERNET request, DWORD info, std::string& out, DWORD* index = nullptr) {
    DWORD length = 256;
    for (int attempt = 0; attempt < 3; ++attempt) {
        out.assign(length + 1, '\0');
        DWORD size = length;
        const DWORD start = index != nullptr ? *index : 0;
        if (HttpQueryInfoA(request, info, out.data(), &size, index)) {
            out.resize(size);
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > kMaxHeaderBytes) return false;
        if (index != nullptr) *index = start;
        length = size + 1;
    }
    return false;
}

// Everything a transfer's worker needs, copied, so the caller's request can
// go when the caller stops waiting.
struct Job {
    TransferRequest::Kind kind = TransferRequest::Kind::Get;
    std::string url;
    std::string user;
    std::string password;
    std::string agent;
    std::string referrer;
    std::vector<std::string> headers;
    std::string body;
    std::string contentType;  // of a multipart body
    std::ifstream upload;     // FTP store from a local file
    bool ftpAscii = false;
    DWORD connectTimeoutMs = 60000;
    DWORD ioTimeoutMs = 180000;
    std::size_t maxBody = kMaxBodyBytes;
};

// What the caller and the worker of one transfer share.
struct Exchange {
    std::mutex mutex;
    std::condition_variable cv;
    // Set by the caller: the worker stops at its next step.
    bool cancel = false;
    // The handle the worker may be blocked on; closed by the caller to cancel.
    HINTERNET open = nullptr;
    std::deque<std::string> chunks;
    std::size_t queued = 0;
    Clock::time_point lastMoved = Clock::now();
    // Set by the worker, finished last of all.
    TransferResult head;  // status and headers, no body
    std::string error;
    bool oversize = false;
    bool finished = false;
    bool ok = false;

    void Moved() {
        std::lock_guard<std::mutex> lock(mutex);
        lastMoved = Clock::now();
    }
    bool Cancelled() {
        std::lock_guard<std::mutex> lock(mutex);
        return cancel;
    }
    void Cancel() {
        std::lock_guard<std::mutex> lock(mutex);
        cancel = true;
        if (open != nullptr) InternetCloseHandle(std::exchange(open, nullptr));
        cv.notify_all();
    }
};

// A request or file handle of the worker that the caller may close to
// cancel; whoever gets to it first closes it.
class CancellableHandle {
public:
    CancellableHandle(Exchange& exchange, HINTERNET handle) : m_exchange(exchange), m_handle(handle) {
        std::lock_guard<std::mutex> lock(m_exchange.mutex);
        if (m_handle == nullptr) return;
        if (m_exchange.cancel) {
            InternetCloseHandle(std::exchange(m_handle, nullptr));
        } else {
            m_exchange.open = m_handle;
        }
    }
    ~CancellableHandle() {
        std::lock_guard<std::mutex> lock(m_exchange.mutex);
        if (m_handle != nullptr && m_exchange.open == m_handle) {
            InternetCloseHandle(m_handle);
            m_exchange.open = nullptr;
        }
    }
    CancellableHandle(const CancellableHandle&) = delete;
    CancellableHandle& operator=(const CancellableHandle&) = delete;

    // Null once cancelled; only used between checks of the flag.
    HINTERNET get() const { return m_handle; }

private:
    Exchange& m_exchange;
    HINTERNET m_handle;
};

class Worker {
public:
    Worker(std::shared_ptr<void> root, std::shared_ptr<CookieJar> jar, std::shared_ptr<Job> job,
           std::shared_ptr<Exchange> exchange)
        : m_root(std::move(root)), m_jar(std::move(jar)), m_job(std::move(job)), m_ex(std::move(exchange)) {}

    void Run() {
        std::string why;
        const bool ok =
            m_job->kind == TransferRequest::Kind::FtpRetrieve || m_job->kind == TransferRequest::Kind::FtpStore
                ? RunFtp(why)
                : RunHttp(why);
        std::lock_guard<std::mutex> lock(m_ex->mutex);
        m_ex->ok = ok;
        m_ex->error = why;
        m_ex->finished = true;
        m_ex->cv.notify_all();
    }

private:
    bool Fail(std::string& why, std::string text) {
        why = std::move(text);
        return false;
    }

    // Hands a piece of body to the caller, waiting while too much waits.
    bool Deliver(const char* data, std::size_t size) {
        std::unique_lock<std::mutex> lock(m_ex->mutex);
        for (int i = 0; i < 100000 && !m_ex->cancel && m_ex->queued > kMaxQueuedBytes; ++i)
            m_ex->cv.wait_for(lock, kTick);
        if (m_ex->cancel) return false;
        m_ex->chunks.emplace_back(data, size);
        m_ex->queued += size;
        m_ex->lastMoved = Clock::now();
        m_ex->cv.notify_all();
        return true;
    }

    // Reads the body to its end; false with why when it breaks off.
    bool ReadBody(const CancellableHandle& handle, std::int64_t announced, std::string& why) {
        std::string buffer(kChunkBytes, '\0');
        std::uint64_t received = 0;
        for (;;) {
            if (m_ex->Cancelled()) return Fail(why, "aborted");
            // Waits for some data only: a read of a whole chunk would wait
            // for the chunk to fill, so a trickling body would look idle.
            DWORD available = 0;
            if (!InternetQueryDataAvailable(handle.get(), &available, 0, 0))
                return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
            DWORD n = 0;
            const DWORD want = available == 0 ? 1 : std::min(available, kChunkBytes);
            if (!InternetReadFile(handle.get(), buffer.data(), want, &n))
                return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
            if (n == 0) break;
            received += n;
            if (received > m_job->maxBody) {
                std::lock_guard<std::mutex> lock(m_ex->mutex);
                m_ex->oversize = true;
                return Fail(why, "oversize");
            }
            if (!Deliver(buffer.data(), n)) return Fail(why, "aborted");
        }
        if (announced >= 0 && received < static_cast<std::uint64_t>(announced)) {
            return Fail(why, "transfer closed with " +
                                 std::to_string(static_cast<std::uint64_t>(announced) - received) +
                                 " bytes remaining to read");
        }
        return true;
    }

    bool RunHttp(std::string& why) {
        UrlParts first;
        if (!SplitUrl(m_job->url, false, first, why)) return false;
        std::string url = m_job->url;
        bool post = m_job->kind != TransferRequest::Kind::Get;
        for (int hop = 0;; ++hop) {
            UrlParts parts;
            if (!SplitUrl(url, false, parts, why)) return false;
            InternetPtr connect(InternetConnectA(m_root.get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                                                 INTERNET_SERVICE_HTTP, 0, 0));
            if (!connect) return Fail(why, LastErrorText());
            DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES |
                          INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI;
            if (parts.https) flags |= INTERNET_FLAG_SECURE;
            const char* referrer = m_job->referrer.empty() ? nullptr : m_job->referrer.c_str();
            const CancellableHandle request(
                *m_ex, HttpOpenRequestA(connect.get(), post ? "POST" : "GET", parts.target.c_str(), "HTTP/1.0",
                                        referrer, nullptr, flags, 0));
            if (request.get() == nullptr) return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
            SetTimeouts(request.get());
            std::vector<std::string> lines = m_job->headers;
            if (!m_job->agent.empty()) lines.push_back("User-Agent: " + m_job->agent);
            // Credentials go to the origin they were given for, not where it redirects.
            const bool sameOrigin = parts.host == first.host && parts.port == first.port && parts.https == first.https;
            if (!m_job->user.empty() && sameOrigin)
                lines.push_back("Authorization: Basic " + Base64(m_job->user + ":" + m_job->password));
            const std::string cookies = m_jar->HeaderFor(parts.host);
            if (!cookies.empty()) lines.push_back("Cookie: " + cookies);
            if (post && !m_job->contentType.empty()) lines.push_back("Content-Type: " + m_job->contentType);
            for (const std::string& line : lines) {
                const std::string text = line + "\r\n";
                if (!HttpAddRequestHeadersA(request.get(), text.c_str(), static_cast<DWORD>(text.size()),
                                            HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE))
                    return Fail(why, LastErrorText());
            }
            m_ex->Moved();
            void* body = post ? m_job->body.data() : nullptr;
            const DWORD bodySize = post ? static_cast<DWORD>(m_job->body.size()) : 0;
            if (!HttpSendRequestA(request.get(), nullptr, 0, body, bodySize))
                return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
            m_ex->Moved();

            TransferResult head;
            DWORD status = 0;
            DWORD size = sizeof status;
            if (HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
                head.status = static_cast<long>(status);
            if (!QueryText(request.get(), HTTP_QUERY_RAW_HEADERS_CRLF, head.rawHeaders)) {
                if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
                    std::lock_guard<std::mutex> lock(m_ex->mutex);
                    m_ex->oversize = true;
                    return Fail(why, "oversize");
                }
            }
            std::string text;
            for (DWORD index = 0; index < 1000;) {
                const DWORD before = index;
                if (!QueryText(request.get(), HTTP_QUERY_SET_COOKIE, text, &index) || index == before) break;
                head.setCookies.push_back(text);
                m_jar->Take(parts.host, text);
            }
            if (QueryText(request.get(), HTTP_QUERY_CONTENT_TYPE, text)) head.contentType = text;
            if (QueryText(request.get(), HTTP_QUERY_CONTENT_LENGTH, text)) {
                char* end = nullptr;
                const long long length = std::strtoll(text.c_str(), &end, 10);
                if (end != text.c_str() && length >= 0) head.contentLength = length;
            }
            {
                std::lock_guard<std::mutex> lock(m_ex->mutex);
                m_ex->head = head;
            }

            std::string location;
            const bool redirect = (status == 301 || status == 302 || status == 303 || status == 307 || status == 308) &&
                                  QueryText(request.get(), HTTP_QUERY_LOCATION, location) && !location.empty();
            if (!redirect) {
                if (head.contentLength > static_cast<std::int64_t>(m_job->maxBody)) {
                    std::lock_guard<std::mutex> lock(m_ex->mutex);
                    m_ex->oversize = true;
                    return Fail(why, "oversize");
                }
                return ReadBody(request, head.contentLength, why);
            }
            if (hop >= kMaxRedirects)
                return Fail(why, "Maximum (" + std::to_string(kMaxRedirects) + ") redirects followed");
            std::string next(url.size() + location.size() + 64, '\0');
            DWORD nextSize = static_cast<DWORD>(next.size());
            if (!InternetCombineUrlA(url.c_str(), location.c_str(), next.data(), &nextSize, ICU_NO_ENCODE))
                return Fail(why, "redirect to an unusable address: " + LastErrorText());
            next.resize(nextSize);
            url = next;
            // As browsers do: the answer to a POST that is moved is fetched with GET.
            if (status == 303 || ((status == 301 || status == 302) && post)) post = false;
        }
    }

    bool RunFtp(std::string& why) {
        UrlParts parts;
        if (!SplitUrl(m_job->url, true, parts, why)) return false;
        const char* user = m_job->user.empty() ? nullptr : m_job->user.c_str();
        const char* password = m_job->user.empty() ? nullptr : m_job->password.c_str();
        SetTimeouts(m_root.get());
        m_ex->Moved();
        InternetPtr connect(InternetConnectA(m_root.get(), parts.host.c_str(), parts.port, user, password,
                                             INTERNET_SERVICE_FTP, INTERNET_FLAG_PASSIVE, 0));
        if (!connect) return Fail(why, LastErrorText());
        m_ex->Moved();
        const bool store = m_job->kind == TransferRequest::Kind::FtpStore;
        const DWORD type = m_job->ftpAscii ? FTP_TRANSFER_TYPE_ASCII : FTP_TRANSFER_TYPE_BINARY;
        const std::string path = PercentDecoded(parts.target);
        const CancellableHandle file(*m_ex,
                                     FtpOpenFileA(connect.get(), path.c_str(), store ? GENERIC_WRITE : GENERIC_READ,
                                                  type | INTERNET_FLAG_RELOAD, 0));
        if (file.get() == nullptr) return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
        if (!store) return ReadBody(file, -1, why);
        std::string buffer(kChunkBytes, '\0');
        std::size_t offset = 0;
        for (;;) {
            if (m_ex->Cancelled()) return Fail(why, "aborted");
            std::size_t n = 0;
            const char* data = nullptr;
            if (m_job->upload.is_open()) {
                m_job->upload.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                n = static_cast<std::size_t>(m_job->upload.gcount());
                if (n == 0 && m_job->upload.bad()) return Fail(why, "the local file could not be read");
                data = buffer.data();
            } else {
                n = std::min<std::size_t>(kChunkBytes, m_job->body.size() - offset);
                data = m_job->body.data() + offset;
                offset += n;
            }
            if (n == 0) return true;
            for (std::size_t sent = 0; sent < n;) {
                DWORD wrote = 0;
                if (!InternetWriteFile(file.get(), data + sent, static_cast<DWORD>(n - sent), &wrote) || wrote == 0)
                    return Fail(why, m_ex->Cancelled() ? "aborted" : LastErrorText());
                sent += wrote;
                m_ex->Moved();
            }
        }
    }

    void SetTimeouts(HINTERNET handle) {
        DWORD connectMs = m_job->connectTimeoutMs;
        DWORD ioMs = m_job->ioTimeoutMs;
        InternetSetOptionA(handle, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
        InternetSetOptionA(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, &ioMs, sizeof ioMs);
        InternetSetOptionA(handle, INTERNET_OPTION_SEND_TIMEOUT, &ioMs, sizeof ioMs);
    }

    std::shared_ptr<void> m_root;
    std::shared_ptr<CookieJar> m_jar;
    std::shared_ptr<Job> m_job;
    std::shared_ptr<Exchange> m_ex;
};

// A bound in milliseconds for WinINet; none (0 or less) is whenNone.
DWORD ClampMs(long long ms, DWORD whenNone) {
    if (ms <= 0) return whenNone;
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(ms);
}

}  // namespace

struct Session::Impl {
    // Shared with workers that are still winding down.
    std::shared_ptr<void> root;
    std::shared_ptr<CookieJar> jar = std::make_shared<CookieJar>();
};

Session::Session() : m_impl(std::make_unique<Impl>()) {
    HINTERNET root = InternetOpenA("", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (root != nullptr) m_impl->root = std::shared_ptr<void>(root, InternetDeleter{});
}

Session::~Session() = default;

bool Session::Valid() const { return m_impl->root != nullptr; }

TransferResult Session::Perform(const TransferRequest& request, const std::atomic<bool>* abort) {
    TransferResult result;
    if (!Valid()) {
        result.error = "no transfer session";
        return result;
    }
    if (!request.caFile.empty()) {
        result.error = "a CA file cannot be used here: certificates are checked against the system's store only";
        return result;
    }
    auto job = std::make_shared<Job>();
    job->kind = request.kind;
    job->url = request.url;
    job->user = request.user;
    job->password = request.password;
    job->agent = request.agent;
    job->referrer = request.referrer;
    job->headers = request.headers;
    job->body = request.body;
    job->ftpAscii = request.ftpAscii;
    job->maxBody = request.maxBody;
    job->connectTimeoutMs = ClampMs(request.connectTimeoutMs, kDefaultConnectMs);
    // Bounds how long a cancelled worker can stay blocked where closing its
    // handle does not wake it.
    long long ioMs = static_cast<long long>(request.idleTimeoutSec) * 1000;
    if (request.totalTimeoutMs > 0 && (ioMs <= 0 || request.totalTimeoutMs + 1000LL < ioMs))
        ioMs = request.totalTimeoutMs + 1000LL;
    job->ioTimeoutMs = ClampMs(ioMs, INFINITE);
    if (request.kind == TransferRequest::Kind::MultipartPost) {
        MultipartBody body;
        if (!BuildMultipartBody(request.fields, body, result.error)) return result;
        job->body = std::move(body.bytes);
        job->contentType = std::move(body.contentType);
    }
    if (request.kind == TransferRequest::Kind::FtpStore && !request.uploadPath.empty()) {
        job->upload.open(request.uploadPath, std::ios::binary);
        if (!job->upload) {
            result.error = "the local file could not be opened";
            return result;
        }
    }
    for (const auto& [name, value] : request.cookies) m_impl->jar->Put(request.cookieHost, name, value);

    auto exchange = std::make_shared<Exchange>();
    try {
        std::thread([worker = Worker(m_impl->root, m_impl->jar, job, exchange)]() mutable { worker.Run(); }).detach();
    } catch (const std::system_error&) {
        result.error = "no thread for the transfer";
        return result;
    }

    const Clock::time_point start = Clock::now();
    bool oversize = false;
    bool sinkFailed = false;
    std::string stopped;  // why the caller ended it, when it did
    for (;;) {
        std::deque<std::string> chunks;
        bool finished = false;
        Clock::time_point lastMoved;
        {
            std::unique_lock<std::mutex> lock(exchange->mutex);
            exchange->cv.wait_for(lock, kTick, [&] { return !exchange->chunks.empty() || exchange->finished; });
            chunks.swap(exchange->chunks);
            exchange->queued = 0;
            finished = exchange->finished;
            lastMoved = exchange->lastMoved;
            exchange->cv.notify_all();
        }
        for (const std::string& chunk : chunks) {
            if (oversize || sinkFailed) break;
            if (chunk.size() > request.maxBody - result.bodyBytes) {
                oversize = true;
            } else if (request.sink != nullptr) {
                sinkFailed = !request.sink->Write(chunk.data(), chunk.size());
            } else {
                result.body.append(chunk);
            }
            if (!oversize && !sinkFailed) result.bodyBytes += chunk.size();
        }
        if (oversize || sinkFailed) break;
        if (finished) break;
        const Clock::time_point now = Clock::now();
        const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
        if (abort != nullptr && abort->load()) {
            stopped = "aborted";
        } else if (request.totalTimeoutMs > 0 && elapsedMs >= request.totalTimeoutMs) {
            stopped = "Operation timed out after " + std::to_string(elapsedMs) + " milliseconds with " +
                      std::to_string(result.bodyBytes) + " bytes received";
        } else if (request.idleTimeoutSec > 0 && now - lastMoved >= std::chrono::seconds(request.idleTimeoutSec)) {
            stopped = "Operation too slow. Less than 1 bytes/sec transferred the last " +
                      std::to_string(request.idleTimeoutSec) + " seconds";
        }
        if (!stopped.empty()) break;
    }
    exchange->Cancel();

    std::lock_guard<std::mutex> lock(exchange->mutex);
    result.status = exchange->head.status;
    result.rawHeaders = exchange->head.rawHeaders;
    result.setCookies = exchange->head.setCookies;
    result.contentType = exchange->head.contentType;
    result.contentLength = exchange->head.contentLength;
    oversize = oversize || exchange->oversize;
    result.completed = exchange->finished && exchange->ok && !oversize && !sinkFailed && stopped.empty();
    if (!result.completed) {
        if (oversize) {
            result.error = "response larger than the limit of " + std::to_string(request.maxBody) + " bytes";
        } else if (sinkFailed) {
            result.error = "the body could not be stored";
        } else if (!stopped.empty()) {
            result.error = stopped;
        } else {
            result.error = exchange->error;
        }
        // A transfer that broke off has no body worth reading.
        result.body.clear();
        result.body.shrink_to_fit();
    }
    return result;
}

}  // namespace quorvin::http
