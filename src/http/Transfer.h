// The transfer layer under the HTTP client: one request in, one complete
// response out. The client keeps the protocol rules (URL parts, argument
// and cookie lists, the order of steps); this layer only moves bytes. One
// implementation per library, chosen at build time: curl/Transfer.cpp owns
// every libcurl call, win/Transfer.cpp every WinINet call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvin::http {

// Bodies never grow beyond this, in memory or in a sink; a longer one fails
// the transfer.
inline constexpr std::size_t kMaxBodyBytes = std::size_t{64} * 1024 * 1024;

// Where a response body goes instead of memory (a file, as it arrives).
class BodySink {
public:
    virtual ~BodySink() = default;
    // False ends the transfer.
    virtual bool Write(const char* data, std::size_t size) = 0;
};

struct MultipartField {
    std::string name;
    std::string value;           // text, or the path of a local file
    bool isFile = false;         // value names a file whose content is sent
    const void* data = nullptr;  // raw bytes sent instead of value when set
    std::size_t length = 0;
};

struct TransferRequest {
    enum class Kind { Get, FormPost, MultipartPost, FtpRetrieve, FtpStore };
    Kind kind = Kind::Get;
    std::string url;  // complete and escaped
    std::string user;
    std::string password;
    std::string agent;
    std::string referrer;
    std::vector<std::string> headers;  // "Name: value", no line end
    std::string body;                  // form body, or the bytes an FTP store sends
    std::string uploadPath;            // FTP store from this local file instead of body
    std::vector<MultipartField> fields;
    // Cookies put into the session's cookie jar for this host before sending.
    std::string cookieHost;
    std::vector<std::pair<std::string, std::string>> cookies;
    bool ftpAscii = false;
    // Extra trust anchors for TLS; empty: the system's. WinINet cannot take
    // any, so there a request that names one fails.
    std::string caFile;
    long connectTimeoutMs = 60000;
    long idleTimeoutSec = 180;  // abort when nothing moved for this long
    long totalTimeoutMs = 0;    // the whole exchange; 0: no bound but the idle one
    std::size_t maxBody = kMaxBodyBytes;
    // The body goes here instead of into the result; kept alive by the
    // caller until Perform returns.
    BodySink* sink = nullptr;
};

struct TransferResult {
    bool completed = false;  // the exchange ran to its end (any status)
    long status = 0;         // 0 when no response came
    std::string rawHeaders;  // the final response's header block, CRLF lines
    std::vector<std::string> setCookies;
    std::string contentType;
    std::int64_t contentLength = -1;
    std::string body;             // empty when the request had a sink
    std::uint64_t bodyBytes = 0;  // received, wherever they went
    std::string error;            // why it did not complete: the library's own words
};

// One transfer session: connections and cookies live as long as it does.
// Not for use from two threads at once.
class Session {
public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Valid() const;
    // Runs the request to its end. A set abort flag stops it within about
    // a second (the result then says so).
    TransferResult Perform(const TransferRequest& request, const std::atomic<bool>* abort);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace quorvin::http
