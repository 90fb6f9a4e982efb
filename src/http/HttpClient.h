// HttpClient: HTTP(S) and FTP requests with argument and cookie lists,
// header queries and FTP file transfers. A client connects to one origin
// and then makes requests on it; the last response stays readable until
// the next request or CloseHandles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "http/Transfer.h"
#include "http/Url.h"

namespace quorvin {

inline constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; )";
inline constexpr int kDefaultFtpPort = 21;
inline constexpr int kDefaultHttpPort = 80;
inline constexpr int kDefaultHttpsPort = 443;
inline constexpr int kResponseWaitMs = 30000;
// ReadAll reads the body in pieces of this size.
inline constexpr int kReadChunk = 16534;

// One request argument for the POST bodies.
struct HttpArgument {
    std::string name;
    std::string value;
    bool isFile = false;         // value is a local file whose content is sent
    int length = -1;             // -1: value is sent; else the bytes at data
    const void* data = nullptr;  // owned by the caller
};

class HttpClient {
public:
    enum Kind { kFtp = 0, kHttp = 1, kHttps = 2 };
    enum Method { kGet = 0, kFormPost = 1, kMultipartPost = 2 };

    HttpClient();
    virtual ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Remembers the origin and makes the session; port 0 is the kind's
    // default. Empty user or password: the ones given earlier for this same
    // origin (kind, host, port) stay; another origin starts without any.
    virtual bool Connect(const std::string& host, int port, const std::string& user, const std::string& password,
                         int kind, const std::string& agent = kUserAgent);
    // Connect by URL: "https", "http" or "ftp" scheme; user and password
    // given here win over the URL's.
    bool ConnectUrl(const std::string& url, const std::string& user = "", const std::string& password = "",
                    const std::string& agent = kUserAgent);

    // method: kGet, kFormPost or kMultipartPost. True when the request was
    // sent (for the asynchronous client: is under way).
    bool Request(const std::string& path, int method, const std::string& referrer = "");
    virtual bool SendMultipartPost(const std::string& path, const std::string& referrer);
    virtual bool SendFormPost(const std::string& path, const std::string& referrer);
    virtual bool SendGet(const std::string& path, const std::string& referrer);

    // Next bytes of the last response's body; 0 at its end or without one.
    int ReadResponse(char* buffer, int size);
    // The rest of the body in one piece.
    std::string ReadAll();

    // Each answers the new number of arguments.
    int AddArgument(const std::string& name, const std::string& value, bool isFile = false);
    int AddArgument(const std::string& name, int value);
    int AddArgument(const std::string& name, long value);
    int AddArgument(const std::string& name, float value);
    int AddArgument(const std::string& name, double value);
    int AddArgument(const std::string& name, const void* data, int length);
    // Each answers the new number of cookies. Names and values that a
    // cookie cannot carry (";", tab, line ends) fail the next request.
    int AddCookie(const std::string& name, const std::string& value);
    int AddCookie(const std::string& name, int value);
    int AddCookie(const std::string& name, long value);
    int AddCookie(const std::string& name, float value);
    int AddCookie(const std::string& name, double value);

    // Queries on the last response. The status is 404 when there is none.
    int GetStatusCode() const;
    std::int64_t GetContentLength() const;  // 0 when unknown
    std::string GetContentType() const;     // empty when none
    // The index-th Set-Cookie value (from 0); empty when there is none.
    std::string GetSetCookie(int index = 0) const;
    std::string GetRawHeaders() const;
    // True when the last response arrived whole (any status).
    bool IsResponseComplete() const;

    // FTP, on an FTP connection. FtpRead fetches the remote file on its
    // first call and hands it out over the following ones (0 at the end,
    // which closes it). FtpWrite collects the bytes and stores the file when
    // called with size 0, which answers 0; a failed store leaves its reason
    // in GetLastErrorText.
    int FtpRead(const std::string& remote, char* buffer, int size, bool ascii = false);
    int FtpWrite(const std::string& remote, const char* data, int size, bool ascii = false);
    bool FtpGetToFile(const std::string& remote, const std::string& local, bool ascii = false);
    bool FtpPutFromFile(const std::string& remote, const std::string& local, bool ascii = false);

    // Drops the response, the open FTP transfers and the session.
    void CloseHandles();

    // The last error raised inside the client ("request failed..." and so on).
    const std::string& GetLastErrorText() const { return m_strLastError; }
    // Why, when the transfer itself said: libcurl's words ("Operation timed
    // out after 30000 milliseconds ..."); empty otherwise.
    const std::string& GetLastErrorDetail() const { return m_strLastErrorDetail; }

    // The next HTTP request's body goes to sink as it arrives instead of into
    // memory (its response then reads as empty). The caller keeps sink alive
    // until that response is complete or the handles are closed.
    void SetBodySink(http::BodySink* sink) { m_pBodySink = sink; }
    // Bounds every later exchange as a whole, connect to last byte (libcurl
    // ends it and says so); 0: only the idle bound.
    void SetTransferTimeout(long ms) { m_nTransferTimeoutMs = ms; }
    // Trust these certificates (PEM file) in addition to verifying as usual.
    void SetCaFile(const std::string& path) { m_strCaFile = path; }

    const std::string& GetHost() const { return m_strHost; }
    int GetPort() const { return m_nPort; }
    int GetKind() const { return m_nKind; }
    const std::string& GetCurrentPath() const { return m_strPath; }

protected:
    // Connect's steps without the session: checks and stores the origin.
    bool StoreConnection(const std::string& host, int port, const std::string& user, const std::string& password,
                         int kind, const std::string& agent);
    // The request of the given method, ready for the transfer layer; false
    // (with the error recorded) when it cannot be made.
    bool BuildRequest(http::TransferRequest::Kind kind, const std::string& path, const std::string& referrer,
                      http::TransferRequest& request);
    bool Fail(const std::string& text, const std::string& detail = "");
    bool HasConnection() const { return m_session != nullptr; }
    virtual bool Busy() const { return false; }
    // Ends a transfer under way before the handles go.
    virtual void StopTransfer() {}
    // Runs the request on this thread and keeps its response.
    bool PerformNow(const http::TransferRequest& request);
    void SetResponse(http::TransferResult result);
    void ClearResponse();

    std::unique_ptr<http::Session> m_session;          // the "internet handle"
    std::unique_ptr<http::TransferResult> m_response;  // the "request handle"
    std::size_t m_nReadOffset = 0;
    long m_nIdleTimeoutSec = 180;

private:
    std::string FtpUrl(const std::string& remote) const;
    bool FtpTransfer(http::TransferRequest::Kind kind, const std::string& remote, bool ascii,
                     http::TransferRequest& request);

    std::string m_strHost;
    std::string m_strUser;
    std::string m_strPassword;
    std::string m_strAgent = kUserAgent;
    std::string m_strPath;
    int m_nPort = 0;
    int m_nKind = kHttp;
    std::vector<HttpArgument> m_arguments;
    std::vector<std::pair<std::string, std::string>> m_cookies;
    std::string m_strCaFile;
    std::string m_strLastError;
    std::string m_strLastErrorDetail;
    http::BodySink* m_pBodySink = nullptr;
    long m_nTransferTimeoutMs = 0;

    // Open FTP transfers.
    std::string m_strFtpReadName;
    std::unique_ptr<std::string> m_ftpReadData;
    std::size_t m_nFtpReadOffset = 0;
    std::string m_strFtpWriteName;
    std::unique_ptr<std::string> m_ftpWriteData;
    bool m_bFtpWriteAscii = false;
};

}  // namespace quorvin
