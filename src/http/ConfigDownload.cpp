#include "http/ConfigDownload.h"

#include <cstdlib>

#include "http/HttpDownloader.h"

#ifndef QUORVIN_CONFIG_ORIGIN
#define QUORVIN_CONFIG_ORIGIN ""
#endif

namespace quorvin {

std::string ConfigServerOrigin() {
    if (const char* value = std::getenv("QUORVIN_CONFIG_ORIGIN")) return value;
    return QUORVIN_CONFIG_ORIGIN;
}

std::function<void(const std::string& path)> MakeConfigFetcher(std::string origin, int waitMs) {
    return [origin = std::move(origin), waitMs](const std::string& path) {
        if (origin.empty()) return;
        CHttpDownloader downloader(waitMs);
        downloader.Open();
        downloader.DownloadFile(origin, kConfigServerPath, path);
        downloader.Close();
    };
}

}  // namespace quorvin
