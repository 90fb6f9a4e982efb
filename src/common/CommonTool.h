// CCommonTool: the agent's utility object. Cheap to make; any number may
// exist at once. Construction loads the process-wide sequence counter from
// "seqno.txt" beside the executable and destruction stores it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvin {

// Answers a yes/no question for Confirm; the window installs one.
class ConfirmPrompt {
public:
    virtual ~ConfirmPrompt() = default;
    // False only when the user answered No.
    virtual bool Ask(const std::string& question, bool noIsDefault) = 0;
};

// Installs the prompt that Confirm uses (nullptr: no prompt; Confirm then
// answers true, since nobody said No). The caller keeps it alive.
void SetConfirmPrompt(ConfirmPrompt* prompt);

// Why the program directory cannot be used (QUORVIN_HOME names a file, or a
// folder that cannot be made or written); empty when it can.
std::string ProgramDirProblem();

class CCommonTool {
public:
    CCommonTool();
    // A tool whose module directory is moduleDir rather than the
    // executable's (tests and tools run from elsewhere use it).
    explicit CCommonTool(std::string moduleDir);
    virtual ~CCommonTool();
    CCommonTool(const CCommonTool&) = delete;
    CCommonTool& operator=(const CCommonTool&) = delete;

    // The program directory, without a trailing separator: the folder named
    // by the environment variable QUORVIN_HOME when it is set (made when
    // missing), else the executable's.
    std::string GetModuleDir() const { return m_strModuleDir; }

    // Whole file as text: a file starting with FF FE is UTF-16LE and comes
    // back in the local code page; any other file is taken byte for byte.
    // Either way the text ends at the first zero character. Empty when the
    // file is missing or unreadable.
    std::string LoadTextFile(const std::string& path) const;
    // The file then holds exactly these bytes (never a half-written file);
    // false when it could not be written.
    bool SaveTextFile(const std::string& path, std::string_view text) const;
    bool SaveBufferToFile(const std::string& path, const void* data, std::size_t length) const;
    // Size in bytes (low 32 bits); 0 when nothing is at path, -1 when
    // something is there that cannot be read as a file (a folder).
    std::int32_t GetFileLength(const std::string& path) const;
    // Names (not paths) of the entries matching a folder or a pattern, sorted.
    bool ListDirectory(const std::string& folderOrPattern, std::vector<std::string>& folders,
                       std::vector<std::string>& files) const;
    bool IsDirectory(const std::string& path) const;
    // Creates every missing folder of the path; always true.
    bool CreatePath(const std::string& path) const;
    int SplitString(const std::string& text, const std::string& separator, std::vector<std::string>& list) const;
    bool Confirm(const std::string& question, bool noIsDefault) const;

    void GbToUtf8Buffer(std::string& dst, const char* src, std::size_t length) const;
    std::string Utf8ToGbBuffer(const char* src, std::size_t length) const;
    std::string GbToUtf8(std::string_view text) const;
    std::string Utf8ToGb(std::string_view text) const;

    std::string LockString(std::string_view text) const;
    std::string GetGuidText() const;
    bool IsDottedNumber(const std::string& text) const;
    void Delay(int ms) const;

    // The process-wide sequence counter (tests read it).
    static int GetSequenceNumber();

private:
    std::string SeqnoPath() const { return m_strModuleDir + "/seqno.txt"; }
    void LoadCounter();
    void StoreCounter() const;

    std::string m_strModuleDir;
};

}  // namespace quorvin
