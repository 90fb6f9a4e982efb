// The first copy of config.json from the configuration server.
#pragma once

#include <functional>
#include <string>

#include "http/HttpClient.h"

namespace quorvin {

inline constexpr const char* kConfigServerPath = "/KELDRA/printer/config.json";

// The configuration server's origin ("https://host[:port]"): the
// environment variable QUORVIN_CONFIG_ORIGIN when it is set (even empty),
// otherwise the origin the agent was built with. Empty: no server.
std::string ConfigServerOrigin();

// The start-up's fetcher: downloads origin + kConfigServerPath into the
// path it is given; does nothing for an empty origin.
std::function<void(const std::string& path)> MakeConfigFetcher(std::string origin, int waitMs = kResponseWaitMs);

}  // namespace quorvin
