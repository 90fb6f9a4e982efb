// The WebSocket client's pure parts: frames cut anywhere, every length form
// against an encoder written apart from the client's, the parser's answers
// to hostile frames, URL forms and the reader of the upgrade answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/RawWsPeer.h"
#include "link/wsclient/Frame.h"
#include "link/wsclient/Handshake.h"

namespace quorvin::wsclient {
namespace {

using testing::RawWsPeer;

const std::uint8_t kKey[4] = {0x12, 0xA4, 0x00, 0xFF};

// What the parser reported, one word per event.
struct Events : FrameSink {
    std::vector<std::string> log;
    void OnMessage(std::vector<std::uint8_t>&& m) override { log.push_back("msg:" + std::string(m.begin(), m.end())); }
    void OnPing(const std::vector<std::uint8_t>& p) override { log.push_back("ping:" + std::string(p.begin(), p.end())); }
    void OnClose() override { log.push_back("close"); }
    void OnError(FrameError e) override {
        log.push_back(e == FrameError::TooBig ? "TooBig" : e == FrameError::BadLength ? "BadLength" : "Unexpected");
    }
    void Feed(FrameParser& p, const std::string& bytes) {
        p.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), *this);
    }
};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 % 251);
    return s;
}

TEST(WsFrameTest, StreamCutAtEveryPairOfPoints) {
    const std::string stream = RawWsPeer::Frame(0x01, "Hel") + RawWsPeer::Frame(0x89, "p!", kKey) +
                               RawWsPeer::Frame(0x00, "l", nullptr, 126) + RawWsPeer::Frame(0x80, "o", kKey, 127) +
                               RawWsPeer::Frame(0x8A, "pong") + RawWsPeer::Frame(0x82, std::string(130, 'b'), kKey) +
                               RawWsPeer::Frame(0x81, "") + RawWsPeer::Frame(0x88, "\x03\xE8" "bye");
    const std::vector<std::string> expected = {"ping:p!", "msg:Hello", "msg:" + std::string(130, 'b'), "msg:",
                                               "close"};
    for (std::size_t cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= stream.size(); ++cut2) {
            FrameParser parser;
            Events e;
            e.Feed(parser, stream.substr(0, cut1));
            e.Feed(parser, stream.substr(cut1, cut2 - cut1));
            e.Feed(parser, stream.substr(cut2));
            ASSERT_EQ(e.log, expected) << cut1 << "," << cut2;
            ASSERT_EQ(parser.Held(), 0u);
        }
    }
}

TEST(WsFrameTest, EveryLengthFormMatchesAnIndependentEncoderAndParsesBack) {
    for (const std::size_t n : {0ul, 125ul, 126ul, 65535ul, 65536ul, 1ul << 20}) {
        for (const std::uint8_t* key : {static_cast<const std::uint8_t*>(nullptr), kKey}) {
            const std::string payload = Pattern(n);
            std::vector<std::uint8_t> out;
            AppendFrame(out, kBinary, reinterpret_cast<const std::uint8_t*>(payload.data()), n, key);
            ASSERT_EQ(std::string(out.begin(), out.end()), RawWsPeer::Frame(0x82, payload, key)) << n;
            EXPECT_EQ(out[1] & 0x7F, n < 126 ? n : n < 65536 ? 126u : 127u);
            FrameParser parser;
            Events e;
            parser.Feed(out.data(), out.size(), e);
            ASSERT_EQ(e.log, std::vector<std::string>{"msg:" + payload}) << n;
        }
    }
}

TEST(WsFrameTest, HostileFramesGetTheirAnswers) {
    const std::size_t max = 100;  // the parser's limit, small here
    const std::string after = RawWsPeer::Frame(0x81, "ok");
    struct Case {
        std::string bytes;
        std::vector<std::string> log;
        bool broken;
    } cases[] = {
        {std::string("\x81\x7F\x80\0\0\0\0\0\0\x02", 10) + "hi" + after, {"BadLength"}, true},
        {std::string("\x82\x7F\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 10) + after, {"TooBig"}, true},
        {RawWsPeer::Frame(0x82, std::string(max + 1, 'x')) + after, {"TooBig"}, true},
        {RawWsPeer::Frame(0x02, std::string(60, 'x')) + RawWsPeer::Frame(0x80, std::string(41, 'y')), {"TooBig"}, true},
        {RawWsPeer::Frame(0x02, std::string(60, 'x')) + RawWsPeer::Frame(0x80, std::string(40, 'y')),
         {"msg:" + std::string(60, 'x') + std::string(40, 'y')}, false},
        {RawWsPeer::Frame(0x83, "zz") + after, {"Unexpected", "msg:ok"}, false},
        {RawWsPeer::Frame(0x8B, "zz", kKey) + after, {"Unexpected", "msg:ok"}, false},
        {RawWsPeer::Frame(0x89, std::string(126, 'p')) + after, {"Unexpected", "msg:ok"}, false},
        {RawWsPeer::Frame(0x09, "p") + after, {"Unexpected", "msg:ok"}, false},
        {RawWsPeer::Frame(0x08, "") + after, {"Unexpected", "msg:ok"}, false},
        {RawWsPeer::Frame(0xF1, "rsv") + RawWsPeer::Frame(0x8A, "pong") + after, {"msg:rsv", "msg:ok"}, false},
    };
    for (const Case& c : cases) {
        FrameParser parser(max);
        Events e;
        e.Feed(parser, c.bytes);
        EXPECT_EQ(e.log, c.log) << ::testing::PrintToString(c.bytes.substr(0, 12));
        EXPECT_EQ(parser.Broken(), c.broken);
        if (c.broken) {
            EXPECT_EQ(parser.Held(), 0u);  // nothing of the refused frame is kept
        }
    }
}

TEST(WsFrameTest, MaskKeysComeFromTheSourceAndFailWithIt) {
    static int calls = 0;
    MaskKeys counting([](std::uint8_t* buf, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) buf[i] = static_cast<std::uint8_t>(i / 4 + calls);
        ++calls;
        return true;
    });
    std::uint8_t key[4];
    for (int i = 0; i < 65; ++i) ASSERT_TRUE(counting.Next(key));
    EXPECT_EQ(key[0], 1);  // the second pool's first key
    EXPECT_EQ(calls, 2);
    MaskKeys empty([](std::uint8_t*, std::size_t) { return false; });
    EXPECT_FALSE(empty.Next(key));
}

TEST(WsHandshakeTest, UrlFormsAndTheirRequestLines) {
    const std::string tail = "Upgrade: websocket\r\nConnection: Upgrade\r\n";
    const std::string key = "Sec-WebSocket-Key: q7Fz0LmW2pXc4TbR9sKd1A==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    struct Case {
        std::string url, origin;
        bool tls;
        int port;
        std::string request;
    } cases[] = {
        {"ws://h", "", false, 80, "GET / HTTP/1.1\r\nHost: h\r\n" + tail + key},
        {"ws://h/", "", false, 80, "GET / HTTP/1.1\r\nHost: h\r\n" + tail + key},
        {"ws://h:8080", "", false, 8080, "GET / HTTP/1.1\r\nHost: h:8080\r\n" + tail + key},
        {"ws://h:80/a/b?c=d e", "http://o", false, 80,
         "GET /a/b?c=d HTTP/1.1\r\nHost: h\r\n" + tail + "Origin: http://o\r\n" + key},
        {"ws://h:abc", "", false, 80, "GET / HTTP/1.1\r\nHost: h\r\n" + tail + key},
        {"wss://h/x", "", true, 443, "GET /x HTTP/1.1\r\nHost: h\r\n" + tail + key},
        {"wss://h:80", "", true, 80, "GET / HTTP/1.1\r\nHost: h:80\r\n" + tail + key},
        {"ws://h:443", "", false, 443, "GET / HTTP/1.1\r\nHost: h:443\r\n" + tail + key},
        {"ws://" + std::string(506, 'a'), std::string(199, 'o'), false, 80, ""},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto t = ParseUrl(c.url, c.origin, error);
        ASSERT_TRUE(t.has_value()) << c.url;
        EXPECT_EQ(t->tls, c.tls);
        EXPECT_EQ(t->port, c.port);
        if (!c.request.empty()) {
            EXPECT_EQ(RequestText(*t, c.origin), c.request) << c.url;
        }
    }
}

TEST(WsHandshakeTest, BadUrlsAndSizeLimits) {
    const std::string longUrl = "ws://" + std::string(507, 'a');
    const std::string longOrigin(200, 'o');
    struct Case {
        std::string url, origin, error;
    } cases[] = {
        {"http://h", "", "ERROR: Could not parse WebSocket url: http://h\n"},
        {"ws://", "", "ERROR: Could not parse WebSocket url: ws://\n"},
        {"ws://:80/x", "", "ERROR: Could not parse WebSocket url: ws://:80/x\n"},
        {"wss:/h", "", "ERROR: Could not parse WebSocket url: wss:/h\n"},
        {longUrl, "", "ERROR: url size limit exceeded: " + longUrl + "\n"},
        {"ws://h", longOrigin, "ERROR: origin size limit exceeded: " + longOrigin + "\n"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseUrl(c.url, c.origin, error).has_value()) << c.url;
        EXPECT_EQ(error, c.error);
    }
    // 2^32 + 80 must not wrap to port 80.
    std::string error;
    EXPECT_NE(ParseUrl("ws://h:4294967376/x", "", error).value_or(Target{}).port, 80);
}

TEST(WsHandshakeTest, AnswerReaderStopsWhereTheAnswerDoes) {
    const std::string url = "ws://h/";
    const std::string longLine(1023, 'A');
    struct Case {
        std::string answer;
        ResponseReader::Step step;
        std::size_t consumed;
        std::string error;
    } cases[] = {
        {"HTTP/1.1 101 Switching\r\nA: b\r\n\r\n\x81\x01x", ResponseReader::Step::Done, 32, ""},
        {"HTTP/1.1 101\r\n" + std::string(3000, 'h') + "\r\n\r\n", ResponseReader::Step::Done, 3018, ""},
        {"HTTP/1.1 101\r\nA: b\r\n", ResponseReader::Step::More, 20, ""},
        {"HTTP/1.1 200 OK\r\n\r\n", ResponseReader::Step::Failed, 17,
         "ERROR: Got bad status connecting to ws://h/: HTTP/1.1 200 OK\r\n"},
        {"HTTP/1.0 101\n", ResponseReader::Step::Failed, 13,
         "ERROR: Got bad status connecting to ws://h/: HTTP/1.0 101\n"},
        // 2^32 + 101 must not wrap to 101.
        {"HTTP/1.1 4294967397\r\n", ResponseReader::Step::Failed, 21,
         "ERROR: Got bad status connecting to ws://h/: HTTP/1.1 4294967397\r\n"},
        {longLine + "\r\n", ResponseReader::Step::Failed, 1023,
         "ERROR: Got invalid status line connecting to: ws://h/\n"},
    };
    for (const Case& c : cases) {
        ResponseReader reader(url);
        ResponseReader::Step step = ResponseReader::Step::More;
        std::size_t used = 0;
        while (used < c.answer.size() && step == ResponseReader::Step::More) step = reader.Feed(c.answer[used++]);
        EXPECT_EQ(step, c.step) << c.answer.substr(0, 20);
        EXPECT_EQ(used, c.consumed) << c.answer.substr(0, 20);
        EXPECT_EQ(reader.Error(), c.error);
    }
}

}  // namespace
}  // namespace quorvin::wsclient
