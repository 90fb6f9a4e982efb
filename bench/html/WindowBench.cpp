// The page window's costs, measured on a real window (run it with a display,
// e.g. tools/with-display): CallFromHtml round trips timed inside the page,
// and the memory (PSS) of one idle main window across the agent's process
// and its WebKit processes.
#include <cjson/cJSON.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "common/Event.h"
#include "common/Json.h"
#include "html/HtmlBaseDlg.h"
#include "html/gtk/GtkPageHost.h"

namespace {

using namespace quorvin;

// Pss of one process in kB (smaps_rollup); 0 when unreadable.
long PssKb(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "Pss:") {
            in >> value;
            return value;
        }
        in.ignore(4096, '\n');
    }
    return 0;
}

int ParentOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    int ppid = -1;
    char state;
    std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid);
    return ppid;
}

std::string NameOf(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// This process and every descendant (the WebKit web and network processes).
std::set<int> Family() {
    std::set<int> family{getpid()};
    for (bool grew = true; grew;) {
        grew = false;
        DIR* dir = opendir("/proc");
        if (dir == nullptr) break;
        while (dirent* e = readdir(dir)) {
            const int pid = std::atoi(e->d_name);
            if (pid <= 0 || family.count(pid)) continue;
            if (family.count(ParentOf(pid))) {
                family.insert(pid);
                grew = true;
            }
        }
        closedir(dir);
    }
    return family;
}

// Opens bench.htm calling command count times; prints the round trips
// (the first warmUp calls left out).
bool Measure(ParamMap& params, const char* label, const std::string& command, int count, const char* text) {
    constexpr int warmUp = 20;
    CHtmlBaseDlg dlg;
    dlg.m_pParamMap = &params;
    dlg.m_strPageParam = command + "|" + std::to_string(count + warmUp) + "|" + text;
    dlg.SetUrl(std::string(QUORVIN_BENCH_PAGES) + "bench.htm");
    dlg.SetPosition(0, 0, 800, 600);
    std::vector<gint64> arrivals;
    arrivals.reserve(count + warmUp + 2);
    dynamic_cast<gtk::GtkPageHost&>(dlg.Host()).SetCallObserver([&] { arrivals.push_back(g_get_monotonic_time()); });
    dlg.RunModal();
    // count + warmUp calls, then ExitPageDlg: one round trip between each.
    if (static_cast<int>(arrivals.size()) != count + warmUp + 1) {
        std::fprintf(stderr, "%s: %zu calls arrived\n", label, arrivals.size());
        return false;
    }
    std::vector<double> ms;
    for (std::size_t i = warmUp + 1; i < arrivals.size(); ++i) ms.push_back((arrivals[i] - arrivals[i - 1]) / 1000.0);
    std::sort(ms.begin(), ms.end());
    double sum = 0;
    for (double v : ms) sum += v;
    std::printf("CallFromHtml %-8s %5zu calls  mean %7.3f ms  p50 %7.3f ms  p99 %7.3f ms  max %7.3f ms\n", label,
                ms.size(), sum / ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk::EnsureGtk()) return 1;
    const int calls = argc > 1 ? std::atoi(argv[1]) : 2000;
    ParamMap params;
    params.Set("root", QUORVIN_BENCH_PAGES);

    // Round trips.
    if (!Measure(params, "small", "GetCurrentDir", calls, "") ||
        !Measure(params, "40k CJK", "LockString", calls / 10, "cjk40k") ||
        !Measure(params, "1 MB", "LockString", 30, "1MB")) {
        return 1;
    }

    // Memory of the shipped main page, idle.
    CHtmlBaseDlg main;
    params.Set("root", QUORVIN_SHIPPED_PAGES);
    main.m_pParamMap = &params;
    main.m_strPageParam = R"({"server":"127.0.0.1","port":"9100","wsUrl":"ws://127.0.0.1:9101/","gsdm":"","rydm":""})";
    main.SetUrl(std::string(QUORVIN_SHIPPED_PAGES) + "main.htm?stamp=0001");
    main.SetPosition(0, 0, 1024, 720);
    main.SetCaption(1);
    auto& host = dynamic_cast<gtk::GtkPageHost&>(main.Host());
    host.SetReadyObserver([&] {
        // Idle for 3 s after the first load, then measure and close.
        g_timeout_add_seconds(
            3,
            [](gpointer data) -> gboolean {
                auto* dlg = static_cast<CHtmlBaseDlg*>(data);
                long total = 0;
                for (int pid : Family()) {
                    const long kb = PssKb(pid);
                    total += kb;
                    std::printf("  %-20s pid %-7d PSS %7.1f MB\n", NameOf(pid).c_str(), pid, kb / 1024.0);
                }
                std::printf("idle main window PSS total %.1f MB\n", total / 1024.0);
                dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL);
                return G_SOURCE_REMOVE;
            },
            &main);
    });
    main.RunModal();
    CloseProcessLinks();
    return 0;
}
