#include "http/HttpDownloader.h"

#include "common/Log.h"
#include "common/ReplacingFile.h"

namespace quorvin {
namespace {

// libcurl ends an exchange at the bound itself and says so; the wait gives
// it this long beyond the bound to do that before giving up on it.
constexpr int kBoundGraceMs = 2000;

class FileSink : public http::BodySink {
public:
    explicit FileSink(platform::ReplacingFile& file) : m_file(file) {}
    bool Write(const char* data, std::size_t size) override { return m_file.Write(data, size); }

private:
    platform::ReplacingFile& m_file;
};

// Ends whatever transfer is still writing into the file before the file goes.
class TransferStop {
public:
    explicit TransferStop(AsyncHttpClient& client) : m_client(client) {}
    ~TransferStop() { m_client.CloseHandles(); }
    TransferStop(const TransferStop&) = delete;
    TransferStop& operator=(const TransferStop&) = delete;

private:
    AsyncHttpClient& m_client;
};

}  // namespace

CHttpDownloader::CHttpDownloader(int waitMs) : m_nWaitMs(waitMs) {}

CHttpDownloader::~CHttpDownloader() { Close(); }

void CHttpDownloader::Open() { m_pClient = std::make_unique<AsyncHttpClient>(); }

void CHttpDownloader::Close() { m_pClient.reset(); }

bool CHttpDownloader::DownloadFile(const std::string& origin, const std::string& path, const std::string& localFile) {
    std::string why;
    if (Download(origin, path, localFile, why)) return true;
    LogFailure("download", origin + path + ": " + why);
    return false;
}

bool CHttpDownloader::Download(const std::string& origin, const std::string& path, const std::string& localFile,
                               std::string& why) {
    if (!m_pClient) {
        why = "no client";
        return false;
    }
    AsyncHttpClient& client = *m_pClient;
    if (!client.ConnectUrlAsync(origin, nullptr, "", "", kUserAgent)) {
        why = "not an address to download from";
        return false;
    }
    // The body streams into a temporary beside the file and takes its name
    // only once it is known to be whole.
    platform::ReplacingFile file(localFile);
    if (!file.Ok()) {
        why = file.Error();
        return false;
    }
    FileSink sink(file);
    const TransferStop stop(client);
    client.SetBodySink(&sink);
    client.SetTransferTimeout(m_nWaitMs);
    if (!client.Request(path, HttpClient::kGet, "")) {
        why = client.GetLastErrorText();
        return false;
    }
    if (!client.WaitForCompletion(m_nWaitMs + kBoundGraceMs)) {
        why = "no complete answer within " + std::to_string(m_nWaitMs) + " ms";
        return false;
    }
    // An error page is no file: a status of 400 or more, like no status at
    // all or a body that broke off, fails the download.
    if (!client.IsResponseComplete()) {
        why = !file.Ok() ? file.Error() : client.GetLastErrorDetail();
        return false;
    }
    if (client.GetStatusCode() >= 400) {
        why = "HTTP status " + std::to_string(client.GetStatusCode());
        return false;
    }
    if (file.Size() == 0) {
        why = "empty body";
        return false;
    }
    if (!file.Commit()) {
        why = file.Error();
        return false;
    }
    return true;
}

}  // namespace quorvin
