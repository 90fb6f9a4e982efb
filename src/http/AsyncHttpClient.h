// AsyncHttpClient: an HttpClient whose requests run on a worker thread.
// A request starts and returns at once; WaitForCompletion waits for the
// whole response, and until then the response cannot be read. Closing the
// client (or a new connect) stops a transfer still under way.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/Event.h"
#include "http/HttpClient.h"

namespace quorvin {

class AsyncHttpClient : public HttpClient {
public:
    // Status notices given to the status callback.
    static constexpr int kStatusHandleCreated = 60;
    static constexpr int kStatusRequestComplete = 100;
    // Told of each status; runs on the caller's thread for the handle and
    // on the worker thread for the request. May be empty.
    using StatusCallback = std::function<void(int status)>;

    AsyncHttpClient();
    ~AsyncHttpClient() override;

    bool ConnectUrlAsync(const std::string& url, StatusCallback callback, const std::string& user = "",
                         const std::string& password = "", const std::string& agent = kUserAgent);
    bool ConnectAsync(const std::string& host, int port, StatusCallback callback, const std::string& user,
                      const std::string& password, int kind, const std::string& agent = kUserAgent);

    bool SendMultipartPost(const std::string& path, const std::string& referrer) override;
    bool SendFormPost(const std::string& path, const std::string& referrer) override;
    bool SendGet(const std::string& path, const std::string& referrer) override;

    // True when the request's response has come (whole, or broken off)
    // within ms milliseconds; its outcome is then readable.
    bool WaitForCompletion(int ms);

protected:
    bool Busy() const override { return m_worker.joinable(); }
    void StopTransfer() override;

private:
    bool Start(http::TransferRequest request);
    void Collect();

    StatusCallback m_callback;
    Event m_requestComplete;
    std::atomic<bool> m_abort{false};
    std::mutex m_mutex;
    std::unique_ptr<http::TransferResult> m_finished;  // guarded by m_mutex
    std::thread m_worker;
};

}  // namespace quorvin
