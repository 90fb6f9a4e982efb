// End-to-end image printing: PrintImageFile of a large JPEG to the cups-pdf
// queue until the job has completed, against `lp -o fill` of the same file
// to the same queue (CUPS's own image path), in the same run.
//
//   printing_image_bench make FILE.jpg          writes a 4000x3000 JPEG
//   printing_image_bench measure FILE.jpg QUEUE [ROUNDS]
//
// measure talks to the scheduler CUPS_SERVER names (run-image-bench.sh
// starts a private one) and reports the agent's peak memory: it is a
// process of its own so that ru_maxrss is the printing's alone.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "TempDir.h"
#include "fixtures/CupsFixture.h"
#include "printing/PrinterManager.h"

using namespace quorvin;
using Clock = std::chrono::steady_clock;

namespace {

int MakeJpeg(const std::string& path) {
    const int w = 4000, h = 3000;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    if (!pixbuf) return 1;
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    unsigned seed = 12345;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;  // a little noise, like a photo
            int noise = static_cast<int>((seed >> 16) & 31) - 16;
            guchar* p = pixels + y * stride + x * 3;
            p[0] = static_cast<guchar>(std::clamp(x * 255 / w + noise, 0, 255));
            p[1] = static_cast<guchar>(std::clamp(y * 255 / h + noise, 0, 255));
            p[2] = static_cast<guchar>(std::clamp(((x / 200 + y / 200) % 2) * 200 + noise, 0, 255));
        }
    }
    GError* error = nullptr;
    bool ok = gdk_pixbuf_save(pixbuf, path.c_str(), "jpeg", &error, "quality", "90", nullptr);
    if (error) g_error_free(error);
    g_object_unref(pixbuf);
    return ok ? 0 : 1;
}

// Polls until the job has left the queue; false when it failed or took
// more than two minutes.
bool WaitCompleted(CPrinterManager& manager, const std::string& queue, int job) {
    auto end = Clock::now() + std::chrono::minutes(2);
    while (Clock::now() < end) {
        JobState state = manager.GetJobState(queue, job);
        if (state == JobState::Completed) return true;
        if (state == JobState::Failed || state == JobState::Unknown) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int LpFill(const std::string& queue, const std::string& file) {
    std::string command = "lp -d '" + queue + "' -o fill '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    char buf[512];
    std::string out;
    while (fgets(buf, sizeof(buf), pipe)) out += buf;
    pclose(pipe);
    return quorvin::testing::JobIdOfLp(out);
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int Measure(const std::string& file, const std::string& queue, int rounds) {
    testing::TempDir dir;  // removed on every way out
    if (dir.path().empty()) return 1;
    CPrinterManager manager(dir.path());
    double agent = 0, cups = 0;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        int job = manager.PrintImageFile(queue, file);
        if (job <= 0 || !WaitCompleted(manager, queue, job)) {
            std::fprintf(stderr, "PrintImageFile job %d did not complete\n", job);
            return 1;
        }
        double a = Seconds(start);
        start = Clock::now();
        job = LpFill(queue, file);
        if (job <= 0 || !WaitCompleted(manager, queue, job)) {
            std::fprintf(stderr, "lp job %d did not complete\n", job);
            return 1;
        }
        double c = Seconds(start);
        std::printf("round %d: PrintImageFile %.2f s, lp -o fill %.2f s\n", i + 1, a, c);
        agent += a;
        cups += c;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("mean PrintImageFile %.2f s, mean lp -o fill %.2f s, ratio agent/lp %.2f\n", agent / rounds,
                cups / rounds, agent / cups);
    std::printf("agent peak memory %.1f MB (target < 150 MB)\n", usage.ru_maxrss / 1024.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "make" && argc == 3) return MakeJpeg(argv[2]);
    if (mode == "measure" && argc >= 4)
        return Measure(argv[2], argv[3], std::max(1, argc > 4 ? std::atoi(argv[4]) : 3));
    std::fprintf(stderr, "usage: %s make FILE.jpg | measure FILE.jpg QUEUE [ROUNDS]\n", argv[0]);
    return 2;
}
