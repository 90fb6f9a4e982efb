// Either link wired to a headless window and a real server on loopback, so
// the command set's tests run over TCP and over WebSocket alike: a
// parameterised fixture picks the link, the tests speak to the server.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "TempDir.h"
#include "commands/PrintTask.h"
#include "fixtures/HeadlessPageWindow.h"
#include "fixtures/WsRelay.h"
#include "link/ChatManager.h"
#include "link/LoopbackServer.h"
#include "link/TcpLinkFixture.h"
#include "link/WsChatManager.h"

namespace quorvin::testing {

// A link under test and the server it talks to.
class LinkRig {
public:
    virtual ~LinkRig() = default;
    virtual ChatLink& Link() = 0;
    virtual void SetPrintTaskStarter(PrintTaskStarter starter) = 0;
    // Starts the link at its server; the registration it sent, or nothing.
    virtual std::optional<std::string> Connect(const std::string& from) = 0;
    virtual void Stop() = 0;
    virtual bool IsConnected() = 0;
    // The server's side.
    virtual bool SendMessage(const std::string& text) = 0;
    virtual std::optional<std::string> ReadMessage(int timeoutMs = 5000) = 0;
};

class TcpRig : public LinkRig {
public:
    TcpRig(PageWindow& window, const std::string& dir)
        : m_link(std::make_unique<CChatManager>(&window, dir, FastTimings())) {}
    ~TcpRig() override { m_link.reset(); }  // before the server goes

    ChatLink& Link() override { return *m_link; }
    void SetPrintTaskStarter(PrintTaskStarter starter) override { m_link->SetPrintTaskStarter(std::move(starter)); }
    std::optional<std::string> Connect(const std::string& from) override {
        if (!m_server.Listening()) return std::nullopt;
        m_link->Start("127.0.0.1", m_server.Port(), from, "desk", "g01", "r02");
        if (!m_server.Accept()) return std::nullopt;
        return m_server.ReadMessage();
    }
    void Stop() override { m_link->Stop(); }
    bool IsConnected() override { return m_link->IsConnected(); }
    bool SendMessage(const std::string& text) override { return m_server.SendMessage(text); }
    std::optional<std::string> ReadMessage(int timeoutMs) override { return m_server.ReadMessage(timeoutMs); }

private:
    LoopbackServer m_server;
    std::unique_ptr<CChatManager> m_link;
};

inline WsTimings FastWsTimings() {
    WsTimings t;
    t.openTimeoutMs = 5000;
    t.flushMs = 1000;
    return t;
}

// One relay server of each kind per test program, shared by its tests:
// every test's link is a new client of it.
inline WsRelayServer& SharedWsServer(WsServerKind kind) {
    static WsRelayServer python(WsServerKind::Python);
    static WsRelayServer node(WsServerKind::Node);
    return kind == WsServerKind::Python ? python : node;
}

class WsRig : public LinkRig {
public:
    WsRig(PageWindow& window, const std::string& dir, WsServerKind kind = WsServerKind::Node)
        : m_server(SharedWsServer(kind)), m_link(std::make_unique<CWsChatManager>(&window, dir, FastWsTimings())) {}
    ~WsRig() override { m_link.reset(); }

    ChatLink& Link() override { return *m_link; }
    CWsChatManager& Manager() { return *m_link; }
    WsRelayServer& Server() { return m_server; }
    void SetPrintTaskStarter(PrintTaskStarter starter) override { m_link->SetPrintTaskStarter(std::move(starter)); }
    std::optional<std::string> Connect(const std::string& from) override {
        if (!m_server.Ready()) return std::nullopt;
        if (m_link->Start(m_server.Url(), from, "desk", "g01", "r02") != 0) return std::nullopt;
        if (!m_server.WaitOpen()) return std::nullopt;
        return ReadMessage(5000);
    }
    void Stop() override { m_link->Stop(); }
    bool IsConnected() override { return m_link->IsStarted(); }
    bool SendMessage(const std::string& text) override { return m_server.SendText(text); }
    std::optional<std::string> ReadMessage(int timeoutMs) override {
        std::optional<WsMessage> m = m_server.ReadMessage(timeoutMs);
        if (!m) return std::nullopt;
        return m->data;
    }

private:
    WsRelayServer& m_server;
    std::unique_ptr<CWsChatManager> m_link;
};

inline std::string LinkName(const ::testing::TestParamInfo<LinkKind>& info) {
    return info.param == LinkKind::Tcp ? "Tcp" : "WebSocket";
}

// The command set's fixture: the link of the parameter, connected.
class AnyLinkTest : public ::testing::TestWithParam<LinkKind> {
protected:
    void SetUp() override {
        if (GetParam() == LinkKind::Tcp) {
            rig = std::make_unique<TcpRig>(window, dir.path());
        } else {
            rig = std::make_unique<WsRig>(window, dir.path());
        }
        BeforeConnect();
        if (HasFatalFailure()) return;
        const std::optional<std::string> reg = rig->Connect("agent-1");
        ASSERT_TRUE(reg.has_value()) << "the link did not register";
        ASSERT_EQ(*reg, ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    }
    void TearDown() override { rig.reset(); }  // before the window goes

    // What a test needs in place before the link registers.
    virtual void BeforeConnect() {}

    static std::string Command(const std::string& name, const std::string& body = "{}") {
        return ServerCommand(name, body);
    }
    static std::string Reply(const std::string& name, const std::string& result, const std::string& src) {
        return AgentReply(name, result, src);
    }
    // Sends one message and returns the next reply.
    std::string Ask(const std::string& message, int timeoutMs = 5000) {
        EXPECT_TRUE(rig->SendMessage(message));
        return rig->ReadMessage(timeoutMs).value_or("<no reply>");
    }
    bool NotifiedWith(const std::string& text, int timeoutMs = 5000) {
        return window.WaitFor(
            [&](const std::vector<std::string>& all) { return std::find(all.begin(), all.end(), text) != all.end(); },
            timeoutMs);
    }

    TempDir dir;
    HeadlessPageWindow window;
    std::unique_ptr<LinkRig> rig;
};

#define QUORVIN_ON_BOTH_LINKS(suite) \
    INSTANTIATE_TEST_SUITE_P(Links, suite, ::testing::Values(LinkKind::Tcp, LinkKind::WebSocket), LinkName)

}  // namespace quorvin::testing
