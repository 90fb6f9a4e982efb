// Self-pipe: the handler only counts and writes one byte, both
// async-signal-safe; everything else happens in Wait on the loop's thread.
#include "app/SignalWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace quorvin {
namespace {

int g_pipe[2] = {-1, -1};
std::atomic<int> g_signals{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kWatched[] = {SIGTERM, SIGINT};

void OnSignal(int sig) {
    if (g_signals.fetch_add(1) > 0) _exit(128 + sig);
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

SignalWatch::SignalWatch() {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_ok = true;
    for (int sig : kWatched) m_ok = sigaction(sig, &action, nullptr) == 0 && m_ok;
}

SignalWatch::~SignalWatch() {
    for (int sig : kWatched) signal(sig, SIG_DFL);
    for (int& fd : g_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

int SignalWatch::Wait(int timeoutMs) {
    if (g_pipe[0] < 0) return -1;
    pollfd p{g_pipe[0], POLLIN, 0};
    int ready = 0;
    do {
        ready = poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return -1;
    unsigned char byte = 0;
    return read(g_pipe[0], &byte, 1) == 1 ? byte : -1;
}

void SignalWatch::Wake() {
    const unsigned char byte = 0;
    [[maybe_unused]] const ssize_t n = write(g_pipe[1], &byte, 1);
}

}  // namespace quorvin
