#include "app/HeadlessRunner.h"

#include <cjson/cJSON.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <mutex>
#include <vector>

#include "app/OrderlyEnd.h"
#include "app/RelaunchPause.h"
#include "app/SignalWatch.h"
#include "commands/PrintTaskRunner.h"
#include "common/CodePage.h"
#include "common/Json.h"
#include "common/Log.h"
#include "link/ChatManager.h"
#include "link/WsChatManager.h"
#include "link/wsclient/Handshake.h"
#include "message/PageWindow.h"

namespace quorvin {
namespace {

using Clock = std::chrono::steady_clock;

// The window a link notifies, without a window: each notification is one
// line on stderr, in UTF-8, under the link's name. Closing it ends the run.
class LogWindow : public PageWindow {
public:
    LogWindow(const char* link, SignalWatch& signals, std::atomic<bool>& closing)
        : m_link(link), m_signals(signals), m_closing(closing) {}

    void NotifyPage(const std::string& text) override { LogFailure(m_link, LocalToUtf8(text)); }

    // Nothing here runs on a window thread; the run's loop takes the work.
    void Post(std::function<void()> fn) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_posted.push_back(std::move(fn));
        }
        m_signals.Wake();
    }

    void PostClose() override {
        m_closing.store(true);
        m_signals.Wake();
    }

    void RunPosted() {
        std::vector<std::function<void()>> work;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            work.swap(m_posted);
        }
        for (auto& fn : work) fn();
    }

private:
    const char* m_link;
    SignalWatch& m_signals;
    std::atomic<bool>& m_closing;
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_posted;
};

// A port as the page passes it on: a JSON number or digits in a string.
std::optional<int> ReadPort(const cJSON* param, std::string& text) {
    const cJSON* item = GetJsonMember(param, "port");
    if (item == nullptr) return 0;
    if (cJSON_IsNumber(item)) {
        const double v = item->valuedouble;
        char number[32];
        std::snprintf(number, sizeof number, "%g", v);
        text = number;
        if (v != std::floor(v) || v < 1 || v > 65535) return std::nullopt;
        return static_cast<int>(v);
    }
    if (!cJSON_IsString(item)) return std::nullopt;
    text = item->valuestring;
    if (text.empty()) return 0;
    if (text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const int port = AtoI(text);
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::string Seconds(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

}  // namespace

std::optional<LinkParams> ReadLinkParams(const std::string& paramJson, std::string& why) {
    JsonPtr param = ParseJson(paramJson);
    if (!param || !cJSON_IsObject(param.get())) {
        why = "config.json: \"startup\" has no \"param\" object";
        return std::nullopt;
    }
    LinkParams p;
    p.server = GetJsonString(param.get(), "server");
    std::string portText;
    const std::optional<int> port = ReadPort(param.get(), portText);
    if (!port) {
        why = "config.json: \"port\" is not a port number: " + portText;
        return std::nullopt;
    }
    p.port = *port;
    p.wsUrl = GetJsonString(param.get(), "wsUrl");
    p.from = GetJsonString(param.get(), "clientId");
    p.clientName = GetJsonString(param.get(), "clientName");
    p.gsdm = GetJsonString(param.get(), "gsdm");
    p.rydm = GetJsonString(param.get(), "rydm");
    if (!p.wsUrl.empty()) {
        std::string error;
        if (!wsclient::ParseUrl(p.wsUrl, "", error)) {
            while (!error.empty() && std::isspace(static_cast<unsigned char>(error.back())) != 0) error.pop_back();
            why = "config.json: \"wsUrl\" " + p.wsUrl + ": " + error;
            return std::nullopt;
        }
    }
    if ((p.server.empty() || p.port == 0) && p.wsUrl.empty()) {
        why = "config.json: \"param\" sets up no link (\"server\" and \"port\", or \"wsUrl\")";
        return std::nullopt;
    }
    return p;
}

HeadlessEnd RunHeadless(const LinkParams& params, SignalWatch& signals, CPrintTaskRunner& tasks, int taskGraceMs) {
    std::atomic<bool> closing{false};
    LogWindow tcpWindow("tcp link", signals, closing);
    LogWindow wsWindow("ws link", signals, closing);
    CChatManager& tcp = CChatManager::GetInstance(&tcpWindow);
    CWsChatManager& ws = CWsChatManager::GetInstance(&wsWindow);

    if (!params.server.empty() && params.port != 0)
        tcp.Start(params.server, params.port, params.from, params.clientName, params.gsdm, params.rydm);

    // The page is not there to start the WebSocket link again: this loop
    // does, after a pause that grows while the server stays away.
    const bool useWs = !params.wsUrl.empty();
    RelaunchPause pause;
    bool wsUp = false;
    Clock::time_point upSince{}, nextStart = Clock::now();
    int signal = 0;
    while (!closing.load()) {
        if (useWs && !wsUp && Clock::now() >= nextStart) {
            const int rc = ws.Start(params.wsUrl, params.from, params.clientName, params.gsdm, params.rydm);
            if (rc == 0) {
                wsUp = true;
                upSince = Clock::now();
            } else {
                const std::chrono::milliseconds wait = pause.After({});
                LogFailure("ws link", "start " + params.wsUrl + " failed (" + std::to_string(rc) +
                                          "); next attempt in " + Seconds(wait));
                nextStart = Clock::now() + wait;
            }
        }
        if (wsUp && !ws.IsStarted()) {
            wsUp = false;
            const std::chrono::milliseconds wait = pause.After(Clock::now() - upSince);
            LogFailure("ws link", "connection ended; starting again in " + Seconds(wait));
            nextStart = Clock::now() + wait;
        }
        int timeoutMs = -1;
        // A link that is up is looked at twice a second, as its own thread does.
        if (wsUp) timeoutMs = 500;
        if (useWs && !wsUp) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextStart - Clock::now());
            timeoutMs = static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
        }
        if (closing.load()) break;
        signal = signals.Wait(timeoutMs);
        if (signal > 0) break;
        tcpWindow.RunPosted();
        wsWindow.RunPosted();
    }

    // After a signal the links stay up while the print tasks finish: the
    // tasks answer on them. After ExitQuorvin the end is as with the window.
    const int left = signal > 0 ? FinishPrintTasks(signal, signals, tasks, taskGraceMs) : 0;
    // The links end while their owner windows still exist.
    ws.Close();
    tcp.Close();
    return left > 0 ? HeadlessEnd::TasksLeft : HeadlessEnd::Finished;
}

}  // namespace quorvin
