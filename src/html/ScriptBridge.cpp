#include "html/ScriptBridge.h"

#include <cjson/cJSON.h>
#include <strings.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "common/CodePage.h"
#include "common/Json.h"
#include "common/Platform.h"
#include "html/HtmlBaseDlg.h"

namespace quorvin {
namespace fs = std::filesystem;

namespace {

bool Is(const std::string& name, const char* command) { return strcasecmp(name.c_str(), command) == 0; }

// A numeric option: a JSON string read with atoi rules; a JSON number taken
// as its integer value; anything else (or nothing) gives the default.
int OptionInt(const cJSON* obj, const char* name, int fallback) {
    const cJSON* item = GetJsonMember(obj, name);
    if (item == nullptr) return fallback;
    if (cJSON_IsString(item)) return AtoI(item->valuestring);
    if (cJSON_IsNumber(item)) {
        const double v = item->valuedouble;
        if (v >= 2147483647.0) return 2147483647;
        if (v <= -2147483648.0) return -2147483647 - 1;
        return static_cast<int>(v);
    }
    return fallback;
}

std::string Local(const char* utf8) { return Utf8ToLocal(utf8); }

}  // namespace

CScriptBridge::CScriptBridge(CHtmlBaseDlg& owner) : m_owner(owner) {
    if (owner.Context()->links) m_links = owner.Context()->links(owner);
}

std::string CScriptBridge::CallFromHtml(const std::string& /*a*/, const std::string& b, const std::string& c,
                                        std::string& error) {
    error.clear();
    CCommonTool& tool = m_owner.Tool();
    std::vector<std::string> f;
    if (Is(b, "GetCurrentDir")) return tool.GetModuleDir();
    if (Is(b, "GetGUID")) return tool.GetGuidText();
    if (Is(b, "GetFileLength")) {
        std::error_code ec;
        const fs::file_status st = fs::status(c, ec);
        if (fs::exists(st) && !fs::is_regular_file(st)) {
            // The length of something that is not a readable file is a file
            // error in the script, not a number.
            error = "GetFileLength: not a file: " + c;
            return {};
        }
        return std::to_string(tool.GetFileLength(c));
    }
    if (Is(b, "FileExist")) return FileExist(c);
    if (Is(b, "DeleteFile")) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(c, ec);
        if (!fs::exists(st) || fs::is_directory(st)) return "error";
        return fs::remove(c, ec) && !ec ? "success" : "error";
    }
    if (Is(b, "LoadTxtFile")) return tool.LoadTextFile(c);
    if (Is(b, "SaveTxtFile")) {
        if (tool.SplitString(c, "$$", f) != 2) return "error";
        tool.SaveTextFile(f[0], f[1]);
        return "success";
    }
    if (Is(b, "CopyFile")) {
        if (tool.SplitString(c, "$$", f) != 2) return "error";
        return CopyFile(f[0], f[1]);
    }
    if (Is(b, "LockString")) return tool.LockString(c);
    if (Is(b, "GB2312ToUTF8")) {
        const int n = tool.SplitString(c, "$$", f);
        if (n == 0) {
            error = "GB2312ToUTF8: invalid argument";
            return {};
        }
        if (n == 1) return tool.GbToUtf8(c);
        tool.SaveTextFile(f[1], tool.GbToUtf8(f[0]));
        return "success";
    }
    if (Is(b, "UTF8ToGB2312")) return tool.Utf8ToGb(c);
    if (Is(b, "PutPageResult")) {
        m_owner.SetPageResult(c);
        return {};
    }
    if (Is(b, "ExitPageDlg")) {
        m_owner.Host().EndDialog(CHtmlBaseDlg::IDCANCEL);
        return {};
    }
    if (Is(b, "StartWebsocket")) {
        if (tool.SplitString(c, "$$", f) != 5) return "-1";
        // Without a WebSocket link in this build no connection can be opened.
        int result = 2;
        if (m_links.ws != nullptr) {
            m_owner.Host().RunKeepingQueue([&] { result = m_links.ws->Start(f[0], f[1], f[2], f[3], f[4]); });
        }
        return std::to_string(result);
    }
    if (Is(b, "StopWebsocket")) {
        if (m_links.ws != nullptr) m_owner.Host().RunKeepingQueue([&] { m_links.ws->Stop(); });
        return {};
    }
    if (Is(b, "StartTcpsocket")) {
        if (tool.SplitString(c, "$$", f) != 6) return "-1";
        if (m_links.tcp != nullptr) {
            m_owner.Host().RunKeepingQueue([&] { m_links.tcp->Start(f[0], AtoI(f[1]), f[2], f[3], f[4], f[5]); });
        }
        return {};
    }
    if (Is(b, "StopTcpsocket")) {
        if (m_links.tcp != nullptr) m_owner.Host().RunKeepingQueue([&] { m_links.tcp->Stop(); });
        return {};
    }
    if (Is(b, "Navigate")) return Navigate(c);
    if (Is(b, "ShowPageDlg")) return ShowPageDlg(c);
    return {};
}

std::string CScriptBridge::FileExist(const std::string& pattern) const {
    if (pattern.find_first_of("*?") == std::string::npos) {
        std::error_code ec;
        return !pattern.empty() && fs::exists(fs::symlink_status(pattern, ec)) ? "true" : "false";
    }
    const std::size_t slash = pattern.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : pattern.substr(0, slash));
    std::string name = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
    if (name == "*.*") name = "*";                                        // every entry, as the pattern always meant
    if (folder.find_first_of("*?") != std::string::npos) return "false";  // only the last piece may be a pattern
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (platform::MatchesPattern(name, it->path().filename().string())) return "true";
    }
    return "false";
}

std::string CScriptBridge::CopyFile(const std::string& from, const std::string& to) const {
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) return "error";
    std::string bytes;
    if (!platform::ReadWholeFile(from, bytes)) return "error";
    // All or nothing: the destination never holds half a copy.
    return m_owner.Tool().SaveBufferToFile(to, bytes.data(), bytes.size()) ? "success" : "error";
}

std::string CScriptBridge::Navigate(const std::string& param) {
    std::vector<std::string> f;
    const int n = m_owner.Tool().SplitString(param, "$$", f);
    if (n < 3) return {};
    if (n > 4) return Local("false:参数错误！");
    int x = 0, y = 0, width = 0, height = 0;
    std::string status;
    const bool withOptions = n == 4;
    if (withOptions) {
        JsonPtr options = ParseJson(f[3]);
        if (!options) return Local("false:JSON参数错误");
        x = OptionInt(options.get(), "x", 0);
        y = OptionInt(options.get(), "y", 0);
        width = OptionInt(options.get(), "width", 0);
        height = OptionInt(options.get(), "height", 0);
        status = GetJsonString(options.get(), "status");
    }
    m_owner.m_strPageParam = f[2];
    m_owner.m_strTitle = f[1];
    if (withOptions && width > 0 && height > 0) {
        m_owner.SetSize(x, y, width, height);
        m_owner.CenterOnWorkArea();
    }
    if (withOptions && strcasecmp(status.c_str(), "max") == 0) m_owner.Host().ShowMaximized();
    const std::string root = m_owner.m_pParamMap ? m_owner.m_pParamMap->Lookup("root") : std::string();
    m_owner.Host().Navigate(root + f[0], f[1]);
    return "true";
}

std::string CScriptBridge::ShowPageDlg(const std::string& param) {
    std::vector<std::string> f;
    const int n = m_owner.Tool().SplitString(param, "$$", f);
    if (n < 3) return {};
    if (n > 4) return Local("false:参数错误！");
    const std::string options = n == 4 ? f[3] : std::string();
    JsonPtr json;
    if (!options.empty()) {
        json = ParseJson(options);
        if (!json) return Local("JSON参数错误");
    }
    CHtmlBaseDlg child(m_owner.Context());
    const std::string root = m_owner.m_pParamMap ? m_owner.m_pParamMap->Lookup("root") : std::string();
    child.m_strPageParam = f[2];
    child.m_strTitle = f[1];
    child.m_pParamMap = m_owner.m_pParamMap;
    child.SetUrl(root + f[0]);
    if (json) {
        const cJSON* o = json.get();
        const int width = OptionInt(o, "width", 0);
        const int height = OptionInt(o, "height", 0);
        const std::string align = GetJsonString(o, "align");
        const std::string status = GetJsonString(o, "status");
        const int caption = OptionInt(o, "caption", 1);
        const int border = OptionInt(o, "border", 2);
        const int sysmenu = OptionInt(o, "sysmenu", 1);
        const int minbox = OptionInt(o, "minbox", 1);
        const int maxbox = OptionInt(o, "maxbox", 1);
        json.reset();
        child.SetPosition(0, 0, width, height);
        child.SetAlign(align);
        child.SetStatus(status);
        child.SetCaption(caption);
        child.SetSysMenu(sysmenu);
        child.SetMinBox(minbox);
        child.SetMaxBox(maxbox);
        child.SetBorder(border);
    }
    child.RunModal();
    return child.GetPageResult();
}

}  // namespace quorvin
