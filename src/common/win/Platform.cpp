// Win32 services for the common tools. Paths are narrow text in the ANSI
// code page, as the narrow ("A") calls take them; the program's own paths
// use "/" between folders, which every file call accepts and which, unlike
// "\", is never the second byte of a double-byte character.
#include "common/Platform.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <atomic>
#include <memory>
#include <string>

#include "common/CodePage.h"
#include "common/win/SystemError.h"

namespace quorvin::platform {
namespace {

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// One argument as the C runtime's command-line parser reads it back.
void AppendQuoted(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line.push_back('"');
    std::size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        // Backslashes count only before a quote: double them there.
        line.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        line.push_back(c);
    }
    line.append(2 * slashes, '\\');
    line.push_back('"');
}

// Length in bytes of the character at text[pos] in the ANSI code page.
std::size_t CharLength(const std::string& text, std::size_t pos) {
    return IsDBCSLeadByte(static_cast<BYTE>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameChar(const std::string& a, std::size_t i, const std::string& b, std::size_t j, std::size_t len) {
    if (CharLength(b, j) != len || j + len > b.size()) return false;
    if (len == 1) return Folded(a[i]) == Folded(b[j]);
    return a.compare(i, len, b, j, len) == 0;
}

}  // namespace

std::string ExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 6; ++attempt) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            for (wchar_t& c : path) {
                if (c == L'\\') c = L'/';
            }
            const std::string bytes(reinterpret_cast<const char*>(path.data()), path.size() * sizeof(wchar_t));
            const std::string local = Utf16LeToLocal(bytes);
            // A name the ANSI code page cannot spell cannot be opened by it.
            return local.find('?') == std::string::npos ? local : std::string();
        }
        path.resize(path.size() * 2);
    }
    return {};
}

std::string EnvironmentValue(const char* name) {
    std::string value(256, '\0');
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return {};
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
    return {};
}

bool IsWritableFolder(const std::string& path) {
    // Access rights on Windows are lists, not bits: try it. The probe file
    // goes when its handle closes.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string probe =
            path + "/.quorvin-probe-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
        Handle file(CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) return true;
        if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

std::string RunInstead(const std::string& path, char** argv) {
    // Windows cannot replace a process: run the program with this one's
    // console and handles, wait for it and end with its exit code. A
    // program named without an extension is its .exe, as on a command line.
    std::string program = path;
    const std::size_t name = program.find_last_of("/\\");
    if (program.find('.', name == std::string::npos ? 0 : name) == std::string::npos) program += ".exe";
    std::string line;
    AppendQuoted(line, program);
    for (char** arg = argv + (argv[0] ? 1 : 0); *arg != nullptr; ++arg) {
        line.push_back(' ');
        AppendQuoted(line, *arg);
    }
    STARTUPINFOA start{};
    start.cb = sizeof start;
    // A windowed program's console child would get a console of its own:
    // it is handed this process's standard handles instead, when there
    // are any (redirected to a file or pipe, or a parent's console).
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE std : {start.hStdInput, start.hStdOutput, start.hStdError}) {
        if (std != nullptr && std != INVALID_HANDLE_VALUE) {
            SetHandleInformation(std, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
            start.dwFlags = STARTF_USESTDHANDLES;
        }
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &info))
        return SystemErrorText(GetLastError());
    const Handle process(info.hProcess);
    CloseHandle(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    ExitProcess(code);
}

bool RandomBytes(std::uint8_t* buf, std::size_t n) {
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, buf, static_cast<ULONG>(n), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Shared for deletion, so a replacer's MoveFileEx is never refused for
    // this read; a replacement in progress refuses the open for a moment.
    Handle file;
    for (int attempt = 0; attempt < 20; ++attempt) {
        file.reset(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) break;
        const DWORD err = GetLastError();
        if (err != ERROR_SHARING_VIOLATION && err != ERROR_ACCESS_DENIED) return false;
        Sleep(static_cast<DWORD>(attempt) + 1);
    }
    if (file.get() == INVALID_HANDLE_VALUE) return false;
    char buf[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) {
            bytes.clear();
            return false;
        }
        if (got == 0) return true;
        bytes.append(buf, got);
    }
}

bool IsReadableFile(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    // Readable is what an open for reading says.
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.get() != INVALID_HANDLE_VALUE && GetFileType(file.get()) == FILE_TYPE_DISK;
}

std::string MakeTempFile(const std::string& prefix, const std::string& suffix, std::string* why) {
    char folder[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n > MAX_PATH) {
        if (why) *why = "no temporary folder: " + SystemErrorText(GetLastError());
        return {};
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::uint32_t random = 0;
        RandomBytes(reinterpret_cast<std::uint8_t*>(&random), sizeof random);
        const std::string path = std::string(folder, n) + prefix + std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(counter++) + "-" + std::to_string(random) + suffix;
        Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE) return path;
        if (GetLastError() != ERROR_FILE_EXISTS) {
            if (why) *why = path + ": " + SystemErrorText(GetLastError());
            return {};
        }
    }
    if (why) *why = "no unique temporary file name";
    return {};
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND; }

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    // "*" and "?" as the system's own searches take them ("[" is a plain
    // character), letters in either case, "?" one whole character.
    std::size_t p = 0, n = 0;
    std::size_t starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starN = n;
            continue;
        }
        if (p < pattern.size()) {
            const std::size_t len = CharLength(pattern, p);
            if (pattern[p] == '?' || SameChar(pattern, p, name, n, len)) {
                n += pattern[p] == '?' ? CharLength(name, n) : len;
                p += len;
                continue;
            }
        }
        if (starP == std::string::npos) return false;
        // Let the last "*" take one more character of the name.
        p = starP;
        starN += CharLength(name, starN);
        n = starN;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace quorvin::platform
