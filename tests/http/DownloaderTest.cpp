// CHttpDownloader against loopback servers that answer well and badly:
// the file is written whole for a good answer and not at all otherwise.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "TempDir.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/StderrCapture.h"
#include "http/AsyncHttpClient.h"
#include "http/HttpDownloader.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

// Short enough for tests; the agent waits kResponseWaitMs.
constexpr int kShortWaitMs = 1500;
constexpr int kLongWaitMs = 30000;

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    return s;
}

// Every misbehaviour the agent must survive, picked by path.
void Misbehave(const SeenRequest& request, HttpConnection& c) {
    const std::string& t = request.target;
    if (t == "/ok.jpg") {
        c.Respond(200, Pattern(100000), "image/jpeg");
    } else if (t == "/missing.jpg") {
        c.Respond(404, "<html><body>Not here</body></html>", "text/html");
    } else if (t == "/broken") {
        c.Respond(500, "oops", "text/plain");
    } else if (t == "/empty") {
        c.Respond(200, "");
    } else if (t == "/endless") {
        // A body that trickles on and on (bounded: the server stops it).
        c.Send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n");
        const std::string piece(1024, 'x');
        for (int i = 0; i < 600 && !c.Stopping() && c.Send(piece); ++i) c.Hold(50);
    } else if (t == "/silent") {
        c.Hold(20000);
    } else if (t == "/loop") {
        c.Respond(302, "", "text/plain", "Location: /loop\r\n");
    } else if (t == "/moved") {
        c.Respond(302, "", "text/plain", "Location: /ok.jpg\r\n");
    } else if (t == "/elsewhere") {
        c.Respond(302, "", "text/plain", "Location: file:///etc/passwd\r\n");
    } else if (t == "/short") {
        c.Send("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(500, 'y'));
    } else if (t == "/huge-announced" || t == "/huge") {
        // 64 MiB and one byte, with or without a length given first.
        const std::size_t total = http::kMaxBodyBytes + 1;
        std::string head = "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n";
        if (t == "/huge-announced") head += "Content-Length: " + std::to_string(total) + "\r\n";
        if (!c.Send(head + "\r\n")) return;
        const std::string piece(1 << 20, 'z');
        std::size_t sent = 0;
        while (sent < total && !c.Stopping()) {
            const std::size_t n = std::min(piece.size(), total - sent);
            if (!c.Send(std::string_view(piece).substr(0, n))) return;
            sent += n;
        }
    } else if (t == "/query?a=1&b=%20") {
        c.Respond(200, "query kept");
    } else {
        c.Respond(404, "no such test path");
    }
}

class DownloaderTest : public ::testing::Test {
protected:
    bool Download(const std::string& path, int waitMs = kShortWaitMs) {
        CHttpDownloader downloader(waitMs);
        downloader.Open();
        const bool ok = downloader.DownloadFile(server.origin(), path, target);
        downloader.Close();
        return ok;
    }
    // Nothing but the expected files in the folder: no temporary leftovers.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    LoopbackHttpServer server{Misbehave};
    testing::TempDir dir;
    std::string target = dir / "a.jpg";
};

TEST_F(DownloaderTest, WritesAGoodBodyWholeAndReplacesAnOldFile) {
    testing::WriteBytes(target, "old contents");
    EXPECT_TRUE(Download("/ok.jpg"));
    EXPECT_TRUE(testing::ReadBytes(target) == Pattern(100000));
    EXPECT_EQ(Files(), std::vector<std::string>{"a.jpg"});
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].Header("user-agent"), "Mozilla/4.0 (compatible; )");
}

TEST_F(DownloaderTest, FollowsARedirectAndKeepsTheQuery) {
    EXPECT_TRUE(Download("/moved"));
    EXPECT_TRUE(testing::ReadBytes(target) == Pattern(100000));
    EXPECT_TRUE(Download("/query?a=1&b=%20"));
    EXPECT_EQ(testing::ReadBytes(target), "query kept");
}

TEST_F(DownloaderTest, ErrorPagesAndEmptyBodiesWriteNothing) {
    for (const char* path : {"/missing.jpg", "/broken", "/empty"}) {
        EXPECT_FALSE(Download(path)) << path;
        EXPECT_FALSE(std::filesystem::exists(target)) << path;
    }
    // An existing file is left as it was.
    testing::WriteBytes(target, "keep me");
    for (const char* path : {"/missing.jpg", "/broken", "/empty"}) {
        EXPECT_FALSE(Download(path)) << path;
        EXPECT_EQ(testing::ReadBytes(target), "keep me") << path;
    }
    EXPECT_EQ(Files(), std::vector<std::string>{"a.jpg"});
}

TEST_F(DownloaderTest, ServersThatNeverFinishFailWithinTheWait) {
    testing::WriteBytes(target, "keep me");
    EXPECT_FALSE(Download("/endless"));
    EXPECT_FALSE(Download("/silent"));
    EXPECT_EQ(testing::ReadBytes(target), "keep me");
    EXPECT_EQ(Files(), std::vector<std::string>{"a.jpg"});
}

TEST_F(DownloaderTest, BrokenOffBodiesAndRedirectLoopsFail) {
    EXPECT_FALSE(Download("/short"));
    EXPECT_FALSE(Download("/loop", kLongWaitMs));
    EXPECT_FALSE(Download("/elsewhere"));
    EXPECT_FALSE(std::filesystem::exists(target));
    // The loop was cut after a few rounds.
    EXPECT_LE(server.RequestCount(), 2u + 12u + 1u);
}

TEST_F(DownloaderTest, BodiesBeyondTheLimitAreRefused) {
    EXPECT_FALSE(Download("/huge-announced", kLongWaitMs));
    EXPECT_FALSE(Download("/huge", kLongWaitMs));
    EXPECT_FALSE(std::filesystem::exists(target));
    EXPECT_TRUE(Files().empty());
}

// The body goes to a temporary file beside the target as it arrives (an
// endless one costs disk within the bounds, not memory); the target's name
// only ever holds a complete body.
TEST_F(DownloaderTest, TheBodyGoesToDiskAsItArrivesAndOnlyAWholeOneIsKept) {
    // Much of a body, and a trickle far smaller than any read buffer.
    for (const std::size_t half : {std::size_t{512} * 1024, std::size_t{1000}}) {
        std::mutex mutex;
        std::condition_variable cv;
        bool cut = false;
        LoopbackHttpServer halting([&](const SeenRequest&, HttpConnection& c) {
            // Half of the announced body, then nothing until the test cuts it.
            c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(2 * half) + "\r\n\r\n" +
                   std::string(half, 'h'));
            std::unique_lock<std::mutex> lock(mutex);
            cv.wait_for(lock, std::chrono::seconds(20), [&] { return cut; });
        });
        testing::WriteBytes(target, "keep me");
        bool downloaded = true;
        std::thread download([&] {
            CHttpDownloader downloader(kLongWaitMs);
            downloader.Open();
            downloaded = downloader.DownloadFile(halting.origin(), "/half", target);
        });
        auto partial = [&]() -> std::uintmax_t {
            std::error_code ec;
            for (const auto& e : std::filesystem::directory_iterator(dir.path(), ec)) {
                const std::uintmax_t size = e.file_size(ec);
                if (e.path().filename() != "a.jpg" && !ec) return size;
            }
            return 0;
        };
        for (int i = 0; i < 200 && partial() < half; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(partial(), half);
        EXPECT_EQ(testing::ReadBytes(target), "keep me");
        {
            std::lock_guard<std::mutex> lock(mutex);
            cut = true;
        }
        cv.notify_all();
        download.join();
        EXPECT_FALSE(downloaded) << half;
        EXPECT_EQ(testing::ReadBytes(target), "keep me");
        EXPECT_EQ(Files(), std::vector<std::string>{"a.jpg"});
    }
}

// A failed download leaves one line that says which address failed and
// why, in the transfer's own words where it has them.
TEST_F(DownloaderTest, EachFailureSaysOnStderrWhatFailedAndWhy) {
    const struct {
        const char* path;
        const char* why;
    } cases[] = {
        {"/silent", "Operation timed out after "},  // 1500 ms, give or take one
        {"/missing.jpg", "HTTP status 404"},
        {"/empty", "empty body"},
        {"/short", "transfer closed with 500 bytes remaining"},
        {"/loop", "Maximum (10) redirects followed"},
    };
    for (const auto& c : cases) {
        testing::StderrCapture err;
        EXPECT_FALSE(Download(c.path)) << c.path;
        const std::string line = "quorvin: download: " + server.origin() + c.path + ": " + c.why;
        EXPECT_TRUE(err.WaitFor(line)) << err.Text();
        EXPECT_EQ(err.Count("quorvin: "), 1) << err.Text();
    }
}

TEST_F(DownloaderTest, UnusableOriginsAndMissingClientFail) {
    CHttpDownloader unopened;
    EXPECT_FALSE(unopened.DownloadFile(server.origin(), "/ok.jpg", target));
    CHttpDownloader downloader(kShortWaitMs);
    downloader.Open();
    EXPECT_FALSE(downloader.DownloadFile("gopher://127.0.0.1", "/ok.jpg", target));
    EXPECT_FALSE(downloader.DownloadFile("", "/ok.jpg", target));
    LoopbackHttpServer gone([](const SeenRequest&, HttpConnection&) {});
    const std::string origin = gone.origin();
    gone.Stop();
    EXPECT_FALSE(downloader.DownloadFile(origin, "/ok.jpg", target));
    // A folder that does not exist cannot take the file.
    EXPECT_FALSE(downloader.DownloadFile(server.origin(), "/ok.jpg", dir / "no/such/dir/a.jpg"));
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(DownloaderTest, OneDownloaderServesOneDownloadAfterAnother) {
    CHttpDownloader downloader(kShortWaitMs);
    downloader.Open();
    EXPECT_FALSE(downloader.DownloadFile(server.origin(), "/missing.jpg", target));
    downloader.Open();
    EXPECT_TRUE(downloader.DownloadFile(server.origin(), "/ok.jpg", target));
    EXPECT_TRUE(testing::ReadBytes(target) == Pattern(100000));
}

}  // namespace
}  // namespace quorvin
