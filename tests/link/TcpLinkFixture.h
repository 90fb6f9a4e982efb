// A TCP link wired to a headless window and a loopback server, for the
// link's and the command set's integration tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "TempDir.h"
#include "fixtures/HeadlessPageWindow.h"
#include "link/ChatManager.h"
#include "message/Envelope.h"
#include "link/LoopbackServer.h"

namespace quorvin::testing {

inline ChatTimings FastTimings() {
    ChatTimings t;
    t.heartbeatMs = 60000;
    t.reconnectMs = 50;
    t.connectTimeoutMs = 2000;
    t.sendTimeoutMs = 1000;
    return t;
}

// The registration the link sends for these values (all ASCII or UTF-8).
inline std::string ExpectedRegistration(const std::string& from, const std::string& name, const std::string& gsdm,
                                        const std::string& rydm) {
    return "{\"type\":\"cmd\",\"from\":\"" + from +
           "\",\"to\":\"server\",\"name\":\"wellcome\",\"body\":{\t\"clientTag\":\"\",\t\"clientType\":\"printer\",\t"
           "\"clientName\":\"" +
           name + "\",\t\"gsdm\":\"" + gsdm + "\",\t\"rydm\":\"" + rydm + "\"}\t\t\t\t\t}";
}

// A command message as a server writes it.
inline std::string ServerCommand(const std::string& name, const std::string& body = "{}") {
    return "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"agent-1\",\"name\":\"" + name + "\",\"body\":" + body + "}";
}
// The agent's reply to src, a ServerCommand with no modelName, taskId or callfor.
inline std::string AgentReply(const std::string& name, const std::string& result, const std::string& src) {
    return "{\"type\":\"cmd\",\"from\":\"agent-1\",\"to\":\"srv\",\"name\":\"" + name +
           ">res\",\"body\":{\"result\":" + result + ",\"modelName\":\"\",\"taskId\":\"\",\"callfor\":\"\"},"
           "\"srcMsg\":" + src + "}";
}

class TcpLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Listening());
        link = std::make_unique<CChatManager>(&window, dir.path(), Timings());
    }
    void TearDown() override { link.reset(); }  // before the window and the server go

    virtual ChatTimings Timings() const { return FastTimings(); }

    // Starts the link at server and takes its registration.
    void Connect(LoopbackServer& s, const std::string& from = "agent-1") {
        link->Start("127.0.0.1", s.Port(), from, "desk", "g01", "r02");
        ASSERT_TRUE(s.Accept());
        const std::optional<std::string> reg = s.ReadMessage();
        ASSERT_TRUE(reg.has_value());
        ASSERT_EQ(*reg, ExpectedRegistration(from, "desk", "g01", "r02"));
    }

    static std::string Command(const std::string& name, const std::string& body = "{}") {
        return ServerCommand(name, body);
    }
    static std::string Reply(const std::string& name, const std::string& result, const std::string& src) {
        return AgentReply(name, result, src);
    }

    // Sends one message and returns the next reply.
    std::string Ask(const std::string& message) {
        EXPECT_TRUE(server.SendMessage(message));
        return server.ReadMessage().value_or("<no reply>");
    }

    bool NotifiedWith(const std::string& text, int timeoutMs = 5000) {
        return window.WaitFor(
            [&](const std::vector<std::string>& all) {
                for (const auto& n : all) {
                    if (n == text) return true;
                }
                return false;
            },
            timeoutMs);
    }

    TempDir dir;
    HeadlessPageWindow window;
    LoopbackServer server;
    std::unique_ptr<CChatManager> link;
};

}  // namespace quorvin::testing
