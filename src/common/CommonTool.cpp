#include "common/CommonTool.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "common/CodePage.h"
#include "common/Event.h"
#include "common/Json.h"
#include "common/Platform.h"

namespace quorvin {
namespace fs = std::filesystem;

namespace {

std::atomic<int> g_seqno{0};
std::atomic<ConfirmPrompt*> g_prompt{nullptr};

std::string ExecutableDir() {
    const std::string exe = platform::ExecutablePath();
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

struct ProgramDir {
    std::string path;
    std::string problem;  // empty when the folder can be used
};

// An installed agent's executable sits in a read-only folder: QUORVIN_HOME
// then names the folder that holds its files instead.
ProgramDir DecideProgramDir() {
    std::string home = platform::EnvironmentValue("QUORVIN_HOME");
    if (home.empty()) return {ExecutableDir(), {}};
    std::error_code ec;
    const fs::path absolute = fs::absolute(home, ec);
    if (!ec) home = absolute.lexically_normal().string();
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (!fs::is_directory(home, ec)) {
        const bool there = fs::exists(fs::symlink_status(home, ec));
        fs::create_directories(home, ec);
        if (there || ec || !fs::is_directory(home))
            return {home, "QUORVIN_HOME " + home + ": " + (ec ? ec.message() : "not a folder")};
    }
    if (!platform::IsWritableFolder(home)) return {home, "QUORVIN_HOME " + home + ": the folder is not writable"};
    return {home, {}};
}

const ProgramDir& TheProgramDir() {
    // Decided once: every tool of the process works in the same folder.
    static const ProgramDir dir = DecideProgramDir();
    return dir;
}

bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

void SetConfirmPrompt(ConfirmPrompt* prompt) { g_prompt.store(prompt); }

std::string ProgramDirProblem() { return TheProgramDir().problem; }

CCommonTool::CCommonTool() : m_strModuleDir(TheProgramDir().path) { LoadCounter(); }

CCommonTool::CCommonTool(std::string moduleDir) : m_strModuleDir(std::move(moduleDir)) {
    while (m_strModuleDir.size() > 1 && m_strModuleDir.back() == '/') m_strModuleDir.pop_back();
    LoadCounter();
}

CCommonTool::~CCommonTool() { StoreCounter(); }

int CCommonTool::GetSequenceNumber() { return g_seqno.load(); }

void CCommonTool::LoadCounter() {
    const std::string text = LoadTextFile(SeqnoPath());
    g_seqno.store(text.empty() ? 0 : AtoI(text));
}

void CCommonTool::StoreCounter() const {
    const std::string text = std::to_string(g_seqno.load());
    SaveTextFile(SeqnoPath(), text);
}

std::string CCommonTool::LoadTextFile(const std::string& path) const {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return {};
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) return {};
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return Utf16LeToLocal(std::string_view(bytes).substr(2));
    }
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string::npos) bytes.resize(zero);
    return bytes;
}

bool CCommonTool::SaveTextFile(const std::string& path, std::string_view text) const {
    return platform::WriteFileReplacing(path, text.data(), text.size());
}

bool CCommonTool::SaveBufferToFile(const std::string& path, const void* data, std::size_t length) const {
    return platform::WriteFileReplacing(path, data, length);
}

std::int32_t CCommonTool::GetFileLength(const std::string& path) const {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (!fs::exists(st)) return 0;
    if (!fs::is_regular_file(st)) return -1;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) return -1;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(size & 0xFFFFFFFFu));
}

bool CCommonTool::ListDirectory(const std::string& folderOrPattern, std::vector<std::string>& folders,
                                std::vector<std::string>& files) const {
    folders.clear();
    files.clear();
    std::string folder = folderOrPattern;
    std::string pattern = "*";
    if (folderOrPattern.find('*') != std::string::npos) {
        const std::size_t slash = folderOrPattern.rfind('/');
        folder = slash == std::string::npos ? std::string(".") : folderOrPattern.substr(0, slash + 1);
        pattern = slash == std::string::npos ? folderOrPattern : folderOrPattern.substr(slash + 1);
        // "*.*" means every entry, as on the system this agent came from.
        if (pattern == "*.*") pattern = "*";
    }
    if (folder.empty()) folder = "/";
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return false;
    bool found = false;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        if (!platform::MatchesPattern(pattern, name)) continue;
        found = true;
        std::error_code dec;
        (it->is_directory(dec) ? folders : files).push_back(name);
    }
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    return found;
}

bool CCommonTool::IsDirectory(const std::string& path) const {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

bool CCommonTool::CreatePath(const std::string& path) const {
    std::error_code ec;
    if (!path.empty()) fs::create_directories(path, ec);
    return true;
}

int CCommonTool::SplitString(const std::string& text, const std::string& separator,
                             std::vector<std::string>& list) const {
    list.clear();
    if (separator.empty()) {
        list.push_back(text);
        return 1;
    }
    std::size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return 0;
    const std::string trimmed = text.substr(begin, end - begin);
    std::size_t start = 0;
    for (std::size_t p = trimmed.find(separator); p != std::string::npos; p = trimmed.find(separator, start)) {
        list.push_back(trimmed.substr(start, p - start));
        start = p + separator.size();
    }
    list.push_back(trimmed.substr(start));
    return static_cast<int>(list.size());
}

bool CCommonTool::Confirm(const std::string& question, bool noIsDefault) const {
    ConfirmPrompt* prompt = g_prompt.load();
    return prompt ? prompt->Ask(question, noIsDefault) : true;
}

void CCommonTool::GbToUtf8Buffer(std::string& dst, const char* src, std::size_t length) const {
    dst = LocalToUtf8(std::string_view(src, length));
}

std::string CCommonTool::Utf8ToGbBuffer(const char* src, std::size_t length) const {
    return Utf8ToLocal(std::string_view(src, length));
}

std::string CCommonTool::GbToUtf8(std::string_view text) const { return LocalToUtf8(text); }

std::string CCommonTool::Utf8ToGb(std::string_view text) const { return Utf8ToLocal(text); }

std::string CCommonTool::LockString(std::string_view text) const {
    std::string out = "_";
    for (std::size_t i = text.size(); i-- > 0;) {
        const auto shifted = static_cast<unsigned char>(static_cast<unsigned char>(text[i]) + (i & 3) - 1);
        if (shifted != 0) out.push_back(static_cast<char>(shifted));
    }
    return out;
}

std::string CCommonTool::GetGuidText() const {
    std::uint8_t data4[8];
    if (!platform::RandomBytes(data4, sizeof data4)) return {};
    std::string out;
    char part[8];
    for (std::uint8_t b : data4) {
        std::snprintf(part, sizeof part, "%04x", b);
        out += part;
    }
    return out;
}

bool CCommonTool::IsDottedNumber(const std::string& text) const {
    std::vector<std::string> parts;
    if (SplitString(text, ".", parts) != 4) return false;
    for (const std::string& p : parts) {
        for (char c : p) {
            if (c < '0' || c > '9') return false;
        }
    }
    return true;
}

void CCommonTool::Delay(int ms) const { quorvin::Delay(ms); }

}  // namespace quorvin
