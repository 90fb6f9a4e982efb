#include "http/AsyncHttpClient.h"

#include <utility>

namespace quorvin {

AsyncHttpClient::AsyncHttpClient() = default;

AsyncHttpClient::~AsyncHttpClient() {
    // The worker uses the session: it ends before the base class drops it.
    StopTransfer();
}

void AsyncHttpClient::StopTransfer() {
    if (!m_worker.joinable()) return;
    m_abort = true;
    m_worker.join();
    m_abort = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished.reset();
}

bool AsyncHttpClient::ConnectUrlAsync(const std::string& url, StatusCallback callback, const std::string& user,
                                      const std::string& password, const std::string& agent) {
    if (Busy()) return Fail("connect failed...");  // the worker still reads the callback
    m_callback = std::move(callback);
    if (!ConnectUrl(url, user, password, agent)) return false;
    if (m_callback) m_callback(kStatusHandleCreated);
    return true;
}

bool AsyncHttpClient::ConnectAsync(const std::string& host, int port, StatusCallback callback, const std::string& user,
                                   const std::string& password, int kind, const std::string& agent) {
    if (Busy()) return Fail("connect failed...");
    m_callback = std::move(callback);
    if (!Connect(host, port, user, password, kind, agent)) return false;
    if (m_callback) m_callback(kStatusHandleCreated);
    return true;
}

bool AsyncHttpClient::Start(http::TransferRequest request) {
    m_requestComplete.Reset();
    m_worker = std::thread([this, request = std::move(request)] {
        auto result = std::make_unique<http::TransferResult>(m_session->Perform(request, &m_abort));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_finished = std::move(result);
        }
        if (m_callback) m_callback(kStatusRequestComplete);
        m_requestComplete.Set();
    });
    return true;
}

bool AsyncHttpClient::SendGet(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::Get, path, referrer, request)) return false;
    return Start(std::move(request));
}

bool AsyncHttpClient::SendFormPost(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::FormPost, path, referrer, request)) return false;
    return Start(std::move(request));
}

bool AsyncHttpClient::SendMultipartPost(const std::string& path, const std::string& referrer) {
    http::TransferRequest request;
    if (!BuildRequest(http::TransferRequest::Kind::MultipartPost, path, referrer, request)) return false;
    return Start(std::move(request));
}

void AsyncHttpClient::Collect() {
    m_worker.join();
    std::unique_ptr<http::TransferResult> result;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        result = std::move(m_finished);
    }
    if (result) {
        if (!result->completed) Fail("response failed...", result->error);
        SetResponse(std::move(*result));
    }
}

bool AsyncHttpClient::WaitForCompletion(int ms) {
    if (!m_worker.joinable()) return m_response != nullptr;
    if (!m_requestComplete.Wait(ms)) return false;
    Collect();
    return true;
}

}  // namespace quorvin
