// A PrintWebJpegImage of a 4000x3000 JPEG served over loopback, from the
// command's arrival on the TCP link to its reply, and the same work split
// into its three parts: download, render (the one-page PDF) and submit
// (to the cups-pdf queue of a private scheduler).
//
// Runs against the "cups" fixture's scheduler when QUORVIN_CUPS_ENV names
// its env file; otherwise starts one of its own with
// tests/fixtures/cups-fixture.sh and stops it at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "TempDir.h"
#include "commands/PrintTaskRunner.h"
#include "fixtures/CupsFixture.h"
#include "fixtures/HeadlessPageWindow.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/PrivateScheduler.h"
#include "fixtures/TestImages.h"
#include "http/HttpDownloader.h"
#include "link/ChatManager.h"
#include "link/LoopbackServer.h"
#include "message/Envelope.h"
#include "printing/ImagePage.h"
#include "printing/Spooler.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

// Everything the benchmarks share: the scheduler, the image and its server.
struct Setup {
    testing::PrivateScheduler scheduler{QUORVIN_CUPS_SCRIPT};
    testing::TempDir dir;
    std::string jpeg = testing::MakeJpeg(4000, 3000, 90, true);
    LoopbackHttpServer images{[this](const SeenRequest&, HttpConnection& c) { c.Respond(200, jpeg, "image/jpeg"); }};
    // A4 with 6 mm margins, in points: the cups-pdf queue's default paper.
    PageLayout a4{595.28, 841.89, 17.0, 17.0, 17.0, 17.0};

    static Setup& Get() {
        static Setup setup;
        return setup;
    }
    // Drops the PDFs cups-pdf wrote, so a long run does not fill the disk.
    void ClearOutput() const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(scheduler.fixture().pdfOut, ec))
            std::filesystem::remove(e.path(), ec);
    }
};

void BM_Download(benchmark::State& state) {
    Setup& s = Setup::Get();
    const std::string target = s.dir / "download.jpg";
    for (auto _ : state) {
        CHttpDownloader downloader;
        downloader.Open();
        if (!downloader.DownloadFile(s.images.origin(), "/big.jpg", target)) state.SkipWithError("download failed");
        downloader.Close();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * s.jpeg.size()));
    state.counters["jpeg_MB"] = static_cast<double>(s.jpeg.size()) / 1e6;
}

void BM_Render(benchmark::State& state) {
    Setup& s = Setup::Get();
    const std::string image = s.dir / "render.jpg";
    testing::WriteBytes(image, s.jpeg);
    const std::string pdf = s.dir / "render.pdf";
    for (auto _ : state) {
        if (WriteImagePage(image, s.a4, pdf) != ImagePageResult::Written) state.SkipWithError("render failed");
    }
    state.counters["pdf_MB"] = static_cast<double>(std::filesystem::file_size(pdf)) / 1e6;
}

void BM_Submit(benchmark::State& state) {
    Setup& s = Setup::Get();
    if (!s.scheduler.ok()) {
        state.SkipWithError("no CUPS scheduler");
        return;
    }
    const std::string image = s.dir / "submit.jpg";
    testing::WriteBytes(image, s.jpeg);
    const std::string pdf = s.dir / "submit.pdf";
    if (WriteImagePage(image, s.a4, pdf) != ImagePageResult::Written) {
        state.SkipWithError("render failed");
        return;
    }
    std::shared_ptr<Spooler> spooler = MakePlatformSpooler();
    for (auto _ : state) {
        int jobId = 0;
        if (spooler->SubmitFile(s.scheduler.fixture().pdfQueue, pdf, "bench", "application/pdf", {}, 60000, jobId) !=
            SpoolStatus::Ok)
            state.SkipWithError("submit failed");
    }
    s.ClearOutput();
}

// Command in, reply out, over the TCP link with the task's own thread.
void BM_CommandToReply(benchmark::State& state) {
    Setup& s = Setup::Get();
    if (!s.scheduler.ok()) {
        state.SkipWithError("no CUPS scheduler");
        return;
    }
    testing::TempDir moduleDir;
    testing::HeadlessPageWindow window;
    testing::LoopbackServer server;
    ChatTimings timings;
    timings.reconnectMs = 50;
    timings.connectTimeoutMs = 2000;
    auto runner = std::make_unique<CPrintTaskRunner>();
    auto link = std::make_unique<CChatManager>(&window, moduleDir.path(), timings);
    link->SetPrintTaskStarter(runner->Starter());
    link->Start("127.0.0.1", server.Port(), "agent", "desk", "g", "r");
    if (!server.Accept() || !server.ReadMessage()) {
        state.SkipWithError("the link did not connect");
        return;
    }
    const std::string command =
        "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"agent\",\"name\":\"PrintWebJpegImage\","
        "\"body\":{\"szRemoteURI\":\"" +
        s.images.origin() + "/big.jpg\",\"szLocalPath\":\"temp^big.jpg\",\"printerName\":\"" +
        s.scheduler.fixture().pdfQueue + "\"}}";
    for (auto _ : state) {
        server.SendMessage(command);
        const std::optional<std::string> reply = server.ReadMessage(120000);
        if (!reply || reply->find("\"result\":" + SuccessResult()) == std::string::npos)
            state.SkipWithError(("no success reply: " + reply.value_or("(none)")).c_str());
    }
    runner.reset();
    link.reset();
    s.ClearOutput();
}

BENCHMARK(BM_CommandToReply)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Render)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Submit)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvin

BENCHMARK_MAIN();
