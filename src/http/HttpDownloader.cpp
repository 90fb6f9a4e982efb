#include "http/HttpDownloader.h"

#include "common/Platform.h"

namespace quorvin {

CHttpDownloader::CHttpDownloader(int waitMs) : m_nWaitMs(waitMs) {}

CHttpDownloader::~CHttpDownloader() { Close(); }

void CHttpDownloader::Open() { m_pClient = std::make_unique<AsyncHttpClient>(); }

void CHttpDownloader::Close() { m_pClient.reset(); }

bool CHttpDownloader::DownloadFile(const std::string& origin, const std::string& path,
                                   const std::string& localFile) {
    if (!m_pClient) return false;
    AsyncHttpClient& client = *m_pClient;
    if (!client.ConnectUrlAsync(origin, nullptr, "", "", kUserAgent)) return false;
    if (!client.Request(path, HttpClient::kGet, "")) return false;
    if (!client.WaitForCompletion(m_nWaitMs)) return false;
    // An error page is no file: a status of 400 or more, like no status at
    // all or a body that broke off, fails the download.
    if (!client.IsResponseComplete() || client.GetStatusCode() >= 400) return false;
    const std::string body = client.ReadAll();
    if (body.empty()) return false;
    return platform::WriteFileReplacing(localFile, body.data(), body.size());
}

}  // namespace quorvin
