// Memory of the agent process while a worker sends notifications to a real
// window (run it with a display, e.g. tools/with-display): the resident set
// after the first tenth of them and at the end, and the worker's wait per
// notification. A delivery that keeps anything per notification shows up
// as growth between the two.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "common/Event.h"
#include "html/HtmlBaseDlg.h"
#include "html/gtk/GtkPageHost.h"

namespace {

using namespace quorvin;

// This process's resident set in KiB (VmRSS).
long RssKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(4096, '\n');
    }
    return 0;
}

// A trace line like the links' ("接收报文" and a command), about 400 bytes,
// different every time.
std::string Trace(int i) {
    std::string text =
        "接收报文\r\n{\"name\":\"GetPrinterStatus\",\"from\":\"server-01\",\"to\":\"client-7f3a\",\"seq\":\"" +
        std::to_string(i) + "\",\"szPrinterName\":\"HP LaserJet 打印机 ^^office\",\"pad\":\"";
    while (text.size() < 380) text += "0123456789abcdef";
    return text + "\"}";
}

}  // namespace

int main(int argc, char** argv) {
    if (!gtk::EnsureGtk()) return 1;
    const int total = argc > 1 ? std::atoi(argv[1]) : 100000;
    ParamMap params;
    params.Set("root", QUORVIN_BENCH_PAGES);
    CHtmlBaseDlg dlg;
    dlg.m_pParamMap = &params;
    dlg.SetUrl(std::string(QUORVIN_BENCH_PAGES) + "notify.htm");
    dlg.SetPosition(0, 0, 640, 480);
    Event ready;
    auto& host = dynamic_cast<gtk::GtkPageHost&>(dlg.Host());
    host.SetReadyObserver([&] { ready.Set(); });
    long early = 0, end = 0, start = 0;
    double seconds = 0;
    std::thread worker([&] {
        if (!ready.Wait(30000)) {
            dlg.PostClose();
            return;
        }
        start = RssKb();
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < total; ++i) {
            dlg.NotifyPage(Trace(i));
            if (i + 1 == total / 10) early = RssKb();
        }
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        // Let the window settle (frees that wait for the loop) before the last look.
        Delay(1000);
        end = RssKb();
        dlg.Post([&] { dlg.Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    dlg.RunModal();
    worker.join();
    if (early == 0) {
        std::fprintf(stderr, "the page did not load\n");
        return 1;
    }
    std::printf("notifications %d  wait per notification %.3f ms\n", total, seconds * 1000.0 / total);
    std::printf(
        "RSS before %.1f MiB  after 10%% %.1f MiB  at the end %.1f MiB  growth after 10%%: %+.1f%% (%.2f KiB per "
        "notification)\n",
        start / 1024.0, early / 1024.0, end / 1024.0, 100.0 * (end - early) / early,
        static_cast<double>(end - early) / (total - total / 10));
    CloseProcessLinks();
    return 0;
}
