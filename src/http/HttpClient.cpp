#include "http/HttpClient.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/Json.h"
#include "common/Platform.h"

namespace quorvin {
namespace {

const char* const kErrOpenInternet = "open internet failed...";
const char* const kErrConnect = "connect failed...";
const char* const kErrNotOpened = "handle not opened...";
const char* const kErrRequest = "request failed...";
const char* const kErrAddCookie = "add cookie failed...";
const char* const kErrConnection = "connection failed...";
const char* const kErrResponse = "response failed...";
const char* const kErrFtpConnection = "connection failed";

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The kind a scheme selects; -1 for a scheme the client does not speak.
int KindOfScheme(const std::string& scheme) {
    if (StartsWith(scheme, "https")) return HttpClient::kHttps;
    if (StartsWith(scheme, "http")) return HttpClient::kHttp;
    if (StartsWith(scheme, "ftp")) return HttpClient::kFtp;
    return -1;
}

int DefaultPort(int kind) {
    switch (kind) {
        case HttpClient::kFtp: return kDefaultFtpPort;
        case HttpClient::kHttps: return kDefaultHttpsPort;
        default: return kDefaultHttpPort;
    }
}

// A host name, an IPv4 address or a bracketed IPv6 address; anything that
// could change the meaning of the URL it is put into is refused.
bool IsValidHost(const std::string& host) {
    if (host.empty()) return false;
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']') return false;
        return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
        });
    }
    return std::all_of(host.begin(), host.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
               c == '_' || u >= 0x80;
    });
}

void AppendEscaped(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

// A path (with its query) as it may stand on the request line: bytes that
// cannot appear there are percent-encoded, existing escapes are kept.
std::string EscapeTarget(const std::string& path) {
    std::string out;
    if (path.empty() || path.front() != '/') out += '/';
    for (char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F || ch == '"' || ch == '<' || ch == '>' || ch == '\\' || ch == '^' || ch == '`' ||
            ch == '{' || ch == '|' || ch == '}') {
            AppendEscaped(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

// A remote file name as a URL path: every byte but the plain ones escaped;
// a leading "/" names the server's root rather than the login folder.
std::string EscapeFtpName(const std::string& name) {
    std::string out = "/";
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char ch = name[i];
        const auto c = static_cast<unsigned char>(ch);
        const bool plain = (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                           ch == '-' || ch == '.' || ch == '_' || ch == '~' || (ch == '/' && i > 0);
        if (plain) {
            out += ch;
        } else {
            AppendEscaped(out, c);
        }
    }
    return out;
}

bool IsCookieSafe(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == ';' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; });
}

std::string FormatFloat(double value) {
    char text[512];
    std::snprintf(text, sizeof text, "%f", value);
    return text;
}

}  // namespace

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    m_arguments.clear();
    m_cookies.clear();
    CloseHandles();
}

bool HttpClient::Fail(const std::string& text, const std::string& detail) {
    m_strLastError = text;
    m_strLastErrorDetail = detail;
    return false;
}

bool HttpClient::StoreConnection(const std::string& host, int port, const std::string& user,
                                 const std::string& password, int kind, const std::string& agent) {
    if (kind != kFtp && kind != kHttp && kind != kHttps) return Fail(kErrConnect);
    if (!IsValidHost(host) || port < 0 || port > 65535) return Fail(kErrConnect);
    const int newPort = port == 0 ? DefaultPort(kind) : port;
    // Credentials belong to the origin they were given for: another origin
    // must not receive them just because none were given for it.
    if (host != m_strHost || newPort != m_nPort || kind != m_nKind) {
        m_strUser.clear();
        m_strPassword.clear();
    }
    m_strHost = host;
    m_nPort = newPort;
    m_nKind = kind;
    if (!user.empty()) m_strUser = user;
    if (!password.empty()) m_strPassword = password;
    m_strAgent = agent;
    m_arguments.clear();
    m_cookies.clear();
    return true;
}

bool HttpClient::Connect(const std::string& host, int port, const std::string& user, const std::string& password,
                         int kind, const std::string& agent) {
    if (Busy()) return Fail(kErrConnect);
    if (!m_session) m_session = std::make_unique<http::Session>();
    if (!m_session->Valid()) {
        m_session.reset();
        return Fail(kErrOpenInternet);
    }
    if (!StoreConnection(host, port, user, password, kind, agent)) {
        CloseHandles();
        return false;
    }
    return true;
}

bool HttpClient::ConnectUrl(const std::string& url, const std::string& user, const std::string& password,
                            const std::string& agent) {
    std::string scheme, urlUser, urlPassword, host, path;
    long port = 0;
    if (!ParseUrl(url, scheme, urlUser, urlPassword, host, port, path)) return Fail(kErrConnect);
    const int kind = KindOfScheme(scheme);
    if (kind < 0) return Fail(kErrConnect);
    m_strPath = path;
    m_nIdleTimeoutSec = 180;
    return Connect(host, static_cast<int>(port), user.empty() ? urlUser : user,
                   password.empty() ? urlPassword : password, kind, agent);
}

bool HttpClient::Request(const std::string& path, int method, const std::string& referrer) {
    bool sent = false;
    switch (method) {
        case kGet: sent = SendGet(path, referrer); break;
        case kFormPost: sent = SendFormPost(path, referrer); break;
        case kMultipartPost: sent = SendMultipartPost(path, referrer); break;
        default: Fail(kErrRequest); break;
    }
    if (sent) m_strPath = path;
    return sent;
}

bool HttpClient::BuildRequest(http::TransferRequest::Kind kind, const std::string& path, const std::string& referrer,
                              http::TransferRequest& request) {
    // A sink serves one request, made or not, so none can outlive its owner here.
    http::BodySink* sink = std::exchange(m_pBodySink, nullptr);
    if (!HasConnection()) return Fail(kErrNotOpened);
    if (Busy() || m_nKind == kFtp) return Fail(kErrRequest);
    ClearResponse();
    request.kind = kind;
    request.url =
        (m_nKind == kHttps ? "https://" : "http://") + m_strHost + ":" + std::to_string(m_nPort) + EscapeTarget(path);
    request.user = m_strUser;
    request.password = m_strPassword;
    request.agent = m_strAgent;
    request.referrer = referrer;
    request.caFile = m_strCaFile;
    request.idleTimeoutSec = m_nIdleTimeoutSec;
    request.totalTimeoutMs = m_nTransferTimeoutMs;
    request.sink = sink;
    request.headers.push_back("Accept: */*");
    for (const auto& [name, value] : m_cookies) {
        if (name.empty() || !IsCookieSafe(name) || !IsCookieSafe(value) || name.find('=') != std::string::npos)
            return Fail(kErrAddCookie);
    }
    request.cookieHost = m_strHost;
    request.cookies = m_cookies;

    if (kind == http::TransferRequest::Kind::FormPost) {
        request.headers.push_back("Content-Type: application/x-www-form-urlencoded");
        for (std::size_t i = 0; i < m_arguments.size(); ++i) {
            const HttpArgument& arg = m_arguments[i];
            if (i > 0) request.body += '&';
            if (!arg.name.empty()) request.body += arg.name + "=";
            if (arg.length >= 0 && arg.data != nullptr) {
                request.body.append(static_cast<const char*>(arg.data), static_cast<std::size_t>(arg.length));
            } else {
                request.body += arg.value;
            }
        }
    } else if (kind == http::TransferRequest::Kind::MultipartPost) {
        for (const HttpArgument& arg : m_arguments) {
            http::MultipartField field;
            field.name = arg.name;
            field.value = arg.value;
            field.isFile = arg.isFile;
            if (arg.length >= 0 && arg.data != nullptr) {
                field.data = arg.data;
                field.length = static_cast<std::size_t>(arg.length);
            }
            request.fields.push_back(std::move(field));
        }
    }
    return true;
}

bool HttpClient::PerformNow(const http::TransferRequest& request) {
    http::TransferResult result = m_session->Perform(request, nullptr);
    const bool completed = result.completed;
    const std::string error = result.error;
    SetResponse(std::move(result));
    if (!completed) {
        ClearResponse();
        return Fail(kErrRequest, error);
    }
    return true;
}

bool HttpClient::SendGet(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::Get, path, referrer, request)) return false;
    return PerformNow(request);
}

bool HttpClient::SendFormPost(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::FormPost, path, referrer, request)) return false;
    request.idleTimeoutSec = 60;
    return PerformNow(request);
}

bool HttpClient::SendMultipartPost(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::MultipartPost, path, referrer, request)) return false;
    return PerformNow(request);
}

void HttpClient::SetResponse(http::TransferResult result) {
    m_response = std::make_unique<http::TransferResult>(std::move(result));
    m_nReadOffset = 0;
}

void HttpClient::ClearResponse() {
    m_response.reset();
    m_nReadOffset = 0;
}

int HttpClient::ReadResponse(char* buffer, int size) {
    if (Busy()) {
        Fail(kErrResponse);
        return 0;
    }
    if (!m_response) {
        Fail(kErrConnection);
        return 0;
    }
    if (buffer == nullptr || size <= 0) return 0;
    const std::string& body = m_response->body;
    const std::size_t n = std::min(static_cast<std::size_t>(size), body.size() - m_nReadOffset);
    body.copy(buffer, n, m_nReadOffset);
    m_nReadOffset += n;
    return static_cast<int>(n);
}

std::string HttpClient::ReadAll() {
    // The response is whole before it can be read (the asynchronous client
    // waits for it), so the first empty read is the true end of the body.
    std::string all;
    if (!Busy() && m_response && m_nReadOffset == 0) {
        // Nothing read yet: hand the body over instead of copying it.
        all = std::move(m_response->body);
        m_response->body.clear();
        return all;
    }
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        const int n = ReadResponse(chunk.data(), kReadChunk);
        if (n <= 0) break;
        all.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return all;
}

int HttpClient::AddArgument(const std::string& name, const std::string& value, bool isFile) {
    HttpArgument arg;
    arg.name = name;
    arg.value = value;
    arg.isFile = isFile;
    m_arguments.push_back(std::move(arg));
    return static_cast<int>(m_arguments.size());
}

int HttpClient::AddArgument(const std::string& name, int value) { return AddArgument(name, std::to_string(value)); }
int HttpClient::AddArgument(const std::string& name, long value) { return AddArgument(name, std::to_string(value)); }
int HttpClient::AddArgument(const std::string& name, float value) { return AddArgument(name, FormatFloat(value)); }
int HttpClient::AddArgument(const std::string& name, double value) { return AddArgument(name, FormatFloat(value)); }

int HttpClient::AddArgument(const std::string& name, const void* data, int length) {
    HttpArgument arg;
    arg.name = name;
    arg.data = data;
    arg.length = data != nullptr && length > 0 ? length : 0;
    if (arg.data == nullptr) arg.data = "";
    m_arguments.push_back(std::move(arg));
    return static_cast<int>(m_arguments.size());
}

int HttpClient::AddCookie(const std::string& name, const std::string& value) {
    m_cookies.emplace_back(name, value);
    return static_cast<int>(m_cookies.size());
}
int HttpClient::AddCookie(const std::string& name, int value) { return AddCookie(name, std::to_string(value)); }
int HttpClient::AddCookie(const std::string& name, long value) { return AddCookie(name, std::to_string(value)); }
int HttpClient::AddCookie(const std::string& name, float value) { return AddCookie(name, FormatFloat(value)); }
int HttpClient::AddCookie(const std::string& name, double value) { return AddCookie(name, FormatFloat(value)); }

int HttpClient::GetStatusCode() const {
    if (Busy() || !m_response || m_response->status <= 0) return 404;
    return static_cast<int>(m_response->status);
}

std::int64_t HttpClient::GetContentLength() const {
    if (Busy() || !m_response || m_response->contentLength < 0) return 0;
    return m_response->contentLength;
}

std::string HttpClient::GetContentType() const {
    if (Busy() || !m_response) return {};
    return m_response->contentType;
}

std::string HttpClient::GetSetCookie(int index) const {
    if (Busy() || !m_response || index < 0 || static_cast<std::size_t>(index) >= m_response->setCookies.size())
        return {};
    return m_response->setCookies[static_cast<std::size_t>(index)];
}

std::string HttpClient::GetRawHeaders() const {
    if (Busy() || !m_response) return {};
    return m_response->rawHeaders;
}

bool HttpClient::IsResponseComplete() const { return !Busy() && m_response && m_response->completed; }

std::string HttpClient::FtpUrl(const std::string& remote) const {
    return "ftp://" + m_strHost + ":" + std::to_string(m_nPort) + EscapeFtpName(remote);
}

bool HttpClient::FtpTransfer(http::TransferRequest::Kind kind, const std::string& remote, bool ascii,
                             http::TransferRequest& request) {
    if (!HasConnection() || m_nKind != kFtp || Busy()) return Fail(kErrFtpConnection);
    request.kind = kind;
    request.url = FtpUrl(remote);
    request.user = m_strUser;
    request.password = m_strPassword;
    request.agent = m_strAgent;
    request.ftpAscii = ascii;
    request.idleTimeoutSec = m_nIdleTimeoutSec;
    request.totalTimeoutMs = m_nTransferTimeoutMs;
    http::TransferResult result = m_session->Perform(request, nullptr);
    if (!result.completed) return Fail(kErrRequest, result.error);
    request.body = std::move(result.body);
    return true;
}

int HttpClient::FtpRead(const std::string& remote, char* buffer, int size, bool ascii) {
    if (!m_ftpReadData || m_strFtpReadName != remote) {
        m_ftpReadData.reset();
        http::TransferRequest request;
        if (!FtpTransfer(http::TransferRequest::Kind::FtpRetrieve, remote, ascii, request)) return 0;
        m_ftpReadData = std::make_unique<std::string>(std::move(request.body));
        m_strFtpReadName = remote;
        m_nFtpReadOffset = 0;
    }
    const std::size_t room = buffer != nullptr && size > 0 ? static_cast<std::size_t>(size) : 0;
    const std::size_t n = std::min(room, m_ftpReadData->size() - m_nFtpReadOffset);
    if (n == 0) {
        m_ftpReadData.reset();
        m_strFtpReadName.clear();
        return 0;
    }
    m_ftpReadData->copy(buffer, n, m_nFtpReadOffset);
    m_nFtpReadOffset += n;
    return static_cast<int>(n);
}

int HttpClient::FtpWrite(const std::string& remote, const char* data, int size, bool ascii) {
    if (!HasConnection() || m_nKind != kFtp) {
        Fail(kErrFtpConnection);
        return 0;
    }
    if (size > 0 && data != nullptr) {
        if (!m_ftpWriteData || m_strFtpWriteName != remote) {
            m_ftpWriteData = std::make_unique<std::string>();
            m_strFtpWriteName = remote;
            m_bFtpWriteAscii = ascii;
        }
        if (static_cast<std::size_t>(size) > http::kMaxBodyBytes - m_ftpWriteData->size()) {
            m_ftpWriteData.reset();
            Fail(kErrRequest);
            return 0;
        }
        m_ftpWriteData->append(data, static_cast<std::size_t>(size));
        return size;
    }
    // The closing write stores what was collected.
    if (m_ftpWriteData && m_strFtpWriteName == remote) {
        http::TransferRequest request;
        request.body = std::move(*m_ftpWriteData);
        m_ftpWriteData.reset();
        if (FtpTransfer(http::TransferRequest::Kind::FtpStore, remote, m_bFtpWriteAscii, request))
            m_strLastError.clear();
    }
    return 0;
}

bool HttpClient::FtpGetToFile(const std::string& remote, const std::string& local, bool ascii) {
    http::TransferRequest request;
    if (!FtpTransfer(http::TransferRequest::Kind::FtpRetrieve, remote, ascii, request)) return false;
    return platform::WriteFileReplacing(local, request.body.data(), request.body.size());
}

bool HttpClient::FtpPutFromFile(const std::string& remote, const std::string& local, bool ascii) {
    http::TransferRequest request;
    request.uploadPath = local;
    return FtpTransfer(http::TransferRequest::Kind::FtpStore, remote, ascii, request);
}

void HttpClient::CloseHandles() {
    StopTransfer();
    ClearResponse();
    m_ftpReadData.reset();
    m_ftpWriteData.reset();
    m_session.reset();
}

}  // namespace quorvin
