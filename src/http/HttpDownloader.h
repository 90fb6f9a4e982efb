// CHttpDownloader: one HTTP(S) GET saved into a local file.
#pragma once

#include <memory>
#include <string>

#include "http/AsyncHttpClient.h"

namespace quorvin {

class CHttpDownloader {
public:
    // waitMs bounds the whole exchange (tests shorten it).
    explicit CHttpDownloader(int waitMs = kResponseWaitMs);
    ~CHttpDownloader();
    CHttpDownloader(const CHttpDownloader&) = delete;
    CHttpDownloader& operator=(const CHttpDownloader&) = delete;

    // Makes a new client (dropping any earlier one).
    void Open();
    // GET origin ("scheme://host[:port]") + path into localFile. True when
    // the whole body arrived within the wait, is not empty, came with a
    // status below 400 and was written; otherwise nothing is written (the
    // file is replaced whole or not at all).
    bool DownloadFile(const std::string& origin, const std::string& path, const std::string& localFile);
    // Destroys the client, ending a transfer still under way.
    void Close();

private:
    std::unique_ptr<AsyncHttpClient> m_pClient;
    int m_nWaitMs;
};

}  // namespace quorvin
