// CHttpDownloader over loopback: throughput of a large body from a plain
// HTTP server in the same process into a file (the whole agent path:
// transfer, body streamed into a temporary file, flushed and renamed), and
// the memory an endless body costs before the size bound ends it.
//
//   build/bench/http/bench_http --benchmark_filter=Endless   # alone: peak RSS is per process
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "TempDir.h"
#include "fixtures/LoopbackHttpServer.h"
#include "http/HttpDownloader.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

void BM_DownloadFile(benchmark::State& state) {
    const std::string body(static_cast<std::size_t>(state.range(0)), 'q');
    LoopbackHttpServer server([&](const SeenRequest&, HttpConnection& c) { c.Respond(200, body, "image/jpeg"); });
    testing::TempDir dir;
    const std::string target = dir / "body.bin";
    for (auto _ : state) {
        CHttpDownloader downloader;
        downloader.Open();
        if (!downloader.DownloadFile(server.origin(), "/body", target)) state.SkipWithError("download failed");
        downloader.Close();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_DownloadFile)->Arg(16 * 1024)->Arg(4 << 20)->Arg(32 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kB on Linux
}

// A body with no length that never ends, as fast as loopback carries it:
// the download fails at the 64 MiB bound. What it cost in memory shows as
// the growth of the process's peak resident size.
void BM_EndlessBody(benchmark::State& state) {
    LoopbackHttpServer server([](const SeenRequest&, HttpConnection& c) {
        if (!c.Send("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n")) return;
        const std::string piece(1 << 20, 'e');
        for (int i = 0; i < 1024 && !c.Stopping() && c.Send(piece); ++i) {
        }
    });
    testing::TempDir dir;
    const std::string target = dir / "endless.jpg";
    const double before = PeakRssMb();
    for (auto _ : state) {
        CHttpDownloader downloader;
        downloader.Open();
        if (downloader.DownloadFile(server.origin(), "/endless", target))
            state.SkipWithError("an endless body was kept");
        downloader.Close();
    }
    state.counters["peak_rss_mb"] = PeakRssMb();
    state.counters["peak_rss_growth_mb"] = PeakRssMb() - before;
}
BENCHMARK(BM_EndlessBody)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvin

BENCHMARK_MAIN();
