// CHttpDownloader: one HTTP(S) GET saved into a local file.
#pragma once

#include <memory>
#include <string>

#include "http/AsyncHttpClient.h"

namespace quorvin {

class CHttpDownloader {
public:
    // waitMs bounds the whole exchange, connect to last byte (tests shorten it).
    explicit CHttpDownloader(int waitMs = kResponseWaitMs);
    ~CHttpDownloader();
    CHttpDownloader(const CHttpDownloader&) = delete;
    CHttpDownloader& operator=(const CHttpDownloader&) = delete;

    // Makes a new client (dropping any earlier one).
    void Open();
    // GET origin ("scheme://host[:port]") + path into localFile. The body
    // streams into a temporary file beside it (memory stays flat however
    // long the body) and replaces localFile, durably, only when it arrived
    // whole within the wait, is not empty, is within http::kMaxBodyBytes and
    // came with a status below 400. True then; otherwise localFile is left
    // as it was, nothing is left beside it, and one line on stderr says what
    // failed and why.
    bool DownloadFile(const std::string& origin, const std::string& path, const std::string& localFile);
    // Destroys the client, ending a transfer still under way.
    void Close();

private:
    bool Download(const std::string& origin, const std::string& path, const std::string& localFile, std::string& why);

    std::unique_ptr<AsyncHttpClient> m_pClient;
    int m_nWaitMs;
};

}  // namespace quorvin
