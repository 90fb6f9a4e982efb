// HttpClient and AsyncHttpClient against a real HTTP server on loopback:
// what the server receives, and what the client reads back.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <vector>

#include "TempDir.h"
#include "fixtures/LoopbackHttpServer.h"
#include "http/AsyncHttpClient.h"
#include "http/HttpClient.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

// Bytes that show any reordering or loss: position-dependent, with NULs.
std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// Parts of a multipart/form-data body by name: (headers, content).
std::map<std::string, std::pair<std::string, std::string>> SplitMultipart(const SeenRequest& request) {
    std::map<std::string, std::pair<std::string, std::string>> parts;
    const std::string type = request.Header("content-type");
    const std::size_t b = type.find("boundary=");
    if (b == std::string::npos) return parts;
    const std::string delimiter = "--" + type.substr(b + 9);
    const std::string& body = request.body;
    std::size_t at = body.find(delimiter);
    while (at != std::string::npos) {
        const std::size_t start = at + delimiter.size();
        if (body.compare(start, 2, "--") == 0) break;
        const std::size_t headEnd = body.find("\r\n\r\n", start);
        const std::size_t next = body.find("\r\n" + delimiter, headEnd);
        if (headEnd == std::string::npos || next == std::string::npos) break;
        const std::string head = body.substr(start + 2, headEnd - start - 2);
        const std::size_t n = head.find("name=\"");
        const std::string name = head.substr(n + 6, head.find('"', n + 6) - n - 6);
        parts[name] = {head, body.substr(headEnd + 4, next - headEnd - 4)};
        at = next + 2;
    }
    return parts;
}

class HttpClientTest : public ::testing::Test {
protected:
    // Answers GET /size/N with N pattern bytes and everything else with "ok",
    // after any special answer set by the test.
    LoopbackHttpServer server{[this](const SeenRequest& request, HttpConnection& connection) {
        if (request.target.rfind("/size/", 0) == 0) {
            connection.Respond(200, Pattern(std::stoul(request.target.substr(6))));
            return;
        }
        std::string status, headers, body;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            headers = m_headers;
            body = m_body;
        }
        connection.Respond(m_status, body, "text/plain; charset=utf-8", headers);
    }};

    void Answer(int status, std::string body, std::string headers = "") {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_status = status;
        m_body = std::move(body);
        m_headers = std::move(headers);
    }

    std::mutex m_mutex;
    int m_status = 200;
    std::string m_body = "ok";
    std::string m_headers;
};

TEST_F(HttpClientTest, GetReadsBodiesAroundTheReadChunkWhole) {
    for (std::size_t size : {std::size_t{1}, std::size_t{kReadChunk - 1}, std::size_t{kReadChunk},
                             std::size_t{kReadChunk + 1}, std::size_t{3 * kReadChunk + 7}}) {
        HttpClient client;
        ASSERT_TRUE(client.ConnectUrl(server.origin()));
        ASSERT_TRUE(client.Request("/size/" + std::to_string(size), HttpClient::kGet)) << size;
        EXPECT_EQ(client.GetStatusCode(), 200);
        EXPECT_EQ(client.GetContentLength(), static_cast<std::int64_t>(size));
        const std::string body = client.ReadAll();
        EXPECT_EQ(body.size(), size);
        EXPECT_TRUE(body == Pattern(size)) << "body differs for size " << size;
    }
}

TEST_F(HttpClientTest, ReadResponseHandsOutTheBodyInPiecesThenZero) {
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    ASSERT_TRUE(client.Request("/size/1000", HttpClient::kGet));
    std::string joined;
    char piece[300];
    int n = 0;
    for (int i = 0; i < 10 && (n = client.ReadResponse(piece, sizeof piece)) > 0; ++i) {
        EXPECT_LE(n, 300);
        joined.append(piece, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(joined == Pattern(1000));
    EXPECT_EQ(client.ReadResponse(piece, sizeof piece), 0);

    // ReadAll after a first piece hands out the rest only.
    ASSERT_TRUE(client.Request("/size/50000", HttpClient::kGet));
    ASSERT_EQ(client.ReadResponse(piece, sizeof piece), 300);
    EXPECT_TRUE(client.ReadAll() == Pattern(50000).substr(300));
    EXPECT_EQ(client.ReadAll(), "");
}

TEST_F(HttpClientTest, GetSendsTheAgentAcceptAndReferrerOnAnEscapedTarget) {
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin() + "/ignored"));
    ASSERT_TRUE(client.Request("/img dir/\xE4\xB8\xAD.jpg?x=1&y=%41", HttpClient::kGet, "http://ref.example/p"));
    EXPECT_EQ(client.GetCurrentPath(), "/img dir/\xE4\xB8\xAD.jpg?x=1&y=%41");
    ASSERT_EQ(server.RequestCount(), 1u);
    const SeenRequest seen = server.Requests()[0];
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.target, "/img%20dir/%E4%B8%AD.jpg?x=1&y=%41");
    EXPECT_EQ(seen.version, "HTTP/1.0");
    EXPECT_EQ(seen.Header("user-agent"), "Mozilla/4.0 (compatible; )");
    EXPECT_EQ(seen.Header("accept"), "*/*");
    EXPECT_EQ(seen.Header("referer"), "http://ref.example/p");
}

TEST_F(HttpClientTest, HeaderQueriesReadTheResponse) {
    Answer(201, "created", "X-Test: 1\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\n");
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    ASSERT_TRUE(client.Request("/any", HttpClient::kGet));
    EXPECT_EQ(client.GetStatusCode(), 201);
    EXPECT_EQ(client.GetContentLength(), 7);
    EXPECT_EQ(client.GetContentType(), "text/plain; charset=utf-8");
    EXPECT_EQ(client.GetSetCookie(0), "a=1; Path=/");
    EXPECT_EQ(client.GetSetCookie(1), "b=2");
    EXPECT_EQ(client.GetSetCookie(2), "");
    const std::string raw = client.GetRawHeaders();
    EXPECT_EQ(raw.rfind("HTTP/1.0 201 ", 0), 0u) << raw;
    EXPECT_NE(raw.find("\r\nX-Test: 1\r\n"), std::string::npos) << raw;
    EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
    EXPECT_EQ(client.ReadAll(), "created");
}

TEST_F(HttpClientTest, AnErrorStatusIsStillAResponse) {
    Answer(404, "<html>missing</html>");
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    EXPECT_TRUE(client.Request("/missing", HttpClient::kGet));
    EXPECT_EQ(client.GetStatusCode(), 404);
    EXPECT_EQ(client.ReadAll(), "<html>missing</html>");
}

TEST_F(HttpClientTest, FormPostSendsTheArgumentsJoinedAsGiven) {
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    client.AddArgument("name", "a b&c");
    client.AddArgument("n", 5);
    client.AddArgument("l", 70000L);
    client.AddArgument("d", 1.5);
    client.AddArgument("f", 0.25f);
    const char raw[] = {'x', '\0', 'y'};
    client.AddArgument("raw", raw, 3);
    client.AddArgument("", "bare");
    ASSERT_TRUE(client.Request("/form", HttpClient::kFormPost));
    ASSERT_EQ(server.RequestCount(), 1u);
    const SeenRequest seen = server.Requests()[0];
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.target, "/form");
    EXPECT_EQ(seen.Header("content-type"), "application/x-www-form-urlencoded");
    const char expected[] = "name=a b&c&n=5&l=70000&d=1.500000&f=0.250000&raw=x\0y&bare";
    EXPECT_EQ(seen.body, std::string(expected, sizeof expected - 1));
    EXPECT_EQ(seen.Header("content-length"), std::to_string(sizeof expected - 1));
}

TEST_F(HttpClientTest, MultipartPostSendsTextFileAndRawParts) {
    testing::TempDir dir;
    const std::string file = dir / "photo.bin";
    const std::string fileBytes = Pattern(5000);
    testing::WriteBytes(file, fileBytes);
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    client.AddArgument("title", "\xE4\xB8\xAD text");
    client.AddArgument("photo", file, true);
    client.AddArgument("blob", "\x01\x02\x00\x03", 4);
    ASSERT_TRUE(client.Request("/upload", HttpClient::kMultipartPost));
    ASSERT_EQ(server.RequestCount(), 1u);
    const SeenRequest seen = server.Requests()[0];
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.Header("content-type").rfind("multipart/form-data; boundary=", 0), 0u);
    const auto parts = SplitMultipart(seen);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts.at("title").second, "\xE4\xB8\xAD text");
    EXPECT_NE(parts.at("photo").first.find("filename=\"" + file + "\""), std::string::npos) << parts.at("photo").first;
    EXPECT_TRUE(parts.at("photo").second == fileBytes);
    EXPECT_EQ(parts.at("blob").second, std::string("\x01\x02\x00\x03", 4));
}

TEST_F(HttpClientTest, MultipartWithAnUnreadableFileIsNotSent) {
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    client.AddArgument("photo", std::string("/nonexistent/quorvin/photo.jpg"), true);
    EXPECT_FALSE(client.Request("/upload", HttpClient::kMultipartPost));
    EXPECT_EQ(client.GetLastErrorText(), "request failed...");
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(HttpClientTest, CookiesReachTheServerAndComeBack) {
    Answer(200, "ok", "Set-Cookie: session=s1; Path=/\r\n");
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    client.AddCookie("sid", "abc");
    client.AddCookie("n", 7);
    ASSERT_TRUE(client.Request("/first", HttpClient::kGet));
    EXPECT_EQ(client.GetSetCookie(0), "session=s1; Path=/");
    Answer(200, "ok");
    ASSERT_TRUE(client.Request("/second", HttpClient::kGet));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string first = requests[0].Header("cookie");
    EXPECT_NE(first.find("sid=abc"), std::string::npos) << first;
    EXPECT_NE(first.find("n=7"), std::string::npos) << first;
    EXPECT_EQ(first.find("session"), std::string::npos) << first;
    // The server's cookie is sent back on the next request, with the client's.
    const std::string second = requests[1].Header("cookie");
    EXPECT_NE(second.find("session=s1"), std::string::npos) << second;
    EXPECT_NE(second.find("sid=abc"), std::string::npos) << second;
}

TEST_F(HttpClientTest, AServersCookieComesBackOnTheNextRequests) {
    Answer(200, "ok", "Set-Cookie: token=t9\r\n");
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    ASSERT_TRUE(client.Request("/login", HttpClient::kGet));
    Answer(200, "ok");
    ASSERT_TRUE(client.Request("/next", HttpClient::kGet));
    ASSERT_TRUE(client.Request("/again", HttpClient::kGet));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("cookie"), "");
    EXPECT_EQ(requests[1].Header("cookie"), "token=t9");
    EXPECT_EQ(requests[2].Header("cookie"), "token=t9");
}

// Each client has its own cookie jar: what one server set for one client
// is never sent by another client to the same host.
TEST_F(HttpClientTest, EachClientKeepsItsOwnCookies) {
    Answer(200, "ok", "Set-Cookie: owner=first\r\n");
    HttpClient first;
    ASSERT_TRUE(first.ConnectUrl(server.origin()));
    ASSERT_TRUE(first.Request("/login", HttpClient::kGet));
    Answer(200, "ok");
    HttpClient second;
    ASSERT_TRUE(second.ConnectUrl(server.origin()));
    ASSERT_TRUE(second.Request("/other", HttpClient::kGet));
    ASSERT_TRUE(first.Request("/mine", HttpClient::kGet));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Header("cookie"), "");
    EXPECT_EQ(requests[2].Header("cookie"), "owner=first");
}

TEST_F(HttpClientTest, AServerCanTakeItsCookieBack) {
    Answer(200, "ok", "Set-Cookie: token=t9\r\n");
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    ASSERT_TRUE(client.Request("/login", HttpClient::kGet));
    Answer(200, "ok", "Set-Cookie: token=gone; Max-Age=0\r\n");
    ASSERT_TRUE(client.Request("/logout", HttpClient::kGet));
    ASSERT_TRUE(client.Request("/after", HttpClient::kGet));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].Header("cookie"), "token=t9");
    EXPECT_EQ(requests[2].Header("cookie"), "");
}

// A redirect is followed with the rules of browsers: "see other" turns a
// POST into a GET without body, and credentials do not go to another origin.
TEST_F(HttpClientTest, RedirectsDropThePostBodyAndKeepCredentialsHome) {
    LoopbackHttpServer mover([&](const SeenRequest& request, HttpConnection& c) {
        if (request.target == "/post") {
            c.Respond(303, "", "text/plain", "Location: /done\r\n");
        } else if (request.target == "/away") {
            c.Respond(302, "", "text/plain", "Location: " + server.origin() + "/landed\r\n");
        } else {
            c.Respond(200, "here");
        }
    });
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl("http://bob:pw@127.0.0.1:" + std::to_string(mover.port()) + "/"));
    client.AddArgument("a", "1");
    ASSERT_TRUE(client.Request("/post", HttpClient::kFormPost));
    EXPECT_EQ(client.ReadAll(), "here");
    ASSERT_TRUE(client.Request("/away", HttpClient::kGet));
    EXPECT_EQ(client.ReadAll(), "ok");
    const auto moved = mover.Requests();
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved[0].method, "POST");
    EXPECT_EQ(moved[1].method, "GET");
    EXPECT_EQ(moved[1].target, "/done");
    EXPECT_EQ(moved[1].body, "");
    EXPECT_EQ(moved[2].Header("authorization"), "Basic Ym9iOnB3");
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/landed");
    EXPECT_EQ(server.Requests()[0].Header("authorization"), "");
}

TEST_F(HttpClientTest, ACookieThatWouldSplitTheHeaderFailsTheRequest) {
    for (const char* value : {"a;b=c", "a\r\nX-Evil: 1", "tab\there"}) {
        HttpClient client;
        ASSERT_TRUE(client.ConnectUrl(server.origin()));
        client.AddCookie("sid", value);
        EXPECT_FALSE(client.Request("/x", HttpClient::kGet)) << value;
        EXPECT_EQ(client.GetLastErrorText(), "add cookie failed...");
    }
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(HttpClientTest, CredentialsFromTheUrlOrGivenOnesAreSent) {
    {
        HttpClient client;
        ASSERT_TRUE(client.ConnectUrl("http://bob:pw@127.0.0.1:" + std::to_string(server.port()) + "/"));
        ASSERT_TRUE(client.Request("/a", HttpClient::kGet));
    }
    {
        HttpClient client;
        ASSERT_TRUE(client.ConnectUrl("http://bob:pw@127.0.0.1:" + std::to_string(server.port()) + "/", "ann", "x"));
        ASSERT_TRUE(client.Request("/b", HttpClient::kGet));
    }
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("authorization"), "Basic Ym9iOnB3");  // bob:pw
    EXPECT_EQ(requests[1].Header("authorization"), "Basic YW5uOng=");  // ann:x
}

TEST_F(HttpClientTest, CredentialsStayWithTheOriginTheyWereGivenFor) {
    LoopbackHttpServer other([](const SeenRequest&, HttpConnection& c) { c.Respond(200, "other"); });
    const std::string here = "127.0.0.1:" + std::to_string(server.port());
    HttpClient client;
    // Given once, kept for the same origin; another origin gets none, and
    // coming back does not bring them back.
    const struct {
        std::string url;
        LoopbackHttpServer* to;
        const char* authorization;
    } steps[] = {
        {"http://bob:pw@" + here + "/", &server, "Basic Ym9iOnB3"},
        {"http://" + here + "/", &server, "Basic Ym9iOnB3"},
        {other.origin() + "/", &other, ""},
        {"http://" + here + "/", &server, ""},
    };
    for (const auto& step : steps) {
        const std::size_t before = step.to->RequestCount();
        ASSERT_TRUE(client.ConnectUrl(step.url)) << step.url;
        ASSERT_TRUE(client.Request("/c", HttpClient::kGet)) << step.url;
        ASSERT_EQ(step.to->RequestCount(), before + 1) << step.url;
        EXPECT_EQ(step.to->Requests().back().Header("authorization"), step.authorization) << step.url;
    }
}

TEST_F(HttpClientTest, ConnectByHostUsesTheKindsDefaults) {
    HttpClient client;
    ASSERT_TRUE(client.Connect("127.0.0.1", server.port(), "", "", HttpClient::kHttp));
    ASSERT_TRUE(client.Request("/size/3", HttpClient::kGet));
    EXPECT_EQ(client.ReadAll(), Pattern(3));
    HttpClient defaults;
    ASSERT_TRUE(defaults.Connect("127.0.0.1", 0, "", "", HttpClient::kHttps));
    EXPECT_EQ(defaults.GetPort(), 443);
    EXPECT_FALSE(defaults.Connect("127.0.0.1", 0, "", "", 3));
}

TEST_F(HttpClientTest, NoServerMeansTheRequestFails) {
    LoopbackHttpServer gone([](const SeenRequest&, HttpConnection&) {});
    const std::string origin = gone.origin();
    gone.Stop();
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(origin));
    EXPECT_FALSE(client.Request("/x", HttpClient::kGet));
    EXPECT_EQ(client.GetStatusCode(), 404);
    char b[4];
    EXPECT_EQ(client.ReadResponse(b, 4), 0);
}

TEST_F(HttpClientTest, CloseHandlesDropsTheResponse) {
    HttpClient client;
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    ASSERT_TRUE(client.Request("/size/10", HttpClient::kGet));
    client.CloseHandles();
    EXPECT_EQ(client.ReadAll(), "");
    EXPECT_FALSE(client.Request("/size/10", HttpClient::kGet));
    EXPECT_EQ(client.GetLastErrorText(), "handle not opened...");
}

TEST_F(HttpClientTest, AsyncRequestCompletesAndTellsItsCallback) {
    std::mutex m;
    std::vector<int> statuses;
    AsyncHttpClient client;
    ASSERT_TRUE(client.ConnectUrlAsync(server.origin(), [&](int status) {
        std::lock_guard<std::mutex> lock(m);
        statuses.push_back(status);
    }));
    ASSERT_TRUE(client.Request("/size/40000", HttpClient::kGet));
    // Nothing is readable while the transfer runs on.
    ASSERT_TRUE(client.WaitForCompletion(10000));
    EXPECT_TRUE(client.IsResponseComplete());
    EXPECT_EQ(client.GetStatusCode(), 200);
    EXPECT_TRUE(client.ReadAll() == Pattern(40000));
    std::lock_guard<std::mutex> lock(m);
    EXPECT_EQ(statuses, (std::vector<int>{AsyncHttpClient::kStatusHandleCreated,
                                          AsyncHttpClient::kStatusRequestComplete}));
}

TEST_F(HttpClientTest, AsyncPostsRunLikeTheirSynchronousForms) {
    AsyncHttpClient client;
    ASSERT_TRUE(client.ConnectAsync("127.0.0.1", server.port(), nullptr, "", "", HttpClient::kHttp));
    client.AddArgument("a", "1");
    client.AddArgument("b", "2");
    ASSERT_TRUE(client.Request("/form", HttpClient::kFormPost));
    ASSERT_TRUE(client.WaitForCompletion(10000));
    ASSERT_TRUE(client.Request("/multi", HttpClient::kMultipartPost));
    ASSERT_TRUE(client.WaitForCompletion(10000));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "a=1&b=2");
    const auto parts = SplitMultipart(requests[1]);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts.at("b").second, "2");
}

TEST_F(HttpClientTest, AsyncClientRefusesASecondRequestWhileOneRuns) {
    LoopbackHttpServer slow([](const SeenRequest&, HttpConnection& c) { c.Hold(10000); });
    AsyncHttpClient client;
    ASSERT_TRUE(client.ConnectUrlAsync(slow.origin(), nullptr));
    ASSERT_TRUE(client.Request("/slow", HttpClient::kGet));
    EXPECT_FALSE(client.Request("/again", HttpClient::kGet));
    EXPECT_FALSE(client.WaitForCompletion(200));
    char b[4];
    EXPECT_EQ(client.ReadResponse(b, 4), 0);
    EXPECT_EQ(client.GetStatusCode(), 404);
    // Closing ends the transfer under way (the destructor would too).
    client.CloseHandles();
    EXPECT_FALSE(client.WaitForCompletion(0));
}

}  // namespace
}  // namespace quorvin
