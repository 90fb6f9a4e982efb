// CHttpDownloader over loopback: throughput of a large body from a plain
// HTTP server in the same process into a file (the whole agent path:
// transfer, body in memory, file written to a temporary name and renamed).
#include <benchmark/benchmark.h>

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
BENCHMARK(BM_DownloadFile)
    ->Arg(16 * 1024)
    ->Arg(4 << 20)
    ->Arg(32 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace quorvin

BENCHMARK_MAIN();
