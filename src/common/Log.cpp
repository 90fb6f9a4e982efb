#include "common/Log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

namespace quorvin {

void LogFailure(const char* area, std::string_view text) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03d", static_cast<int>(ms));

    std::string line = stamp;
    line += " quorvin: ";
    line += area;
    line += ": ";
    for (char c : text) line.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
    line.push_back('\n');
    // One fwrite under the stream's lock. Windows' C runtime buffers stderr
    // when it is not a console, so the line is flushed at once.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace quorvin
