// What the link benchmarks share: echo and link round trips taken in turn
// (so both see the same load on a shared machine and their ratio is fair),
// and their percentiles.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <vector>

#include "fixtures/HeadlessPageWindow.h"

namespace quorvin::bench {

inline double Percentile(std::vector<double>& us, int p) {
    std::sort(us.begin(), us.end());
    return us[std::min(us.size() - 1, us.size() * static_cast<std::size_t>(p) / 100)];
}

// Each round trip answers microseconds, or a negative value when no answer
// came. With a window, every round starts on an idle link: the previous
// command's two traces (received, sent) have reached it, after traces
// taken before the first round.
inline void EchoVsLink(benchmark::State& state, const std::function<double()>& echoRoundTrip,
                       const std::function<double()>& linkRoundTrip, testing::HeadlessPageWindow* window,
                       std::size_t traces) {
    std::vector<double> echoUs, linkUs;
    for (auto _ : state) {
        const double e = echoRoundTrip();
        const double l = linkRoundTrip();
        if (e < 0 || l < 0) return state.SkipWithError("no answer");
        if (window != nullptr) {
            traces += 2;
            state.PauseTiming();
            window->WaitFor([traces](const std::vector<std::string>& all) { return all.size() >= traces; });
            state.ResumeTiming();
        }
        echoUs.push_back(e);
        linkUs.push_back(l);
    }
    state.counters["echo_p50_us"] = Percentile(echoUs, 50);
    state.counters["echo_p99_us"] = Percentile(echoUs, 99);
    state.counters["link_p50_us"] = Percentile(linkUs, 50);
    state.counters["link_p99_us"] = Percentile(linkUs, 99);
    state.counters["p50_ratio"] = Percentile(linkUs, 50) / Percentile(echoUs, 50);
}

}  // namespace quorvin::bench
