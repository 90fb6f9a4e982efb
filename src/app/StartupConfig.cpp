#include "app/StartupConfig.h"

#include <cjson/cJSON.h>

#include <cfloat>
#include <climits>
#include <cmath>

#include "common/CommonTool.h"
#include "common/ComputerInfo.h"
#include "common/Json.h"

namespace quorvin {
namespace {

// A member of "startup" as text; a JSON number is taken by its value so a
// hand-written `"width": 800` works as well as `"width": "800"`.
std::string ReadText(const cJSON* startup, const char* name) {
    const cJSON* item = GetJsonMember(startup, name);
    if (item != nullptr && cJSON_IsNumber(item)) {
        const double v = item->valuedouble;
        if (std::isnan(v)) return "0";
        const double clamped = v < INT_MIN ? INT_MIN : (v > INT_MAX ? INT_MAX : v);
        return std::to_string(static_cast<int>(clamped));
    }
    return GetJsonString(startup, name);
}

int ReadNumber(const cJSON* startup, const char* name, int fallback) {
    const cJSON* item = GetJsonMember(startup, name);
    if (item == nullptr) return fallback;
    return AtoI(ReadText(startup, name));
}

// Removes every member called name (any letter case) and adds it again at
// the end with value.
void ReplaceAtEnd(cJSON* param, const char* name, const std::string& value) {
    while (cJSON_GetObjectItem(param, name) != nullptr) cJSON_DeleteItemFromObject(param, name);
    cJSON_AddItemToObject(param, name, cJSON_CreateString(value.c_str()));
}

// cJSON writes a number beyond a double's range (1e999 reads as infinity)
// as null, so the file written back would say something else than the one
// read; the nearest finite number keeps what it meant.
void KeepNumbersFinite(cJSON* item) {
    for (cJSON* c = item; c != nullptr; c = c->next) {
        if (cJSON_IsNumber(c) && !std::isfinite(c->valuedouble))
            cJSON_SetNumberValue(c, std::isnan(c->valuedouble) ? 0.0 : c->valuedouble > 0 ? DBL_MAX : -DBL_MAX);
        KeepNumbersFinite(c->child);
    }
}

}  // namespace

MachineIdentity SystemIdentity() {
    return MachineIdentity{[] {
                               std::string address;
                               return CComputerInfo::GetMacAddress(address) == 0 ? address : std::string();
                           },
                           [] { return CComputerInfo::GetHostName(); }};
}

std::optional<StartupValues> LoadStartupConfig(const std::string& moduleDir, const MachineIdentity& identity,
                                               const std::string& stamp) {
    CCommonTool tool(moduleDir);
    const std::string path = moduleDir + "/config.json";
    JsonPtr config = ParseJson(tool.LoadTextFile(path));
    const cJSON* startup = GetJsonMember(config.get(), "startup");
    if (startup == nullptr || !cJSON_IsObject(startup)) return std::nullopt;

    StartupValues values;
    WindowSettings& w = values.window;
    std::string root = ReadText(startup, "root");
    if (root.empty()) root = moduleDir + "/";
    const std::string url = ReadText(startup, "url");
    if (!url.empty()) w.url = root + url + "?stamp=" + stamp;
    w.title = ReadText(startup, "title");
    w.width = ReadNumber(startup, "width", 0);
    w.height = ReadNumber(startup, "height", 0);
    w.align = ReadText(startup, "align");
    w.status = ReadText(startup, "status");
    w.caption = ReadNumber(startup, "caption", 1);
    w.border = ReadNumber(startup, "border", 2);
    w.sysmenu = ReadNumber(startup, "sysmenu", 1);
    w.minbox = ReadNumber(startup, "minbox", 1);
    w.maxbox = ReadNumber(startup, "maxbox", 1);
    const std::string mainPage = ReadText(startup, "main");

    // The page gets "param" with the identity filled in, so the first start
    // after installation already registers under the machine's own name.
    cJSON* param = cJSON_GetObjectItem(startup, "param");
    if (param != nullptr && cJSON_IsObject(param)) {
        std::string clientId = GetJsonString(param, "clientId");
        if (clientId.empty()) clientId = tool.LockString(identity.adapterAddress ? identity.adapterAddress() : "");
        ReplaceAtEnd(param, "clientId", clientId);
        std::string clientName = GetJsonString(param, "clientName");
        if (clientName.empty() && identity.hostName) clientName = identity.hostName();
        ReplaceAtEnd(param, "clientName", clientName);
        values.linkParam = PrintJson(param, false);
    }
    w.pageParam = PrintJson(param, true);
    KeepNumbersFinite(config.get());
    tool.SaveTextFile(path, PrintJson(config.get(), true));

    values.params.Set("root", root);
    values.params.Set("main", mainPage);
    values.params.Set("title", w.title);
    return values;
}

}  // namespace quorvin
