// Reading, completing and writing back "config.json", and the values the
// main window is opened with.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "common/ParamMap.h"

namespace quorvin {

// How the main window is to be opened, in the order the window takes them.
struct WindowSettings {
    std::string pageParam;  // "param" as formatted JSON, the identity filled in
    std::string title;
    std::string url;  // root + url + "?stamp=" + stamp; empty without "url"
    int x = 0;
    int y = 0;
    int width = 0;   // 0: the work area's width
    int height = 0;  // 0: the work area's height
    std::string align;
    std::string status;  // "max": maximised
    int caption = 1;
    int sysmenu = 1;
    int minbox = 1;
    int maxbox = 1;
    int border = 2;
};

struct StartupValues {
    ParamMap params;  // "root", "main", "title"
    WindowSettings window;
    // "param" as compact JSON with the identity filled in (what the links
    // register with when no page is there); empty without a "param" object.
    std::string linkParam;
};

// Where the default client identity comes from (asked only when needed).
struct MachineIdentity {
    std::function<std::string()> adapterAddress;  // "00-1A-2B-3C-4D-5E", or empty
    std::function<std::string()> hostName;
};

// The identity of this machine (adapter address and host name).
MachineIdentity SystemIdentity();

// Reads moduleDir/config.json, fills in a missing client identity, writes the
// file back in cJSON's formatted layout and returns the window's values.
// Nothing when the file is missing, not JSON, or has no "startup" object
// (the file is then left untouched and the agent ends).
std::optional<StartupValues> LoadStartupConfig(const std::string& moduleDir, const MachineIdentity& identity,
                                               const std::string& stamp);

}  // namespace quorvin
